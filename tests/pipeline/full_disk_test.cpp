// A copy into an installation on a file system that runs out of space (a
// small tmpfs that the test fixture mounts; skipped where it cannot be
// mounted): the installation keeps its old version whole.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "engine/copy_journal.h"
#include "engine/sdk_updater.h"
#include "pipeline/pipeline_fixture.h"
#include "support/test_support.h"

namespace {

using pipeline_testing::ListTree;
using testing_support::ReadBytes;
using testing_support::RemoveTree;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

// The mounted small file system as a Wine path; empty when it is not there.
std::wstring SmallDisk() {
    const std::wstring path = testing_support::WinePath(VELISK_FULL_DISK_DIR);
    ULARGE_INTEGER total = {};
    if (!::GetDiskFreeSpaceExW((path + L"\\").c_str(), nullptr, &total, nullptr)) return std::wstring();
    return total.QuadPart <= (16ull << 20) ? path : std::wstring();
}

// Fills the file system of `folder` with one file until nothing more fits.
void FillUp(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const std::string block(64 * 1024, 'f');
    DWORD written = 0;
    while (::WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr) && written > 0) {
    }
    for (DWORD size = 4096; size > 0; size /= 2) {
        while (::WriteFile(file, block.data(), size, &written, nullptr) && written == size) {
        }
    }
    ::CloseHandle(file);
}

TEST(FullDisk, CopyThatRunsOutOfSpaceLeavesTheOldVersionWhole) {
    const std::wstring disk = SmallDisk();
    if (disk.empty()) GTEST_SKIP() << "no small file system mounted at " << VELISK_FULL_DISK_DIR;
    struct Case {
        const char* name;
        bool fullBeforehand;  // no room even for the journal
    };
    for (const Case& c : {Case{"disk fills during the copy", false}, Case{"disk full before the copy", true}}) {
        ScratchDir download(L"fdl");
        const std::wstring installDir = disk + L"\\install " + std::to_wstring(::GetCurrentProcessId());
        const std::vector<std::wstring> names = {L"a.txt", L"b.bin", L"c.txt"};
        const std::string oldB(300 * 1024, 'o');
        WriteBytes(installDir + L"\\a.txt", "old a");
        WriteBytes(installDir + L"\\b.bin", oldB);
        WriteBytes(installDir + L"\\c.txt", "old c");
        WriteBytes(download / L"a.txt", "new a");
        WriteBytes(download / L"b.bin", std::string(3 << 20, 'n'));  // more than the disk holds
        WriteBytes(download / L"c.txt", "new c");
        if (c.fullBeforehand) FillUp(disk + L"\\filler.bin");
        SDKUpdater engine;
        engine.SetDirectories(download.path().c_str(), installDir.c_str(), nullptr);

        EXPECT_FALSE(engine.CopyDirectory(names)) << c.name;

        EXPECT_EQ(ReadBytes(installDir + L"\\a.txt"), "old a") << c.name;
        EXPECT_TRUE(ReadBytes(installDir + L"\\b.bin") == oldB) << c.name;
        EXPECT_EQ(ReadBytes(installDir + L"\\c.txt"), "old c") << c.name;
        EXPECT_EQ(ListTree(installDir), names) << c.name;  // no backup folder, no journal
        RemoveTree(installDir);
        ::DeleteFileW((disk + L"\\filler.bin").c_str());
    }
}

}  // namespace
