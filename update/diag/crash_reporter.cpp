#include "diag/crash_reporter.h"

#include <glog/logging.h>

void StartCrashReporter(const wchar_t* appName, const wchar_t* appVersion, RestartInfo* info) {
    LOG(INFO) << "StartCrashReporter: crash reporting is not built yet";
}
