// Copy into the installation: backup and rollback around a destination that
// another process holds, the staging folder, Lockscan.dll under Wine, and the
// staged copy of the copy mode.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "engine/sdk_updater.h"
#include "lockscan.h"
#include "pipeline/pipeline_fixture.h"
#include "support/log_capture.h"
#include "support/test_support.h"

namespace {

using pipeline_testing::CopyTree;
using pipeline_testing::FileHolder;
using pipeline_testing::Fixture;
using pipeline_testing::ListTree;
using pipeline_testing::SameBytes;
using pipeline_testing::StatusLog;
using testing_support::DirExists;
using testing_support::FileExists;
using testing_support::LogCapture;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

// A download folder of new files and an installation of old ones:
// a.txt, b.txt and d.txt are replaced, c.txt is new.
struct CopyScene {
    ScratchDir root{L"cpy"};
    std::wstring downloadDir = root / L"download";
    std::wstring installDir = root / L"install";
    StatusLog statuses;
    SDKUpdater engine;

    explicit CopyScene(const std::wstring& stagingSubDir) {
        for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
            WriteBytes(downloadDir + L"\\" + testing_support::Utf8ToWide(name), std::string("new ") + name);
        }
        for (const char* name : {"a.txt", "b.txt", "d.txt"}) {
            WriteBytes(Destination(stagingSubDir) + testing_support::Utf8ToWide(name), std::string("old ") + name);
        }
        engine.SetStatusCallback(&StatusLog::Callback, &statuses);
        engine.SetDirectories(downloadDir.c_str(), installDir.c_str(), stagingSubDir.c_str());
    }
    std::wstring Destination(const std::wstring& stagingSubDir) const {
        return installDir + L"\\" + (stagingSubDir.empty() ? L"" : stagingSubDir + L"\\");
    }
    std::vector<std::wstring> CopyFailures() const {
        std::vector<std::wstring> names;
        for (const auto& r : statuses.records()) {
            if (r.status == FUS_COPYFAIL) names.push_back(r.fileName);
        }
        return names;
    }
};

const std::vector<std::wstring> kCopyNames = {L"a.txt", L"b.txt", L"c.txt", L"d.txt"};

TEST(InstallCopy, HeldDestinationFailsTheCopyAndRollbackRestoresEveryReplacedFile) {
    CopyScene scene(L"");
    FileHolder holder(scene.installDir + L"\\b.txt");
    ASSERT_TRUE(holder.holding());
    LogCapture log;

    EXPECT_FALSE(scene.engine.CopyDirectory(kCopyNames));

    EXPECT_EQ(scene.CopyFailures(), (std::vector<std::wstring>{L"b.txt"}));
    // Lockscan.dll was asked and (Wine's Restart Manager names no holder)
    // gave no second attempt.
    EXPECT_EQ(log.Count("1th attempt fail"), 1);
    EXPECT_EQ(log.Count("attemp count 0, in finally return status is 2"), 1);
    EXPECT_TRUE(holder.running());
    // d.txt, after the failed b.txt, was still copied and then rolled back.
    EXPECT_EQ(log.Count("rollback from "), 2);
    holder.End();
    for (const char* name : {"a.txt", "b.txt", "d.txt"}) {
        EXPECT_EQ(ReadBytes(scene.installDir + L"\\" + testing_support::Utf8ToWide(name)), std::string("old ") + name);
    }
    EXPECT_EQ(ReadBytes(scene.installDir + L"\\c.txt"), "new c.txt");  // new files stay
    EXPECT_EQ(ListTree(scene.installDir), kCopyNames);                // the backup folder is gone
}

TEST(InstallCopy, FailedCopyIntoTheStagingFolderRemovesTheStagingFolder) {
    CopyScene scene(L"stage");
    // A folder where b.txt should go cannot be replaced by a file.
    ::DeleteFileW((scene.installDir + L"\\stage\\b.txt").c_str());
    ASSERT_TRUE(::CreateDirectoryW((scene.installDir + L"\\stage\\b.txt").c_str(), nullptr));
    WriteBytes(scene.installDir + L"\\outside.txt", "kept");

    EXPECT_FALSE(scene.engine.CopyDirectory(kCopyNames));

    EXPECT_EQ(scene.CopyFailures(), (std::vector<std::wstring>{L"b.txt"}));
    EXPECT_FALSE(DirExists(scene.installDir + L"\\stage"));
    EXPECT_EQ(ListTree(scene.installDir), (std::vector<std::wstring>{L"outside.txt"}));
}

