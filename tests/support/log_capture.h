// Captures the log lines that code under test writes through glog, for tests
// that assert on them. Header-only: include it only in tests that link glog.
#pragma once

#include <glog/logging.h>

#include <mutex>
#include <string>
#include <vector>

namespace testing_support {

class LogCapture : public google::LogSink {
public:
    LogCapture() { google::AddLogSink(this); }
    ~LogCapture() override { google::RemoveLogSink(this); }

    void send(google::LogSeverity severity, const char*, const char*, int, const google::LogMessageTime&,
              const char* message, size_t length) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back({severity, std::string(message, length)});
    }

    struct Line {
        google::LogSeverity severity;
        std::string text;
    };

    std::vector<Line> lines() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    // Number of lines that start with `prefix` (at `severity`, or any when -1).
    int Count(const std::string& prefix, int severity = -1) const {
        int n = 0;
        for (const auto& l : lines()) {
            if (l.text.rfind(prefix, 0) == 0 && (severity < 0 || l.severity == severity)) ++n;
        }
        return n;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Line> m_lines;
};

}  // namespace testing_support
