#include "diag/proxy_settings.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "diag/text_format.h"
#include "diag/unit_log.h"
#include "velisk/handles.h"

namespace {

// Settings longer than this are not a proxy list anyone wrote: ignored.
constexpr size_t kMaxSettingChars = 2048;
// Script answers kept for the run; more hosts than that are asked each time.
constexpr size_t kMaxScriptAnswers = 64;
// Fetching a proxy script: no step may take longer.
constexpr int kScriptTimeoutMs = 10000;

// A proxy choice for one scheme and host.
struct Choice {
    DWORD accessType = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
    std::wstring proxy;
    std::wstring bypass;
    bool userSetting = false;
};

// What the run read of the machine's and the user's settings.
struct Settings {
    std::wstring defaultProxy;  // the WinHTTP default proxy, when it names one
    bool autoDetect = false;
    std::wstring scriptUrl;
    std::wstring proxy;
    std::wstring bypass;
};

struct RunState {
    std::mutex mutex;
    bool read = false;
    Settings settings;
    bool scriptWarned = false;
    std::map<std::wstring, Choice> answers;
};

RunState& State() {
    static RunState state;
    return state;
}

// Takes a string that WinHTTP allocated for the caller and frees it; a
// string longer than kMaxSettingChars becomes empty.
std::wstring TakeWinHttpString(LPWSTR text) {
    if (text == nullptr) return std::wstring();
    std::wstring copy(text, ::wcsnlen(text, kMaxSettingChars + 1));
    ::GlobalFree(text);
    if (copy.size() > kMaxSettingChars) {
        HTTPDOWNLOAD_LOG(WARNING) << "proxy setting too long, ignored: length>" << kMaxSettingChars;
        return std::wstring();
    }
    return copy;
}

Settings ReadSettings() {
    Settings settings;
    WINHTTP_PROXY_INFO machine = {};
    if (::WinHttpGetDefaultProxyConfiguration(&machine)) {
        std::wstring proxy = TakeWinHttpString(machine.lpszProxy);
        TakeWinHttpString(machine.lpszProxyBypass);
        if (machine.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) settings.defaultProxy = std::move(proxy);
    }
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user = {};
    if (::WinHttpGetIEProxyConfigForCurrentUser(&user)) {
        settings.autoDetect = user.fAutoDetect != FALSE;
        settings.scriptUrl = TakeWinHttpString(user.lpszAutoConfigUrl);
        settings.proxy = TakeWinHttpString(user.lpszProxy);
        settings.bypass = TakeWinHttpString(user.lpszProxyBypass);
    }
    return settings;
}

std::wstring DescribeSettings(const Settings& s) {
    if (!s.defaultProxy.empty()) return L"WinHTTP default proxy " + WithoutCredentials(s.defaultProxy);
    std::wstring text;
    if (!s.scriptUrl.empty()) text = L"user proxy script " + WithoutCredentials(s.scriptUrl);
    if (s.scriptUrl.empty() && s.autoDetect) text = L"user automatic detection";
    if (!s.proxy.empty()) {
        text += (text.empty() ? L"user proxy " : L", else user proxy ") + WithoutCredentials(s.proxy);
        if (!s.bypass.empty()) text += L" bypass " + s.bypass;
    }
    return text.empty() ? L"direct" : text;
}

// The fixed proxy of the user's setting, or no change when there is none.
Choice FixedChoice(const Settings& s) {
    Choice choice;
    if (s.proxy.empty()) return choice;
    choice.accessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    choice.proxy = s.proxy;
    choice.bypass = s.bypass;
    choice.userSetting = true;
    return choice;
}

// Asks WinHttpGetProxyForUrl with the user's script or automatic detection.
// Returns false with the error code when no answer came.
bool AskScript(const Settings& s, const std::wstring& url, Choice* choice, DWORD* error) {
    velisk::UniqueInternetHandle session(
        ::WinHttpOpen(L"", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        *error = ::GetLastError();
        return false;
    }
    ::WinHttpSetTimeouts(session.get(), kScriptTimeoutMs, kScriptTimeoutMs, kScriptTimeoutMs, kScriptTimeoutMs);
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    if (s.autoDetect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (!s.scriptUrl.empty()) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = s.scriptUrl.c_str();
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info = {};
    if (!::WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &info)) {
        *error = ::GetLastError();
        return false;
    }
    choice->proxy = TakeWinHttpString(info.lpszProxy);
    choice->bypass = TakeWinHttpString(info.lpszProxyBypass);
    choice->accessType =
        info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !choice->proxy.empty()
            ? WINHTTP_ACCESS_TYPE_NAMED_PROXY
            : WINHTTP_ACCESS_TYPE_NO_PROXY;
    choice->userSetting = true;
    return true;
}

// "scheme://host:port" of `url`, the key of the script answers.
std::wstring ScriptKey(const std::wstring& url) {
    wchar_t scheme[16] = {};
    wchar_t host[256] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszScheme = scheme;
    parts.dwSchemeLength = 16;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return url;
    return std::wstring(scheme) + L"://" + host + L":" + std::to_wstring(parts.nPort);
}

std::wstring DescribeChoice(const Choice& c) {
    return c.accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY ? WithoutCredentials(c.proxy) : L"direct";
}

// The script's answer for `url`, asked once per scheme and host in a run
// (the caller holds the state's lock).
Choice ScriptChoice(RunState& state, const std::wstring& url) {
    const std::wstring key = ScriptKey(url);
    const auto known = state.answers.find(key);
    if (known != state.answers.end()) return known->second;
    const Settings& s = state.settings;
    Choice choice;
    DWORD error = 0;
    if (AskScript(s, url, &choice, &error)) {
        HTTPDOWNLOAD_LOG(INFO) << "proxy script answer for " << WideToUtf8Log(key) << ": "
                               << WideToUtf8Log(DescribeChoice(choice));
    } else {
        choice = FixedChoice(s);
        if (s.scriptUrl.empty()) {
            // Automatic detection is on by default and finds nothing on most
            // networks: not worth a warning.
            HTTPDOWNLOAD_LOG(INFO) << "proxy auto-detection found no script, error=" << error
                                   << " using: " << WideToUtf8Log(DescribeChoice(choice));
        } else if (!state.scriptWarned) {
            state.scriptWarned = true;
            HTTPDOWNLOAD_LOG(WARNING) << "proxy script failed, error=" << error
                                      << " script=" << WideToUtf8Log(WithoutCredentials(s.scriptUrl))
                                      << " using: " << WideToUtf8Log(DescribeChoice(choice));
        }
    }
    if (state.answers.size() < kMaxScriptAnswers) state.answers.emplace(key, choice);
    return choice;
}

Choice ChooseFor(const std::wstring& url, std::wstring* machineProxy) {
    RunState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.read) {
        state.settings = ReadSettings();
        state.read = true;
        HTTPDOWNLOAD_LOG(INFO) << "proxy of this run: " << WideToUtf8Log(DescribeSettings(state.settings));
    }
    const Settings& s = state.settings;
    *machineProxy = s.defaultProxy;
    if (!s.defaultProxy.empty()) return Choice();
    if (s.autoDetect || !s.scriptUrl.empty()) return ScriptChoice(state, url);
    return FixedChoice(s);
}

std::wstring SchemeNames(DWORD schemes) {
    static const struct {
        DWORD bit;
        const wchar_t* name;
    } kNames[] = {{WINHTTP_AUTH_SCHEME_BASIC, L"Basic"},         {WINHTTP_AUTH_SCHEME_NTLM, L"NTLM"},
                  {WINHTTP_AUTH_SCHEME_PASSPORT, L"Passport"},   {WINHTTP_AUTH_SCHEME_DIGEST, L"Digest"},
                  {WINHTTP_AUTH_SCHEME_NEGOTIATE, L"Negotiate"}};
    std::wstring names;
    for (const auto& n : kNames) {
        if ((schemes & n.bit) != 0) names += (names.empty() ? L"" : L",") + std::wstring(n.name);
    }
    return names.empty() ? L"none" : names;
}

}  // namespace

