// The platform's SHA-1 against Boost's, from memory and through CalFileSHA1:
// every short length, every read-block boundary up to three blocks, the
// fallback when CNG cannot be opened, and files that change size while they
// are hashed.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>

#include "engine/file_block_reader.h"
#include "engine/file_sha1.h"
#include "engine/sha1_hasher.h"
#include "engine/sqlite_db.h"
#include "engine_test_util.h"
#include "release_fixture.h"
#include "support/log_capture.h"
#include "support/test_support.h"
#include "velisk/handles.h"

namespace {

using namespace testing_support;

constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kBlock = kFileReadBlockBytes;

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
    return bytes;
}

// Digest hex of `data` fed in pieces of at most `piece` bytes; "" on failure.
std::string HashHex(Sha1Hasher& hasher, const std::string& data, size_t piece = std::string::npos) {
    if (!hasher.Begin()) return "";
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    for (size_t at = 0; at < data.size(); at += piece) {
        if (!hasher.Add(bytes + at, std::min(piece, data.size() - at))) return "";
    }
    unsigned char digest[kFileDigestBytes];
    return hasher.Finish(digest) ? DigestHex(digest) : "";
}

std::string FileHex(const std::wstring& path) {
    unsigned char digest[kFileDigestBytes] = {};
    return CalFileSHA1(path, digest) ? DigestHex(digest) : "failed";
}

// The CNG hasher; these tests need it (it opens under Wine and on Windows).
std::unique_ptr<Sha1Hasher> Cng() {
    auto hasher = MakeCngSha1Hasher();
    EXPECT_NE(hasher, nullptr) << "CNG SHA-1 cannot be opened";
    return hasher;
}

// Puts back the normal hasher choice and reading when a test ends.
struct HashingDefaults {
    ~HashingDefaults() {
        SetCngSha1UnavailableForTesting(false);
        ReplaceFileDigestHasherForTesting(nullptr);
        SetFileReadAheadOffForTesting(false);
    }
};

// How CalFileSHA1 is made to work in a row of a table.
struct HashingMode {
    const char* name;
    bool cngUnavailable;
    bool readAheadOff;
};
constexpr HashingMode kHashingModes[] = {
    {"CNG, next block read ahead", false, false},
    {"CNG, caller reads every block", false, true},
    {"Boost, CNG cannot be opened", true, false},
};

void UseMode(const HashingMode& mode) {
    SetCngSha1UnavailableForTesting(mode.cngUnavailable);
    SetFileReadAheadOffForTesting(mode.readAheadOff);
}

TEST(Sha1Hashers, GiveKnownDigestsInStorageOrder) {
    struct Case {
        const char* name;
        std::string data;
        const char* hex;
    };
    const Case cases[] = {
        {"empty", "", kEmptyContentDigestHex},
        {"abc", "abc", kAbcDigestHex},
        {"56 bytes, two SHA-1 blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "443E98846ED23B1CA14AAEBAE52951F9F17046E5"},
        {"a million letters a", std::string(1000000, 'a'), "3C97AA34A4DAC4D42BEB1EF63127ADDB6F013465"},
    };
    auto cng = Cng();
    ASSERT_NE(cng, nullptr);
    auto boost = MakeBoostSha1Hasher();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(HashHex(*cng, c.data), c.hex);
        EXPECT_EQ(HashHex(*boost, c.data), c.hex);
        EXPECT_EQ(HashHex(*cng, c.data, 7), c.hex);
    }
}

TEST(Sha1Hashers, CngAndBoostAgreeOnEveryLengthUpTo300Bytes) {
    auto cng = Cng();
    ASSERT_NE(cng, nullptr);
    auto boost = MakeBoostSha1Hasher();
    const std::string data = RandomBytes(300, 16);
    for (size_t length = 0; length <= 300; ++length) {
        SCOPED_TRACE(length);
        const std::string part = data.substr(0, length);
        const std::string expected = HashHex(*boost, part);
        ASSERT_EQ(expected.size(), 40u);
        ASSERT_EQ(HashHex(*cng, part), expected);
        // Fed in uneven pieces: the split must not matter to either.
        ASSERT_EQ(HashHex(*cng, part, length / 3 + 1), expected);
        ASSERT_EQ(HashHex(*boost, part, 63), expected);
    }
}

TEST(Sha1Hashers, BeginDiscardsADigestAbandonedHalfWay) {
    auto cng = Cng();
    ASSERT_NE(cng, nullptr);
    std::pair<const char*, std::unique_ptr<Sha1Hasher>> hashers[] = {{"CNG", std::move(cng)},
                                                                     {"Boost", MakeBoostSha1Hasher()}};
    for (auto& [name, hasher] : hashers) {
        SCOPED_TRACE(name);
        const std::string garbage = RandomBytes(1000, 3);
        ASSERT_TRUE(hasher->Begin());
        ASSERT_TRUE(hasher->Add(reinterpret_cast<const unsigned char*>(garbage.data()), garbage.size()));
        EXPECT_EQ(HashHex(*hasher, "abc"), kAbcDigestHex);
        EXPECT_EQ(HashHex(*hasher, "abc"), kAbcDigestHex);  // and again after a finish
    }
}

