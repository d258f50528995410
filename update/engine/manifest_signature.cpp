#include "engine/manifest_signature.h"

#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <cstring>

#include "velisk/bcrypt_handles.h"

namespace {

constexpr size_t kDigestBytes = 32;  // SHA-256
using Digest = std::array<UCHAR, kDigestBytes>;

// SHA-256 of `data` into `digest`; false when CNG fails.
bool Sha256(std::string_view data, Digest& digest) {
    velisk::UniqueBCryptAlgorithm algorithm;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(algorithm.receive(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return false;
    }
    velisk::UniqueBCryptHash hash;
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm.get(), hash.receive(), nullptr, 0, nullptr, 0, 0))) return false;
    // BCryptHashData takes a 32-bit count: feed large inputs in pieces.
    constexpr size_t kPiece = 1u << 30;
    for (size_t offset = 0; offset < data.size(); offset += kPiece) {
        const size_t count = data.size() - offset < kPiece ? data.size() - offset : kPiece;
        auto* bytes = reinterpret_cast<PUCHAR>(const_cast<char*>(data.data() + offset));
        if (!BCRYPT_SUCCESS(::BCryptHashData(hash.get(), bytes, static_cast<ULONG>(count), 0))) return false;
    }
    return BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), digest.data(), kDigestBytes, 0));
}

// The BCRYPT_ECCPUBLIC_BLOB of a P-256 key: header, then X and Y.
std::array<UCHAR, sizeof(BCRYPT_ECCKEY_BLOB) + 64> PublicBlob(const ManifestPublicKey& key) {
    std::array<UCHAR, sizeof(BCRYPT_ECCKEY_BLOB) + 64> blob{};
    BCRYPT_ECCKEY_BLOB header{};
    header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = 32;
    std::memcpy(blob.data(), &header, sizeof(header));
    std::memcpy(blob.data() + sizeof(header), key.x, 32);
    std::memcpy(blob.data() + sizeof(header) + 32, key.y, 32);
    return blob;
}

}  // namespace

SignatureResult VerifyManifestSignature(std::string_view data, std::string_view signature,
                                        std::span<const ManifestPublicKey> keys) {
    SignatureResult result;
    if (keys.empty()) {
        result.check = SignatureCheck::kNoKeys;
        return result;
    }
    if (signature.size() != kManifestSignatureBytes) {
        result.check = SignatureCheck::kMalformedSignature;
        return result;
    }
    Digest digest{};
    velisk::UniqueBCryptAlgorithm ecdsa;
    if (!Sha256(data, digest) ||
        !BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(ecdsa.receive(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
        result.check = SignatureCheck::kCryptoFailure;
        return result;
    }
    std::array<UCHAR, kManifestSignatureBytes> raw{};
    std::memcpy(raw.data(), signature.data(), raw.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        auto blob = PublicBlob(keys[i]);
        velisk::UniqueBCryptKey key;
        if (!BCRYPT_SUCCESS(::BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.receive(), blob.data(),
                                             static_cast<ULONG>(blob.size()), 0))) {
            result.check = SignatureCheck::kCryptoFailure;
            return result;
        }
        if (::BCryptVerifySignature(key.get(), nullptr, digest.data(), kDigestBytes, raw.data(),
                                    static_cast<ULONG>(raw.size()), 0) == 0) {
            result.check = SignatureCheck::kVerified;
            result.keyIndex = i;
            return result;
        }
    }
    result.check = SignatureCheck::kNotVerified;
    return result;
}

const char* SignatureCheckText(SignatureCheck check) {
    switch (check) {
        case SignatureCheck::kVerified: return "verified";
        case SignatureCheck::kMalformedSignature: return "malformed signature (not 64 bytes)";
        case SignatureCheck::kNotVerified: return "bad signature or unknown key";
        case SignatureCheck::kNoKeys: return "no key built in";
        case SignatureCheck::kCryptoFailure: return "CNG failure";
    }
    return "unknown";
}
