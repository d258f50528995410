// The copy mode's move of a staged update, with the test keys built in: what a
// hidden run staged is installed only while the staged version.ini and
// manifest carry good signatures and every other staged file is listed in
// that manifest with its digest. Anything else leaves the installation as it
// was.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <map>
#include <string>

#include "engine/sdk_updater.h"
#include "pipeline/pipeline_fixture.h"
#include "signing/signing_fixture.h"
#include "support/log_capture.h"
#include "support/test_support.h"

namespace {

using pipeline_testing::CopyTree;
using pipeline_testing::Fixture;
using pipeline_testing::ListTree;
using pipeline_testing::SameBytes;
using signing_testing::SignFile;
using testing_support::DirExists;
using testing_support::LogCapture;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

// Version 6 installed; in install\update1 the files of version 7 that
// differ, its manifest and version.ini, each signed by the first test key.
struct SignedStagedScene {
    ScratchDir root{L"sstg"};
    std::wstring installDir = root / L"install";
    std::wstring stagingDir = installDir + L"\\update1";

    SignedStagedScene() {
        CopyTree(Fixture(L"v1/install"), installDir);
        for (const wchar_t* name : {L"bin\\x.dll", L"change_a.bin", L"new.txt"}) {
            WriteBytes(Staged(name), ReadBytes(Fixture(L"v2/source/") + name));
        }
        WriteBytes(Staged(L"ProgramConfig.zdb"), ReadBytes(Fixture(L"v2/manifest/ProgramConfig.zdb")));
        WriteBytes(Staged(L"version.ini"), ReadBytes(Fixture(L"v2/server/a/b/7/version.ini")));
        EXPECT_TRUE(SignFile(Staged(L"ProgramConfig.zdb"), L"first"));
        EXPECT_TRUE(SignFile(Staged(L"version.ini"), L"first"));
    }
    std::wstring Staged(const std::wstring& name) const { return stagingDir + L"\\" + name; }
};

// Every file of the installation but the staging folder, with its bytes.
std::map<std::wstring, std::string> Installed(const SignedStagedScene& scene) {
    std::map<std::wstring, std::string> files;
    for (const std::wstring& name : ListTree(scene.installDir)) {
        if (name.rfind(L"update1", 0) != 0) files[name] = ReadBytes(scene.installDir + L"\\" + name);
    }
    return files;
}

std::string Lines(const LogCapture& log) {
    std::string text;
    for (const auto& line : log.lines()) text += line.text + "\n";
    return text;
}

TEST(SignedStagedCopy, OnlyAStagedUpdateThatMatchesItsSignedManifestIsInstalled) {
    using Tamper = std::function<void(const SignedStagedScene&)>;
    const struct {
        const char* name;
        Tamper tamper;
        const char* refusal;  // null: installed
    } cases[] = {
        {"as the hidden run staged it", [](const SignedStagedScene&) {}, nullptr},
        {"a staged file changed afterwards",
         [](const SignedStagedScene& s) { WriteBytes(s.Staged(L"change_a.bin"), "planted"); },
         "staged update refused: digest differs from the manifest: change_a.bin"},
        {"a file the manifest does not list",
         [](const SignedStagedScene& s) { WriteBytes(s.Staged(L"bin\\planted.dll"), "MZ"); },
         "staged update refused: not listed in the manifest: bin\\planted.dll"},
        {"version.ini under another spelling",
         [](const SignedStagedScene& s) {
             const std::string ini = ReadBytes(s.Staged(L"version.ini"));
             ::DeleteFileW(s.Staged(L"version.ini").c_str());
             WriteBytes(s.Staged(L"VERSION.INI"), ini);
         },
         "staged update refused: unexpected spelling: VERSION.INI"},
        {"the manifest's signature missing",
         [](const SignedStagedScene& s) { ::DeleteFileW(s.Staged(L"ProgramConfig.zdb.sig").c_str()); },
         "manifest refused: missing signature"},
        {"version.ini's signature missing",
         [](const SignedStagedScene& s) { ::DeleteFileW(s.Staged(L"version.ini.sig").c_str()); },
         "version.ini refused: missing signature"},
        {"a genuine version.ini of another version",
         [](const SignedStagedScene& s) {
             WriteBytes(s.Staged(L"version.ini"), "[update]\r\nversion=8\r\n");
             ASSERT_TRUE(SignFile(s.Staged(L"version.ini"), L"first"));
         },
         "manifest refused: version differs from version.ini"},
        {"a manifest signed by a key not built in",
         [](const SignedStagedScene& s) { ASSERT_TRUE(SignFile(s.Staged(L"ProgramConfig.zdb"), L"outsider")); },
         "manifest refused: bad signature or unknown key"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SignedStagedScene scene;
        c.tamper(scene);
        const auto before = Installed(scene);
        LogCapture log;
        SDKUpdater engine;

        EXPECT_EQ(engine.ApplyStagedUpdate(scene.stagingDir.c_str(), scene.installDir.c_str(), 1), c.refusal == nullptr);

        EXPECT_FALSE(DirExists(scene.stagingDir));  // a refused staging is fetched afresh
        if (c.refusal != nullptr) {
            EXPECT_EQ(log.Count(c.refusal, google::GLOG_ERROR), 1) << Lines(log);
            EXPECT_TRUE(Installed(scene) == before);
            continue;
        }
        EXPECT_EQ(log.Count("staged update checked: 7 files, version 7"), 1) << Lines(log);
        for (const wchar_t* name : {L"bin/x.dll", L"change_a.bin", L"new.txt"}) {
            EXPECT_TRUE(SameBytes(scene.installDir + L"\\" + name, Fixture(L"v2/source/") + name));
        }
        EXPECT_TRUE(SameBytes(scene.installDir + L"\\ProgramConfig.zdb", Fixture(L"v2/manifest/ProgramConfig.zdb")));
        EXPECT_EQ(ReadBytes(scene.installDir + L"\\version.ini"), ReadBytes(Fixture(L"v2/server/a/b/7/version.ini")));
    }
}

}  // namespace
