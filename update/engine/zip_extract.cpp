#include "engine/zip_extract.h"

#include <windows.h>
#include <share.h>

#include <unzip.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <vector>

#include "diag/text_format.h"
#include "diag/unit_log.h"
#include "engine/zip_wide_io.h"

namespace {

constexpr uint64_t kCopyBufferBytes = 4194304;  // 4 MiB at most per entry
constexpr uLong kEntryNameBytes = 256;           // 255 name bytes and a NUL
constexpr uLong kFolderAttributes = 0x10;

struct StdioCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using UniqueStdioFile = std::unique_ptr<FILE, StdioCloser>;

struct ArchiveCloser {
    void operator()(void* archive) const { unzClose(archive); }
};
using UniqueArchive = std::unique_ptr<void, ArchiveCloser>;

// Keeps the archive's current entry open for reading until destruction.
class OpenEntry {
public:
    explicit OpenEntry(unzFile archive) : m_archive(archive), m_open(unzOpenCurrentFile(archive) == UNZ_OK) {}
    ~OpenEntry() {
        if (m_open) unzCloseCurrentFile(m_archive);
    }
    OpenEntry(const OpenEntry&) = delete;
    OpenEntry& operator=(const OpenEntry&) = delete;
    bool isOpen() const { return m_open; }

private:
    unzFile m_archive;
    bool m_open;
};

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// True when the entry name stays inside the destination by its spelling:
// relative, no drive or stream colon, and no component that Windows would
// treat as "." or ".." (trailing dots and blanks are dropped by Windows, so
// a component of only dots and blanks counts as one). An empty last
// component is the trailing separator of a folder entry.
bool IsRelativeInsideName(const std::string& name) {
    if (name.empty() || IsSeparator(name[0])) return false;
    if (name.find(':') != std::string::npos) return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        const bool last = (end == name.size());
        const std::string component = name.substr(start, end - start);
        if (!(last && component.empty() && start > 0) &&
            component.find_first_not_of(". ") == std::string::npos) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return {};
    std::wstring full(needed, L'\0');
    const DWORD written = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed) return {};
    full.resize(written);
    return full;
}

// Second line of defence after IsRelativeInsideName: the target, resolved
// the way Windows resolves it, lies strictly below the destination folder.
bool ResolvesInside(const std::wstring& dest, const std::wstring& target) {
    std::wstring root = FullPath(dest);
    const std::wstring full = FullPath(target);
    if (root.empty() || full.empty()) return false;
    if (root.back() != L'\\') root += L'\\';
    if (full.size() <= root.size()) return false;
    return ::CompareStringOrdinal(full.c_str(), static_cast<int>(root.size()), root.c_str(),
                                  static_cast<int>(root.size()), TRUE) == CSTR_EQUAL;
}

// Copies the open entry's `size` bytes into `target`; false on a read,
// inflate or write error or when the data ends early.
bool CopyEntryData(unzFile archive, FILE* target, uint64_t size) {
    const uint64_t bufferSize = size < kCopyBufferBytes ? size : kCopyBufferBytes;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[bufferSize + 1]);
    if (!buffer) return false;
    uint64_t remaining = size;
    while (remaining > 0) {
        const int got = unzReadCurrentFile(archive, buffer.get(), static_cast<unsigned>(bufferSize));
        if (got <= 0) return false;  // error, or no data while bytes are still expected
        const uint64_t count = static_cast<uint64_t>(got) < remaining ? static_cast<uint64_t>(got) : remaining;
        if (std::fwrite(buffer.get(), 1, count, target) != count) return false;
        remaining -= count;
    }
    return true;
}

// The entry name the archive stands on, widened byte by byte; nothing when
// it cannot be read or is longer than 255 bytes.
bool CurrentEntryName(unzFile archive, std::wstring& name, unz_file_info64& info) {
    if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
    if (info.size_filename >= kEntryNameBytes) return false;
    char rawName[kEntryNameBytes] = {};
    if (unzGetCurrentFileInfo64(archive, &info, rawName, sizeof(rawName), nullptr, 0, nullptr, 0) != UNZ_OK) {
        return false;
    }
    name.clear();
    for (const char* c = rawName; *c != '\0'; ++c) name += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    return true;
}

