// Collects the messages of every glog line written while it exists, from any
// thread, so tests can assert on the downloader's log lines.
#pragma once

#include <glog/logging.h>

#include <mutex>
#include <string>
#include <vector>

namespace net_testing {

class LogCapture : public google::LogSink {
public:
    LogCapture() { google::AddLogSink(this); }
    ~LogCapture() override { google::RemoveLogSink(this); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void send(google::LogSeverity, const char*, const char* baseFile, int, const google::LogMessageTime&,
              const char* message, size_t length) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.emplace_back(std::string(baseFile) + "] " + std::string(message, length));
    }

    // Every line so far, as "<source file>] <message>".
    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    // Number of lines that contain `text`.
    size_t Count(const std::string& text) const {
        size_t n = 0;
        for (const auto& line : Lines()) n += line.find(text) != std::string::npos;
        return n;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

}  // namespace net_testing
