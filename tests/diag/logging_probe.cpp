// Test program: sets logging up as the updater does, then writes one line at
// each severity named on the command line ("info", "warning", "error",
// "fatal"; fatal ends the process as glog does).
#include <glog/logging.h>

#include <cstring>

#include "diag/logging.h"

int main(int argc, char** argv) {
    InitLogging("Update.exe", "update");
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "info") == 0) LOG(INFO) << "probe info line";
        if (std::strcmp(argv[i], "warning") == 0) LOG(WARNING) << "probe warning line";
        if (std::strcmp(argv[i], "error") == 0) LOG(ERROR) << "probe error line";
        if (std::strcmp(argv[i], "fatal") == 0) LOG(FATAL) << "probe fatal line";
    }
    google::ShutdownGoogleLogging();
    return 0;
}
