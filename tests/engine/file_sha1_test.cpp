#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <sqlite3.h>

#include <cstring>
#include <map>

#include "engine/file_sha1.h"
#include "engine/sqlite_db.h"
#include "engine_test_util.h"
#include "release_fixture.h"
#include "support/test_support.h"
#include "velisk/handles.h"

namespace {

using namespace testing_support;

// name -> digest hex, as the release tool wrote them into its manifest.
std::map<std::wstring, std::string> ReleaseToolDigests() {
    std::map<std::wstring, std::string> digests;
    SqliteConnection db(ReleaseFixture(L"manifest\\ProgramConfig.zdb"));
    if (db.Open() != 0) return digests;
    SqliteQuery query(db, L"SELECT SectionName, SHA1 FROM FileVersion");
    for (bool row = query.FirstRow(); row; row = query.NextRow()) {
        wchar_t name[256] = {};
        unsigned char digest[kFileDigestBytes] = {};
        query.row().GetText(0, name, 256);
        query.row().GetBlob(1, digest, sizeof(digest));
        digests[name] = DigestHex(digest);
    }
    return digests;
}

TEST(CalFileSHA1, AgreesWithTheReleaseToolAcrossReadBlockBoundaries) {
    const auto expected = ReleaseToolDigests();
    ASSERT_EQ(expected.size(), 5u);
    EXPECT_EQ(expected.at(L"abc.txt"), kAbcDigestHex);
    for (const wchar_t* name : {L"abc.txt", L"four_mib.bin", L"four_mib_plus_one.bin", L"bin/plugin.dll"}) {
        SCOPED_TRACE(WideToUtf8String(name));
        unsigned char digest[kFileDigestBytes] = {};
        ASSERT_TRUE(CalFileSHA1(ReleaseFixture(L"source\\") + name, digest));
        EXPECT_EQ(DigestHex(digest), expected.at(name));
    }
}

TEST(CalFileSHA1, FailsWithoutTouchingTheDigestWhenNothingCanBeHashed) {
    ScratchDir dir(L"sha1");
    ASSERT_TRUE(WriteBytes(dir / L"empty.dat", ""));
    ASSERT_TRUE(WriteBytes(dir / L"locked.dat", "abc"));
    velisk::UniqueFileHandle lock(::CreateFileW((dir / L"locked.dat").c_str(), GENERIC_READ, 0, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock.valid());
    struct Case {
        const char* name;
        std::wstring path;
    };
    const Case cases[] = {
        {"missing file", dir / L"missing.dat"},
        {"empty file", dir / L"empty.dat"},
        {"file opened by another without sharing", dir / L"locked.dat"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned char digest[kFileDigestBytes];
        std::memset(digest, 0xA5, sizeof(digest));
        EXPECT_FALSE(CalFileSHA1(c.path, digest));
        for (unsigned char byte : digest) ASSERT_EQ(byte, 0xA5);
    }
}

TEST(CalFileSHA1, FolderPathThrowsTheFileSystemError) {
    ScratchDir dir(L"sha1dir");
    unsigned char digest[kFileDigestBytes] = {};
    EXPECT_THROW(CalFileSHA1(dir.path(), digest), boost::filesystem::filesystem_error);
}

}  // namespace
