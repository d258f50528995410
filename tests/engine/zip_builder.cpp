#include "zip_builder.h"

#include <zlib.h>

#include <stdexcept>

namespace testing_support {

namespace {

void Put16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

std::string RawDeflate(const std::string& data) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(stream.total_out);
    return out;
}

// The fields shared by the local and the central header, from "version
// needed" to the name length.
void PutCommonFields(std::string& out, const ZipEntrySpec& e, uint32_t crc, uint32_t packedSize) {
    Put16(out, 20);                        // version needed
    Put16(out, 0);                         // flags
    Put16(out, e.deflate ? 8 : 0);         // method
    Put16(out, 0);                         // time
    Put16(out, 0x21);                      // date: 1980-01-01
    Put32(out, crc);
    Put32(out, packedSize);
    Put32(out, e.statedSize.value_or(static_cast<uint32_t>(e.data.size())));
    Put16(out, static_cast<uint32_t>(e.name.size()));
}

}  // namespace

std::string BuildZip(const std::vector<ZipEntrySpec>& entries) {
    std::string archive;
    std::string central;
    for (const auto& e : entries) {
        const std::string packed = e.deflate ? RawDeflate(e.data) : e.data;
        const uint32_t crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
        const auto localOffset = static_cast<uint32_t>(archive.size());

        Put32(archive, 0x04034b50);
        PutCommonFields(archive, e, crc, static_cast<uint32_t>(packed.size()));
        Put16(archive, 0);  // extra length
        archive += e.name;
        archive += packed;

        Put32(central, 0x02014b50);
        Put16(central, 20);  // made by: MS-DOS attributes
        PutCommonFields(central, e, crc, static_cast<uint32_t>(packed.size()));
        Put16(central, 0);   // extra length
        Put16(central, 0);   // comment length
        Put16(central, 0);   // disk
        Put16(central, 0);   // internal attributes
        Put32(central, e.externalAttributes);
        Put32(central, localOffset);
        central += e.name;
    }
    const auto centralOffset = static_cast<uint32_t>(archive.size());
    archive += central;
    Put32(archive, 0x06054b50);
    Put16(archive, 0);
    Put16(archive, 0);
    Put16(archive, static_cast<uint32_t>(entries.size()));
    Put16(archive, static_cast<uint32_t>(entries.size()));
    Put32(archive, static_cast<uint32_t>(central.size()));
    Put32(archive, centralOffset);
    Put16(archive, 0);
    return archive;
}

size_t CentralRecordOffset(const std::string& archive, int n) {
    const std::string signature("PK\x01\x02", 4);
    size_t at = archive.find(signature);
    for (int i = 0; i < n && at != std::string::npos; ++i) at = archive.find(signature, at + 4);
    return at;
}

}  // namespace testing_support
