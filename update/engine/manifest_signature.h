// Verification of a manifest's signature with the platform's CNG: ECDSA
// P-256 over the SHA-256 digest of the manifest's exact bytes, signature in
// the raw 64-byte r || s form.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "engine/manifest_keys.h"

// Size of a signature: r then s, 32 bytes each, big-endian.
constexpr size_t kManifestSignatureBytes = 64;

enum class SignatureCheck {
    kVerified,            // one of the keys verifies the signature
    kMalformedSignature,  // not 64 bytes (for example a truncated file)
    kNotVerified,         // no key verifies it: changed bytes or another key
    kNoKeys,              // no key to check with
    kCryptoFailure,       // CNG could not hash or import a key
};

struct SignatureResult {
    SignatureCheck check = SignatureCheck::kNotVerified;
    size_t keyIndex = 0;  // the verifying key's index when kVerified
};

// Checks `signature` over `data` against each of `keys` in order and stops
// at the first that verifies. Does no elliptic-curve arithmetic itself: the
// digest and the verification are CNG's (BCryptImportKeyPair with an ECC
// public blob, BCryptVerifySignature).
SignatureResult VerifyManifestSignature(std::string_view data, std::string_view signature,
                                        std::span<const ManifestPublicKey> keys);

// Fixed text of a check result for log lines ("bad signature or unknown key").
const char* SignatureCheckText(SignatureCheck check);
