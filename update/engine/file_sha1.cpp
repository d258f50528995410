// Implementation of file_sha1.h. Log lines carry the unit name "FileSHA1".
#include "engine/file_sha1.h"

#include <windows.h>

#include <boost/filesystem.hpp>
#include <boost/system/error_code.hpp>

#include <cstdint>
#include <ios>

#include "diag/text_format.h"
#include "diag/unit_log.h"
#include "engine/file_block_reader.h"
#include "engine/sha1_hasher.h"
#include "velisk/handles.h"

namespace {

// What a file-system query at the path found.
struct PathFacts {
    bool exists = false;
    uint64_t size = 0;
};

// Existence and size in one query. A folder fails the size query the way
// boost::filesystem::file_size does (by throwing its filesystem_error); a
// link or other reparse point is measured through Boost, which follows it.
PathFacts QueryPath(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return {};
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        const boost::filesystem::path fsPath(path);
        boost::system::error_code ec;
        if (!boost::filesystem::exists(fsPath, ec)) return {};
        return PathFacts{true, boost::filesystem::file_size(fsPath)};  // throws for a folder
    }
    return PathFacts{true, (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow};
}

enum class HashResult { kDone, kShortRead, kHasherFailed };

// Hashes the first `size` bytes of `file` from its current position, each
// 4 MiB block as its bytes arrive.
HashResult HashOpenFile(HANDLE file, uint64_t size, Sha1Hasher& hasher, unsigned char* digest) {
    if (!hasher.Begin()) return HashResult::kHasherFailed;
    FileBlockReader reader(file, size);
    uint64_t done = 0;
    while (done < size) {
        const uint64_t blockEnd = size - done < kFileReadBlockBytes ? size : done + kFileReadBlockBytes;
        uint64_t at = done;
        while (at < blockEnd) {
            const FileSpan span = reader.Read(at, blockEnd);
            if (span.size == 0) break;  // the file ended short
            if (!hasher.Add(span.data, span.size)) return HashResult::kHasherFailed;
            at += span.size;
        }
        const uint64_t got = at - done;
        if (got < kFileReadBlockBytes && at != size) {
            FILESHA1_LOG(INFO) << "data_len=" << kFileReadBlockBytes << " read_size=" << got << " len_read+read_size" << at
                      << "  file_size" << size;
            return HashResult::kShortRead;
        }
        done = at;
    }
    return hasher.Finish(digest) ? HashResult::kDone : HashResult::kHasherFailed;
}

// Hashes the first `size` bytes of `file` from its current position into
// `digest`; CNG first, Boost when CNG fails half way.
bool HashWholeFile(HANDLE file, uint64_t size, unsigned char* digest) {
    unsigned char computed[kFileDigestBytes];
    HashResult result = HashOpenFile(file, size, FileDigestHasher(), computed);
    if (result == HashResult::kHasherFailed) {
        // CNG failed half way: the rest of the run hashes with Boost, this
        // file again from its start.
        FILESHA1_LOG(WARNING) << "CNG SHA-1 fail status=0x" << std::hex << FileDigestHasher().LastStatus();
        FallBackToBoostSha1();
        LARGE_INTEGER start = {};
        result = ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)
                     ? HashOpenFile(file, size, FileDigestHasher(), computed)
                     : HashResult::kShortRead;
    }
    if (result != HashResult::kDone) return false;
    for (size_t i = 0; i < kFileDigestBytes; ++i) digest[i] = computed[i];
    return true;
}

}  // namespace

bool CalFileSHA1(const std::wstring& path, unsigned char* digest) {
    FILESHA1_LOG(INFO) << "CalFileSHA1:" << WideToUtf8Log(path);
    const PathFacts facts = QueryPath(path);
    if (!facts.exists) {
        FILESHA1_LOG(INFO) << "no exists";
        return false;
    }
    if (facts.size == 0) {
        FILESHA1_LOG(INFO) << "0 == size";
        return false;
    }
    // Shared with other readers and writers, like a C runtime open without a
    // sharing restriction; the reads go front to back.
    velisk::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        FILESHA1_LOG(INFO) << "fp == NULL";
        return false;
    }

    return HashWholeFile(file.get(), facts.size, digest);
}

bool CalOpenFileSHA1(HANDLE file, unsigned char* digest) {
    LARGE_INTEGER size = {};
    LARGE_INTEGER start = {};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart <= 0 || !::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        FILESHA1_LOG(INFO) << "0 == size";
        return false;
    }
    return HashWholeFile(file, static_cast<uint64_t>(size.QuadPart), digest);
}