TEST(CalFileSHA1, AgreesWithBothHashersAroundEveryReadBlockBoundary) {
    HashingDefaults defaults;
    ScratchDir dir(L"sha1 边界 dir");
    const std::string content = RandomBytes(3 * kBlock + 1, 12);
    const std::pair<const char*, size_t> sizes[] = {
        {"1 byte", 1},
        {"512 KiB, read by the caller", 512 * 1024},
        {"512 KiB + 1, read ahead", 512 * 1024 + 1},
        {"4 MiB - 1", kBlock - 1},
        {"4 MiB", kBlock},
        {"4 MiB + 1", kBlock + 1},
        {"8 MiB - 1", 2 * kBlock - 1},
        {"8 MiB", 2 * kBlock},
        {"8 MiB + 1", 2 * kBlock + 1},
        {"12 MiB - 1", 3 * kBlock - 1},
        {"12 MiB", 3 * kBlock},
        {"12 MiB + 1", 3 * kBlock + 1},
    };
    auto cng = Cng();
    ASSERT_NE(cng, nullptr);
    auto boost = MakeBoostSha1Hasher();
    std::map<size_t, std::string> expected;
    for (const auto& [name, size] : sizes) {
        SCOPED_TRACE(name);
        const std::string part = content.substr(0, size);
        expected[size] = HashHex(*boost, part);
        ASSERT_EQ(HashHex(*cng, part, kBlock), expected[size]);
        ASSERT_TRUE(WriteBytes(dir / (Utf8ToWide(name) + L".bin"), part));
    }
    for (const HashingMode& mode : kHashingModes) {
        SCOPED_TRACE(mode.name);
        UseMode(mode);
        for (const auto& [name, size] : sizes) {
            SCOPED_TRACE(name);
            EXPECT_EQ(FileHex(dir / (Utf8ToWide(name) + L".bin")), expected[size]);
        }
    }
}

TEST(CalFileSHA1, FallsBackToBoostWithTheReleaseToolsDigestsWhenCngCannotBeOpened) {
    HashingDefaults defaults;
    SetCngSha1UnavailableForTesting(true);
    EXPECT_EQ(MakeCngSha1Hasher(), nullptr);
    // The release tool's manifest was written with Python's hashlib.
    SqliteConnection db(ReleaseFixture(L"manifest\\ProgramConfig.zdb"));
    ASSERT_EQ(db.Open(), 0);
    SqliteQuery query(db, L"SELECT SectionName, SHA1 FROM FileVersion");
    int rows = 0;
    for (bool row = query.FirstRow(); row; row = query.NextRow(), ++rows) {
        wchar_t name[256] = {};
        unsigned char digest[kFileDigestBytes] = {};
        query.row().GetText(0, name, 256);
        query.row().GetBlob(1, digest, sizeof(digest));
        SCOPED_TRACE(WideToUtf8String(name));
        const std::wstring path = ReleaseFixture(L"source\\") + name;
        // An empty file has no digest of its own (the manifest keeps zeros).
        EXPECT_EQ(FileHex(path), ReadBytes(path).empty() ? "failed" : DigestHex(digest));
    }
    EXPECT_EQ(rows, 5);
}

// Hashes with CNG and runs `disturb` once, right after the first block was
// fed: the moment at which another process changes the file in the tests.
class DisturbingHasher : public Sha1Hasher {
public:
    explicit DisturbingHasher(std::function<void()> disturb)
        : m_inner(MakeCngSha1Hasher()), m_disturb(std::move(disturb)) {
        if (!m_inner) m_inner = MakeBoostSha1Hasher();
    }
    bool Begin() override { return m_inner->Begin(); }
    bool Add(const unsigned char* data, size_t size) override {
        const bool added = m_inner->Add(data, size);
        if (m_disturb) std::exchange(m_disturb, nullptr)();
        return added;
    }
    bool Finish(unsigned char* digest) override { return m_inner->Finish(digest); }

private:
    std::unique_ptr<Sha1Hasher> m_inner;
    std::function<void()> m_disturb;
};

// Sets the file's length, as another program holding it open would.
bool ResizeFile(const std::wstring& path, uint64_t size) {
    velisk::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(size);
    return file && ::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get());
}

TEST(CalFileSHA1, FileThatChangesSizeWhileHashedGivesTheResultOfItsFirstSize) {
    HashingDefaults defaults;
    ScratchDir dir(L"sha1 resize");
    const std::wstring path = dir / L"changing file.bin";
    const size_t size = 2 * kBlock + kMiB;
    const std::string content = RandomBytes(size, 5);
    auto boost = MakeBoostSha1Hasher();
    const std::string whole = HashHex(*boost, content);
    struct Case {
        const char* name;
        uint64_t newSize;
        bool hashed;
    };
    const Case cases[] = {
        {"grows by 3 MiB: hashed over its first size", size + 3 * kMiB, true},
        {"shrinks inside the second block", kBlock + kMiB, false},
        {"shrinks to exactly one block", kBlock, false},
        {"shrinks by one byte", size - 1, false},
    };
    for (const bool readAheadOff : {false, true}) {
        SetFileReadAheadOffForTesting(readAheadOff);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (readAheadOff ? ", caller reads" : ", read ahead"));
            ASSERT_TRUE(WriteBytes(path, content));
            ReplaceFileDigestHasherForTesting(
                std::make_unique<DisturbingHasher>([&] { ASSERT_TRUE(ResizeFile(path, c.newSize)); }));
            LogCapture log;
            unsigned char digest[kFileDigestBytes];
            std::memset(digest, 0xA5, sizeof(digest));
            const bool hashed = CalFileSHA1(path, digest);
            ASSERT_EQ(hashed, c.hashed);
            if (c.hashed) {
                EXPECT_EQ(DigestHex(digest), whole);
                EXPECT_EQ(log.Count("data_len="), 0);
            } else {
                for (unsigned char byte : digest) ASSERT_EQ(byte, 0xA5);
                ASSERT_EQ(log.Count("data_len=4194304 read_size="), 1);
                for (const auto& line : log.lines()) {
                    if (line.text.rfind("data_len=", 0) == 0) {
                        EXPECT_NE(line.text.find("  file_size" + std::to_string(size)), std::string::npos)
                            << line.text;
                    }
                }
            }
        }
    }
}

}  // namespace
