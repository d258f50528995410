// What survives a copy that goes wrong: names compared as Windows compares
// them, the copy journal read as hostile input, the repair of each kind of
// leftover of an interrupted copy, a rollback that cannot restore a file, and
// destinations that cannot be written.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/copy_journal.h"
#include "engine/copy_recovery.h"
#include "engine/manifest_names.h"
#include "engine/sdk_updater.h"
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
using testing_support::Utf8ToWide;
using testing_support::WideToUtf8String;
using testing_support::WriteBytes;

std::string AllText(const LogCapture& log) {
    std::string text;
    for (const auto& line : log.lines()) text += line.text + "\n";
    return text;
}

TEST(ManifestNames, SameFileAsWindowsSeesIt) {
    struct Case {
        const char* name;
        std::wstring a;
        std::wstring b;
        bool same;
    };
    const Case cases[] = {
        {"identical", L"bin/foo.dll", L"bin/foo.dll", true},
        {"case only", L"Bin\\Foo.DLL", L"bin\\foo.dll", true},
        {"separator only", L"bin/foo.dll", L"bin\\foo.dll", true},
        {"case and separator", L"BIN\\FOO.dll", L"bin/foo.dll", true},
        {"non-ASCII case", L"Ä/Ü.txt", L"ä/ü.txt", true},
        {"Chinese", L"数据/文件.txt", L"数据\\文件.txt", true},
        {"different file", L"bin/foo.dll", L"bin/foo2.dll", false},
        {"different folder", L"bin/foo.dll", L"lib/foo.dll", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SameManifestName(c.a, c.b), c.same) << c.name;
        ManifestNameSet set{c.a};
        EXPECT_EQ(set.count(c.b), c.same ? 1u : 0u) << c.name;
    }
}

TEST(CopyJournal, RefusesHostileOrIncompleteJournals) {
    const std::string head = "Velisk copy journal 1\nbackup 12345\n";
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"empty", ""},
        {"other header", "Velisk copy journal 2\nbackup 1\nfiles 0\n"},
        {"cut inside a record", head + "files 1\nnew a.t"},
        {"fewer files than counted", head + "files 2\nnew a.txt\n"},
        {"parent folder", head + "files 1\nnew ..\\outside.txt\n"},
        {"nested parent", head + "files 1\nreplace 4 bin/../../outside.txt\n"},
        {"drive letter", head + "files 1\nnew C:\\Windows\\evil.dll\n"},
        {"absolute", head + "files 1\nnew \\Windows\\evil.dll\n"},
        {"unc", head + "files 1\nnew \\\\server\\share\\evil.dll\n"},
        {"dots and blanks", head + "files 1\nnew bin\\.. \\evil.dll\n"},
        {"control character", head + "files 1\nnew a\tb.txt\n"},
        {"backup climbs out", "Velisk copy journal 1\nbackup ..\nfiles 0\n"},
        {"backup not a tick count", "Velisk copy journal 1\nbackup bin\nfiles 0\n"},
        {"backup with leading zero", "Velisk copy journal 1\nbackup 0123\nfiles 0\n"},
        {"backup above 32 bits", "Velisk copy journal 1\nbackup 4294967296\nfiles 0\n"},
        {"backup nested", "Velisk copy journal 1\nbackup 12\\34\nfiles 0\n"},
        {"staging not of its form", head + "staging bin\nfiles 0\n"},
        {"negative size", head + "files 1\nreplace -4 a.txt\n"},
        {"unknown record", head + "files 0\ndelete a.txt\n"},
        {"records after commit", head + "files 0\ncommit\nnew a.txt\n"},
        {"not UTF-8", head + "files 1\nnew \xff\xfe.txt\n"},
    };
    for (const Case& c : cases) {
        CopyJournal journal;
        std::string reason;
        EXPECT_FALSE(ParseCopyJournal(c.text, journal, reason)) << c.name;
        EXPECT_FALSE(reason.empty()) << c.name;
    }

    CopyJournal written;
    written.backupName = L"4294967295";
    written.stagingName = L"update77";
    written.files = {{L"update77/数据 文件.txt", false, 0}, {L"update77/bin/x.dll", true, 1234}};
    CopyJournal read;
    std::string reason;
    ASSERT_TRUE(ParseCopyJournal(FormatCopyJournal(written) + CopyJournalCommitRecord(), read, reason)) << reason;
    EXPECT_EQ(read.backupName, written.backupName);
    EXPECT_EQ(read.stagingName, written.stagingName);
    ASSERT_EQ(read.files.size(), 2u);
    EXPECT_EQ(read.files[0].name, written.files[0].name);
    EXPECT_FALSE(read.files[0].existed);
    EXPECT_TRUE(read.files[1].existed);
    EXPECT_EQ(read.files[1].size, 1234u);
    EXPECT_TRUE(read.committed);
}

