// UpdateSigned.exe (Update.exe with the test keys built in) from a folder of
// its own: a signed release is installed; a tampered one is refused, the
// installation stays as it was and the client is restarted as after any
// failed run.
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "net/test_server_client.h"
#include "pipeline/pipeline_fixture.h"
#include "pipeline/update_run.h"
#include "signing/signing_fixture.h"
#include "support/test_support.h"
#include "support/update_sandbox.h"
#include "velisk/handles.h"

namespace {

using namespace testing_support;
using pipeline_testing::Fixture;
using pipeline_testing::ListTree;
using signing_testing::SigningFixture;
using testing_support::ClientStandIn;

const std::map<std::wstring, std::wstring> kLocalStatistics = {{L"VELISK_REPORT_BASE_URL", L"http://127.0.0.1:9"}};

// The installation's files with their bytes, without the client stand-in's
// record of its starts.
std::map<std::wstring, std::string> InstalledFiles(const std::wstring& root) {
    std::map<std::wstring, std::string> files;
    for (const std::wstring& name : ListTree(root)) {
        if (name != L"VeliskLive.exe.record") files[name] = ReadBytes(root + L"\\" + name);
    }
    return files;
}

// Seconds of the day of the first log line holding `text` (glog's
// "HH:MM:SS.ffffff" time stamp), or -1.
double LineTime(const std::string& log, const std::string& text) {
    const size_t at = log.find(text);
    if (at == std::string::npos) return -1;
    const size_t start = log.rfind('\n', at) == std::string::npos ? 0 : log.rfind('\n', at) + 1;
    std::smatch match;
    const std::string line = log.substr(start, at - start);
    if (!std::regex_search(line, match, std::regex(R"((\d\d):(\d\d):(\d\d\.\d+))"))) return -1;
    return std::stoi(match[1]) * 3600.0 + std::stoi(match[2]) * 60.0 + std::stod(match[3]);
}

// Version 6 installed in the sandbox, version 7 served with the manifest
// archive `signedCase` of the signing fixture.
class SignedRun {
public:
    explicit SignedRun(const std::wstring& signedCase) : sandbox(L"UpdateSigned.exe") {
        pipeline_testing::CopyTree(Fixture(L"v1/install"), sandbox.installDir);
        for (const std::wstring& name : ListTree(Fixture(L"v2/server/a/b"))) {
            std::wstring path = Fixture(L"v2/server/a/b/" + name);
            for (auto& c : path) c = (c == L'/') ? L'\\' : c;
            served.Put("a/b/" + WideToUtf8String(name), ReadBytes(path));
        }
        served.Put("a/b/7/ProgramConfig.zdb.zip", ReadBytes(SigningFixture(L"manifests/" + signedCase + L".zip")));
        WriteNewIni(7, L"first");
        velisk::UniqueRegKey classes;  // every Windows user has it; a new Wine prefix may not
        ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_READ, nullptr,
                          classes.receive(), nullptr);
    }
    ~SignedRun() { ::RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + scheme).c_str()); }

    // The new version.ini claiming `version`, with a related program and a
    // URL scheme, signed by `key` (none when empty).
    void WriteNewIni(int version, const std::wstring& key) {
        WriteUtf8(sandbox.newIni, L"[update]\r\nversion=" + std::to_wstring(version) + L"\r\nurl=" +
                                      served.Url("a/b/") + L"\r\nversionName=V7\r\ntarget=VeliskLive.exe\r\n" +
                                      L"related=[\"" + relatedName + L"\"]\r\n[regKey]\r\nappCode=" + scheme +
                                      L"\r\nprotocol=URL:Velisk\r\ntarget=VeliskLive.exe\r\n");
        ::DeleteFileW((sandbox.newIni + L".sig").c_str());
        if (!key.empty()) ASSERT_TRUE(signing_testing::SignFile(sandbox.newIni, key));
    }
    bool SchemeRegistered() const {
        velisk::UniqueRegKey key;
        return ::RegOpenKeyExW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + scheme).c_str(), 0, KEY_READ,
                               key.receive()) == ERROR_SUCCESS;
    }
    bool Run() {
        return sandbox.Run(sandbox.UpdateModeArguments(served.Url("a/b/7/ProgramConfig.zdb.zip"), 0),
                           kLocalStatistics);
    }
    std::vector<std::string> FileRequests() const {
        std::vector<std::string> paths;
        for (const auto& request : served.Requests()) {
            if (request.path.find("ProgramConfig.zdb.zip") == std::string::npos) paths.push_back(request.path);
        }
        return paths;
    }
    void ExpectClientRestarted() const {
        ASSERT_TRUE(WaitFor([&] { return !sandbox.ClientStarts().empty() && !sandbox.LauncherStarts().empty(); }));
        const std::wstring restarted = sandbox.ClientStarts().back().cmd;
        EXPECT_EQ(restarted.substr(restarted.size() - 11), L" --noupdate") << WideToUtf8String(restarted);
    }

    update_sandbox::UpdateSandbox sandbox;
    net_testing::ServedFolder served;
    const std::wstring scheme = L"velisksig" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring relatedName = L"related" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
};

