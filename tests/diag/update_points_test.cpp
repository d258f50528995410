// The real Update.exe sends "update_command" to the statistics service named
// by VELISK_REPORT_BASE_URL, with the context of the installed and the new
// version.ini, and logs whether the service took it.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "diag/stat_server_client.h"
#include "diag/update_sandbox.h"
#include "support/test_support.h"

namespace {

using namespace testing_support;
using update_sandbox::LogMessages;
using update_sandbox::UpdateSandbox;

TEST(UpdatePoints, UpdateCommandReachesTheServiceFromVisibleAndHiddenRuns) {
    const struct {
        const char* name;
        int installedVersion;  // 119 keeps the run visible, 120 lets it hide
        const char* answer;
        const char* logged;
    } cases[] = {
        {"visible run, point taken", 119, R"({"error":0})", "point update_command: 1"},
        {"hidden run, point taken", 120, R"({"error":0})", "point update_command: 1"},
        {"visible run, point refused", 119, R"({"error":1})", "point update_command: 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateSandbox sandbox;
        ASSERT_TRUE(WriteBytes(sandbox.installDir + L"\\version.ini",
                               "[update]\r\ncanHide=1\r\nversion=" + std::to_string(c.installedVersion) +
                                   "\r\nversionName=V1.1.9\r\nappCode=Velisk_Live_PC_Client\r\ndomain=1\r\n"));
        ASSERT_TRUE(WriteBytes(sandbox.newIni,
                               "[update]\r\nhide=1\r\nminHideVersion=120\r\nversion=121\r\nversionName=V1.2.1\r\n"));
        stat_server::SessionOptions options;
        options.answer = c.answer;
        stat_server::StatSession server(options);
        ASSERT_EQ(server.error(), "");

        ASSERT_TRUE(sandbox.Run(sandbox.UpdateModeArguments(), {{L"VELISK_REPORT_BASE_URL", server.baseUrl()}}));
        const std::vector<std::string> logged = LogMessages(sandbox.Log("info"), "command_line.cpp");
        EXPECT_NE(std::find(logged.begin(), logged.end(), c.logged), logged.end()) << sandbox.Log("info");

        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 1u);
        const Json::Value& r = requests[0];
        EXPECT_EQ(r["path"].asString(), "/deliver/tavvo2");
        EXPECT_EQ(r["content_type"].asString(), "application/x-www-form-urlencoded");
        EXPECT_EQ(r["v"].asString(), "1.0");
        EXPECT_EQ(r["problem"], Json::Value()) << r["problem"].asString();
        const Json::Value& p = r["point"];
        EXPECT_EQ(p.getMemberNames(), (std::vector<std::string>{"ac", "av", "ct", "d", "dur", "e", "i", "oct", "pc",
                                                                 "pro", "pt", "rid", "rpc"}));
        EXPECT_EQ(p["ac"].asString(), "update_command");
        EXPECT_EQ(p["av"].asString(), "V1.1.9");
        EXPECT_EQ(p["ct"].asString(), "win_exe");
        EXPECT_EQ(p["pc"].asString(), "com_module");
        EXPECT_EQ(p["rpc"].asString(), "com_module");
        EXPECT_EQ(p["pro"].asString(), "host_site");
        EXPECT_EQ(p["oct"], p["pt"]);
        const std::string id = p["d"].asString();
        EXPECT_TRUE(id.empty() || id.size() == 17) << id;
        const Json::Value& e = p["e"];
        EXPECT_EQ(e.getMemberNames(), (std::vector<std::string>{"is_update", "l_ver", "r_ver", "r_vn", "s_t"}));
        EXPECT_EQ(e["l_ver"], Json::Value(c.installedVersion));
        EXPECT_EQ(e["r_ver"], Json::Value(121));
        EXPECT_EQ(e["r_vn"].asString(), "V1.2.1");
        EXPECT_EQ(e["is_update"], Json::Value(1));
        EXPECT_FALSE(e["s_t"].asString().empty());
    }
}

}  // namespace
