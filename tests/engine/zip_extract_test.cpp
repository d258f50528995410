#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/zip_extract.h"
#include "support/log_capture.h"
#include "support/test_support.h"
#include "velisk/handles.h"
#include "zip_builder.h"

namespace {

using namespace testing_support;

constexpr size_t kFourMiB = 4194304;

std::string Pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7919) >> 5);
    return data;
}

ZipEntrySpec Folder(const std::string& name) { return {name, "", false, kZipFolderAttributes}; }
ZipEntrySpec File(const std::string& name, const std::string& data) { return {name, data}; }

// Writes `entries` as an archive into `dir` and unpacks it into `dir`\out.
bool Extract(const ScratchDir& dir, const std::vector<ZipEntrySpec>& entries) {
    WriteBytes(dir / L"a.zip", BuildZip(entries));
    ::CreateDirectoryW((dir / L"out").c_str(), nullptr);
    return ExtractZip(dir / L"out", dir / L"a.zip");
}

TEST(ExtractZip, UnpacksEntriesInOrderAndStopsAtTheFirstFailure) {
    const std::string big = Pattern(kFourMiB + 1);
    const std::string four = big.substr(0, kFourMiB);
    struct Case {
        const char* name;
        std::vector<ZipEntrySpec> entries;
        bool ok;
        std::vector<std::pair<std::wstring, std::string>> files;  // expected under out
        std::vector<std::wstring> absent;
    };
    const Case cases[] = {
        {"bare file", {File("a.dll", "abc")}, true, {{L"a.dll", "abc"}}, {}},
        {"folder entry then file", {Folder("sub/"), File("sub/a.dll", "abc")}, true, {{L"sub\\a.dll", "abc"}}, {}},
        {"file without its folder entry", {File("sub/a.dll", "abc")}, false, {}, {L"sub"}},
        {"empty file stops the rest", {File("a.dll", "abc"), File("e.dat", ""), File("b.dll", "abc")}, false,
         {{L"a.dll", "abc"}}, {L"b.dll"}},
        {"4 MiB entry", {File("four.bin", four)}, true, {{L"four.bin", four}}, {}},
        {"4 MiB + 1 entry", {File("four1.bin", big)}, true, {{L"four1.bin", big}}, {}},
        {"stored entry", {{"s.bin", "stored", false}}, true, {{L"s.bin", "stored"}}, {}},
        {"deflated entry stating more than its data", {{"d.bin", "abc", true, kZipFileAttributes, 4}}, false, {}, {}},
        {"stored entry stating more than its data", {{"s.bin", "abc", false, kZipFileAttributes, 4}}, false, {}, {}},
        {"no entries", {}, false, {}, {}},
        // Cutting the name to 255 bytes would write a file of another name.
        {"name of 256 bytes", {Folder("sub/"), File("sub/" + std::string(252, 'n'), "abc")}, false, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir(L"zip");
        EXPECT_EQ(Extract(dir, c.entries), c.ok);
        for (const auto& [name, content] : c.files) {
            EXPECT_TRUE(ReadBytes(dir / (L"out\\" + name)) == content) << WideToUtf8String(name);
        }
        for (const auto& name : c.absent) {
            const std::wstring path = dir / (L"out\\" + name);
            EXPECT_FALSE(FileExists(path) || DirExists(path)) << WideToUtf8String(name);
        }
    }
}

TEST(ExtractZip, ASecondExtractionFailsAtTheExistingFolderEntry) {
    ScratchDir dir(L"zip2");
    const std::vector<ZipEntrySpec> entries = {Folder("sub/"), File("sub/a.dll", "abc")};
    ASSERT_TRUE(Extract(dir, entries));
    EXPECT_FALSE(ExtractZip(dir / L"out", dir / L"a.zip"));
    // Without the folder entry the existing folder is fine, and the file is replaced.
    WriteBytes(dir / L"b.zip", BuildZip({File("sub/a.dll", "new content")}));
    EXPECT_TRUE(ExtractZip(dir / L"out\\", dir / L"b.zip"));
    EXPECT_EQ(ReadBytes(dir / L"out\\sub\\a.dll"), "new content");
}

TEST(ExtractZip, WorksInFoldersWithChineseNames) {
    ScratchDir dir(L"zipcn");
    const std::wstring chinese = dir / L"\x89E3\x538B\x76EE\x6807";  // "unpack target"
    ::CreateDirectoryW(chinese.c_str(), nullptr);
    WriteBytes(chinese + L"\\\x5305.zip", BuildZip({Folder("bin/"), File("bin/a.dll", "abc")}));
    EXPECT_TRUE(ExtractZip(chinese, chinese + L"\\\x5305.zip"));
    EXPECT_EQ(ReadBytes(chinese + L"\\bin\\a.dll"), "abc");
}

TEST(ExtractZip, HostileEntryNamesFailWithoutWritingAnything) {
    const std::string probe = "velisk_zip_probe_" + std::to_string(::GetCurrentProcessId()) + ".txt";
    const char* cases[] = {
        "/", "\\", "C:", "C:\\", "C:/", "../", "..\\", "sub/../../", "sub\\..\\..\\", "sub/..\\..\\",
        "./../", "sub/.. /../", "sub/.../", "a/./", "sub//", "x.txt:", "sub/../",
    };
    for (const char* prefix : cases) {
        const std::string name = std::string(prefix) + probe;
        SCOPED_TRACE(name);
        ScratchDir dir(L"hostile");
        ::CreateDirectoryW((dir / L"out").c_str(), nullptr);
        ::CreateDirectoryW((dir / L"out\\sub").c_str(), nullptr);
        WriteBytes(dir / L"a.zip", BuildZip({File("first.txt", "ok"), File(name, "evil")}));
        EXPECT_FALSE(ExtractZip(dir / L"out", dir / L"a.zip"));
        EXPECT_EQ(ReadBytes(dir / L"out\\first.txt"), "ok");  // earlier entries stay
        // Nothing anywhere but first.txt and the pre-made folder: not in the
        // destination, beside it, at the drive root or on drive C.
        EXPECT_EQ(ListDir(dir / L"out"), (std::vector<std::wstring>{L"first.txt", L"sub"}));
        EXPECT_TRUE(ListDir(dir / L"out\\sub").empty());
        EXPECT_EQ(ListDir(dir.path()), (std::vector<std::wstring>{L"a.zip", L"out"}));
        const std::wstring wideProbe = Utf8ToWide(probe);
        for (const std::wstring& outside : {L"C:\\" + wideProbe, L"\\" + wideProbe}) {
            EXPECT_FALSE(FileExists(outside));
            RemoveTree(outside);
        }
    }
}

TEST(ExtractZip, DamagedArchivesFail) {
    const std::string good = BuildZip({File("a.dll", Pattern(100000)), File("b.dll", Pattern(5000))});
    std::string corruptData = good;
    corruptData[200] ^= 0x55;  // inside a.dll's deflated data
    corruptData[300] ^= 0x55;
    std::string brokenDirectory = good;
    brokenDirectory[CentralRecordOffset(good, 1)] = 'X';  // second directory record
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"truncated to half", good.substr(0, good.size() / 2)},
        {"truncated before the end record", good.substr(0, good.size() - 5)},
        {"corrupted deflate data", corruptData},
        {"broken directory record", brokenDirectory},
        {"not an archive", std::string(3000, 'z')},
        {"empty file", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir(L"damaged");
        WriteBytes(dir / L"a.zip", c.bytes);
        EXPECT_FALSE(ExtractZip(dir.path(), dir / L"a.zip"));
    }
    ScratchDir dir(L"missing");
    EXPECT_FALSE(ExtractZip(dir.path(), dir / L"missing.zip"));
    WriteBytes(dir / L"good.zip", good);
    EXPECT_FALSE(ExtractZip(L"", dir / L"good.zip"));  // not the root of the current drive
}