TEST(InstallCopy, ExcludedNamesAreNeitherBackedUpNorCopied) {
    CopyScene scene(L"");
    const wchar_t* excluded[] = {L"b.txt"};
    scene.engine.AddExcludedFiles(excluded, 1);

    EXPECT_TRUE(scene.engine.CopyDirectory(kCopyNames));

    EXPECT_EQ(ReadBytes(scene.installDir + L"\\b.txt"), "old b.txt");
    EXPECT_EQ(ReadBytes(scene.installDir + L"\\a.txt"), "new a.txt");
    EXPECT_EQ(ListTree(scene.installDir), kCopyNames);
}

// What Lockscan.dll can do under Wine, whose Restart Manager reports no
// process for any file.
TEST(Lockscan, AnswersWhetherTheFileCanBeWrittenAndLeavesUnreportedHoldersAlone) {
    ScratchDir root(L"lks");
    const std::wstring held = root / L"held.bin";
    const std::wstring free = root / L"free.bin";
    WriteBytes(held, "held");
    WriteBytes(free, "free");
    FileHolder holder(held);
    ASSERT_TRUE(holder.holding());

    struct Case {
        const char* name;
        std::wstring path;
        int expected;
    };
    const Case cases[] = {
        {"held by another process", held, 0},
        {"not held", free, 1},
        {"missing", root / L"missing.bin", 0},
    };
    for (const Case& c : cases) {
        DWORD pids[LOCKSCAN_MAX_PROCESS_IDS];
        std::fill(std::begin(pids), std::end(pids), 0xFFFFFFFFu);
        int count = -1;
        EXPECT_EQ(GetLockedFileInfo(c.path.c_str(), pids, &count, 1, 1, 500), c.expected) << c.name;
        EXPECT_EQ(count, 0) << c.name;
        EXPECT_EQ(pids[0], 0xFFFFFFFFu) << c.name;  // nothing written
    }
    EXPECT_TRUE(holder.running());
    int count = -1;
    EXPECT_EQ(GetLockedFileInfo(free.c_str(), nullptr, &count, 1, 1, 0), 0);
    EXPECT_EQ(count, 0);
}

// A staged update in install\update1 (the files of version 7 that differ from
// version 6, its manifest and version.ini) over an installation of version 6.
struct StagedScene {
    ScratchDir root{L"stg"};
    std::wstring installDir = root / L"install";
    std::wstring stagingDir = installDir + L"\\update1";

    StagedScene() {
        CopyTree(Fixture(L"v1/install"), installDir);
        for (const wchar_t* name : {L"bin\\x.dll", L"change_a.bin", L"new.txt"}) {
            testing_support::WriteBytes(stagingDir + L"\\" + name, ReadBytes(Fixture(L"v2/source/") + name));
        }
        ::CopyFileW(Fixture(L"v2/manifest/ProgramConfig.zdb").c_str(), (stagingDir + L"\\ProgramConfig.zdb").c_str(),
                    FALSE);
        ::CopyFileW(Fixture(L"v2/server/a/b/7/version.ini").c_str(), (stagingDir + L"\\version.ini").c_str(), FALSE);
    }
};

TEST(StagedCopy, MovesTheStagedFilesInAndDeletesObsoleteFilesOnlyWhenTheInstalledManifestIsKnown) {
    struct Case {
        const char* name;
        bool installedManifest;
        bool obsoleteDeleted;
        int localZdbFail;
    };
    for (const Case& c : {Case{"with installed manifest", true, true, 0},
                          Case{"without installed manifest", false, false, 1}}) {
        StagedScene scene;
        if (!c.installedManifest) ::DeleteFileW((scene.installDir + L"\\ProgramConfig.zdb").c_str());
        LogCapture log;
        SDKUpdater engine;

        EXPECT_TRUE(engine.ApplyStagedUpdate(scene.stagingDir.c_str(), scene.installDir.c_str(), 1)) << c.name;

        EXPECT_EQ(log.Count("local zdb fail"), c.localZdbFail) << c.name;
        EXPECT_FALSE(DirExists(scene.stagingDir)) << c.name;
        for (const wchar_t* name : {L"bin/x.dll", L"change_a.bin", L"new.txt", L"keep.txt", L"sub/keep2.dat"}) {
            EXPECT_TRUE(SameBytes(scene.root / (std::wstring(L"install/") + name), Fixture(L"v2/source/") + name))
                << c.name;
        }
        EXPECT_TRUE(SameBytes(scene.installDir + L"\\ProgramConfig.zdb", Fixture(L"v2/manifest/ProgramConfig.zdb")));
        EXPECT_EQ(FileExists(scene.installDir + L"\\old.txt"), !c.obsoleteDeleted) << c.name;
    }
}

}  // namespace
