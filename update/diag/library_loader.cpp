#include "diag/library_loader.h"

#include <string>
#include <vector>

#include "diag/pe_imports.h"
#include "velisk/handles.h"

namespace {

struct SearchFolders {
    const wchar_t* const* folders = nullptr;
    int count = 0;
};

// Full paths of the libraries whose dependencies are being loaded, from the
// top library down to the current one.
using VisitStack = std::vector<std::wstring>;

std::wstring FullPath(const std::wstring& path) {
    const DWORD need = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (need == 0) return {};
    std::wstring full(need, L'\0');
    const DWORD n = ::GetFullPathNameW(path.c_str(), need, full.data(), nullptr);
    if (n == 0 || n >= need) return {};
    full.resize(n);
    return full;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

bool IsBeingVisited(const VisitStack& stack, const std::wstring& fullPath) {
    for (const auto& entry : stack) {
        if (SamePath(entry, fullPath)) return true;
    }
    return false;
}

// The folder part of `path` with its separator ("C:\\a\\" of "C:\\a\\b.dll"),
// or an empty text when the path has no separator.
std::wstring FolderWithSeparator(const std::wstring& path) {
    const size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
}

HMODULE Load(const std::wstring& path, const SearchFolders& folders, VisitStack& stack);

void PreloadDependency(const std::wstring& libraryPath, const std::wstring& name, const SearchFolders& folders,
                       VisitStack& stack) {
    if (::GetModuleHandleW(name.c_str()) != nullptr) return;
    const std::wstring candidate = FolderWithSeparator(libraryPath) + name;
    if (Load(candidate, {}, stack) != nullptr) return;
    if (candidate != name && Load(name, {}, stack) != nullptr) return;
    for (int i = 0; i < folders.count; ++i) {
        if (folders.folders[i] == nullptr) continue;
        if (Load(std::wstring(folders.folders[i]) + L"\\" + name, {}, stack) != nullptr) return;
    }
}

HMODULE Load(const std::wstring& path, const SearchFolders& folders, VisitStack& stack) {
    if (path.empty()) return nullptr;
    if (HMODULE loaded = ::GetModuleHandleW(path.c_str())) return loaded;
    // The file that is inspected is the file that is loaded: a relative path
    // is resolved against the current folder here, not by the loader's search.
    const std::wstring full = FullPath(path);
    if (full.empty() || IsBeingVisited(stack, full)) return nullptr;

    std::vector<std::wstring> imports;
    {
        velisk::UniqueFileHandle file(
            ::CreateFileW(full.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file) return nullptr;
        ReadImportedLibraryNames(file.get(), imports);
    }
    stack.push_back(full);
    for (const auto& name : imports) PreloadDependency(full, name, folders, stack);
    stack.pop_back();
    return ::LoadLibraryW(full.c_str());
}

}  // namespace

HMODULE LoadLibraryWithDependencies(const wchar_t* path) { return LoadLibraryWithDependencies(path, nullptr, 0); }

HMODULE LoadLibraryWithDependencies(const wchar_t* path, const wchar_t* const* folders, int folderCount) {
    if (path == nullptr) return nullptr;
    VisitStack stack;
    SearchFolders search;
    if (folders != nullptr && folderCount > 0) {
        search.folders = folders;
        search.count = folderCount;
    }
    return Load(path, search, stack);
}
