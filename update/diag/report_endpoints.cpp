#include "diag/report_endpoints.h"

#include <windows.h>

const wchar_t kStatisticsMainHost[] = L"stat.velisk.com";
const wchar_t kStatisticsAltHost[] = L"stat2.velisk.com";
const wchar_t kCrashReportHost[] = L"crash.velisk.com";

namespace {

constexpr wchar_t kStatisticsPath[] = L"/deliver/tavvo2";
constexpr wchar_t kCrashReportPath[] = L"/tool/report/send";

// Length of "scheme://authority" at the start of `url`, or 0 when `url` has
// no scheme separator or an empty authority.
size_t OriginLength(const std::wstring& url) {
    const size_t scheme = url.find(L"://");
    if (scheme == std::wstring::npos || scheme == 0) return 0;
    const size_t hostStart = scheme + 3;
    size_t end = url.find_first_of(L"/?#", hostStart);
    if (end == std::wstring::npos) end = url.size();
    return end > hostStart ? end : 0;
}

#if defined(VELISK_TEST_HOOKS)
// The test build's redirection of every report (see the header).
std::wstring BaseUrlFromEnvironment() {
    wchar_t value[1024] = {};
    const DWORD n = ::GetEnvironmentVariableW(L"VELISK_REPORT_BASE_URL", value, 1024);
    if (n == 0 || n >= 1024) return {};
    return std::wstring(value, n);
}
#else
// A shipped build reads no variable: the endpoints are the maker's.
std::wstring BaseUrlFromEnvironment() { return {}; }
#endif

}  // namespace

std::wstring DefaultStatisticsUrl(int domain) {
    if (domain == 1 || domain == 2) return std::wstring(L"http://") + kStatisticsAltHost + kStatisticsPath;
    return std::wstring(L"https://") + kStatisticsMainHost + kStatisticsPath;
}

std::wstring DefaultCrashReportUrl() { return std::wstring(L"http://") + kCrashReportHost + kCrashReportPath; }

std::wstring ApplyBaseUrlOverride(const std::wstring& url, const std::wstring& baseUrl) {
    const size_t baseOrigin = OriginLength(baseUrl);
    const size_t urlOrigin = OriginLength(url);
    if (baseOrigin == 0 || urlOrigin == 0) return url;
    return baseUrl.substr(0, baseOrigin) + url.substr(urlOrigin);
}

std::wstring StatisticsUrl(int domain) {
    return ApplyBaseUrlOverride(DefaultStatisticsUrl(domain), BaseUrlFromEnvironment());
}

std::wstring CrashReportUrl() { return ApplyBaseUrlOverride(DefaultCrashReportUrl(), BaseUrlFromEnvironment()); }
