#include "engine/manifest_names.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// A level that Windows would resolve to the same or the parent folder.
bool IsDotsAndBlanks(const std::wstring& level) {
    return level.find_first_not_of(L". ") == std::wstring::npos;
}

}  // namespace

bool IsContainedManifestName(const std::wstring& name) {
    if (name.empty() || IsSeparator(name.front())) return false;
    if (name.find(L':') != std::wstring::npos) return false;
    size_t start = 0;
    for (;;) {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        if (IsDotsAndBlanks(name.substr(start, end - start))) return false;
        if (end == name.size()) return true;
        start = end + 1;
    }
}
