#include "support/proxy_setting.h"

#include <windows.h>
#include <winhttp.h>

#include <sstream>

#include "support/test_support.h"
#include "velisk/handles.h"

namespace testing_support {

namespace {

constexpr wchar_t kConnections[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

void AppendDword(std::string& out, DWORD value) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// DefaultConnectionSettings: version 0x46, a change counter, the flags
// (1 direct, 2 fixed proxy, 4 script address, 8 automatic detection), the
// length-prefixed proxy, bypass list and script address, then the fields of
// detection results, zero.
std::string ConnectionSettings(const UserProxy& s) {
    static DWORD counter = 1;
    std::string out;
    AppendDword(out, 0x46);
    AppendDword(out, counter++);
    AppendDword(out, 1 | (s.proxy.empty() ? 0 : 2) | (s.scriptUrl.empty() ? 0 : 4) | (s.autoDetect ? 8 : 0));
    for (const std::string* text : {&s.proxy, &s.bypass, &s.scriptUrl}) {
        AppendDword(out, static_cast<DWORD>(text->size()));
        out += *text;
    }
    out.append(32, '\0');
    return out;
}

}  // namespace

// One value under ...\Connections as it was, put back (or deleted) on
// destruction.
class ProxySetting::SavedValue {
public:
    SavedValue(HKEY root, const wchar_t* name) : m_name(name) {
        ::RegCreateKeyExW(root, kConnections, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, m_key.receive(), nullptr);
        DWORD size = 0;
        if (::RegQueryValueExW(m_key.get(), m_name, nullptr, &m_type, nullptr, &size) != ERROR_SUCCESS) return;
        m_bytes.resize(size);
        m_existed = ::RegQueryValueExW(m_key.get(), m_name, nullptr, &m_type,
                                       reinterpret_cast<BYTE*>(m_bytes.data()), &size) == ERROR_SUCCESS;
    }
    ~SavedValue() {
        if (!m_existed) {
            ::RegDeleteValueW(m_key.get(), m_name);
            return;
        }
        ::RegSetValueExW(m_key.get(), m_name, 0, m_type, reinterpret_cast<const BYTE*>(m_bytes.data()),
                         static_cast<DWORD>(m_bytes.size()));
    }
    void Write(const std::string& bytes) const {
        ::RegSetValueExW(m_key.get(), m_name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(bytes.data()),
                         static_cast<DWORD>(bytes.size()));
    }

private:
    velisk::UniqueRegKey m_key;
    const wchar_t* m_name;
    bool m_existed = false;
    DWORD m_type = REG_BINARY;
    std::string m_bytes;
};

ProxySetting::ProxySetting(const UserProxy& user, const char* machineProxy)
    : m_user(new SavedValue(HKEY_CURRENT_USER, L"DefaultConnectionSettings")) {
    m_user->Write(ConnectionSettings(user));
    if (machineProxy == nullptr) return;
    m_machine.reset(new SavedValue(HKEY_LOCAL_MACHINE, L"WinHttpSettings"));
    std::wstring name = Utf8ToWide(machineProxy);
    WINHTTP_PROXY_INFO info = {WINHTTP_ACCESS_TYPE_NAMED_PROXY, name.data(), nullptr};
    ::WinHttpSetDefaultProxyConfiguration(&info);
}

ProxySetting::~ProxySetting() = default;

static std::wstring ProxyLogPath(const char* name) {
    return WinePath(VELISK_BINARY_DIR, L"proxy\\" + Utf8ToWide(name) + L".log");
}

ProxyLog::ProxyLog(const char* name) : m_path(ProxyLogPath(name)), m_mark(ReadBytes(m_path).size()) {}

size_t ProxyLog::Count(const std::string& text) const {
    const std::string log = ReadBytes(m_path);
    std::istringstream lines(log.size() > m_mark ? log.substr(m_mark) : std::string());
    size_t n = 0;
    for (std::string line; std::getline(lines, line);) {
        n += line.find("]: Request (file descriptor ") != std::string::npos && line.find(text) != std::string::npos;
    }
    return n;
}

}  // namespace testing_support
