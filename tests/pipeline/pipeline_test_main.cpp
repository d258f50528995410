// Test entry point: glog without log files and quiet on stderr (the engine
// and the downloader log every file and chunk); tests read the lines through
// LogCapture. PIPELINE_TESTS_VERBOSE set: every line also goes to stderr.
#include <glog/logging.h>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    google::InitGoogleLogging("pipeline_tests");
    FLAGS_stderrthreshold = std::getenv("PIPELINE_TESTS_VERBOSE") ? google::GLOG_INFO : google::GLOG_FATAL;
    for (int severity = google::GLOG_INFO; severity <= google::GLOG_FATAL; ++severity) {
        google::SetLogDestination(severity, "");
    }
    const int result = RUN_ALL_TESTS();
    google::ShutdownGoogleLogging();
    return result;
}
