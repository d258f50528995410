#include "signing/signing_fixture.h"

#include <windows.h>
#include <bcrypt.h>

#include "support/test_support.h"
#include "velisk/bcrypt_handles.h"

namespace signing_testing {

using testing_support::ReadBytes;
using testing_support::WinePath;

std::wstring SigningFixture(const std::wstring& part) { return WinePath(VELISK_SIGNING_FIXTURE, part); }

std::wstring TestKeyFile(const std::wstring& name) { return WinePath(VELISK_TEST_KEY_DIR, name); }

std::string SignBytes(const std::string& data, const std::wstring& key) {
    const std::string blob = ReadBytes(SigningFixture(L"keys/" + key + L".eccprivate"));
    UCHAR digest[32] = {};
    velisk::UniqueBCryptAlgorithm sha256, ecdsa;
    velisk::UniqueBCryptHash hash;
    velisk::UniqueBCryptKey privateKey;
    UCHAR signature[64] = {};
    ULONG length = 0;
    if (blob.empty() ||
        !BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(sha256.receive(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(::BCryptCreateHash(sha256.get(), hash.receive(), nullptr, 0, nullptr, 0, 0)) ||
        !BCRYPT_SUCCESS(::BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                                         static_cast<ULONG>(data.size()), 0)) ||
        !BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), digest, sizeof(digest), 0)) ||
        !BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(ecdsa.receive(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(::BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, privateKey.receive(),
                                              reinterpret_cast<PUCHAR>(const_cast<char*>(blob.data())),
                                              static_cast<ULONG>(blob.size()), 0)) ||
        !BCRYPT_SUCCESS(::BCryptSignHash(privateKey.get(), nullptr, digest, sizeof(digest), signature,
                                         sizeof(signature), &length, 0)) ||
        length != sizeof(signature)) {
        return "";
    }
    return std::string(reinterpret_cast<const char*>(signature), sizeof(signature));
}

bool SignFile(const std::wstring& path, const std::wstring& key) {
    const std::string signature = SignBytes(ReadBytes(path), key);
    return !signature.empty() && testing_support::WriteBytes(path + L".sig", signature);
}

}  // namespace signing_testing
