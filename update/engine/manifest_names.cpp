#include "engine/manifest_names.h"

#include <windows.h>

#include "diag/command_values.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// A level that Windows would resolve to the same or the parent folder.
bool IsDotsAndBlanks(const std::wstring& level) {
    return level.find_first_not_of(L". ") == std::wstring::npos;
}

// CompareStringOrdinal's answer (CSTR_LESS_THAN, CSTR_EQUAL, CSTR_GREATER_THAN)
// for the two names with unified separators, ignoring case.
int CompareNames(const std::wstring& a, const std::wstring& b) {
    const std::wstring left = WithBackslashes(a);
    const std::wstring right = WithBackslashes(b);
    return ::CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                  static_cast<int>(right.size()), TRUE);
}

}  // namespace

std::wstring WithBackslashes(const std::wstring& name) {
    std::wstring text = name;
    for (wchar_t& c : text) {
        if (c == L'/') c = L'\\';
    }
    return text;
}

bool IsContainedManifestName(const std::wstring& name) {
    if (name.empty() || IsSeparator(name.front())) return false;
    if (name.find(L':') != std::wstring::npos || HasControlCharacter(name)) return false;
    size_t start = 0;
    for (;;) {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        if (IsDotsAndBlanks(name.substr(start, end - start))) return false;
        if (end == name.size()) return true;
        start = end + 1;
    }
}

bool SameManifestName(const std::wstring& a, const std::wstring& b) { return CompareNames(a, b) == CSTR_EQUAL; }

bool ManifestNameLess::operator()(const std::wstring& a, const std::wstring& b) const {
    return CompareNames(a, b) == CSTR_LESS_THAN;
}