TEST(SignedEndToEnd, SignedReleaseIsInstalledAndTheLogSaysTheSignatureWasChecked) {
    SignedRun run(L"first");
    ASSERT_TRUE(run.Run()) << run.sandbox.problem();
    const std::string info = run.sandbox.Log("info");
    EXPECT_NE(info.find("manifest signature checked: key 1 of 2"), std::string::npos);
    // The cost of the check within the whole manifest step (download, unpack,
    // check), for the record; no timed assertion.
    const double stepStart = LineTime(info, "] UpdateDatabaseFile");
    const double checked = LineTime(info, "manifest signature checked: ");
    const size_t bytesAt = info.find(" bytes in ");
    if (stepStart >= 0 && checked >= 0 && bytesAt != std::string::npos) {
        std::cout << "manifest step " << (checked - stepStart) * 1000 << " ms; signature check "
                  << info.substr(bytesAt + 10, info.find(" us", bytesAt + 10) - bytesAt - 10) << " us" << std::endl;
    }
    EXPECT_EQ(run.FileRequests().size(), 3u);
    for (const wchar_t* name : {L"change_a.bin", L"bin\\x.dll", L"new.txt"}) {
        EXPECT_TRUE(pipeline_testing::SameBytes(run.sandbox.installDir + L"\\" + name,
                                                pipeline_testing::UpdateRun::Version7(name)))
            << WideToUtf8String(name);
    }
    run.ExpectClientRestarted();
    EXPECT_TRUE(run.SchemeRegistered());
    EXPECT_EQ(ReadBytes(run.sandbox.installDir + L"\\version.ini.sig"), ReadBytes(run.sandbox.newIni + L".sig"));
}

// A new version.ini without a good signature stops the run before any of its
// values is used: no program ended, no registry key, not even the manifest
// requested; the installed client is restarted as after any failed run.
TEST(SignedEndToEnd, VersionIniWithoutAGoodSignatureIsRefusedBeforeAnythingHappens) {
    struct Row {
        const char* name;
        void (*spoil)(SignedRun&);
        const char* reason;
    };
    const Row rows[] = {
        {"one changed byte", [](SignedRun& r) {
             std::string text = ReadBytes(r.sandbox.newIni);
             text[text.find("V7") + 1] = '8';
             WriteBytes(r.sandbox.newIni, text);
         }, "bad signature or unknown key"},
        {"no signature", [](SignedRun& r) { ::DeleteFileW((r.sandbox.newIni + L".sig").c_str()); }, "missing signature"},
        {"key not built in", [](SignedRun& r) { r.WriteNewIni(7, L"outsider"); }, "bad signature or unknown key"},
        {"truncated signature", [](SignedRun& r) {
             WriteBytes(r.sandbox.newIni + L".sig", ReadBytes(r.sandbox.newIni + L".sig").substr(0, 63));
         }, "malformed signature (not 64 bytes)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SignedRun run(L"first");
        row.spoil(run);
        ClientStandIn related(run.sandbox.installDir + L"\\" + run.relatedName, L"--no-window");
        ASSERT_TRUE(related.running());
        const auto before = InstalledFiles(run.sandbox.installDir);
        ASSERT_TRUE(run.Run()) << run.sandbox.problem();
        EXPECT_NE(run.sandbox.Log("error").find(std::string("version.ini refused: ") + row.reason), std::string::npos)
            << run.sandbox.Log("error");
        EXPECT_TRUE(run.served.Requests().empty());
        EXPECT_TRUE(related.running());
        EXPECT_FALSE(run.SchemeRegistered());
        EXPECT_EQ(InstalledFiles(run.sandbox.installDir), before);
        run.ExpectClientRestarted();
    }
}

// A genuine version.ini of another release (here one that claims a higher
// version to pin every later update) cannot be paired with this manifest,
// and the next genuine release still installs.
TEST(SignedEndToEnd, VersionIniOfAnotherReleaseIsRefusedAndTheNextGenuineReleaseInstalls) {
    SignedRun run(L"first");
    run.WriteNewIni(99999, L"first");
    const auto before = InstalledFiles(run.sandbox.installDir);
    ASSERT_TRUE(run.Run()) << run.sandbox.problem();
    EXPECT_NE(run.sandbox.Log("error").find("manifest refused: version differs from version.ini"), std::string::npos);
    EXPECT_TRUE(run.FileRequests().empty());
    EXPECT_EQ(InstalledFiles(run.sandbox.installDir), before);

    run.WriteNewIni(7, L"first");
    ASSERT_TRUE(run.Run()) << run.sandbox.problem();
    EXPECT_NE(run.sandbox.Log("info").find("Auto update success"), std::string::npos);
    EXPECT_TRUE(pipeline_testing::SameBytes(run.sandbox.installDir + L"\\new.txt",
                                            pipeline_testing::UpdateRun::Version7(L"new.txt")));
    EXPECT_EQ(ReadBytes(run.sandbox.installDir + L"\\version.ini"), ReadBytes(run.sandbox.newIni));
}

TEST(SignedEndToEnd, TamperedManifestIsRefusedAndTheInstallationStaysAsItWas) {
    SignedRun run(L"tampered");
    const auto before = InstalledFiles(run.sandbox.installDir);
    ASSERT_TRUE(run.Run()) << run.sandbox.problem();
    EXPECT_NE(run.sandbox.Log("error").find("manifest refused: bad signature or unknown key"), std::string::npos);
    EXPECT_EQ(run.sandbox.Log("info").find("FUS_VERIFYFILE starts"), std::string::npos);
    EXPECT_TRUE(run.FileRequests().empty());
    EXPECT_EQ(InstalledFiles(run.sandbox.installDir), before);
    run.ExpectClientRestarted();
}

}  // namespace
