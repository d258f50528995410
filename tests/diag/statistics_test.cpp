// The wire form of statistics points and their exchange with a local
// statistics service, in this process (the context is never loaded here).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "diag/base64.h"
#include "diag/http_post.h"
#include "diag/os_name.h"
#include "diag/report_endpoints.h"
#include "diag/stat_record.h"
#include "diag/stat_server_client.h"
#include "diag/statistics.h"

namespace {

using stat_server::EndpointOverride;
using stat_server::SessionOptions;
using stat_server::StatSession;


TEST(Base64, EncodesWithStandardAlphabetAndPadding) {
    struct Case {
        std::string input;
        const char* encoded;
    };
    const Case cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\xfb\xff\xbf", 3), "+/+/"},
        {std::string("\0\0", 2), "AAA="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoded);
        std::string encoded = "stale";
        ASSERT_TRUE(Base64Encode(c.input.size(), reinterpret_cast<const unsigned char*>(c.input.data()), encoded));
        EXPECT_EQ(encoded, c.encoded);
    }
    std::string encoded;
    EXPECT_FALSE(Base64Encode(3, nullptr, encoded));
}

TEST(StatBody, WrapsBase64WithEscapedPlusAndSlashAndKeepsPadding) {
    struct Case {
        std::string text;
        const char* body;
    };
    const Case cases[] = {
        {"", "multi=&v=1.0"},
        {"foo", "multi=Zm9v&v=1.0"},
        {std::string("\xfb\xff", 2), "multi=%2B%2F8=&v=1.0"},
        {std::string("\xfb\xff\xbf\xfb", 4), "multi=%2B%2F%2B%2F%2Bw==&v=1.0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        std::string body;
        ASSERT_TRUE(BuildStatBody(c.text, body));
        EXPECT_EQ(body, c.body);
    }
}

TEST(StatRecord, IsCompactSortedUtf8TextWithFieldsByApplicationCode) {
    StatContext context;
    context.installedVersion = 119;
    context.installedVersionName = L"V1.1.9";
    context.domain = 0;
    context.newVersion = 120;
    context.newVersionName = L"V1.2.0 \x6B63\x5F0F\x7248";  // "正式版"
    context.osName = "Windows 10";
    context.machineId = "00-11-22-AA-BB-CC";
    const std::string tail = R"("d":"00-11-22-AA-BB-CC","dur":0,"e":{"is_update":1,"l_ver":119,"r_ver":120,)"
                             "\"r_vn\":\"V1.2.0 \xE6\xAD\xA3\xE5\xBC\x8F\xE7\x89\x88\","
                             R"("s_t":"Windows 10"},"i":0,"oct":"1700000000123",)";
    struct Case {
        const wchar_t* appCode;
        const char* codeFields;  // between "ac","av" and "d"
        const char* pcFields;    // between "oct" and "pro"
        const char* rpcField;    // after "rid"
    };
    const Case cases[] = {
        {L"Velisk_Live_PC_Client", R"("ct":"win_exe",)", R"("pc":"com_module",)", R"(,"rpc":"com_module")"},
        {L"ZIVuzi", R"("ct":"web_nlive",)", R"("pc":"page_home",)", R"(,"rpc":"page_home")"},
        {L"VURer", R"("ct":"web_vurer",)", R"("pc":"page_home",)", R"(,"rpc":"page_home")"},
        {L"vurer", "", "", ""},
        {L"", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.appCode)));
        context.appCode = c.appCode;
        const std::string text =
            WriteStatRecord(BuildStatRecord(context, "update_command", StatBaseFields(context), "1700000000123"));
        const std::string expected = std::string(R"({"ac":"update_command","av":"V1.1.9",)") + c.codeFields + tail +
                                     c.pcFields + R"("pro":"host_site","pt":"1700000000123","rid":0)" +
                                     c.rpcField + "}\n";
        EXPECT_EQ(text, expected);
    }
}

TEST(StatEndpoints, DomainsOneAndTwoUsePlainAltHostOthersSecureMainHost) {
    const std::wstring plain = std::wstring(L"http://") + kStatisticsAltHost + L"/deliver/tavvo2";
    const std::wstring secure = std::wstring(L"https://") + kStatisticsMainHost + L"/deliver/tavvo2";
    const struct {
        int domain;
        const std::wstring& url;
    } cases[] = {{0, secure}, {1, plain}, {2, plain}, {3, secure}, {-1, secure}, {7, secure}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.domain);
        EXPECT_EQ(DefaultStatisticsUrl(c.domain), c.url);
    }
    EXPECT_EQ(DefaultCrashReportUrl(), std::wstring(L"http://") + kCrashReportHost + L"/tool/report/send");
}