// An installation with spaces and Chinese letters in its path, cut off in
// the middle of a copy: a.txt and 数据\b.txt replaced (backups made), c.txt
// not reached (its backup missing), new\n.txt created new.
struct CutCopy {
    ScratchDir root{L"cut"};
    std::wstring installDir = root / L"客户端 install";
    std::wstring outside = root / L"outside.txt";
    std::wstring backupDir = installDir + L"\\123456";

    CutCopy() {
        WriteBytes(outside, "outside");
        WriteBytes(Installed(L"a.txt"), "new a");
        WriteBytes(Installed(L"数据\\b.txt"), "new b");
        WriteBytes(Installed(L"c.txt"), "old c");
        WriteBytes(Installed(L"new\\n.txt"), "new n");
        WriteBytes(Installed(L"keep.txt"), "kept");
        WriteBytes(backupDir + L"\\a.txt", "old a");
        WriteBytes(backupDir + L"\\数据\\b.txt", "old b!");
    }
    std::wstring Installed(const std::wstring& name) const { return installDir + L"\\" + name; }
    std::string Journal(bool committed) const {
        return std::string("Velisk copy journal 1\nbackup 123456\nfiles 4\nreplace 5 a.txt\n") +
               "replace 6 \xe6\x95\xb0\xe6\x8d\xae/b.txt\nreplace 5 c.txt\nnew new/n.txt\n" +
               (committed ? "commit\n" : "");
    }
    void WriteJournal(const std::string& text) const { WriteBytes(Installed(L"Update.copyjournal"), text); }
    bool Repair() const { return RepairInterruptedCopy(installDir + L"\\"); }
    std::vector<std::wstring> Tree() const { return ListTree(installDir); }
};

// The installation's tree with every ".refused-<ticks>" written as
// ".refused", so that what was kept aside can be compared.
std::vector<std::wstring> TreeWithoutTicks(const std::wstring& root) {
    std::vector<std::wstring> tree;
    for (std::wstring name : ListTree(root)) {
        for (size_t at = name.find(L".refused-"); at != std::wstring::npos; at = name.find(L".refused-", at + 1)) {
            size_t end = at + 9;
            while (end < name.size() && iswdigit(name[end])) ++end;
            name.erase(at + 8, end - (at + 8));
        }
        tree.push_back(name);
    }
    std::sort(tree.begin(), tree.end());
    return tree;
}

