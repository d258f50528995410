// The real Update.exe sends its points to the statistics service named by
// VELISK_REPORT_BASE_URL, each with the context of the installed and the new
// version.ini plus its own fields, and logs whether the service took it.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "diag/stat_server_client.h"
#include "support/update_sandbox.h"
#include "support/test_support.h"

namespace {

using namespace testing_support;
using update_sandbox::UpdateSandbox;

using Names = std::vector<std::string>;

// The extra fields each point carries besides the five every point starts with.
const std::map<std::string, Names> kOwnFields = {
    {"update_command", {}},
    {"imstartup_pc", {"cmd", "dir", "o_ret", "process"}},
    {"update_ifsucc", {"bu_np", "bu_pp", "is_succ", "is_u"}},
    {"imcopy_ifsucc", {"dst", "is_start", "is_succ", "src"}},
};

Names Sorted(Names names) {
    std::sort(names.begin(), names.end());
    return names;
}

TEST(UpdatePoints, EveryPointOfVisibleAndHiddenRunsReachesTheService) {
    const struct {
        const char* name;
        int installedVersion;  // 119 keeps the run visible, 120 lets it hide
        bool hidden;
        const char* answer;
        const char* taken;  // how the log reports the result
        Names points;
    } cases[] = {
        {"visible run", 119, false, R"({"error":0})", "1", {"update_command", "update_ifsucc"}},
        {"hidden run", 120, true, R"({"error":0})", "1", {"update_command", "imstartup_pc", "update_ifsucc"}},
        {"visible run, points refused", 119, false, R"({"error":1})", "0", {"update_command", "update_ifsucc"}},
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

        ASSERT_TRUE(sandbox.Run(sandbox.UpdateModeArguments(), {{L"VELISK_REPORT_BASE_URL", server.baseUrl()}}))
            << sandbox.problem();
        const std::string log = sandbox.Log("info");
        const auto requests = server.requests();
        Names sent;
        for (const auto& r : requests) sent.push_back(r["point"]["ac"].asString());
        ASSERT_EQ(sent, c.points);

        for (const auto& r : requests) {
            const Json::Value& p = r["point"];
            const std::string name = p["ac"].asString();
            SCOPED_TRACE(name);
            EXPECT_NE(log.find("] point " + name + ": " + c.taken), std::string::npos) << log;
            EXPECT_EQ(r["path"].asString(), "/deliver/tavvo2");
            EXPECT_EQ(r["content_type"].asString(), "application/x-www-form-urlencoded");
            EXPECT_EQ(r["v"].asString(), "1.0");
            EXPECT_EQ(r["problem"], Json::Value()) << r["problem"].asString();
            EXPECT_EQ(p.getMemberNames(), (Names{"ac", "av", "ct", "d", "dur", "e", "i", "oct", "pc", "pro", "pt",
                                                 "rid", "rpc"}));
            EXPECT_EQ(p["av"].asString(), "V1.1.9");
            EXPECT_EQ(p["ct"].asString(), "win_exe");
            EXPECT_EQ(p["pc"].asString(), "com_module");
            EXPECT_EQ(p["rpc"].asString(), "com_module");
            EXPECT_EQ(p["pro"].asString(), "host_site");
            EXPECT_EQ(p["oct"], p["pt"]);
            const std::string id = p["d"].asString();
            EXPECT_TRUE(id.empty() || id.size() == 17) << id;

            const Json::Value& e = p["e"];
            Names fields = {"is_update", "l_ver", "r_ver", "r_vn", "s_t"};
            for (const auto& own : kOwnFields.at(name)) fields.push_back(own);
            EXPECT_EQ(e.getMemberNames(), Sorted(fields));
            EXPECT_EQ(e["l_ver"], Json::Value(c.installedVersion));
            EXPECT_EQ(e["r_ver"], Json::Value(121));
            EXPECT_EQ(e["r_vn"].asString(), "V1.2.1");
            EXPECT_EQ(e["is_update"], Json::Value(1));
            EXPECT_FALSE(e["s_t"].asString().empty());
            if (name == "update_ifsucc") {
                EXPECT_EQ(e["is_u"], Json::Value(c.hidden ? 1 : 0));
                EXPECT_EQ(e["bu_pp"].asString(), "http://localhost/none/ProgramConfig.zip");
                EXPECT_EQ(e["bu_np"].asString(), WideToUtf8String(sandbox.newIni));
                EXPECT_EQ(e["is_succ"], Json::Value(0));  // nothing serves the manifest
            }
            if (name == "imstartup_pc") {
                EXPECT_EQ(e["process"].asString(), "VeliskLive.exe");
                EXPECT_EQ(e["dir"].asString(), WideToUtf8String(sandbox.installDir + L"\\"));
                EXPECT_EQ(e["cmd"].asString().rfind("-copy ", 0), 0u) << e["cmd"].asString();
                EXPECT_GT(e["o_ret"].asInt(), 32);
            }
        }
    }
}

// The copy mode reports its result with the staging folder and the installation,
// in the context of the installed and the staged version.ini.
TEST(UpdatePoints, CopyModeReportsItsResultWithSourceAndDestination) {
    for (const bool restart : {false, true}) {
        SCOPED_TRACE(restart ? "with -restart" : "without -restart");
        UpdateSandbox sandbox;
        const std::wstring staging = sandbox.installDir + L"\\update77";
        ASSERT_TRUE(WriteBytes(sandbox.installDir + L"\\version.ini",
                               "[update]\r\nversion=120\r\nversionName=V1.1.9\r\n"));
        ASSERT_TRUE(WriteBytes(staging + L"\\version.ini", "[update]\r\nversion=121\r\nversionName=V1.2.1\r\n"));
        stat_server::StatSession server(stat_server::SessionOptions{});
        ASSERT_EQ(server.error(), "");

        const std::wstring arguments = L"-copy \"" + staging + L"\" \"" + sandbox.installDir + L"\"" +
                                       (restart ? L" -restart" : L"");
        ASSERT_TRUE(sandbox.Run(arguments, {{L"VELISK_REPORT_BASE_URL", server.baseUrl()}})) << sandbox.problem();
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 1u);
        const Json::Value& p = requests[0]["point"];
        EXPECT_EQ(p["ac"].asString(), "imcopy_ifsucc");
        EXPECT_EQ(p["av"].asString(), "V1.1.9");
        const Json::Value& e = p["e"];
        EXPECT_EQ(e.getMemberNames(), Sorted({"dst", "is_start", "is_succ", "is_update", "l_ver", "r_ver", "r_vn",
                                              "s_t", "src"}));
        EXPECT_EQ(e["l_ver"], Json::Value(120));
        EXPECT_EQ(e["r_ver"], Json::Value(121));
        EXPECT_EQ(e["r_vn"].asString(), "V1.2.1");
        EXPECT_EQ(e["is_succ"], Json::Value(1));  // the staged version.ini was copied
        EXPECT_EQ(e["is_start"], Json::Value(restart ? 1 : 0));
        EXPECT_EQ(e["src"].asString(), WideToUtf8String(staging));
        EXPECT_EQ(e["dst"].asString(), WideToUtf8String(sandbox.installDir));
        EXPECT_NE(sandbox.Log("info").find("] point imcopy_ifsucc: 1"), std::string::npos);
    }
}

}  // namespace
