// What the copy into an installation flushes to disk, and in which order, seen
// from outside the program: this test program runs with a native library
// preloaded into its Wine process (tools/fsync_recorder) that records every
// fsync Wine makes for FlushFileBuffers below the test's folder. A power cut
// can only take back what was not flushed, so each rule below is what keeps
// a file from being lost to one:
//   - a backup is on disk before the file it saves is written over;
//   - every file of a copy is on disk before the journal says "commit" (after
//     which the backups are deleted);
//   - every file a rollback or a repair restores is on disk before the
//     journal and the backups that could restore it again are removed.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "engine/copy_recovery.h"
#include "engine/sdk_updater.h"
#include "pipeline/pipeline_fixture.h"
#include "support/test_support.h"

namespace {

using pipeline_testing::FileHolder;
using testing_support::ReadBytes;
using testing_support::RemoveTree;
using testing_support::WideToUtf8String;
using testing_support::WriteBytes;

// A folder of this test below the folder whose flushes are recorded
// (VELISK_FSYNC_UNDER, the build tree's "durability" folder), with its Unix
// name for reading the records.
class RecordedFolder {
public:
    // The record file is shared by every run and never cut: a folder name of
    // its own (process id and start time, which a later run does not repeat)
    // and the records from the file's size at the start on are this case's.
    explicit RecordedFolder(const char* name) : m_recordsFrom(ReadBytes(RecordFile()).size()) {
        m_unix = std::string(VELISK_BINARY_DIR) + "/durability/" + name + "_" +
                 std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(::GetTickCount64());
        m_windows = testing_support::WinePath(m_unix);
        RemoveTree(m_windows);
    }
    ~RecordedFolder() { RemoveTree(m_windows); }

    const std::wstring& path() const { return m_windows; }
    std::wstring operator/(const std::wstring& relative) const { return testing_support::WinePath(m_unix, relative); }
    // The files of this folder that were flushed, in order, relative to the
    // folder with "/" between levels.
    std::vector<std::string> Flushed() const {
        std::vector<std::string> flushed;
        std::istringstream lines(ReadBytes(RecordFile()).substr(m_recordsFrom));
        const std::string prefix = "fsync " + m_unix + "/";
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind(prefix, 0) == 0) flushed.push_back(line.substr(prefix.size()));
        }
        return flushed;
    }
    // Without the preloaded recorder no flush can be seen: the test would
    // prove nothing.
    static bool Recording() { return ::GetEnvironmentVariableW(L"VELISK_FSYNC_LOG", nullptr, 0) != 0; }

private:
    static std::wstring RecordFile() {
        wchar_t path[MAX_PATH] = {};
        ::GetEnvironmentVariableW(L"VELISK_FSYNC_LOG", path, MAX_PATH);
        return testing_support::WinePath(WideToUtf8String(path));
    }

    size_t m_recordsFrom;
    std::string m_unix;
    std::wstring m_windows;
};

// Positions of `name` in the flush record.
std::vector<size_t> FlushesOf(const std::vector<std::string>& flushed, const std::string& name) {
    std::vector<size_t> at;
    for (size_t i = 0; i < flushed.size(); ++i) {
        if (flushed[i] == name) at.push_back(i);
    }
    return at;
}

std::string Joined(const std::vector<std::string>& flushed) {
    std::string text;
    for (const auto& name : flushed) text += "\n  " + name;
    return text;
}

// An installation of three files that a copy replaces (one in a folder with
// Chinese letters) and a download folder with their new versions and one
// new file.
struct DurableCopy {
    RecordedFolder root;
    std::wstring downloadDir = root / L"download";
    std::wstring installDir = root / L"客户端 install";
    const std::vector<std::wstring> names = {L"a.bin", L"数据\\b.bin", L"c.bin", L"new\\n.bin"};
    SDKUpdater engine;

    explicit DurableCopy(const char* name) : root(name) {
        for (const std::wstring& file : names) {
            WriteBytes(downloadDir + L"\\" + file, "new " + WideToUtf8String(file) + std::string(70000, 'n'));
            if (file != L"new\\n.bin") {
                WriteBytes(installDir + L"\\" + file, "old " + WideToUtf8String(file) + std::string(50000, 'o'));
            }
        }
        engine.SetDirectories(downloadDir.c_str(), installDir.c_str(), L"");
    }
    static std::string Installed(const std::wstring& name) {
        std::string relative = "客户端 install/" + WideToUtf8String(name);
        std::replace(relative.begin(), relative.end(), '\\', '/');
        return relative;
    }
};

