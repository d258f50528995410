// Standard Base64 (RFC 4648 alphabet, "=" padding).
#pragma once

#include <cstddef>
#include <string>

// Encodes `length` bytes of `data` into `encoded` (replacing its contents):
// 4 characters per started group of 3 bytes; a last group of 1 byte ends in
// "==", of 2 bytes in "=". Returns false (and leaves `encoded` empty) when
// `data` is null with a non-zero length or when no memory is available.
bool Base64Encode(size_t length, const unsigned char* data, std::string& encoded);
