#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/database_checker.h"
#include "engine/zip_extract.h"
#include "release_fixture.h"
#include "support/test_support.h"

namespace {

using namespace testing_support;

std::wstring WindowsPath(std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

// The published release is what the updater expects: the manifest archive
// unpacks to ProgramConfig.zdb, the client folder it was made from is up to
// date by that manifest, and every file archive unpacks to a verified file.
TEST(ReleaseTool, PublishedTreeUnpacksAndVerifiesAgainstItsOwnManifest) {
    ScratchDir dir(L"release");
    const std::wstring server = ReleaseFixture(L"server\\7\\");
    const std::wstring download = dir.path() + L"\\";
    ASSERT_TRUE(ExtractZip(download, server + L"ProgramConfig.zdb.zip"));
    ASSERT_EQ(ListDir(dir.path()), std::vector<std::wstring>{L"ProgramConfig.zdb"});

    IVkUpdateAlgorithm* checker = new DataBaseChecker(ReleaseFixture(L"source\\"));
    checker->SetDownloadDir(download.c_str());
    checker->OpenDatabase((download + L"ProgramConfig.zdb").c_str());
    ManifestNameSlot* names = nullptr;
    int count = 0;
    ASSERT_TRUE(checker->GetFileList(&names, &count));
    ASSERT_EQ(count, static_cast<int>(std::size(kReleaseFixtureNames)));
    for (int i = 0; i < count; ++i) {
        const std::wstring name = kReleaseFixtureNames[i];
        SCOPED_TRACE(WideToUtf8String(name));
        EXPECT_EQ(std::wstring(names[i]), name);
        EXPECT_FALSE(checker->CheckFile(name.c_str()));
        EXPECT_FALSE(checker->VerifyDownloadedFile(name.c_str()));  // not downloaded yet

        const std::wstring target = WindowsPath(download + name);
        const std::wstring folder = target.substr(0, target.find_last_of(L'\\'));
        ::CreateDirectoryW(folder.c_str(), nullptr);
        const bool unpacked = ExtractZip(folder, WindowsPath(server + name + L".zip"));
        // The updater cannot unpack empty files; the tool warns about them.
        EXPECT_EQ(unpacked, name != L"empty.dat");
        if (unpacked) {
            EXPECT_TRUE(checker->VerifyDownloadedFile(name.c_str()));
        }
    }
    checker->FreeFileList(names);

    ServerUrlSlot* servers = nullptr;
    ASSERT_TRUE(checker->GetServerList(&servers, &count));
    ASSERT_EQ(count, 1);
    EXPECT_EQ(std::wstring(servers[0]), L"http://127.0.0.1/velisk/7/");
    checker->FreeServerList(servers);
    checker->Release();
}

}  // namespace
