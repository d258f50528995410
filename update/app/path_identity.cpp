#include "app/path_identity.h"

#include <windows.h>

namespace {

constexpr DWORD kMaxPathChars = 32767;

std::wstring FullPathName(const std::wstring& path) {
    std::wstring buffer(MAX_PATH, L'\0');
    DWORD n = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n >= buffer.size() && n <= kMaxPathChars) {
        buffer.resize(n);
        n = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    }
    if (n == 0 || n >= buffer.size()) return L"";
    buffer.resize(n);
    return buffer;
}

// The long form of the longest existing prefix of `path`, followed by the
// rest as it is: a file that does not exist yet still resolves.
std::wstring LongPathName(const std::wstring& path) {
    size_t end = path.size();
    while (true) {
        const std::wstring head = path.substr(0, end);
        std::wstring buffer(MAX_PATH, L'\0');
        DWORD n = ::GetLongPathNameW(head.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n >= buffer.size() && n <= kMaxPathChars) {
            buffer.resize(n);
            n = ::GetLongPathNameW(head.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        }
        if (n != 0 && n < buffer.size()) {
            buffer.resize(n);
            return buffer + path.substr(end);
        }
        const size_t cut = path.rfind(L'\\', end == 0 ? 0 : end - 1);
        if (cut == std::wstring::npos || cut == 0) return path;
        end = cut;
    }
}

bool EqualIgnoringCase(const wchar_t* a, int aLength, const wchar_t* b, int bLength) {
    return ::CompareStringOrdinal(a, aLength, b, bLength, TRUE) == CSTR_EQUAL;
}

}  // namespace

std::wstring WithTrailingSeparator(const std::wstring& dir) {
    if (!dir.empty() && (dir.back() == L'\\' || dir.back() == L'/')) return dir;
    return dir + L"\\";
}

std::wstring CanonicalPath(const std::wstring& path) {
    if (path.empty()) return L"";
    std::wstring text = path;
    for (auto& c : text) c = (c == L'/') ? L'\\' : c;
    std::wstring full = FullPathName(text);
    if (full.empty()) return L"";
    full = LongPathName(full);
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    return full;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    const std::wstring left = CanonicalPath(a);
    const std::wstring right = CanonicalPath(b);
    return !left.empty() && EqualIgnoringCase(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                              static_cast<int>(right.size()));
}

bool IsPathInside(const std::wstring& path, const std::wstring& folder) {
    const std::wstring inner = CanonicalPath(path);
    std::wstring outer = CanonicalPath(folder);
    if (inner.empty() || outer.empty()) return false;
    if (outer.back() != L'\\') outer += L'\\';
    return inner.size() > outer.size() &&
           EqualIgnoringCase(inner.c_str(), static_cast<int>(outer.size()), outer.c_str(),
                             static_cast<int>(outer.size()));
}