TEST(InterruptedCopy, RepairActsOnEachKindOfLeftoverAndRemovesOnlyWhatItsJournalNames) {
    struct Case {
        const char* name;
        std::function<void(CutCopy&)> arrange;
        bool repaired;                   // the result: false stops the run
        std::vector<std::wstring> tree;  // the installation afterwards (besides the folders planted below)
        std::string a;                   // a.txt afterwards
        const char* logged;
    };
    const std::vector<std::wstring> oldTree = {L"a.txt", L"c.txt", L"keep.txt", L"数据/b.txt"};
    const std::vector<std::wstring> cutTree = {L"a.txt", L"c.txt", L"keep.txt", L"new/n.txt", L"数据/b.txt"};
    auto with = [](std::vector<std::wstring> tree, std::initializer_list<std::wstring> more) {
        tree.insert(tree.end(), more);
        return tree;
    };
    const Case cases[] = {
        {"unfinished copy is rolled back", [](CutCopy& c) { c.WriteJournal(c.Journal(false)); }, true, oldTree,
         "old a", "repaired interrupted copy: rolled back, restored 2, removed 1"},
        {"committed copy keeps the new version", [](CutCopy& c) { c.WriteJournal(c.Journal(true)); }, true, cutTree,
         "new a", "repaired interrupted copy: finished"},
        {"backup folder gone",
         [](CutCopy& c) {
             c.WriteJournal(c.Journal(false));
             testing_support::RemoveTree(c.backupDir);
         },
         false, with(cutTree, {L"Update.copyjournal.refused"}), "new a",
         "repaired interrupted copy: journal refused (backup folder missing)"},
        {"damaged backup",
         [](CutCopy& c) {
             c.WriteJournal(c.Journal(false));
             WriteBytes(c.backupDir + L"\\a.txt", "old");  // shorter than the file it saved
         },
         false,
         with(cutTree, {L"123456.refused/a.txt", L"123456.refused/数据/b.txt", L"Update.copyjournal.refused"}),
         "new a", "repaired interrupted copy: journal refused (damaged backup of a.txt)"},
        {"journal cut while written",
         [](CutCopy& c) { const std::string whole = c.Journal(false);
             c.WriteJournal(whole.substr(0, whole.size() - 3)); }, false,
         with(cutTree, {L"123456.refused/a.txt", L"123456.refused/数据/b.txt", L"Update.copyjournal.refused"}),
         "new a", "repaired interrupted copy: journal refused (the journal ends inside a record)"},
        {"backup folder without journal is nobody's", [](CutCopy&) {}, true,
         with(cutTree, {L"123456/a.txt", L"123456/数据/b.txt"}), "new a", nullptr},
    };
    for (const Case& c : cases) {
        CutCopy cut;
        c.arrange(cut);
        // Folders and files of the installation that only look like backups.
        for (const wchar_t* name : {L"1033\\strings.dll", L"2052\\strings.dll", L"987.partial",
                                    L"Update.backup.55\\x.txt"}) {
            WriteBytes(cut.Installed(name), "release file");
        }
        LogCapture log;

        EXPECT_EQ(cut.Repair(), c.repaired) << c.name;

        std::vector<std::wstring> expected = with(c.tree, {L"1033/strings.dll", L"2052/strings.dll", L"987.partial",
                                                           L"Update.backup.55/x.txt"});
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(TreeWithoutTicks(cut.installDir), expected) << c.name;
        EXPECT_EQ(ReadBytes(cut.Installed(L"a.txt")), c.a) << c.name;
        EXPECT_EQ(ReadBytes(cut.Installed(L"c.txt")), "old c") << c.name;  // never replaced, never touched
        EXPECT_FALSE(FileExists(cut.Installed(L"Update.copyjournal"))) << c.name;
        if (c.logged != nullptr) {
            EXPECT_EQ(log.Count(c.logged), 1) << c.name << "\n" << AllText(log);
        } else {
            EXPECT_EQ(log.Count("repaired interrupted copy"), 0) << c.name << "\n" << AllText(log);
        }
        EXPECT_EQ(log.Count("repaired interrupted copy: journal refused"), c.repaired ? 0 : 1) << c.name;
        EXPECT_EQ(ReadBytes(cut.outside), "outside") << c.name;
    }
}

