// Implementation of file_sha1.h. glog prefixes each line with the source
// file's name, so this file is named after the log unit "FileSHA1" that
// people searching the update logs look for.
#include "engine/file_sha1.h"

#include <share.h>

#include <boost/filesystem.hpp>
#include <boost/system/error_code.hpp>
#include <boost/uuid/detail/sha1.hpp>
#include <glog/logging.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "diag/text_format.h"

namespace {

constexpr size_t kReadBlockBytes = 4194304;  // 4 MiB per read

// One read buffer for the life of the process, shared by every call.
unsigned char g_readBuffer[kReadBlockBytes];

struct StdioCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using UniqueStdioFile = std::unique_ptr<FILE, StdioCloser>;

void StoreDigest(const boost::uuids::detail::sha1::digest_type& words, unsigned char* digest) {
    for (int w = 0; w < 5; ++w) {
        const uint32_t word = words[w];
        for (int b = 0; b < 4; ++b) digest[w * 4 + b] = static_cast<unsigned char>(word >> (8 * b));
    }
}

}  // namespace

bool CalFileSHA1(const std::wstring& path, unsigned char* digest) {
    LOG(INFO) << "CalFileSHA1:" << WideToUtf8Log(path);
    const boost::filesystem::path fsPath(path);
    boost::system::error_code ec;
    if (!boost::filesystem::exists(fsPath, ec)) {
        LOG(INFO) << "no exists";
        return false;
    }
    const uint64_t size = boost::filesystem::file_size(fsPath);  // throws for a folder
    if (size == 0) {
        LOG(INFO) << "0 == size";
        return false;
    }
    UniqueStdioFile file(::_wfsopen(path.c_str(), L"rb", _SH_DENYNO));
    if (!file) {
        LOG(INFO) << "fp == NULL";
        return false;
    }

    boost::uuids::detail::sha1 hasher;
    hasher.reset();
    uint64_t done = 0;
    while (done < size) {
        // Never ask for more than the size taken above, so a file that grows
        // meanwhile is hashed over exactly its first `size` bytes.
        const size_t wanted =
            size - done < kReadBlockBytes ? static_cast<size_t>(size - done) : kReadBlockBytes;
        const size_t got = std::fread(g_readBuffer, 1, wanted, file.get());
        if (got < wanted) {
            LOG(INFO) << "data_len=" << kReadBlockBytes << " read_size=" << got
                      << " len_read+read_size" << done + got << "  file_size" << size;
            return false;
        }
        done += got;
        hasher.process_bytes(g_readBuffer, got);
    }
    file.reset();

    boost::uuids::detail::sha1::digest_type words;
    hasher.get_digest(words);
    StoreDigest(words, digest);
    return true;
}
