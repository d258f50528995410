// Manifest signatures checked with the platform's CNG against signatures
// that openssl made at build time with this tree's test keys.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "engine/manifest_authentication.h"
#include "engine/manifest_keys.h"
#include "engine/manifest_signature.h"
#include "signing/signing_fixture.h"
#include "support/test_support.h"

namespace {

using signing_testing::SigningFixture;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

std::string Manifest(const std::wstring& signedCase) {
    return ReadBytes(SigningFixture(L"unpacked/" + signedCase + L"/ProgramConfig.zdb"));
}
std::string Signature(const std::wstring& signedCase) {
    return ReadBytes(SigningFixture(L"unpacked/" + signedCase + L"/ProgramConfig.zdb.sig"));
}

std::string Flipped(std::string bytes, size_t at) {
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    return bytes;
}

TEST(ManifestSignature, TheTestProgramTrustsTwoKeys) {
    EXPECT_EQ(TrustedManifestKeys().size(), 2u);
    ASSERT_FALSE(Manifest(L"first").empty());
    ASSERT_EQ(Signature(L"first").size(), kManifestSignatureBytes);
}

TEST(ManifestSignature, OnlyAnUnchangedManifestSignedByABuiltInKeyVerifies) {
    const std::string manifest = Manifest(L"first");
    const std::string first = Signature(L"first");
    struct Case {
        const char* name;
        std::string data;
        std::string signature;
        SignatureCheck expected;
        size_t keyIndex;
    };
    const std::vector<Case> cases = {
        {"signed by the first key", manifest, first, SignatureCheck::kVerified, 0},
        {"signed by the second key", manifest, Signature(L"second"), SignatureCheck::kVerified, 1},
        {"signed by a key not built in", manifest, Signature(L"outsider"), SignatureCheck::kNotVerified, 0},
        {"one byte of the manifest changed", Flipped(manifest, manifest.size() / 2), first,
         SignatureCheck::kNotVerified, 0},
        {"last byte of the manifest changed", Flipped(manifest, manifest.size() - 1), first,
         SignatureCheck::kNotVerified, 0},
        {"one byte more", manifest + '\0', first, SignatureCheck::kNotVerified, 0},
        {"a byte of r changed", manifest, Flipped(first, 5), SignatureCheck::kNotVerified, 0},
        {"a byte of s changed", manifest, Flipped(first, 40), SignatureCheck::kNotVerified, 0},
        {"r and s swapped", manifest, first.substr(32) + first.substr(0, 32), SignatureCheck::kNotVerified, 0},
        {"zero r and s", manifest, std::string(64, '\0'), SignatureCheck::kNotVerified, 0},
        {"r and s beyond the group order", manifest, std::string(64, '\xff'), SignatureCheck::kNotVerified, 0},
        {"truncated signature", manifest, first.substr(0, 63), SignatureCheck::kMalformedSignature, 0},
        {"signature with a byte more", manifest, first + 'x', SignatureCheck::kMalformedSignature, 0},
        {"empty signature", manifest, "", SignatureCheck::kMalformedSignature, 0},
        {"the signature of another manifest", Manifest(L"older"), first, SignatureCheck::kNotVerified, 0},
    };
    for (const Case& c : cases) {
        const SignatureResult result = VerifyManifestSignature(c.data, c.signature, TrustedManifestKeys());
        EXPECT_EQ(result.check, c.expected) << c.name << ": " << SignatureCheckText(result.check);
        if (c.expected == SignatureCheck::kVerified) {
            EXPECT_EQ(result.keyIndex, c.keyIndex) << c.name;
        }
    }
}

TEST(ManifestSignature, KeysAreTriedInTurnAndNoKeyVerifiesNothing) {
    const std::string manifest = Manifest(L"first");
    EXPECT_EQ(VerifyManifestSignature(manifest, Signature(L"first"), TrustedManifestKeys().subspan(1)).check,
              SignatureCheck::kNotVerified);
    EXPECT_EQ(VerifyManifestSignature(manifest, Signature(L"second"), TrustedManifestKeys().subspan(1)).check,
              SignatureCheck::kVerified);
    EXPECT_EQ(VerifyManifestSignature(manifest, Signature(L"first"), {}).check, SignatureCheck::kNoKeys);
}

// The whole check of an unpacked manifest: signature file, signature and
// version against the installed version.ini.
TEST(ManifestAuthentication, SignatureAndVersionDecide) {
    struct Case {
        const char* name;
        const wchar_t* signedCase;
        const char* installedIni;  // null: no installed version.ini
        bool accepted;
        int iniVersion = 7;  // [update] version of the new version.ini
    };
    const std::vector<Case> cases = {
        {"signed, newer than installed", L"first", "[update]\r\nversion=6\r\n", true},
        {"signed, same version as installed", L"first", "[update]\r\nversion=7\r\n", true},
        {"signed, no installed version.ini", L"first", nullptr, true},
        {"signed by the second key", L"second", "[update]\r\nversion=6\r\n", true},
        {"signed, older than installed", L"older", "[update]\r\nversion=6\r\n", false, 5},
        {"signed, the new version.ini names another release", L"first", "[update]\r\nversion=6\r\n", false, 8},
        {"signed, installed is newer than this release", L"first", "[update]\r\nversion=8\r\n", false},
        {"signed, no ProgramVer row", L"no_version", "[update]\r\nversion=6\r\n", false},
        {"signed, no ProgramVer row, nothing installed", L"no_version", nullptr, false},
        {"no signature file", L"unsigned", "[update]\r\nversion=6\r\n", false},
        {"truncated signature", L"truncated", "[update]\r\nversion=6\r\n", false},
        {"changed manifest", L"tampered", "[update]\r\nversion=6\r\n", false},
        {"key not built in", L"outsider", "[update]\r\nversion=6\r\n", false},
    };
    for (const Case& c : cases) {
        ScratchDir dir(L"mauth");
        const std::wstring from = SigningFixture(std::wstring(L"unpacked/") + c.signedCase);
        ASSERT_TRUE(::CopyFileW((from + L"\\ProgramConfig.zdb").c_str(), (dir / L"ProgramConfig.zdb").c_str(), FALSE));
        ::CopyFileW((from + L"\\ProgramConfig.zdb.sig").c_str(), (dir / L"ProgramConfig.zdb.sig").c_str(), FALSE);
        if (c.installedIni != nullptr) {
            ASSERT_TRUE(WriteBytes(dir / L"version.ini", c.installedIni));
        }
        const std::string before = ReadBytes(dir / L"ProgramConfig.zdb");
        EXPECT_EQ(AuthenticateManifest(before, dir / L"ProgramConfig.zdb", dir / L"version.ini", c.iniVersion,
                                       TrustedManifestKeys()),
                  c.accepted)
            << c.name;
        EXPECT_EQ(ReadBytes(dir / L"ProgramConfig.zdb"), before) << c.name << ": the check changed the manifest";
    }
}

TEST(ManifestAuthentication, AnEmptyManifestIsRefused) {
    ScratchDir dir(L"mauth");
    EXPECT_FALSE(AuthenticateManifest("", dir / L"ProgramConfig.zdb", dir / L"version.ini", 7, TrustedManifestKeys()));
}

}  // namespace
