// Text conversions shared by every log line of the updater: wide text to
// UTF-8 and bytes to upper-case hexadecimal, both into caller buffers that
// are never written past their size.
#pragma once

#include <cstddef>
#include <string>

// Converts `count` UTF-16 characters of `text` to UTF-8 into `buffer` of
// `bufferSize` bytes, which is zero-filled first so the result is always
// NUL-terminated. When the text might not fit, it is cut to
// bufferSize / 5 - 1 characters (152 for the usual 768-byte buffer).
// A negative `count` means "up to the terminating NUL".
// Returns -1 when `text` or `buffer` is null, otherwise the bytes written.
int WideToUtf8(const wchar_t* text, int count, char* buffer, int bufferSize);

// Writes the upper-case hexadecimal text of `length` bytes of `data` into
// `buffer` of `bufferSize` bytes (zero-filled first). A byte is added only
// while the text is shorter than bufferSize - 3 characters.
// Returns -1 when `data` or `buffer` is null, otherwise the bytes converted.
int BytesToHex(const unsigned char* data, int length, char* buffer, int bufferSize);

// Convenience for log lines: `text` as UTF-8 through a 768-byte buffer, with
// the same cut as WideToUtf8.
std::string WideToUtf8Log(const std::wstring& text);