TEST(InterruptedCopy, HandMadeJournalChangesNothingOutsideTheInstallation) {
    struct Case {
        const char* name;
        std::string records;  // after the header and the backup line
    };
    const Case cases[] = {
        {"new file above", "files 1\nnew ..\\outside.txt\n"},
        {"replaced file above", "files 1\nreplace 7 ..\\outside.txt\n"},
        {"nested climb", "files 1\nnew 数据/../../outside.txt\n"},
        {"drive letter", "files 1\nnew C:\\outside.txt\n"},
        {"absolute path", "files 1\nnew \\outside.txt\n"},
    };
    for (const Case& c : cases) {
        CutCopy cut;
        const std::wstring outsidePath = cut.outside;
        // A backup that would put other bytes over the outside file.
        WriteBytes(cut.backupDir + L"\\outside.txt", "EVIL!!!");
        std::string text = "Velisk copy journal 1\nbackup 123456\n" + c.records;
        // The drive-letter and absolute cases name the scratch file itself.
        const std::string full = testing_support::WideToUtf8String(outsidePath);
        if (std::string(c.name) == "drive letter") text = "Velisk copy journal 1\nbackup 123456\nfiles 1\nnew " + full + "\n";
        if (std::string(c.name) == "absolute path") text = "Velisk copy journal 1\nbackup 123456\nfiles 1\nnew " + full.substr(2) + "\n";
        cut.WriteJournal(text);

        EXPECT_FALSE(cut.Repair()) << c.name;  // refused: the run stops

        EXPECT_EQ(ReadBytes(outsidePath), "outside") << c.name;
        EXPECT_EQ(ReadBytes(cut.Installed(L"a.txt")), "new a") << c.name;  // the installation is left as it is
        EXPECT_FALSE(FileExists(cut.Installed(L"Update.copyjournal"))) << c.name;
    }
}

// Old a.txt, b.txt, c.txt installed; new ones downloaded.
struct WholeVersionScene {
    ScratchDir root{L"whl"};
    std::wstring downloadDir = root / L"download";
    std::wstring installDir = root / L"安装 目录";
    StatusLog statuses;
    SDKUpdater engine;
    const std::vector<std::wstring> names = {L"a.txt", L"b.txt", L"c.txt"};

    WholeVersionScene() {
        for (const std::wstring& name : names) {
            WriteBytes(downloadDir + L"\\" + name, "new " + testing_support::WideToUtf8String(name));
            WriteBytes(installDir + L"\\" + name, "old " + testing_support::WideToUtf8String(name));
        }
        engine.SetStatusCallback(&StatusLog::Callback, &statuses);
        engine.SetDirectories(downloadDir.c_str(), (installDir + L"\\").c_str(), nullptr);
    }
    std::string Installed(const std::wstring& name) const { return ReadBytes(installDir + L"\\" + name); }
    // Every file is of the version `prefix` ("old " or "new "), and there is
    // no backup folder and no journal.
    bool WholeVersion(const std::string& prefix) const {
        for (const std::wstring& name : names) {
            if (Installed(name) != prefix + testing_support::WideToUtf8String(name)) return false;
        }
        return ListTree(installDir) == names;
    }
    bool OldVersion() const { return WholeVersion("old "); }
};