RequestProxy::RequestProxy(const std::wstring& url) {
    std::wstring machineProxy;
    const Choice choice = ChooseFor(url, &machineProxy);
    m_accessType = choice.accessType;
    m_proxy = choice.proxy;
    m_bypass = choice.bypass;
    m_userSetting = choice.userSetting;
    m_viaProxy = !machineProxy.empty() || choice.accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    if (!machineProxy.empty()) {
        m_description = L"WinHTTP default proxy " + WithoutCredentials(machineProxy);
    } else {
        m_description = DescribeChoice(choice);
    }
}

HINTERNET RequestProxy::OpenSession(const wchar_t* userAgent, DWORD flags) const {
    if (m_accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
        return ::WinHttpOpen(userAgent, m_accessType, m_proxy.c_str(),
                             m_bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : m_bypass.c_str(), flags);
    }
    return ::WinHttpOpen(userAgent, m_accessType, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, flags);
}

void RequestProxy::ApplyTo(HINTERNET request) const {
    if (!m_userSetting) return;
    const bool named = m_accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    WINHTTP_PROXY_INFO info = {};
    info.dwAccessType = m_accessType;
    info.lpszProxy = named ? const_cast<wchar_t*>(m_proxy.c_str()) : nullptr;
    info.lpszProxyBypass = named && !m_bypass.empty() ? const_cast<wchar_t*>(m_bypass.c_str()) : nullptr;
    ::WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof(info));
}