TEST(StatEndpoints, OverrideReplacesSchemeHostAndPortButNeverThePath) {
    const struct {
        const wchar_t* url;
        const wchar_t* base;
        const wchar_t* expected;
    } cases[] = {
        {L"https://stat.example/deliver/tavvo2", L"http://127.0.0.1:8123", L"http://127.0.0.1:8123/deliver/tavvo2"},
        {L"https://stat.example/deliver/tavvo2", L"http://127.0.0.1:8123/other/path?x=1",
         L"http://127.0.0.1:8123/deliver/tavvo2"},
        {L"http://crash.example/tool/report/send", L"https://localhost", L"https://localhost/tool/report/send"},
        {L"https://stat.example/deliver/tavvo2", L"127.0.0.1:8123", L"https://stat.example/deliver/tavvo2"},
        {L"https://stat.example/deliver/tavvo2", L"http://", L"https://stat.example/deliver/tavvo2"},
        {L"https://stat.example/deliver/tavvo2", L"", L"https://stat.example/deliver/tavvo2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.base)));
        EXPECT_EQ(ApplyBaseUrlOverride(c.url, c.base), c.expected);
    }
    EndpointOverride override(L"http://127.0.0.1:9/ignored");
    EXPECT_EQ(StatisticsUrl(1), L"http://127.0.0.1:9/deliver/tavvo2");
    EXPECT_EQ(CrashReportUrl(), L"http://127.0.0.1:9/tool/report/send");
}

TEST(HttpPost, PostsBodyWithFormContentTypeToUrlPathAndReportsEachFailingStep) {
    StatSession server;
    ASSERT_EQ(server.error(), "");
    const std::string body = "multi=Zm9v&v=1.0";
    const HttpPostResult ok =
        HttpPost(server.baseUrl() + L"/deliver/tavvo2?dropped=1", body.data(), body.size());
    EXPECT_EQ(ok.code, kHttpPostOk);
    EXPECT_EQ(ok.response, R"({"error":0})");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["method"].asString(), "POST");
    EXPECT_EQ(requests[0]["path"].asString(), "/deliver/tavvo2");
    EXPECT_EQ(requests[0]["content_type"].asString(), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[0]["user_agent"].asString(), "A WinHTTP Example Program/1.0");
    EXPECT_EQ(requests[0]["body"].asString(), body);

    SessionOptions hangUp;
    hangUp.close = true;
    StatSession silent(hangUp);
    ASSERT_EQ(silent.error(), "");
    StatSession closed;
    ASSERT_EQ(closed.error(), "");
    const std::wstring closedUrl = closed.baseUrl() + L"/deliver/tavvo2";
    closed.Close();

    const struct {
        const char* name;
        std::wstring url;
        int code;
    } failures[] = {
        {"not a URL", L"not a url", kHttpPostBadUrl},
        {"nobody listens", closedUrl, kHttpPostSendFailed},
        {"connection closed without an answer", silent.baseUrl() + L"/deliver/tavvo2", kHttpPostReceiveFailed},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.name);
        const HttpPostResult result = HttpPost(f.url, body.data(), body.size());
        EXPECT_EQ(result.code, f.code);
        EXPECT_EQ(result.response, "");
    }
}

TEST(StatPoint, CountsOnlyErrorZeroAsDelivered) {
    const struct {
        const char* answer;
        int status;
        bool delivered;
    } cases[] = {
        {R"({"error":0})", 200, true},
        {R"({"error":0,"msg":"ok"})", 200, true},
        {R"({"error":1})", 200, false},
        {R"({})", 200, false},
        {"not json", 200, false},
        {"", 200, false},
        {R"({"error":"0"})", 200, false},
        {R"([0])", 200, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        SessionOptions options;
        options.answer = c.answer;
        options.status = c.status;
        StatSession server(options);
        ASSERT_EQ(server.error(), "");
        EndpointOverride override(server.baseUrl());
        StatPoint point("update_command");
        EXPECT_EQ(point.Send(), c.delivered);
        EXPECT_FALSE(point.Send());  // a point is sent at most once
        EXPECT_EQ(server.requests().size(), 1u);
    }
}

// Before the context is loaded every context value is empty or 0; the
// caller's fields join the five fields every point starts with.
TEST(StatPoint, BeforeContextCarriesEmptyNamesAndVersionZeroPlusCallerFields) {
    StatSession server;
    ASSERT_EQ(server.error(), "");
    EndpointOverride override(server.baseUrl());
    StatPoint point("update_ifsucc");
    point.AddInt("is_u", 1);
    point.AddString("bu_pp", L"http://h/\x6587\x4EF6.zip");  // "文件"
    point.AddString("bu_np", L"C:\\new\\version.ini");
    point.AddInt("is_succ", 1);
    point.AddInt("is_succ", 0);  // the last value of a key counts
    ASSERT_TRUE(point.Send());

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const Json::Value& r = requests[0];
    EXPECT_EQ(r["problem"], Json::Value()) << r["problem"].asString();
    EXPECT_EQ(r["v"].asString(), "1.0");
    const std::string jsonText = r["json_text"].asString();
    ASSERT_FALSE(jsonText.empty());
    EXPECT_EQ(jsonText.back(), '\n');
    EXPECT_EQ(jsonText.find(' '), std::string::npos) << jsonText;
    const Json::Value& p = r["point"];
    EXPECT_EQ(p.getMemberNames(), (std::vector<std::string>{"ac", "av", "d", "dur", "e", "i", "oct", "pro", "pt",
                                                             "rid"}));
    EXPECT_EQ(p["ac"].asString(), "update_ifsucc");
    EXPECT_EQ(p["av"].asString(), "");
    EXPECT_EQ(p["d"].asString(), "");
    EXPECT_EQ(p["pro"].asString(), "host_site");
    EXPECT_EQ(p["oct"], p["pt"]);
    EXPECT_TRUE(p["pt"].isString());
    EXPECT_EQ(p["pt"].asString().find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(p["dur"], Json::Value(0));
    EXPECT_EQ(p["i"], Json::Value(0));
    EXPECT_EQ(p["rid"], Json::Value(0));
    Json::Value e(Json::objectValue);
    e["s_t"] = "";
    e["l_ver"] = 0;
    e["r_ver"] = 0;
    e["r_vn"] = "";
    e["is_update"] = 1;
    e["is_u"] = 1;
    e["bu_pp"] = "http://h/\xE6\x96\x87\xE4\xBB\xB6.zip";
    e["bu_np"] = "C:\\new\\version.ini";
    e["is_succ"] = 0;
    EXPECT_EQ(p["e"], e);
    // The body never carries a raw "+" or "/" of the Base64 text.
    EXPECT_EQ(r["body"].asString().find_first_of("+/"), std::string::npos);
}

}  // namespace