// True when every entry of the archive's directory is a file entry named in
// `allowed`, no name comes twice, and the directory reads to its end. Reads
// the directory only; the archive is left on its first entry.
bool HoldsOnlyNamedFiles(unzFile archive, const std::vector<std::wstring>& allowed) {
    std::set<std::wstring> seen;
    int step = unzGoToFirstFile(archive);
    for (; step == UNZ_OK; step = unzGoToNextFile(archive)) {
        std::wstring name;
        unz_file_info64 info{};
        if (!CurrentEntryName(archive, name, info)) return false;
        if (info.external_fa == kFolderAttributes) return false;
        bool named = false;
        for (const std::wstring& candidate : allowed) named = named || candidate == name;
        if (!named || !seen.insert(name).second) return false;
    }
    return step == UNZ_END_OF_LIST_OF_FILE && !seen.empty();
}

// True when the sizes that the archive's entries state add up to at most
// `maxBytes`; otherwise logs the one WARNING line of the refusal. Reads the
// directory only. A directory that cannot be read through passes here and
// fails the extraction itself.
bool StatedSizesWithin(unzFile archive, uint64_t maxBytes, const std::wstring& archivePath) {
    uint64_t total = 0;
    for (int step = unzGoToFirstFile(archive); step == UNZ_OK; step = unzGoToNextFile(archive)) {
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return true;
        if (info.uncompressed_size > maxBytes - total) {
            UPDATER_LOG(WARNING) << "archive refused: entries unpack past the bound, entry bytes="
                                 << info.uncompressed_size << " after=" << total << " bound=" << maxBytes
                                 << " archive=" << WideToUtf8Log(archivePath);
            return false;
        }
        total += info.uncompressed_size;
    }
    return true;
}

// Unpacks the entry the archive stands on into `dest` (ends with a separator).
bool ExtractCurrentEntry(unzFile archive, const std::wstring& dest) {
    unz_file_info64 info{};
    std::wstring name;
    if (!CurrentEntryName(archive, name, info)) return false;  // longer names would be cut to others
    if (!IsRelativeInsideName(std::string(name.begin(), name.end()))) return false;
    const std::wstring path = dest + name;
    if (!ResolvesInside(dest, path)) return false;

    if (info.external_fa == kFolderAttributes) return ::CreateDirectoryW(path.c_str(), nullptr) != 0;
    if (info.uncompressed_size == 0) return false;

    OpenEntry entry(archive);
    if (!entry.isOpen()) return false;
    UniqueStdioFile target(::_wfsopen(path.c_str(), L"wb", _SH_DENYNO));
    if (!target) return false;
    return CopyEntryData(archive, target.get(), info.uncompressed_size);
}

// Unpacks every entry; with `allowed` set, only an archive that holds
// nothing but those names (checked before anything is written).
bool Extract(const std::wstring& folder, const std::wstring& archivePath, const std::vector<std::wstring>* allowed,
             uint64_t maxBytes) {
    if (folder.empty()) return false;  // would otherwise mean the root of the current drive
    zlib_filefunc_def functions;
    FillWideFileFunctions(&functions);
    UniqueArchive archive(unzOpen2(reinterpret_cast<const char*>(archivePath.c_str()), &functions));
    if (!archive) return false;
    if (allowed != nullptr && !HoldsOnlyNamedFiles(archive.get(), *allowed)) return false;
    if (!StatedSizesWithin(archive.get(), maxBytes, archivePath)) return false;

    std::wstring dest = folder;
    if (dest.back() != L'\\' && dest.back() != L'/') dest += L'\\';

    bool result = false;
    int step = unzGoToFirstFile(archive.get());
    for (; step == UNZ_OK; step = unzGoToNextFile(archive.get())) {
        result = ExtractCurrentEntry(archive.get(), dest);
        if (!result) return false;
    }
    // A directory that breaks off part-way must not pass for a shorter archive.
    return result && step == UNZ_END_OF_LIST_OF_FILE;
}

}  // namespace

bool ExtractZip(const std::wstring& folder, const std::wstring& archivePath, uint64_t maxBytes) {
    return Extract(folder, archivePath, nullptr, maxBytes);
}

bool ExtractNamedFiles(const std::wstring& folder, const std::wstring& archivePath,
                       const std::vector<std::wstring>& allowedNames, uint64_t maxBytes) {
    return Extract(folder, archivePath, &allowedNames, maxBytes);
}
