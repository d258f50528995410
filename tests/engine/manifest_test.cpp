#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "engine/database_checker.h"
#include "engine_test_util.h"
#include "support/manifest_writer.h"
#include "support/test_support.h"

namespace {

using namespace testing_support;

const std::string kZeroDigestHex(40, '0');
const std::string& kStandardTables = kManifestTables;

std::string FileRow(const std::string& name, const std::string& digestHex) {
    return "INSERT INTO FileVersion VALUES ('" + name + "', X'" + digestHex + "');";
}

// A checker over a manifest in `dir`, installation `dir`\install\ and
// download folder `dir`\download\.
struct CheckerFixture {
    explicit CheckerFixture(const ScratchDir& dir)
        : install(dir / L"install\\"), download(dir / L"download\\"), manifest(dir / L"ProgramConfig.zdb"),
          checker(new DataBaseChecker(install)) {
        ::CreateDirectoryW(install.c_str(), nullptr);
        ::CreateDirectoryW(download.c_str(), nullptr);
        checker->SetDownloadDir(download.c_str());
    }
    ~CheckerFixture() { checker->Release(); }

    // Opens `path` and lists it; returns the names (and the count through `count`).
    std::vector<std::wstring> List(const std::wstring& path, int* count = nullptr) {
        checker->OpenDatabase(path.c_str());
        ManifestNameSlot* names = nullptr;
        int listed = -1;
        checker->GetFileList(&names, &listed);
        if (count != nullptr) *count = listed;
        std::vector<std::wstring> out;
        if (listed > 0 && names != nullptr) {
            for (int i = 0; i < listed; ++i) out.emplace_back(names[i]);
            checker->FreeFileList(names);
        }
        return out;
    }

