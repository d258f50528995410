// Checks for outside values that go into command lines and program paths.
#include "diag/command_values.h"

#include <windows.h>

#include <cwctype>

namespace {

bool IsControl(wchar_t c) { return c < 0x20 || c == 0x7F; }

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, alone or before an extension.
bool IsReservedDeviceName(const std::wstring& name) {
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (auto& c : stem) c = static_cast<wchar_t>(std::towupper(c));
    if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL") return true;
    return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
           stem[3] >= L'1' && stem[3] <= L'9';
}

}  // namespace

bool HasQuoteOrControl(const std::wstring& text) {
    for (const wchar_t c : text) {
        if (c == L'"' || IsControl(c)) return true;
    }
    return false;
}

bool IsPlainFileName(const std::wstring& name) {
    if (name.empty() || name.size() > 255 || name == L"." || name == L"..") return false;
    for (const wchar_t c : name) {
        if (IsControl(c) || std::wstring(L"\\/:*?\"<>|").find(c) != std::wstring::npos) return false;
    }
    if (name.back() == L' ' || name.back() == L'.') return false;
    return !IsReservedDeviceName(name);
}

bool IsAbsolutePath(const std::wstring& path) {
    if (HasQuoteOrControl(path)) return false;
    if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == L':' && IsSeparator(path[2])) return true;
    // \\server\share: two separators, then a server name and a share name.
    if (path.size() < 5 || !IsSeparator(path[0]) || !IsSeparator(path[1]) || IsSeparator(path[2])) return false;
    const size_t share = path.find_first_of(L"\\/", 2);
    return share != std::wstring::npos && share + 1 < path.size() && !IsSeparator(path[share + 1]);
}

bool HasControlCharacter(const std::wstring& text) {
    for (const wchar_t c : text) {
        if (IsControl(c)) return true;
    }
    return false;
}

bool IsUrlSchemeName(const std::wstring& name) {
    constexpr size_t kMaxSchemeChars = 64;
    if (name.empty() || name.size() > kMaxSchemeChars || !IsAsciiLetter(name[0])) return false;
    for (const wchar_t c : name) {
        const bool digit = c >= L'0' && c <= L'9';
        if (!IsAsciiLetter(c) && !digit && c != L'+' && c != L'-' && c != L'.') return false;
    }
    return true;
}

bool IsPlainRuleName(const std::wstring& name) {
    constexpr size_t kMaxRuleChars = 255;
    if (name.empty() || name.size() > kMaxRuleChars || name.front() == L' ' || name.back() == L' ') return false;
    // netsh reads "name=all" as every rule of the machine.
    if (::CompareStringOrdinal(name.c_str(), -1, L"all", -1, TRUE) == CSTR_EQUAL) return false;
    for (const wchar_t c : name) {
        if (c == L' ' || c == L'-' || c == L'_' || c == L'.') continue;
        WORD type = 0;
        if (!::GetStringTypeW(CT_CTYPE1, &c, 1, &type) || (type & (C1_ALPHA | C1_DIGIT)) == 0) return false;
        if (c >= 0xD800 && c <= 0xDFFF) return false;  // no surrogate halves
    }
    return true;
}
