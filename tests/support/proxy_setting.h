// Proxy settings of the Wine prefix, written as Windows keeps them, and the
// logs of the loopback proxies that the CTest fixture "proxy"
// (tools/proxy/fixture.sh) runs.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// The loopback proxies of the fixture.
inline constexpr char kOpenProxy[] = "127.0.0.1:3128";   // forwards everything
inline constexpr char kBasicProxy[] = "127.0.0.1:3129";  // asks for Basic authentication

// The user's Internet Options setting.
struct UserProxy {
    bool autoDetect = false;
    std::string proxy;      // fixed proxy ("host:port"), empty: none
    std::string bypass;     // its bypass list
    std::string scriptUrl;  // PAC address, empty: none
};

// Holds `user` as the binary value DefaultConnectionSettings under
// HKCU\...\Internet Settings\Connections (the form Internet Options writes)
// and, when `machineProxy` is given, that proxy as the machine's WinHTTP
// default (what "netsh winhttp set proxy" writes, through
// WinHttpSetDefaultProxyConfiguration). The values before come back, or go
// again, when the object goes away.
class ProxySetting {
public:
    explicit ProxySetting(const UserProxy& user, const char* machineProxy = nullptr);
    ~ProxySetting();
    ProxySetting(const ProxySetting&) = delete;
    ProxySetting& operator=(const ProxySetting&) = delete;

private:
    class SavedValue;
    std::unique_ptr<SavedValue> m_user;
    std::unique_ptr<SavedValue> m_machine;
};

// The request lines that a fixture proxy ("open" or "basic") logged since
// the object was made: "GET http://localhost:80/x/y.bin HTTP/1.1",
// "CONNECT localhost:443 HTTP/1.1", ...
class ProxyLog {
public:
    explicit ProxyLog(const char* name);
    // Number of logged request lines that contain `text`.
    size_t Count(const std::string& text) const;

private:
    std::wstring m_path;
    size_t m_mark;
};

}  // namespace testing_support
