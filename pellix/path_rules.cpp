#include "path_rules.h"

#include <windows.h>

namespace pellix {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool EqualIgnoringCase(const wchar_t* a, const wchar_t* b, size_t length) {
    if (length == 0) return true;
    return ::CompareStringOrdinal(a, static_cast<int>(length), b, static_cast<int>(length), TRUE) ==
           CSTR_EQUAL;
}

}  // namespace

bool HasProgramExtension(const std::wstring& path) {
    const size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos) return false;
    const size_t length = path.size() - dot;
    if (length != 4) return false;
    return EqualIgnoringCase(path.c_str() + dot, L".exe", 4) || EqualIgnoringCase(path.c_str() + dot, L".lnk", 4);
}

bool PathExists(const std::wstring& path) {
    return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsPathInsideFolder(const std::wstring& path, const std::wstring& folder) {
    size_t length = folder.size();
    while (length > 0 && IsSeparator(folder[length - 1])) --length;
    if (length == 0) return true;
    if (path.size() < length || !EqualIgnoringCase(path.c_str(), folder.c_str(), length)) return false;
    return path.size() == length || IsSeparator(path[length]);
}

std::wstring IconLocationFor(const std::wstring& uninstallerPath) {
    static const wchar_t kIconName[] = L"logo.ico";
    const size_t cut = uninstallerPath.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return kIconName;
    return uninstallerPath.substr(0, cut + 1) + kIconName;
}

}  // namespace pellix
