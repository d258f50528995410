#include "engine/version_ini.h"

#include <windows.h>

#include <cwchar>
#include <regex>

#include "engine/ini_line_reader.h"

namespace {

int CopyCut(const std::wstring& value, wchar_t* buffer, int size) {
    const int n = static_cast<int>(value.size() < static_cast<size_t>(size - 1) ? value.size()
                                                                                 : size - 1);
    std::wmemset(buffer, 0, static_cast<size_t>(size));
    std::wmemcpy(buffer, value.data(), static_cast<size_t>(n));
    return n;
}

}  // namespace

int GetProfileStringUtf8(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                         wchar_t* buffer, int size, const wchar_t* path) {
    if (section == nullptr || key == nullptr || defaultValue == nullptr || buffer == nullptr ||
        path == nullptr || size <= 0) {
        return 0;
    }
    CopyCut(defaultValue, buffer, size);

    IniLineReader reader(path);
    if (!reader.isOpen()) return 0;

    const std::wstring header = std::wstring(L"[") + section + L"]";
    std::wregex keyPattern;
    try {
        keyPattern.assign(std::wstring(L"^(\\s|\\t)*") + key + L"(\\s|\\t)*=(\\s|\\t)*",
                          std::regex_constants::ECMAScript);
    } catch (const std::regex_error&) {
        return 0;  // a key that is not a valid pattern is never found
    }

    bool inSection = false;
    std::wstring line;
    while (reader.Next(line)) {
        if (!inSection) {
            inSection = (line == header);
            continue;
        }
        if (line.empty()) continue;
        if (line[0] == L'[') break;
        std::wsmatch match;
        if (std::regex_search(line, match, keyPattern)) {
            return CopyCut(match.suffix().str(), buffer, size);
        }
    }
    return 0;
}

std::vector<std::wstring> ReadReleaseNotes(const wchar_t* path) {
    std::vector<std::wstring> notes;
    IniLineReader reader(path);
    bool inNotes = false;
    std::wstring line;
    while (reader.Next(line)) {
        if (inNotes) {
            notes.push_back(line);
        } else if (::CompareStringOrdinal(line.c_str(), -1, L"[updateInfo]", -1, TRUE) == CSTR_EQUAL) {
            inNotes = true;
        }
    }
    return notes;
}

std::wstring ReadIniString(const std::wstring& path, const wchar_t* section, const wchar_t* key,
                           const wchar_t* defaultValue, int bufferChars) {
    std::wstring buffer(static_cast<size_t>(bufferChars > 0 ? bufferChars : 1), L'\0');
    const DWORD n = ::GetPrivateProfileStringW(section, key, defaultValue, buffer.data(),
                                               static_cast<DWORD>(buffer.size()), path.c_str());
    buffer.resize(n);
    return buffer;
}

int ReadIniInt(const std::wstring& path, const wchar_t* section, const wchar_t* key,
               int defaultValue) {
    return static_cast<int>(::GetPrivateProfileIntW(section, key, defaultValue, path.c_str()));
}
