// Implementation of file_copy.h. The common cases are answered with one
// attribute query; anything unusual is handed to Boost.Filesystem, so the
// results and the errors thrown stay those of Boost's own calls.
#include "engine/file_copy.h"

#include <windows.h>

#include <boost/filesystem.hpp>
#include <boost/system/error_code.hpp>

#include "velisk/handles.h"

namespace fs = boost::filesystem;

namespace {

constexpr DWORD kCopyBufferBytes = 1u << 20;

// The attributes a copy takes over from its source (as CopyFile does);
// compression and encryption cannot be set at creation.
constexpr DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// One buffer for the life of the process: the install copy runs on the
// engine's worker thread, one file at a time.
unsigned char g_copyBuffer[kCopyBufferBytes];

bool Present(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

[[noreturn]] void ThrowCopyError(DWORD error, const std::wstring& source, const std::wstring& destination) {
    throw fs::filesystem_error("boost::filesystem::copy_file", fs::path(source), fs::path(destination),
                               boost::system::error_code(static_cast<int>(error), boost::system::system_category()));
}

// Copies every byte from `in` to `out`; returns 0 or the system error.
DWORD CopyContents(HANDLE in, HANDLE out) {
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(in, g_copyBuffer, kCopyBufferBytes, &got, nullptr)) return ::GetLastError();
        if (got == 0) return 0;
        DWORD written = 0;
        if (!::WriteFile(out, g_copyBuffer, got, &written, nullptr)) return ::GetLastError();
        if (written != got) return ERROR_WRITE_FAULT;
    }
}

// No sharing for the destination: while the source is open, a name that
// leads to the same file cannot be opened, so it is never cut short.
HANDLE OpenDestination(const std::wstring& destination, DWORD attributes) {
    return ::CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                         attributes | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// True when a failed open of `source` means that nothing is there. "Path not
// found" may also come from a name that runs through a file; Boost decides
// that case (it throws what is not plainly "not there").
bool SourceMissing(DWORD error, const std::wstring& source) {
    if (error == ERROR_FILE_NOT_FOUND) return true;
    return error == ERROR_PATH_NOT_FOUND && !fs::exists(fs::path(source));
}

}  // namespace

void CreateParentFolders(const std::wstring& path) {
    const fs::path parent = fs::path(path).parent_path();
    if (parent.empty() || Present(parent.wstring())) return;
    fs::create_directories(parent);
}

CopySource CopyFileOver(const std::wstring& source, const std::wstring& destination) {
    velisk::UniqueFileHandle in(::CreateFileW(source.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in && SourceMissing(::GetLastError(), source)) return CopySource::kMissing;
    if (!in) ThrowCopyError(::GetLastError(), source, destination);
    CopyOpenFileOver(in.get(), source, destination);
    return CopySource::kCopied;
}

void CopyOpenFileOver(HANDLE in, const std::wstring& source, const std::wstring& destination) {
    BY_HANDLE_FILE_INFORMATION info = {};
    LARGE_INTEGER start = {};
    if (!::GetFileInformationByHandle(in, &info) || !::SetFilePointerEx(in, start, nullptr, FILE_BEGIN)) {
        ThrowCopyError(::GetLastError(), source, destination);
    }

    // An existing destination is written over in place and then cut to
    // length: truncating it first makes the file system free and allocate
    // every block again, which costs more than the copy itself.
    const DWORD attributes = info.dwFileAttributes & kCopiedAttributes;
    const DWORD createAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    velisk::UniqueFileHandle out(OpenDestination(destination, createAttributes));
    if (!out && ::GetLastError() == ERROR_PATH_NOT_FOUND) {
        CreateParentFolders(destination);
        out.reset(OpenDestination(destination, createAttributes));
    }
    if (!out) ThrowCopyError(::GetLastError(), source, destination);
    const bool replaced = ::GetLastError() == ERROR_ALREADY_EXISTS;

    DWORD error = CopyContents(in, out.get());
    if (error == 0 && !::SetEndOfFile(out.get())) error = ::GetLastError();
    if (error == 0 && !::FlushFileBuffers(out.get())) error = ::GetLastError();
    if (error == 0) {
        // The source's last-write time, and for a replaced file the source's
        // attributes (a new file got them at creation), as CopyFile keeps them.
        FILE_BASIC_INFO basic = {};
        basic.LastWriteTime.LowPart = info.ftLastWriteTime.dwLowDateTime;
        basic.LastWriteTime.HighPart = static_cast<LONG>(info.ftLastWriteTime.dwHighDateTime);
        basic.FileAttributes = replaced ? createAttributes : 0;  // 0 leaves them as they are
        ::SetFileInformationByHandle(out.get(), FileBasicInfo, &basic, sizeof(basic));
    }
    if (!::CloseHandle(out.release()) && error == 0) error = ::GetLastError();
    if (error != 0) {
        // An incomplete copy is worse than none.
        ::SetFileAttributesW(destination.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(destination.c_str());
        ThrowCopyError(error, source, destination);
    }
}

bool MoveFileCreatingFolders(const std::wstring& from, const std::wstring& to) {
    constexpr DWORD kFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (::MoveFileExW(from.c_str(), to.c_str(), kFlags)) return true;
    if (::GetLastError() != ERROR_PATH_NOT_FOUND) return false;
    try {
        CreateParentFolders(to);
    } catch (const std::exception&) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return ::MoveFileExW(from.c_str(), to.c_str(), kFlags) != 0;
}
