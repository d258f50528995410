// The proxy that the WinHTTP requests of this run go through, shared by the
// downloader and the statistics sender.
//
// The machine's WinHTTP setting (the one "netsh winhttp set proxy" writes)
// comes first when it names a proxy: the session then opens with WinHTTP's
// default proxy, as it always did. Otherwise the user's setting (Internet
// Options, read with WinHttpGetIEProxyConfigForCurrentUser) applies: a fixed
// proxy with its bypass list, or a proxy script (a PAC address, or automatic
// detection) evaluated by WinHttpGetProxyForUrl. Script answers are kept per
// scheme and host for the rest of the run. A script that cannot be fetched or
// evaluated gives one WARNING line and the fixed proxy when the user set one,
// a direct connection otherwise. Which proxy the run uses is logged once at
// INFO, without any user name or password written into the setting.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>

class RequestProxy {
public:
    // Chooses the proxy for a request of `url` (scheme, host, optional port
    // and path, e.g. L"https://host/dir/file.zip"). Blocks while a proxy
    // script is fetched and evaluated the first time a scheme and host are
    // asked for in this run.
    explicit RequestProxy(const std::wstring& url);

    // WinHttpOpen with `userAgent`, `flags` (e.g. WINHTTP_FLAG_ASYNC) and the
    // chosen proxy (Wine's WinHTTP honours a proxy only when the session is
    // opened with it). Returns the session handle, or null on failure.
    HINTERNET OpenSession(const wchar_t* userAgent, DWORD flags) const;

    // Sets the chosen proxy on `request` with WINHTTP_OPTION_PROXY (when the
    // user's setting applies). The user's logon is offered only after a
    // proxy's 407 (RetryWithLogon).
    void ApplyTo(HINTERNET request) const;

    // Call when `request` answered without success. On a proxy's 407 the
    // first time for this request: when the proxy offers Negotiate or NTLM,
    // sets the user's logon credentials and returns true (send the request
    // again). A proxy that offers only other schemes (Basic, Digest) gets one
    // WARNING line naming the proxy and the schemes, and false: Update never
    // asks for a password. Returns false for any other status, for a second
    // 407, and for a 407 from a server reached without a proxy.
    bool RetryWithLogon(HINTERNET request);

    // The proxy as logged: "direct", "WinHTTP default proxy <name>" or the
    // user's proxy list, without credentials.
    const std::wstring& Description() const { return m_description; }

private:
    DWORD m_accessType = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
    std::wstring m_proxy;   // list for WINHTTP_ACCESS_TYPE_NAMED_PROXY
    std::wstring m_bypass;  // its bypass list (may be empty)
    bool m_userSetting = false;
    bool m_viaProxy = false;  // a proxy of either setting is in use
    std::wstring m_description;
    bool m_logonTried = false;
};

// Forgets the settings and script answers that this run has read, so that the
// next RequestProxy reads them again and logs its choice again. For tests
// that change the proxy settings between requests of one process.
void ForgetProxySettings();

// `text` (a proxy list or a script address) with every "user:password@" of
// its entries removed.
std::wstring WithoutCredentials(const std::wstring& text);