TEST(CopyDurability, BackupsAndCopiedFilesAreOnDiskBeforeTheCopyIsCommitted) {
    ASSERT_TRUE(RecordedFolder::Recording()) << "run through CTest, which preloads the fsync recorder";
    DurableCopy copy("commit");
    ASSERT_TRUE(copy.engine.CopyDirectory(copy.names));

    const std::vector<std::string> flushed = copy.root.Flushed();
    // The journal is flushed when it is written and when it is committed.
    const std::vector<size_t> journal = FlushesOf(flushed, DurableCopy::Installed(L"Update.copyjournal"));
    ASSERT_EQ(journal.size(), 2u) << Joined(flushed);
    const size_t commit = journal[1];
    size_t lastDestination = journal[0];
    for (const std::wstring& name : copy.names) {
        const std::vector<size_t> at = FlushesOf(flushed, DurableCopy::Installed(name));
        ASSERT_EQ(at.size(), 1u) << WideToUtf8String(name) << Joined(flushed);
        EXPECT_GT(at[0], lastDestination) << "in copy order: " << WideToUtf8String(name) << Joined(flushed);
        EXPECT_LT(at[0], commit) << WideToUtf8String(name) << Joined(flushed);
        lastDestination = at[0];
    }
    // Each replaced file had its backup flushed (under the temporary name)
    // right before it was written over; the new file had none.
    for (const std::wstring& name : copy.names) {
        const size_t at = FlushesOf(flushed, DurableCopy::Installed(name))[0];
        const std::string& before = flushed[at - 1];
        const bool backup = before.size() > 8 && before.compare(before.size() - 8, 8, ".partial") == 0;
        EXPECT_EQ(backup, name != L"new\\n.bin") << WideToUtf8String(name) << Joined(flushed);
    }
}

TEST(CopyDurability, EveryFileARollbackRestoresIsFlushed) {
    ASSERT_TRUE(RecordedFolder::Recording()) << "run through CTest, which preloads the fsync recorder";
    DurableCopy copy("rollback");
    FileHolder holder(copy.installDir + L"\\c.bin");
    ASSERT_TRUE(holder.holding());
    ASSERT_FALSE(copy.engine.CopyDirectory(copy.names));
    holder.End();

    // a.bin and b.bin were replaced and then restored: each is flushed once
    // as the new version and once as the restored old one.
    const std::vector<std::string> flushed = copy.root.Flushed();
    for (const std::wstring name : {L"a.bin", L"数据\\b.bin"}) {
        EXPECT_EQ(FlushesOf(flushed, DurableCopy::Installed(name)).size(), 2u) << WideToUtf8String(name)
                                                                               << Joined(flushed);
        EXPECT_EQ(ReadBytes(copy.installDir + L"\\" + name).substr(0, 3), "old");
    }
    // The journal was written but never committed.
    EXPECT_EQ(FlushesOf(flushed, DurableCopy::Installed(L"Update.copyjournal")).size(), 1u) << Joined(flushed);
}

TEST(CopyDurability, EveryFileARepairRestoresIsFlushed) {
    ASSERT_TRUE(RecordedFolder::Recording()) << "run through CTest, which preloads the fsync recorder";
    RecordedFolder root("repair");
    const std::wstring installDir = root / L"客户端 install";
    // A copy cut off after a.txt was replaced: its backup is complete.
    WriteBytes(installDir + L"\\a.txt", "new a");
    WriteBytes(installDir + L"\\b.txt", "old b");
    WriteBytes(installDir + L"\\123456\\a.txt", "old a");
    WriteBytes(installDir + L"\\Update.copyjournal",
               "Velisk copy journal 1\nbackup 123456\nfiles 2\nreplace 5 a.txt\nreplace 5 b.txt\n");

    ASSERT_TRUE(RepairInterruptedCopy(installDir + L"\\"));

    EXPECT_EQ(ReadBytes(installDir + L"\\a.txt"), "old a");
    EXPECT_EQ(root.Flushed(), (std::vector<std::string>{DurableCopy::Installed(L"a.txt")}));
}

}  // namespace
