// Test entry point: glog is initialised with no log files and nothing on
// stderr (the downloader logs every chunk); tests read the lines through
// LogCapture, which glog feeds whatever the destinations are. With the
// environment variable NET_TESTS_VERBOSE set, every line also goes to stderr.
#include <glog/logging.h>

#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    google::InitGoogleLogging("net_tests");
    FLAGS_stderrthreshold = std::getenv("NET_TESTS_VERBOSE") ? google::GLOG_INFO : google::GLOG_FATAL;
    for (int severity = google::GLOG_INFO; severity <= google::GLOG_FATAL; ++severity) {
        google::SetLogDestination(severity, "");
    }
    const int result = RUN_ALL_TESTS();
    google::ShutdownGoogleLogging();
    return result;
}
