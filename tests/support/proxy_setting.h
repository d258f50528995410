// Proxy settings of the Wine prefix, written as Windows keeps them, and the
// logs of the loopback proxies that the CTest fixture "proxy"
// (tools/proxy/fixture.sh) runs. Every setting is put back as it was (or
// removed) when its object goes away.
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

// Holds `setting` in HKCU\...\Internet Settings\Connections as the binary
// value DefaultConnectionSettings, the form Internet Options writes.
class UserProxySetting {
public:
    explicit UserProxySetting(const UserProxy& setting);
    ~UserProxySetting();
    UserProxySetting(const UserProxySetting&) = delete;
    UserProxySetting& operator=(const UserProxySetting&) = delete;

private:
    struct Saved;
    std::unique_ptr<Saved> m_saved;
};

// Holds `proxy` as the machine's WinHTTP default proxy (what "netsh winhttp
// set proxy" writes, through WinHttpSetDefaultProxyConfiguration).
class MachineProxySetting {
public:
    explicit MachineProxySetting(const std::string& proxy);
    ~MachineProxySetting();
    MachineProxySetting(const MachineProxySetting&) = delete;
    MachineProxySetting& operator=(const MachineProxySetting&) = delete;

private:
    struct Saved;
    std::unique_ptr<Saved> m_saved;
};

// The request lines that a fixture proxy ("open" or "basic") logged since
// the object was made: "GET http://localhost/x/y.bin HTTP/1.1",
// "CONNECT localhost:443 HTTP/1.1", ...
class ProxyLog {
public:
    explicit ProxyLog(const char* name);
    std::vector<std::string> Requests() const;
    // Number of logged request lines that contain `text`.
    size_t Count(const std::string& text) const;

private:
    std::wstring m_path;
    size_t m_mark;
};

}  // namespace testing_support
