#include "engine/plain_paths.h"

#include <windows.h>

#include <algorithm>

#include "velisk/handles.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

bool DeleteOneFile(const std::wstring& path, DWORD attributes) {
    if (::DeleteFileW(path.c_str())) return true;
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return false;
    ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return ::DeleteFileW(path.c_str()) != 0;
}

// Removes what lies inside the real folder `path`; true when it is empty.
bool RemoveFolderContents(const std::wstring& path) {
    WIN32_FIND_DATAW entry = {};
    velisk::UniqueFindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &entry));
    if (!find) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    bool ok = true;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        // A file is deleted with the attributes the listing gave (one
        // look-up less per file); folders and links are looked at again.
        const bool file = (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
        const std::wstring child = path + L"\\" + name;
        if (!(file ? DeleteOneFile(child, entry.dwFileAttributes) : RemoveTreeNoFollow(child))) ok = false;
    } while (::FindNextFileW(find.get(), &entry));
    return ok;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return ::FlushFileBuffers(file) != 0;
}

}  // namespace

bool IsPlainPathBelow(const std::wstring& folder, const std::wstring& relative) {
    std::wstring path = folder;
    if (!path.empty() && !IsSeparator(path.back())) path += L'\\';
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = start;
        while (end < relative.size() && !IsSeparator(relative[end])) ++end;
        path += relative.substr(start, end - start);
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return true;  // nothing further exists
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
        if (end == relative.size()) return true;
        path += L'\\';
        start = end + 1;
    }
    return true;
}

bool RemoveTreeNoFollow(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!folder) return DeleteOneFile(path, attributes);
    if (!link && !RemoveFolderContents(path)) return false;
    if (::RemoveDirectoryW(path.c_str())) return true;
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        return ::RemoveDirectoryW(path.c_str()) != 0;
    }
    return false;
}

std::optional<std::string> ReadFileLimited(const std::wstring& path, uint64_t limit) {
    velisk::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    return ReadOpenFileLimited(file.get(), limit);
}

std::optional<std::string> ReadOpenFileLimited(HANDLE file, uint64_t limit) {
    LARGE_INTEGER size{};
    LARGE_INTEGER start{};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart < 0 || static_cast<uint64_t>(size.QuadPart) > limit ||
        !::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        return std::nullopt;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        if (!::ReadFile(file, bytes.data() + done, want, &got, nullptr) || got == 0) return std::nullopt;
        done += got;
    }
    return bytes;
}

bool WriteFileFlushed(const std::wstring& path, const std::string& bytes) {
    velisk::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    if (WriteAll(file.get(), bytes)) return true;
    file.reset();
    ::DeleteFileW(path.c_str());
    return false;
}

bool AppendFileFlushed(const std::wstring& path, const std::string& bytes) {
    velisk::UniqueFileHandle file(
        ::CreateFileW(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    return WriteAll(file.get(), bytes);
}