    std::wstring install, download, manifest;
    IVkUpdateAlgorithm* checker;
};

TEST(DataBaseChecker, CheckFileAsksForUpdateUnlessTheInstalledFileMatches) {
    ScratchDir dir(L"check");
    CheckerFixture f(dir);
    WriteManifest(f.manifest, kStandardTables + FileRow("same.txt", kAbcDigestHex) +
                                  FileRow("changed.txt", kAbcDigestHex) + FileRow("missing.txt", kAbcDigestHex) +
                                  FileRow("empty_zero.dat", kZeroDigestHex) +
                                  FileRow("empty_sha.dat", kEmptyContentDigestHex) +
                                  FileRow("Bin/Case.DLL", kAbcDigestHex));
    WriteBytes(f.install + L"same.txt", "abc");
    WriteBytes(f.install + L"changed.txt", "abd");
    WriteBytes(f.install + L"empty_zero.dat", "");
    WriteBytes(f.install + L"empty_sha.dat", "");
    WriteBytes(f.install + L"bin\\case.dll", "abc");
    ASSERT_EQ(f.List(f.manifest).size(), 6u);
    struct Case {
        const wchar_t* name;
        bool needsUpdate;
    };
    const Case cases[] = {
        {L"same.txt", false},
        {L"changed.txt", true},
        {L"missing.txt", true},
        {L"empty_zero.dat", false},  // an empty file matches only 20 zero bytes
        {L"empty_sha.dat", true},
        {L"Bin/Case.DLL", false},    // the file system finds bin\case.dll
        {L"bin/case.dll", true},     // the lookup compares names with case
        {L"unlisted.txt", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8String(c.name));
        EXPECT_EQ(f.checker->CheckFile(c.name), c.needsUpdate);
    }
}

TEST(DataBaseChecker, VerifyDownloadedFileAcceptsListedContentAndUnlistedNames) {
    ScratchDir dir(L"verify");
    CheckerFixture f(dir);
    WriteManifest(f.manifest, kStandardTables + FileRow("good.txt", kAbcDigestHex) +
                                  FileRow("bad.txt", kAbcDigestHex) + FileRow("absent.txt", kAbcDigestHex));
    WriteBytes(f.download + L"good.txt", "abc");
    WriteBytes(f.download + L"bad.txt", "abd");
    WriteBytes(f.install + L"bad.txt", "abc");  // the installed copy plays no part
    f.List(f.manifest);
    EXPECT_TRUE(f.checker->VerifyDownloadedFile(L"good.txt"));
    EXPECT_FALSE(f.checker->VerifyDownloadedFile(L"bad.txt"));
    EXPECT_FALSE(f.checker->VerifyDownloadedFile(L"absent.txt"));
    EXPECT_TRUE(f.checker->VerifyDownloadedFile(L"unlisted.txt"));
}

TEST(DataBaseChecker, DuplicateRowsAreAllListedAndTheFirstDigestCounts) {
    ScratchDir dir(L"dup");
    CheckerFixture f(dir);
    WriteManifest(f.manifest, kStandardTables + FileRow("dup.txt", kAbcDigestHex) +
                                  FileRow("dup.txt", kEmptyContentDigestHex));
    WriteBytes(f.install + L"dup.txt", "abc");
    EXPECT_EQ(f.List(f.manifest), (std::vector<std::wstring>{L"dup.txt", L"dup.txt"}));
    EXPECT_FALSE(f.checker->CheckFile(L"dup.txt"));
}

TEST(DataBaseChecker, AMalformedRowMakesTheWholeManifestUntrusted) {
    const std::string good = FileRow("good.txt", kAbcDigestHex);
    struct Case {
        const char* name;
        std::string sql;
        int expectedCount;
    };
    const Case cases[] = {
        {"name of 255 characters fits its slot", kStandardTables + good + FileRow(std::string(255, 'n'), kAbcDigestHex), 2},
        {"name of 256 characters", kStandardTables + good + FileRow(std::string(256, 'n'), kAbcDigestHex), 0},
        {"empty name", kStandardTables + good + FileRow("", kAbcDigestHex), 0},
        {"NULL name", kStandardTables + good + "INSERT INTO FileVersion VALUES (NULL, X'" + kAbcDigestHex + "');", 0},
        {"NULL digest", kStandardTables + good + "INSERT INTO FileVersion VALUES ('x.txt', NULL);", 0},
        {"19-byte digest", kStandardTables + good + FileRow("x.txt", std::string(38, 'A')), 0},
        {"21-byte digest", kStandardTables + good + FileRow("x.txt", std::string(42, 'A')), 0},
        {"no SHA1 column", "CREATE TABLE FileVersion (SectionName TEXT); INSERT INTO FileVersion VALUES ('good.txt');", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir(L"malformed");
        CheckerFixture f(dir);
        WriteManifest(f.manifest, c.sql);
        WriteBytes(f.install + L"good.txt", "abc");
        int count = -1;
        const auto names = f.List(f.manifest, &count);
        EXPECT_EQ(count, c.expectedCount);
        if (c.expectedCount > 0) {
            EXPECT_EQ(names.back(), std::wstring(255, L'n'));
        }
        EXPECT_EQ(f.checker->CheckFile(L"good.txt"), c.expectedCount == 0);
    }
}

TEST(DataBaseChecker, UnreadableManifestsGiveNoRowsAndLeaveTheArrayAlone) {
    ScratchDir dir(L"unreadable");
    {
        std::string sql = kStandardTables + "BEGIN;";
        for (int i = 0; i < 3000; ++i) sql += FileRow("file" + std::to_string(i) + ".dat", kAbcDigestHex);
        WriteManifest(dir / L"big.zdb", sql + "COMMIT;");
        std::string bytes = ReadBytes(dir / L"big.zdb");
        WriteBytes(dir / L"truncated.zdb", bytes.substr(0, bytes.size() / 2));
        // A garbled page late in the table: the first rows still read.
        const size_t page = 4096;
        bytes.replace(bytes.size() * 3 / 4 / page * page, page, std::string(page, '\xFF'));
        WriteBytes(dir / L"damaged.zdb", bytes);
    }
    WriteBytes(dir / L"text.zdb", std::string(5000, 'x'));
    WriteBytes(dir / L"empty.zdb", "");
    WriteManifest(dir / L"notable.zdb", "CREATE TABLE Other (a TEXT); INSERT INTO Other VALUES ('a');");
    for (const wchar_t* name : {L"truncated.zdb", L"damaged.zdb", L"text.zdb", L"empty.zdb", L"notable.zdb", L"missing.zdb"}) {
        SCOPED_TRACE(WideToUtf8String(name));
        CheckerFixture f(dir);
        EXPECT_TRUE(f.checker->OpenDatabase((dir / name).c_str()));
        ManifestNameSlot* names = reinterpret_cast<ManifestNameSlot*>(0x1234);
        int count = -1;
        EXPECT_FALSE(f.checker->GetFileList(&names, &count));
        EXPECT_EQ(count, 0);
        EXPECT_EQ(names, reinterpret_cast<ManifestNameSlot*>(0x1234));
        ServerUrlSlot* servers = nullptr;
        EXPECT_FALSE(f.checker->GetServerList(&servers, &count));
        EXPECT_EQ(count, 0);
        EXPECT_EQ(servers, nullptr);
    }
}

TEST(DataBaseChecker, ServerListAddsTheVersionBetweenSlashes) {
    struct Case {
        const char* name;
        std::string rows;
        std::vector<std::wstring> expected;
    };
    const std::string server = "INSERT INTO ConfigServer VALUES ('a/b');";
    const std::string ver7 = "INSERT INTO ProgramVersion VALUES ('ProgramVer', 7);";
    const Case cases[] = {
        {"server without slash", server + ver7, {L"a/b/7/"}},
        {"server with slash", "INSERT INTO ConfigServer VALUES ('a/b/');" + ver7, {L"a/b/7/"}},
        {"no ProgramVer row", server + "INSERT INTO ProgramVersion VALUES ('Other', 7);", {L"a/b/-1/"}},
        {"the last ProgramVer row counts", server + ver7 + "INSERT INTO ProgramVersion VALUES ('ProgramVer', 9);", {L"a/b/9/"}},
        {"two servers", server + "INSERT INTO ConfigServer VALUES ('c/');" + ver7, {L"a/b/7/", L"c/7/"}},
        {"a long server is cut to its slot", "INSERT INTO ConfigServer VALUES ('" + std::string(300, 's') + "');" + ver7,
         {std::wstring(257, L's')}},
        {"no servers", ver7, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir(L"servers");
        CheckerFixture f(dir);
        WriteManifest(f.manifest, kStandardTables + c.rows);
        f.checker->OpenDatabase(f.manifest.c_str());
        ServerUrlSlot* servers = nullptr;
        int count = -1;
        f.checker->GetServerList(&servers, &count);
        std::vector<std::wstring> got;
        for (int i = 0; i < count; ++i) got.emplace_back(servers[i]);
        EXPECT_EQ(got, c.expected);
        if (servers != nullptr) f.checker->FreeServerList(servers);
    }
}

TEST(DataBaseChecker, TheLatestFileListAnswersAndAFolderNameThrows) {
    ScratchDir dir(L"reopen");
    CheckerFixture f(dir);
    WriteManifest(dir / L"old.zdb", kStandardTables + FileRow("old.txt", kAbcDigestHex));
    WriteManifest(f.manifest, kStandardTables + FileRow("new.txt", kAbcDigestHex) + FileRow("sub", kAbcDigestHex));
    WriteBytes(f.install + L"old.txt", "abc");
    WriteBytes(f.install + L"new.txt", "abc");
    WriteBytes(f.install + L"sub\\inner.txt", "abc");
    EXPECT_EQ(f.List(dir / L"old.zdb"), std::vector<std::wstring>{L"old.txt"});
    EXPECT_FALSE(f.checker->CheckFile(L"old.txt"));
    EXPECT_EQ(f.List(f.manifest).size(), 2u);
    EXPECT_TRUE(f.checker->CheckFile(L"old.txt"));
    EXPECT_FALSE(f.checker->CheckFile(L"new.txt"));
    EXPECT_THROW(f.checker->CheckFile(L"sub"), boost::filesystem::filesystem_error);
}

}  // namespace