// The sizes the entries state are added up before anything is written: an
// archive past its bound writes nothing at all and logs one WARNING line
// naming it; within the bound no entry is written past its stated size.
TEST(ExtractZip, EntriesPastTheBoundAreRefusedBeforeAnythingIsWritten) {
    const std::string zeros(50 << 20, '\0');  // deflates to about 50 KiB
    const struct {
        const char* name;
        std::vector<ZipEntrySpec> entries;
        uint64_t maxBytes;
        bool ok;
        uint64_t written;  // bytes under out afterwards
    } rows[] = {
        {"entry that inflates past the bound", {File("bomb.bin", zeros)}, 1 << 20, false, 0},
        {"entries that add up past the bound", {File("a.bin", Pattern(600000)), File("b.bin", Pattern(600000))},
         1 << 20, false, 0},
        {"entry stating less than its data", {{"d.bin", Pattern(300000), true, kZipFileAttributes, 1000}}, 1000,
         true, 1000},
        {"entry of exactly the bound", {File("e.bin", Pattern(1 << 20))}, 1 << 20, true, 1 << 20},
        {"no bound given", {File("bomb.bin", zeros)}, kDefaultMaxUnpackBytes, true, 50 << 20},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDir dir(L"bound");
        WriteBytes(dir / L"a.zip", BuildZip(row.entries));
        ::CreateDirectoryW((dir / L"out").c_str(), nullptr);
        LogCapture log;

        EXPECT_EQ(ExtractZip(dir / L"out", dir / L"a.zip", row.maxBytes), row.ok);
        uint64_t written = 0;
        for (const std::wstring& name : ListDir(dir / L"out")) written += ReadBytes(dir / (L"out\\" + name)).size();
        EXPECT_EQ(written, row.written);
        EXPECT_EQ(log.Count("archive refused: entries unpack past the bound", google::GLOG_WARNING), row.ok ? 0 : 1);
    }
}

TEST(ExtractZip, ATargetLockedByAnotherProcessFailsAndKeepsItsContent) {
    ScratchDir dir(L"locked");
    WriteBytes(dir / L"out\\a.dll", "old");
    velisk::UniqueFileHandle lock(::CreateFileW((dir / L"out\\a.dll").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock.valid());
    EXPECT_FALSE(Extract(dir, {File("a.dll", "new")}));
    lock.reset();
    EXPECT_EQ(ReadBytes(dir / L"out\\a.dll"), "old");
}

}  // namespace
