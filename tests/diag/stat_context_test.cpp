// Points sent from a fresh process after LoadStatContext read the installed
// and the new version.ini: every member of the record as the service sees it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "diag/machine_id.h"
#include "diag/os_name.h"
#include "diag/stat_server_client.h"
#include "support/test_support.h"

namespace {

using namespace testing_support;
using stat_server::StatSession;

struct ProbeRun {
    bool finished = false;
    std::string result;
};

ProbeRun RunStatProbe(const StatSession& server, const ScratchDir& dir, const std::wstring& arguments) {
    const std::wstring resultFile = dir / L"probe.result";
    const std::wstring cmd = L"\"" + BinFile(L"stat_probe.exe") + L"\" --result \"" + resultFile + L"\" " + arguments;
    const ProcessResult run = RunProcess(cmd, L"", {{L"VELISK_REPORT_BASE_URL", server.baseUrl()}});
    return {run.finished && run.exitCode == 0, ReadBytes(resultFile)};
}

TEST(StatContext, LoadedContextFillsEveryMemberByApplicationCode) {
    const struct {
        const char* appCode;
        const char* domain;
        const char* ct;  // null: no ct, pc, rpc
        const char* pc;
    } cases[] = {
        {"Velisk_Live_PC_Client", "0", "win_exe", "com_module"},
        {"ZIVuzi", "1", "web_nlive", "page_home"},
        {"VURer", "2", "web_vurer", "page_home"},
        {"Other_Client", "3", nullptr, nullptr},
    };
    // What this machine reports, computed here the same way the probe does.
    std::string machineId;
    CollectMachineId(machineId);
    const std::string osName = OsNameForCode(GetOsVersionCode());

    for (const auto& c : cases) {
        SCOPED_TRACE(c.appCode);
        ScratchDir dir(L"stc");
        StatSession server;
        ASSERT_EQ(server.error(), "");
        ASSERT_TRUE(WriteBytes(dir / L"installed.ini", std::string("[update]\r\nversion=119\r\nversionName=V1.1.9\r\n"
                                                                   "appCode=") +
                                                           c.appCode + "\r\ndomain=" + c.domain + "\r\n"));
        ASSERT_TRUE(WriteBytes(dir / L"new.ini", "[Update]\r\nVersion=120\r\nversionName=V1.2.0-beta\r\n"));
        const ProbeRun run = RunStatProbe(server, dir,
                                          L"--name imstartup_pc --installed \"" + (dir / L"installed.ini") +
                                              L"\" --new \"" + (dir / L"new.ini") +
                                              L"\" --string process=VeliskLive.exe --int o_ret=42");
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.result, "load=1\nsend=1\n");

        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0]["path"].asString(), "/deliver/tavvo2");
        const Json::Value& p = requests[0]["point"];
        EXPECT_EQ(p["ac"].asString(), "imstartup_pc");
        EXPECT_EQ(p["av"].asString(), "V1.1.9");
        EXPECT_EQ(p["d"].asString(), machineId);
        EXPECT_EQ(p["pro"].asString(), "host_site");
        EXPECT_EQ(p["oct"], p["pt"]);
        EXPECT_EQ(p["ct"], c.ct ? Json::Value(c.ct) : Json::Value());
        EXPECT_EQ(p["pc"], c.pc ? Json::Value(c.pc) : Json::Value());
        EXPECT_EQ(p["rpc"], c.pc ? Json::Value(c.pc) : Json::Value());
        const Json::Value& e = p["e"];
        EXPECT_EQ(e["s_t"].asString(), osName);
        EXPECT_EQ(e["l_ver"], Json::Value(119));
        EXPECT_EQ(e["r_ver"], Json::Value(120));
        EXPECT_EQ(e["r_vn"].asString(), "V1.2.0-beta");
        EXPECT_EQ(e["is_update"], Json::Value(1));
        EXPECT_EQ(e["process"].asString(), "VeliskLive.exe");
        EXPECT_EQ(e["o_ret"], Json::Value(42));
    }
}

// Values are cut to their buffers: version names to 31 characters and the
// application code to 39, so an over-long code matches no known one.
TEST(StatContext, LongValuesAreCutAndMissingFilesGiveDefaults) {
    ScratchDir dir(L"stl");
    StatSession server;
    ASSERT_EQ(server.error(), "");
    const std::string longName(40, 'n');
    ASSERT_TRUE(WriteBytes(dir / L"installed.ini",
                           "[update]\r\nversionName=" + longName + "\r\nappCode=Velisk_Live_PC_Client" +
                               std::string(20, 'x') + "\r\n"));
    const ProbeRun run = RunStatProbe(server, dir,
                                      L"--name update_command --installed \"" + (dir / L"installed.ini") +
                                          L"\" --new \"" + (dir / L"missing.ini") + L"\"");
    ASSERT_TRUE(run.finished);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const Json::Value& p = requests[0]["point"];
    EXPECT_EQ(p["av"].asString(), std::string(31, 'n'));
    EXPECT_FALSE(p.isMember("ct"));
    EXPECT_EQ(p["e"]["l_ver"], Json::Value(0));
    EXPECT_EQ(p["e"]["r_ver"], Json::Value(0));
    EXPECT_EQ(p["e"]["r_vn"].asString(), "");
}

}  // namespace
