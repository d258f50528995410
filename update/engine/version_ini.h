// Readers of version.ini that the platform's profile functions cannot serve:
// UTF-8 values and the release notes.
#pragma once

#include <string>
#include <vector>

// Reads [section] key=value from a UTF-8 file. Section headers and keys are
// compared with case; blanks after "=" are dropped, trailing blanks kept.
// The buffer receives at most size - 1 characters and a NUL; it first gets
// `defaultValue` (cut likewise). Returns the number of value characters
// copied, 0 when the key was not found, and 0 without touching the buffer
// when a pointer is null or size <= 0. Callers treat < 1 as "not set".
int GetProfileStringUtf8(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                         wchar_t* buffer, int size, const wchar_t* path);

// Returns the lines after the "[updateInfo]" line (matched without regard to
// case) up to the end of the file, in order, each decoded from UTF-8.
// A missing file or section gives no lines.
std::vector<std::wstring> ReadReleaseNotes(const wchar_t* path);

// Profile-function helpers with the platform's rules (case-insensitive
// names, a missing file or key gives the default, values cut to the buffer).
// `bufferChars` is the buffer size including the terminating NUL.
std::wstring ReadIniString(const std::wstring& path, const wchar_t* section, const wchar_t* key,
                           const wchar_t* defaultValue, int bufferChars);
int ReadIniInt(const std::wstring& path, const wchar_t* section, const wchar_t* key,
               int defaultValue);
