// Test access to the local statistics service (tools/stat_server): each
// StatSession is an endpoint of its own on a free loopback port, with its own
// answer and its own list of received requests. The service is started by
// the CTest fixture "stat_server"; its control port is read from
// <build>/stat_server/server.ready.
#pragma once

#include <windows.h>

#include <json/value.h>

#include <string>
#include <vector>

namespace stat_server {

struct SessionOptions {
    std::string answer = R"({"error":0})";  // body of every answer
    int status = 200;                        // HTTP status of every answer
    bool hold = false;                       // answers wait for Release()
    bool close = false;                      // connections close without an answer
};

class StatSession {
public:
    explicit StatSession(const SessionOptions& options = {});
    ~StatSession();
    StatSession(const StatSession&) = delete;
    StatSession& operator=(const StatSession&) = delete;

    // Empty when the session is open, otherwise what went wrong.
    const std::string& error() const { return m_error; }
    int port() const { return m_port; }
    // "http://127.0.0.1:<port>": the value for VELISK_REPORT_BASE_URL.
    std::wstring baseUrl() const;

    // The requests received so far (see stat_server.py for the members).
    std::vector<Json::Value> requests() const;
    // Polls until at least `count` requests arrived; false on time-out.
    bool WaitForRequests(size_t count, DWORD timeoutMs = 20000) const;
    // Lets held requests answer.
    void Release() const;
    // Closes the listener now (its port then refuses connections).
    void Close();

private:
    int m_port = 0;
    bool m_open = false;
    std::string m_error;
};

// Points the reporting endpoints of this process at a session's baseUrl()
// while it exists.
class EndpointOverride {
public:
    explicit EndpointOverride(const std::wstring& baseUrl) {
        ::SetEnvironmentVariableW(L"VELISK_REPORT_BASE_URL", baseUrl.c_str());
    }
    ~EndpointOverride() { ::SetEnvironmentVariableW(L"VELISK_REPORT_BASE_URL", nullptr); }
};

}  // namespace stat_server
