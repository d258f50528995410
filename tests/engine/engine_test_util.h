// Small helpers shared by the engine tests.
#pragma once

#include <string>

#include "diag/text_format.h"
#include "engine/file_sha1.h"

namespace testing_support {

// Upper-case hexadecimal text of a 20-byte digest, in storage order.
inline std::string DigestHex(const unsigned char* digest) {
    char text[64];
    BytesToHex(digest, static_cast<int>(kFileDigestBytes), text, sizeof(text));
    return text;
}

// Digests in the manifest layout of a few contents (computed independently
// with Python's hashlib).
inline constexpr const char* kAbcDigestHex = "363E99A96A81064771253EBA6CC250789DD8D09C";
inline constexpr const char* kEmptyContentDigestHex = "EEA339DA0D4B6B5EEFBF5532901860950907D8AF";

}  // namespace testing_support