bool RequestProxy::RetryWithLogon(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) ||
        status != HTTP_STATUS_PROXY_AUTH_REQ || !m_viaProxy) {
        // A server reached directly that asks for proxy logon gets nothing.
        return false;
    }
    if (m_logonTried) {
        HTTPDOWNLOAD_LOG(WARNING) << "proxy refused the user's logon: proxy=" << WideToUtf8Log(m_description);
        return false;
    }
    m_logonTried = true;
    DWORD supported = 0;
    DWORD first = 0;
    DWORD target = 0;
    if (!::WinHttpQueryAuthSchemes(request, &supported, &first, &target)) supported = 0;
    const DWORD scheme = (supported & WINHTTP_AUTH_SCHEME_NEGOTIATE) != 0 ? WINHTTP_AUTH_SCHEME_NEGOTIATE
                         : (supported & WINHTTP_AUTH_SCHEME_NTLM) != 0    ? WINHTTP_AUTH_SCHEME_NTLM
                                                                          : 0;
    if (scheme == 0) {
        HTTPDOWNLOAD_LOG(WARNING) << "proxy asks for a password, not sent: proxy=" << WideToUtf8Log(m_description)
                                  << " scheme=" << WideToUtf8Log(SchemeNames(supported));
        return false;
    }
    // The user's logon goes to whoever asks only from here on, and only for
    // this request.
    DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
    ::WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof(policy));
    return ::WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr, nullptr) != FALSE;
}

void ForgetProxySettings() {
    RunState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.read = false;
    state.settings = Settings();
    state.scriptWarned = false;
    state.answers.clear();
}

std::wstring WithoutCredentials(const std::wstring& text) {
    std::wstring out;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find_first_of(L"; ", start), text.size());
        std::wstring entry = text.substr(start, end - start);
        // The user name and password sit between "scheme://" (or
        // "scheme=") and the last "@" before the host's end.
        size_t authority = 0;
        const size_t slashes = entry.find(L"://");
        const size_t equals = entry.find(L'=');
        if (slashes != std::wstring::npos) {
            authority = slashes + 3;
        } else if (equals != std::wstring::npos) {
            authority = equals + 1;
        }
        const size_t hostEnd = std::min(entry.find(L'/', authority), entry.size());
        const size_t at = entry.rfind(L'@', hostEnd == 0 ? 0 : hostEnd - 1);
        if (at != std::wstring::npos && at >= authority) entry.erase(authority, at + 1 - authority);
        out += entry;
        if (end == text.size()) break;
        out += text[end];
        start = end + 1;
    }
    return out;
}
