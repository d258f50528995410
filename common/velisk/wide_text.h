// UTF-8 <-> UTF-16 conversions through the platform, for helpers and tools
// that are not bound by the updater's own fixed-buffer conventions.
#pragma once

#include <windows.h>

#include <string>

namespace velisk {

// Converts UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
inline std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                          nullptr);
    return out;
}

// Converts UTF-8 to UTF-16; malformed bytes become U+FFFD.
inline std::wstring ToWide(const std::string& text) {
    if (text.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

}  // namespace velisk
