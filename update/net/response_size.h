// What a response says about its body's size and place in the file: the
// Content-Length and Content-Range header texts, read strictly. A server's
// header is hostile text, so anything but the plain forms is refused rather
// than guessed at.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The byte span of a "Content-Range: bytes first-last/total" header.
struct ContentRange {
    uint64_t first = 0;
    uint64_t last = 0;   // inclusive
    std::optional<uint64_t> total;  // absent for "*"
};

// A run of 1 to 19 decimal digits (so it fits 63 bits), nothing else: no
// sign, no blank, no second value. Anything else gives nothing.
std::optional<uint64_t> ParseByteCount(const std::wstring& text);

// "bytes first-last/total" or "bytes first-last/*", first <= last and, with
// a total, last < total; each number as ParseByteCount reads it. Anything
// else gives nothing.
std::optional<ContentRange> ParseContentRange(const std::wstring& text);
