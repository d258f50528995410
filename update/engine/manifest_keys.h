// The public keys whose signatures make a new manifest authentic. The table
// is generated at build time from PEM files (cmake/ManifestKeys.cmake): the
// shipped Update.exe gets the publisher's keys (VELISK_MANIFEST_PUBLIC_KEYS),
// test programs the keys that the test build made for itself.
#pragma once

#include <cstdint>
#include <span>

// One ECDSA P-256 public key: the curve point, each coordinate 32 bytes
// big-endian (the body of a BCRYPT_ECCPUBLIC_BLOB).
struct ManifestPublicKey {
    uint8_t x[32];
    uint8_t y[32];
};

// The keys built into this program, in the order the build named them.
// Empty when the build names none: manifests are then not authenticated.
std::span<const ManifestPublicKey> TrustedManifestKeys();
