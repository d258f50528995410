// Addresses of the maker's reporting services: the two statistics endpoints
// and the crash-report upload endpoint. The host names live here and nowhere
// else.
//
// Test builds only (CMake option VELISK_TEST_HOOKS, which the shipped
// configuration never turns on): when the environment variable
// VELISK_REPORT_BASE_URL holds a base URL such as "http://127.0.0.1:8123",
// its scheme, host and port replace those of every endpoint below; the
// endpoint's own path is always kept (a path in the variable is ignored). A
// shipped build has no such variable: machine ids and crash reports go to the
// maker's hosts alone.
#pragma once

#include <string>

// Main statistics host, reached over https on port 443.
extern const wchar_t kStatisticsMainHost[];
// Alternative statistics host, reached over plain http on port 80.
extern const wchar_t kStatisticsAltHost[];
// Crash-report host, reached over plain http.
extern const wchar_t kCrashReportHost[];

// The statistics endpoint for an installation's `domain` value: domains 1 and
// 2 use the plain http endpoint on the alternative host, every other domain
// (0 included) the https endpoint on the main host. No override applied.
std::wstring DefaultStatisticsUrl(int domain);

// The crash-report upload endpoint (plain http). No override applied.
std::wstring DefaultCrashReportUrl();

// Replaces scheme, host and port of `url` with those of `baseUrl`, keeping the
// path (and anything after it) of `url`. A `baseUrl` without "://" or without
// a host leaves `url` unchanged.
std::wstring ApplyBaseUrlOverride(const std::wstring& url, const std::wstring& baseUrl);

// DefaultStatisticsUrl / DefaultCrashReportUrl; in a test build with the
// environment override applied when the variable is set.
std::wstring StatisticsUrl(int domain);
std::wstring CrashReportUrl();
