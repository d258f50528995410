// Downloads behind the proxies of the CTest fixture "proxy" (tinyproxy on
// loopback; the test server itself stands for a proxy that wants the user's
// Windows logon), with the user's or the machine's proxy setting written into the
// Wine prefix the way Windows keeps it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/proxy_settings.h"
#include "net/http_download.h"
#include "net/log_capture.h"
#include "net/test_server_client.h"
#include "pipeline/update_run.h"
#include "support/proxy_setting.h"
#include "support/test_support.h"

namespace {

using net_testing::LogCapture;
using net_testing::ServedFolder;
using testing_support::kBasicProxy;
using testing_support::kOpenProxy;
using testing_support::ProxyLog;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::UserProxy;
using testing_support::WideToUtf8String;

const std::string kSource = net_testing::RandomBytes(5000, 7);

// Answers the open proxy for localhost and DIRECT for every other host.
const std::string kScript =
    "function FindProxyForURL(url, host) {\n"
    "  if (host == \"localhost\") return \"PROXY " + std::string(kOpenProxy) + "\";\n"
    "  return \"DIRECT\";\n"
    "}\n";

struct Case {
    const char* name;
    UserProxy user;
    const char* machineProxy;  // WinHTTP default proxy, null: none
    const char* host;          // of the download URL
    bool secure;
    const char* faults;        // test server faults of the first request, null: none
    bool downloads;
    size_t viaOpen;            // requests the open proxy forwarded
    size_t viaBasic;           // requests the Basic proxy refused
    std::string logged;        // a log line of the run (INFO or WARNING)
    size_t loggedTimes;
};

TEST(ProxyDownload, EveryProxySettingIsHonouredAndLoggedOnce) {
    ServedFolder served;
    ASSERT_TRUE(served.Put("file.bin", kSource));
    ASSERT_TRUE(served.Put("proxy.pac", kScript));
    const std::string script = WideToUtf8String(served.Url("proxy.pac"));
    const std::string missing = WideToUtf8String(served.Url("missing.pac"));
    const Case cases[] = {
        {"new prefix: automatic detection finds nothing", {true}, nullptr, "localhost", false, nullptr, true, 0, 0,
         "proxy of this run: user automatic detection", 1},
        {"no proxy", {}, nullptr, "localhost", false, nullptr, true, 0, 0, "proxy of this run: direct", 1},
        {"fixed proxy, resumed after a cut", {false, kOpenProxy}, nullptr, "localhost", false,
         "close-after=1000,times=1", true, 2, 0, "proxy of this run: user proxy 127.0.0.1:3128", 1},
        {"fixed proxy, https through CONNECT", {false, kOpenProxy}, nullptr, "localhost", true, nullptr, true, 1, 0,
         "proxy of this run: user proxy 127.0.0.1:3128", 1},
        {"fixed proxy, host on the bypass list", {false, kOpenProxy, "<local>"}, nullptr, "localhost", false,
         nullptr, true, 0, 0, "proxy of this run: user proxy 127.0.0.1:3128 bypass <local>", 1},
        {"script: proxy for localhost", {false, "", "", script}, nullptr, "localhost", false, nullptr, true, 1, 0,
         "proxy script answer for http://localhost:80: 127.0.0.1:3128", 1},
        {"script: DIRECT for 127.0.0.1", {false, "", "", script}, nullptr, "127.0.0.1", false, nullptr, true, 0, 0,
         "proxy script answer for http://127.0.0.1:80: direct", 1},
        {"script that cannot be fetched", {false, "", "", missing}, nullptr, "localhost", false, nullptr, true, 0,
         0, "proxy script failed, error=12167 script=" + missing + " using: direct", 1},
        {"proxy asking for Basic only, two paced attempts", {false, kBasicProxy}, nullptr, "localhost", false,
         nullptr, false, 0, 2, "proxy asks for a password, not sent: proxy=127.0.0.1:3129 scheme=Basic", 2},
        {"proxy asking for the user's logon: one retry with it", {false, "127.0.0.1:80"}, nullptr, "localhost",
         false, nullptr, false, 0, 0, "proxy refused the user's logon: proxy=127.0.0.1:80", 2},
        {"WinHTTP default proxy before the user's", {false, kBasicProxy}, kOpenProxy, "localhost", false, nullptr,
         true, 1, 0, "proxy of this run: WinHTTP default proxy 127.0.0.1:3128", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing_support::ProxySetting setting(c.user, c.machineProxy);
        ForgetProxySettings();
        ProxyLog open("open");
        ProxyLog basic("basic");
        const size_t before = served.Requests().size();
        LogCapture log;
        ScratchDir dir(L"proxy");
        std::wstring url = c.faults ? served.FaultUrl(c.faults, "file.bin") : served.Url("file.bin");
        url.replace(url.find(L"localhost"), 9, testing_support::Utf8ToWide(c.host));
        HttpDownloadRequest request = {};
        request.url = url.c_str();
        request.saveDir = dir.path().c_str();
        request.timeout = 5000;
        request.retry = 1;
        request.maxAttempts = 2;
        request.secure = c.secure;

        EXPECT_EQ(HttpDownload(request), c.downloads);
        if (c.downloads) {
            EXPECT_EQ(ReadBytes(dir / L"file.bin"), kSource);
        }
        const std::string nonce = WideToUtf8String(served.Url("")).substr(16);  // "/<nonce>/"
        const std::string target = c.secure ? "CONNECT localhost:443" : nonce;
        EXPECT_EQ(open.Count(target), c.viaOpen);
        EXPECT_EQ(basic.Count(target), c.viaBasic);
        EXPECT_EQ(log.Count(c.logged), c.loggedTimes);
        EXPECT_EQ(log.Count("proxy of this run: "), 1u);
        // What reached the server came through the proxy exactly when it should.
        const auto requests = served.Requests();
        for (size_t i = before; i < requests.size(); ++i) {
            if (requests[i].path.find("file.bin") == std::string::npos) continue;
            EXPECT_EQ(requests[i].viaProxy, c.viaOpen > 0 && !c.secure) << requests[i].path;
        }
        if (c.faults) {
            ASSERT_GE(requests.size(), before + 2);
            EXPECT_EQ(requests.back().range, "bytes=1000-");
        }
    }
    ForgetProxySettings();
}

// The engine's whole update, manifest and files over HTTPS first, every
// file's first transfer cut and resumed, through the open proxy as each kind
// of setting names it.
TEST(ProxyDownload, RealUpdateGoesThroughTheProxyOfEverySetting) {
    const struct {
        const char* name;
        bool script;
        const char* user;
        const char* machine;
    } rows[] = {
        {"user's fixed proxy", false, kOpenProxy, nullptr},
        {"user's proxy script", true, nullptr, nullptr},
        {"machine's WinHTTP default proxy", false, nullptr, kOpenProxy},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        pipeline_testing::UpdateRun run;
        ASSERT_TRUE(run.served.Put("proxy.pac", kScript));
        UserProxy user;
        if (row.user) user.proxy = row.user;
        if (row.script) user.scriptUrl = WideToUtf8String(run.served.Url("proxy.pac"));
        testing_support::ProxySetting setting(user, row.machine);
        ForgetProxySettings();
        ProxyLog open("open");
        run.WriteIni(run.served.FaultUrl("close-after=100,times=1", "a/b/"), 7);
        ASSERT_TRUE(run.Run());

        size_t resumed = 0;
        size_t files = 0;
        for (const auto& r : run.served.Requests()) {
            if (r.path.find("/a/b/") == std::string::npos) continue;  // not the script
            EXPECT_EQ(r.scheme, "https") << r.path;
            resumed += r.hasRange;
            ++files;
        }
        EXPECT_GT(resumed, 0u);
        // One tunnel per request: nothing went to the server directly.
        EXPECT_EQ(open.Count("CONNECT localhost:443"), files);
    }
}

}  // namespace