TEST(InstallCopy, RollbackThatCannotRestoreAFileKeepsTheBackupFolder) {
    WholeVersionScene scene;
    FileHolder holdC(scene.installDir + L"\\c.txt");
    ASSERT_TRUE(holdC.holding());
    std::unique_ptr<FileHolder> holdA;
    // Once c.txt has failed, a.txt (already replaced) is held too, so its
    // restore fails.
    scene.statuses.onStatus = [&](const FileUpdateStatus& record) {
        if (record.status == FUS_COPYFAIL) holdA = std::make_unique<FileHolder>(scene.installDir + L"\\a.txt");
    };
    LogCapture log;

    EXPECT_FALSE(scene.engine.CopyDirectory(scene.names));

    ASSERT_TRUE(holdA && holdA->holding());
    EXPECT_EQ(log.Count("rollback incomplete, backup folder kept "), 1) << AllText(log);
    std::wstring backupDir;
    for (const std::wstring& entry : testing_support::ListDir(scene.installDir)) {
        if (IsBackupFolderName(entry)) backupDir = scene.installDir + L"\\" + entry;
    }
    ASSERT_FALSE(backupDir.empty());
    EXPECT_NE(AllText(log).find(testing_support::WideToUtf8String(backupDir)), std::string::npos);
    EXPECT_EQ(ReadBytes(backupDir + L"\\a.txt"), "old a.txt");  // the only copy of the old a.txt
    EXPECT_TRUE(FileExists(scene.installDir + L"\\Update.copyjournal"));

    // The next start, with nothing held any more, restores it.
    holdA->End();
    holdC.End();
    EXPECT_TRUE(RepairInterruptedCopy(scene.installDir + L"\\"));
    EXPECT_TRUE(scene.OldVersion()) << testing_support::WideToUtf8String(scene.installDir);
}

