// Plug-ins in a build with manifest keys: only libraries inside the
// installation that the manifest lists with the digest they have are loaded.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "engine/database_checker.h"
#include "engine/file_sha1.h"
#include "engine/sdk_updater.h"
#include "support/log_capture.h"
#include "support/manifest_writer.h"
#include "support/test_support.h"

namespace {

using namespace testing_support;

std::string DigestHex(const std::wstring& path) {
    unsigned char digest[kFileDigestBytes] = {};
    EXPECT_TRUE(CalFileSHA1(path, digest));
    std::string hex;
    for (unsigned char byte : digest) hex += "0123456789ABCDEF"[byte >> 4], hex += "0123456789ABCDEF"[byte & 15];
    return hex;
}

TEST(SignedPlugins, OnlyListedLibrariesWithTheirDigestLoadFromInsideTheInstallation) {
    ScratchDir root(L"signed plugins");
    const std::wstring install = root / L"install\\";
    for (const wchar_t* name : {L"listed.dll", L"changed.dll", L"unlisted.dll"}) {
        ::CreateDirectoryW(install.c_str(), nullptr);
        ::CreateDirectoryW((install + L"plugins").c_str(), nullptr);
        ASSERT_TRUE(::CopyFileW(BinFile(L"test_plugins\\no_unload_plugin.dll").c_str(),
                                (install + L"plugins\\" + name).c_str(), FALSE));
    }
    const std::string digest = DigestHex(install + L"plugins\\listed.dll");
    WriteManifest(root / L"ProgramConfig.zdb",
                  kManifestTables + "INSERT INTO FileVersion VALUES ('plugins/listed.dll', X'" + digest + "');" +
                      "INSERT INTO FileVersion VALUES ('plugins/changed.dll', X'" + std::string(40, '1') + "');");

    struct Row {
        const char* name;
        std::wstring folder;
        int loaded;
        const char* warning;
    };
    const Row rows[] = {
        {"folder inside the installation", install + L"plugins", 1,
         "plugin not loaded, not listed by the manifest with this digest: plugins/"},
        {"folder outside the installation", root / L"install\\..\\elsewhere", 0,
         "plugins not loaded, folder not inside the installation: "},
    };
    ::CreateDirectoryW((root / L"elsewhere").c_str(), nullptr);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SDKUpdater engine;
        engine.SetDirectories((root / L"download").c_str(), install.c_str(), nullptr);
        auto* checker = new DataBaseChecker(install);
        checker->OpenDatabase((root / L"ProgramConfig.zdb").c_str());
        ManifestNameSlot* names = nullptr;  // listing it builds the lookup, as a run does first
        int count = 0;
        ASSERT_TRUE(checker->GetFileList(&names, &count));
        checker->FreeFileList(names);
        engine.SetUpdateAlgorithm(checker);
        PluginOptions options = {};
        options.pluginDir = row.folder.c_str();
        options.silent = 1;
        engine.SetPluginOptions(&options);
        LogCapture log;
        EXPECT_EQ(engine.LoadPlugins(row.folder.c_str()), row.loaded);
        EXPECT_GE(log.Count(row.warning, google::GLOG_WARNING), 1);
        engine.UnloadPlugins();
    }
}

}  // namespace
