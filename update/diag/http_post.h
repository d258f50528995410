// One synchronous HTTP(S) POST with WinHTTP, for the statistics points.
#pragma once

#include <cstddef>
#include <string>

// Result codes of HttpPost.
enum HttpPostCode {
    kHttpPostOk = 0,
    kHttpPostBadUrl = 2,           // WinHttpCrackUrl failed
    kHttpPostOpenFailed = 3,       // WinHttpOpen failed
    kHttpPostConnectFailed = 4,    // WinHttpConnect failed
    kHttpPostRequestFailed = 5,    // WinHttpOpenRequest failed
    kHttpPostHeaderFailed = 6,     // adding the Content-Type header failed
    kHttpPostSendFailed = 7,       // WinHttpSendRequest failed
    kHttpPostReceiveFailed = 8,    // WinHttpReceiveResponse failed
    kHttpPostQueryFailed = 9,      // WinHttpQueryDataAvailable failed
    kHttpPostNoMemory = 10,        // no memory for the response text
    kHttpPostReadFailed = 11,      // WinHttpReadData failed
};

struct HttpPostResult {
    int code = kHttpPostBadUrl;
    std::string response;  // the response body; only set when code is 0
};

// POSTs `length` bytes of `body` as is to `url` with the header
// "Content-Type: application/x-www-form-urlencoded". The port comes from the
// URL; the request is secure exactly when the port is 443, and goes through
// the proxy that RequestProxy (diag/proxy_settings.h) chooses. The query part of
// the URL is not sent. WinHTTP's default time-outs apply. Returns the code of
// the first failing step (see HttpPostCode) or 0 with the response text.
HttpPostResult HttpPost(const std::wstring& url, const char* body, size_t length);
