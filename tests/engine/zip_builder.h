// Builds zip archives byte by byte for tests, including malformed ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

constexpr uint32_t kZipFolderAttributes = 0x10;
constexpr uint32_t kZipFileAttributes = 0x20;

struct ZipEntrySpec {
    std::string name;
    std::string data;
    bool deflate = true;
    uint32_t externalAttributes = kZipFileAttributes;
    // Uncompressed size written into both headers (default: the data's size).
    std::optional<uint32_t> statedSize;
};

// The bytes of an archive that holds `entries` in order.
std::string BuildZip(const std::vector<ZipEntrySpec>& entries);

// Offset of the n-th (0-based) central directory record in `archive`.
size_t CentralRecordOffset(const std::string& archive, int n);

}  // namespace testing_support
