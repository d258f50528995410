// One file copied by the install copy (CopyFileWithDirs): folders made on
// the way, replaced contents, what the copy keeps of its source, and the
// cases that must fail without harming the destination.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <random>
#include <string>

#include "engine/sdk_updater.h"
#include "support/log_capture.h"
#include "support/test_support.h"
#include "velisk/handles.h"

namespace {

using testing_support::DirExists;
using testing_support::LogCapture;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

std::string RandomBytes(size_t size) {
    std::mt19937 rng(static_cast<unsigned>(size));
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
    return bytes;
}

uint64_t LastWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

bool SetLastWriteTime(const std::wstring& path, uint64_t time) {
    velisk::UniqueFileHandle file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    FILETIME ft = {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    return file && ::SetFileTime(file.get(), nullptr, nullptr, &ft);
}

TEST(CopyFileWithDirs, CopiesReplacesAndRefusesAsTheCopyStatusSays) {
    ScratchDir dir(L"copy one");
    struct Case {
        const char* name;
        std::string source;                // contents, or "-" for no source file
        std::wstring destination;          // relative to the scratch folder
        std::function<void(const std::wstring& src, const std::wstring& dst)> arrange;
        int status;
        bool destinationHasSource;         // else it still holds what it held
    };
    const auto existing = [](const std::wstring&, const std::wstring& dst) {
        ASSERT_TRUE(WriteBytes(dst, "old contents, longer than the new ones"));
    };
    const Case cases[] = {
        {"new file in missing folders with spaces and Chinese letters", "new", L"新 文件夹\\sub dir\\a.txt", nullptr,
         SDKUpdater::kCopied, true},
        {"replaces a longer file", "new", L"replace.txt", existing, SDKUpdater::kCopied, true},
        {"empty source", "", L"empty.txt", existing, SDKUpdater::kCopied, true},
        {"several buffers and a part", RandomBytes(3 * 1024 * 1024 + 17), L"big\\big.bin", existing,
         SDKUpdater::kCopied, true},
        {"missing source", "-", L"kept.txt", existing, SDKUpdater::kSourceMissing, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring source = dir / (testing_support::Utf8ToWide(c.name) + L".src");
        const std::wstring destination = dir / c.destination;
        if (c.source != "-") {
            ASSERT_TRUE(WriteBytes(source, c.source));
        }
        if (c.arrange) c.arrange(source, destination);
        SDKUpdater engine;
        EXPECT_EQ(engine.CopyFileWithDirs(source, destination), c.status);
        const std::string expected = c.destinationHasSource ? c.source : "old contents, longer than the new ones";
        EXPECT_EQ(ReadBytes(destination), expected);
    }
}

TEST(CopyFileWithDirs, FailsWithTheSystemsMessageAndLeavesTheDestinationWhole) {
    ScratchDir dir(L"copy refused");
    const std::string contents = "installed contents";
    const std::wstring file = dir / L"in use.dll";
    const std::wstring folder = dir / L"a folder";
    ASSERT_TRUE(WriteBytes(dir / L"new.dll", "new contents"));
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    struct Case {
        const char* name;
        std::wstring source;
        std::wstring destination;
        bool holdDestination;
    };
    const Case cases[] = {
        {"a file copied onto itself", file, file, false},
        {"the same file under a name with a trailing dot", file, file + L".", false},
        {"a destination another program holds without sharing", dir / L"new.dll", file, true},
        {"a folder as the source", folder, dir / L"copy of folder", false},
        {"a folder as the destination", dir / L"new.dll", folder, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteBytes(file, contents));
        velisk::UniqueFileHandle holder;
        if (c.holdDestination) {
            holder.reset(::CreateFileW(c.destination.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(holder.valid());
        }
        LogCapture log;
        SDKUpdater engine;
        EXPECT_EQ(engine.CopyFileWithDirs(c.source, c.destination), SDKUpdater::kFileSystemError);
        EXPECT_EQ(log.Count("boost::filesystem::", google::GLOG_ERROR), 1);
        holder.reset();
        EXPECT_EQ(ReadBytes(file), contents);
        EXPECT_TRUE(DirExists(folder));
    }
}

TEST(CopyFileWithDirs, KeepsTheSourcesLastWriteTimeAndAttributes) {
    ScratchDir dir(L"copy keeps");
    const std::wstring source = dir / L"source.txt";
    const std::wstring destination = dir / L"out\\dest.txt";
    ASSERT_TRUE(WriteBytes(source, "contents"));
    const uint64_t past = 130000000000000000ull;  // in 2012
    ASSERT_TRUE(SetLastWriteTime(source, past));
    ASSERT_TRUE(::SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_HIDDEN));
    SDKUpdater engine;
    ASSERT_EQ(engine.CopyFileWithDirs(source, destination), SDKUpdater::kCopied);
    EXPECT_EQ(LastWriteTime(destination), past);
    EXPECT_NE(::GetFileAttributesW(destination.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);

    // Over an existing file: the source's attributes replace the old ones.
    const std::wstring plain = dir / L"plain.txt";
    ASSERT_TRUE(WriteBytes(plain, "plain contents"));
    ASSERT_EQ(engine.CopyFileWithDirs(plain, destination), SDKUpdater::kCopied);
    EXPECT_EQ(ReadBytes(destination), "plain contents");
    EXPECT_EQ(::GetFileAttributesW(destination.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_NE(LastWriteTime(destination), past);
    EXPECT_EQ(LastWriteTime(destination), LastWriteTime(plain));
}

}  // namespace
