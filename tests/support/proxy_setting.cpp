#include "support/proxy_setting.h"

#include <windows.h>
#include <winhttp.h>

#include <sstream>

#include "support/test_support.h"
#include "velisk/handles.h"

namespace testing_support {

namespace {

constexpr wchar_t kConnections[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// One registry value as it was, put back (or deleted) on destruction.
class SavedValue {
public:
    SavedValue(HKEY root, const wchar_t* name) : m_root(root), m_name(name) {
        velisk::UniqueRegKey key;
        ::RegCreateKeyExW(m_root, kConnections, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.receive(), nullptr);
        DWORD size = 0;
        if (::RegQueryValueExW(key.get(), m_name, nullptr, &m_type, nullptr, &size) != ERROR_SUCCESS) return;
        m_bytes.resize(size);
        m_existed = ::RegQueryValueExW(key.get(), m_name, nullptr, &m_type,
                                       reinterpret_cast<BYTE*>(m_bytes.data()), &size) == ERROR_SUCCESS;
    }
    ~SavedValue() {
        velisk::UniqueRegKey key;
        if (::RegOpenKeyExW(m_root, kConnections, 0, KEY_ALL_ACCESS, key.receive()) != ERROR_SUCCESS) return;
        if (m_existed) {
            ::RegSetValueExW(key.get(), m_name, 0, m_type, reinterpret_cast<const BYTE*>(m_bytes.data()),
                             static_cast<DWORD>(m_bytes.size()));
        } else {
            ::RegDeleteValueW(key.get(), m_name);
        }
    }
    bool Write(const std::string& bytes) const {
        velisk::UniqueRegKey key;
        return ::RegOpenKeyExW(m_root, kConnections, 0, KEY_ALL_ACCESS, key.receive()) == ERROR_SUCCESS &&
               ::RegSetValueExW(key.get(), m_name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(bytes.data()),
                                static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
    }

private:
    HKEY m_root;
    const wchar_t* m_name;
    bool m_existed = false;
    DWORD m_type = REG_BINARY;
    std::string m_bytes;
};

void AppendDword(std::string& out, DWORD value) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void AppendText(std::string& out, const std::string& text) {
    AppendDword(out, static_cast<DWORD>(text.size()));
    out += text;
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
    AppendText(out, s.proxy);
    AppendText(out, s.bypass);
    AppendText(out, s.scriptUrl);
    out.append(32, '\0');
    return out;
}

}  // namespace

struct UserProxySetting::Saved {
    SavedValue value{HKEY_CURRENT_USER, L"DefaultConnectionSettings"};
};

UserProxySetting::UserProxySetting(const UserProxy& setting) : m_saved(new Saved) {
    m_saved->value.Write(ConnectionSettings(setting));
}

UserProxySetting::~UserProxySetting() = default;

struct MachineProxySetting::Saved {
    SavedValue value{HKEY_LOCAL_MACHINE, L"WinHttpSettings"};
};

MachineProxySetting::MachineProxySetting(const std::string& proxy) : m_saved(new Saved) {
    std::wstring name = Utf8ToWide(proxy);
    WINHTTP_PROXY_INFO info = {};
    info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    info.lpszProxy = name.data();
    ::WinHttpSetDefaultProxyConfiguration(&info);  // the old value is back when m_saved goes
}

MachineProxySetting::~MachineProxySetting() = default;

static std::wstring ProxyLogPath(const char* name) {
    return WinePath(VELISK_BINARY_DIR, L"proxy\\" + Utf8ToWide(name) + L".log");
}

ProxyLog::ProxyLog(const char* name) : m_path(ProxyLogPath(name)), m_mark(ReadBytes(m_path).size()) {}

std::vector<std::string> ProxyLog::Requests() const {
    const std::string text = ReadBytes(m_path);
    std::istringstream lines(text.size() > m_mark ? text.substr(m_mark) : std::string());
    std::vector<std::string> requests;
    const std::string label = "]: Request (file descriptor ";
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find(label);
        if (at == std::string::npos) continue;
        const size_t colon = line.find(": ", at + label.size());
        if (colon != std::string::npos) requests.push_back(line.substr(colon + 2));
    }
    return requests;
}

size_t ProxyLog::Count(const std::string& text) const {
    size_t n = 0;
    for (const auto& line : Requests()) n += line.find(text) != std::string::npos;
    return n;
}

}  // namespace testing_support
