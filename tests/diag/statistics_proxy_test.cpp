// Statistics points behind the loopback proxies of the CTest fixture "proxy",
// with the user's proxy setting written into the Wine prefix.
#include <gtest/gtest.h>

#include <string>

#include "diag/proxy_settings.h"
#include "diag/stat_server_client.h"
#include "diag/statistics.h"
#include "support/log_capture.h"
#include "support/proxy_setting.h"

namespace {

using namespace testing_support;
using stat_server::EndpointOverride;
using stat_server::StatSession;

TEST(StatPointProxy, GoesThroughTheUsersProxyAndSendsNoPasswordToABasicOne) {
    const struct {
        const char* name;
        const char* proxy;
        bool delivered;
        size_t viaOpen;
        size_t viaBasic;
        int warnings;
    } cases[] = {
        {"open proxy", kOpenProxy, true, 1, 0, 0},
        {"proxy asking for Basic", kBasicProxy, false, 0, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StatSession server;
        ASSERT_EQ(server.error(), "");
        // By host name: through a proxy, Wine's WinHTTP sends a request for an
        // IP address host in origin form ("POST /path"), which no proxy takes.
        const std::wstring base = L"http://localhost:" + std::to_wstring(server.port());
        EndpointOverride override(base);
        ProxySetting setting({false, c.proxy});
        ForgetProxySettings();
        ProxyLog open("open");
        ProxyLog basic("basic");
        LogCapture log;

        StatPoint point("update_command");
        EXPECT_EQ(point.Send(), c.delivered);
        const std::string request = "POST http://localhost:" + std::to_string(server.port()) + "/deliver/tavvo2 ";
        EXPECT_EQ(open.Count(request), c.viaOpen);
        EXPECT_EQ(basic.Count(request), c.viaBasic);
        EXPECT_EQ(server.requests().size(), c.viaOpen);
        EXPECT_EQ(log.Count("proxy of this run: user proxy " + std::string(c.proxy), google::GLOG_INFO), 1);
        // A proxy that answers 407 and closes before it has read the body
        // can reset the connection before WinHTTP reads the answer: the
        // exchange then fails without a status to name.
        EXPECT_LE(log.Count("proxy asks for a password, not sent: proxy=127.0.0.1:3129 scheme=Basic",
                            google::GLOG_WARNING),
                  c.warnings);
    }
    ForgetProxySettings();
}

}  // namespace
