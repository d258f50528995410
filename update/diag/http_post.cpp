#include "diag/http_post.h"

#include <windows.h>
#include <winhttp.h>

#include <new>

#include "diag/proxy_settings.h"
#include "velisk/handles.h"

namespace {

constexpr wchar_t kUserAgent[] = L"A WinHTTP Example Program/1.0";
constexpr wchar_t kContentType[] = L"Content-Type: application/x-www-form-urlencoded";

struct UrlParts {
    wchar_t scheme[64] = {};
    wchar_t host[1024] = {};
    wchar_t path[1024] = {};
    wchar_t extra[1024] = {};
    INTERNET_PORT port = 0;
};

bool CrackUrl(const std::wstring& url, UrlParts& parts) {
    URL_COMPONENTS components = {};
    components.dwStructSize = sizeof(components);
    components.lpszScheme = parts.scheme;
    components.dwSchemeLength = 64;
    components.lpszHostName = parts.host;
    components.dwHostNameLength = 1024;
    components.lpszUrlPath = parts.path;
    components.dwUrlPathLength = 1024;
    components.lpszExtraInfo = parts.extra;
    components.dwExtraInfoLength = 1024;
    if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), ICU_ESCAPE, &components)) return false;
    parts.port = components.nPort;
    return true;
}

// Reads the whole response body into `text`; returns 0 or the failing code.
int ReadResponse(HINTERNET request, std::string& text) {
    for (;;) {
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request, &available)) return kHttpPostQueryFailed;
        if (available == 0) return kHttpPostOk;
        const size_t old = text.size();
        try {
            text.resize(old + available);
        } catch (const std::bad_alloc&) {
            return kHttpPostNoMemory;
        }
        DWORD read = 0;
        if (!::WinHttpReadData(request, text.data() + old, available, &read)) return kHttpPostReadFailed;
        text.resize(old + read);
    }
}

}  // namespace

HttpPostResult HttpPost(const std::wstring& url, const char* body, size_t length) {
    HttpPostResult result;
    UrlParts parts;
    if (!CrackUrl(url, parts)) {
        result.code = kHttpPostBadUrl;
        return result;
    }
    RequestProxy proxy(url);
    velisk::UniqueInternetHandle session(proxy.OpenSession(kUserAgent, 0));
    if (!session) {
        result.code = kHttpPostOpenFailed;
        return result;
    }
    velisk::UniqueInternetHandle connection(::WinHttpConnect(session.get(), parts.host, parts.port, 0));
    if (!connection) {
        result.code = kHttpPostConnectFailed;
        return result;
    }
    const DWORD flags = parts.port == INTERNET_DEFAULT_HTTPS_PORT ? WINHTTP_FLAG_SECURE : 0;
    velisk::UniqueInternetHandle request(::WinHttpOpenRequest(connection.get(), L"POST", parts.path, nullptr,
                                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                              flags));
    if (!request) {
        result.code = kHttpPostRequestFailed;
        return result;
    }
    proxy.ApplyTo(request.get());
    if (!::WinHttpAddRequestHeaders(request.get(), kContentType, static_cast<DWORD>(-1L),
                                    WINHTTP_ADDREQ_FLAG_ADD_IF_NEW)) {
        result.code = kHttpPostHeaderFailed;
        return result;
    }
    if (length > MAXDWORD) {
        result.code = kHttpPostSendFailed;
        return result;
    }
    const DWORD bodyLength = static_cast<DWORD>(length);
    do {
        if (!::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, const_cast<char*>(body),
                                  bodyLength, bodyLength, 0)) {
            result.code = kHttpPostSendFailed;
            return result;
        }
        if (!::WinHttpReceiveResponse(request.get(), nullptr)) {
            result.code = kHttpPostReceiveFailed;
            return result;
        }
    } while (proxy.RetryWithLogon(request.get()));
    std::string text;
    result.code = ReadResponse(request.get(), text);
    if (result.code == kHttpPostOk) result.response = std::move(text);
    return result;
}