// A copy that hits a destination it cannot write ends with one whole version:
// the old one when the copy failed, the new one when it got through (Wine run
// as root writes over a read-only file).
TEST(InstallCopy, DestinationThatCannotBeWrittenLeavesAWholeVersion) {
    struct Case {
        const char* name;
        std::function<std::unique_ptr<FileHolder>(WholeVersionScene&)> arrange;
    };
    const Case cases[] = {
        {"read-only destination",
         [](WholeVersionScene& s) {
             ::SetFileAttributesW((s.installDir + L"\\b.txt").c_str(), FILE_ATTRIBUTE_READONLY);
             return std::unique_ptr<FileHolder>();
         }},
        {"destination held without sharing",
         [](WholeVersionScene& s) { return std::make_unique<FileHolder>(s.installDir + L"\\b.txt"); }},
        {"journal cannot be written",
         [](WholeVersionScene& s) {
             WriteBytes(s.installDir + L"\\Update.copyjournal", "x");
             return std::make_unique<FileHolder>(s.installDir + L"\\Update.copyjournal");
         }},
        {"source missing midway",
         [](WholeVersionScene& s) {
             ::DeleteFileW((s.downloadDir + L"\\b.txt").c_str());
             return std::unique_ptr<FileHolder>();
         }},
    };
    for (const Case& c : cases) {
        WholeVersionScene scene;
        std::unique_ptr<FileHolder> holder = c.arrange(scene);
        if (holder) {
            ASSERT_TRUE(holder->holding()) << c.name;
        }

        const bool copied = scene.engine.CopyDirectory(scene.names);

        if (holder) holder->End();
        ::SetFileAttributesW((scene.installDir + L"\\b.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW((scene.installDir + L"\\Update.copyjournal").c_str());
        if (std::string(c.name) != "read-only destination") {
            EXPECT_FALSE(copied) << c.name;
        }
        EXPECT_TRUE(scene.WholeVersion(copied ? "new " : "old ")) << c.name;
    }
}

TEST(StagedCopy, CaseOrSeparatorRenameBetweenVersionsKeepsTheFile) {
    ScratchDir root(L"ren");
    const std::wstring installDir = root / L"install";
    const std::wstring stagingDir = installDir + L"\\update1";
    CopyTree(Fixture(L"v1/install"), installDir);
    // The installed manifest spells bin/x.dll as BIN\X.DLL, change_a.bin as
    // Change_A.bin and sub/keep2.dat as SUB\Keep2.DAT.
    ASSERT_TRUE(::CopyFileW(Fixture(L"bad/installed_renamed.zdb").c_str(),
                            (installDir + L"\\ProgramConfig.zdb").c_str(), FALSE));
    for (const wchar_t* name : {L"bin\\x.dll", L"change_a.bin", L"new.txt"}) {
        WriteBytes(stagingDir + L"\\" + name, ReadBytes(Fixture(L"v2/source/") + name));
    }
    ::CopyFileW(Fixture(L"v2/manifest/ProgramConfig.zdb").c_str(), (stagingDir + L"\\ProgramConfig.zdb").c_str(), FALSE);
    SDKUpdater engine;

    EXPECT_TRUE(engine.ApplyStagedUpdate(stagingDir.c_str(), installDir.c_str(), 1));

    for (const wchar_t* name : {L"bin/x.dll", L"change_a.bin", L"new.txt", L"keep.txt", L"sub/keep2.dat"}) {
        EXPECT_TRUE(SameBytes(installDir + L"\\" + name, Fixture(L"v2/source/") + name))
            << testing_support::WideToUtf8String(name);
    }
    EXPECT_FALSE(FileExists(installDir + L"\\old.txt"));  // a real obsolete file still goes
}

}  // namespace

namespace {

TEST(InterruptedCopy, UpdateThatCannotRepairTheInstallationStopsBeforeItDownloads) {
    struct Case {
        const char* name;
        bool holdA;          // a.txt is held, so its restore fails
        const char* logged;  // the one ERROR line
    };
    const Case cases[] = {
        {"restore fails", true, "repaired interrupted copy: incomplete"},
        {"journal refused", false, "repaired interrupted copy: journal refused (damaged backup of c.txt)"},
    };
    for (const Case& c : cases) {
        CutCopy cut;
        std::string journal = cut.Journal(false);
        if (!c.holdA) {
            WriteBytes(cut.backupDir + L"\\c.txt", "old c, but longer");
        }
        cut.WriteJournal(journal);
        std::unique_ptr<FileHolder> holder;
        if (c.holdA) {
            holder = std::make_unique<FileHolder>(cut.Installed(L"a.txt"));
            ASSERT_TRUE(holder->holding());
        }
        StatusLog statuses;
        SDKUpdater engine;
        engine.SetStatusCallback(&StatusLog::Callback, &statuses);
        engine.SetDirectories((cut.root / L"download").c_str(), (cut.installDir + L"\\").c_str(), nullptr);
        LogCapture log;

        EXPECT_FALSE(engine.BeginUpdate(L"http://localhost/none/ProgramConfig.zdb.zip", 1, L"")) << c.name;

        EXPECT_EQ(statuses.codes(), (std::vector<int>{FUS_FAIL})) << c.name;
        EXPECT_EQ(log.Count("UpdateDatabaseFile"), 0) << c.name;
        EXPECT_EQ(log.Count(c.logged), 1) << c.name << "\n" << AllText(log);
        EXPECT_EQ(log.Count("Auto update success"), 0) << c.name;
        if (holder) {
            holder->End();
            // Kept for the next start, which can now finish the repair.
            EXPECT_TRUE(cut.Repair());
            EXPECT_EQ(ReadBytes(cut.Installed(L"a.txt")), "old a");
            EXPECT_FALSE(FileExists(cut.Installed(L"new\\n.txt")));
        } else {
            // One ERROR line; the installation as it was, the journal and
            // every backup kept aside.
            int errors = 0;
            for (const auto& line : log.lines()) errors += line.severity >= google::GLOG_ERROR ? 1 : 0;
            EXPECT_EQ(errors, 1) << AllText(log);
            EXPECT_EQ(ReadBytes(cut.Installed(L"a.txt")), "new a") << c.name;
            const std::vector<std::wstring> tree = TreeWithoutTicks(cut.installDir);
            for (const wchar_t* kept : {L"123456.refused/a.txt", L"123456.refused/c.txt", L"123456.refused/数据/b.txt",
                                        L"Update.copyjournal.refused"}) {
                EXPECT_EQ(std::count(tree.begin(), tree.end(), kept), 1) << WideToUtf8String(kept);
            }
        }
    }
}

}  // namespace
