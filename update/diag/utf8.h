// Strict UTF-8 decoding for the updater's own line readers, and encoding
// of wide text for the statistics records.
#pragma once

#include <cstddef>
#include <string>

// Decodes UTF-8 bytes to UTF-16. Characters above U+FFFF become surrogate
// pairs. Malformed input never stops the decoding and never reads past
// `length`: every maximal ill-formed subsequence (a stray continuation byte,
// an invalid lead byte, a truncated sequence, an overlong form, an encoded
// surrogate or a value above U+10FFFF) becomes one U+FFFD, and decoding goes
// on at the next byte that can start a character. This is the replacement
// practice that the Unicode standard recommends and that browsers follow.
std::wstring DecodeUtf8(const char* bytes, size_t length);

// Encodes UTF-16 text as UTF-8. A surrogate pair becomes one 4-byte
// character; an unpaired surrogate becomes U+FFFD (EF BF BD).
std::string EncodeUtf8(const std::wstring& text);
