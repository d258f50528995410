#include "diag/pe_imports.h"

#include <cstring>

namespace {

constexpr uint16_t kDosSignature = 0x5A4D;      // "MZ"
constexpr uint32_t kNtSignature = 0x00004550;   // "PE\0\0"
constexpr uint16_t kDllFlag = 0x2000;           // IMAGE_FILE_DLL
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr size_t kMaxSections = 32;
constexpr size_t kNameBytes = 255;

// Offsets inside the optional header.
constexpr size_t kFileAlignmentOffset = 36;
constexpr size_t kSizeOfHeadersOffset = 60;
constexpr size_t kPe32DataDirectories = 96;
constexpr size_t kPe32PlusDataDirectories = 112;
constexpr size_t kImportDirectoryEntry = 1;

constexpr size_t kFileHeaderSize = 20;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kImportDescriptorSize = 20;

// Reads up to `size` bytes at `position`; returns the number read.
size_t ReadAt(HANDLE file, uint64_t position, void* buffer, size_t size) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    if (!::SetFilePointerEx(file, to, nullptr, FILE_BEGIN)) return 0;
    DWORD read = 0;
    if (!::ReadFile(file, buffer, static_cast<DWORD>(size), &read, nullptr)) return 0;
    return read;
}

bool ReadExactly(HANDLE file, uint64_t position, void* buffer, size_t size) {
    return ReadAt(file, position, buffer, size) == size;
}

template <typename T>
T Field(const unsigned char* bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes + offset, sizeof(T));
    return value;
}

struct ImageLayout {
    uint32_t fileAlignment = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t importRva = 0;
    std::vector<PeSection> sections;
};

// Reads the headers of a DLL image; false for anything that is not one.
bool ReadLayout(HANDLE file, ImageLayout& layout) {
    unsigned char dos[64];
    if (!ReadExactly(file, 0, dos, sizeof(dos)) || Field<uint16_t>(dos, 0) != kDosSignature) return false;
    const uint32_t ntOffset = Field<uint32_t>(dos, 60);

    unsigned char head[4 + kFileHeaderSize];
    if (!ReadExactly(file, ntOffset, head, sizeof(head)) || Field<uint32_t>(head, 0) != kNtSignature) return false;
    const uint16_t sectionCount = Field<uint16_t>(head, 4 + 2);
    const uint16_t optionalSize = Field<uint16_t>(head, 4 + 16);
    const uint16_t characteristics = Field<uint16_t>(head, 4 + 18);
    if ((characteristics & kDllFlag) == 0) return false;

    const uint64_t optionalAt = uint64_t{ntOffset} + sizeof(head);
    unsigned char optional[kPe32PlusDataDirectories + 16 * 8] = {};
    const size_t optionalRead = ReadAt(file, optionalAt, optional, sizeof(optional));
    if (optionalRead < 2) return false;
    const uint16_t magic = Field<uint16_t>(optional, 0);
    size_t directories;
    if (magic == kPe32Magic) {
        directories = kPe32DataDirectories;
    } else if (magic == kPe32PlusMagic) {
        directories = kPe32PlusDataDirectories;
    } else {
        return false;
    }
    if (optionalRead < directories) return false;
    layout.fileAlignment = Field<uint32_t>(optional, kFileAlignmentOffset);
    layout.sizeOfHeaders = Field<uint32_t>(optional, kSizeOfHeadersOffset);
    // An image whose directory table stops before the import entry imports nothing.
    const uint32_t directoryCount = Field<uint32_t>(optional, directories - 4);
    const size_t importEntry = directories + kImportDirectoryEntry * 8;
    if (directoryCount > kImportDirectoryEntry && optionalRead >= importEntry + 8 &&
        optionalSize >= importEntry + 8) {
        layout.importRva = Field<uint32_t>(optional, importEntry);
    }

    const size_t count = sectionCount < kMaxSections ? sectionCount : kMaxSections;
    const uint64_t sectionsAt = optionalAt + optionalSize;
    for (size_t i = 0; i < count; ++i) {
        unsigned char header[kSectionHeaderSize];
        if (!ReadExactly(file, sectionsAt + i * kSectionHeaderSize, header, sizeof(header))) break;
        PeSection section;
        section.virtualAddress = Field<uint32_t>(header, 12);
        section.sizeOfRawData = Field<uint32_t>(header, 16);
        section.pointerToRawData = Field<uint32_t>(header, 20);
        layout.sections.push_back(section);
    }
    return true;
}

std::wstring AnsiToWide(const char* text, size_t length) {
    if (length == 0) return {};
    wchar_t wide[kNameBytes + 1] = {};
    const int n = ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), wide, kNameBytes);
    return std::wstring(wide, n > 0 ? static_cast<size_t>(n) : 0);
}

// The library name at `rva`, or an empty text when it cannot be read.
std::wstring ReadName(HANDLE file, const ImageLayout& layout, uint32_t rva) {
    uint32_t position = 0;
    if (!RvaToFilePosition(rva, layout.sizeOfHeaders, layout.fileAlignment, layout.sections, &position)) return {};
    char bytes[kNameBytes + 1] = {};
    const size_t read = ReadAt(file, position, bytes, kNameBytes);
    return AnsiToWide(bytes, ::strnlen(bytes, read));
}

}  // namespace

bool RvaToFilePosition(uint32_t rva, uint32_t sizeOfHeaders, uint32_t fileAlignment,
                       const std::vector<PeSection>& sections, uint32_t* position) {
    if (rva < sizeOfHeaders) {
        *position = rva;
        return true;
    }
    for (const auto& s : sections) {
        uint64_t size = s.sizeOfRawData;
        if (fileAlignment != 0) size = (size + fileAlignment - 1) / fileAlignment * fileAlignment;
        if (rva >= s.virtualAddress && uint64_t{rva} <= uint64_t{s.virtualAddress} + size) {
            *position = s.pointerToRawData + (rva - s.virtualAddress);
            return true;
        }
    }
    return false;
}

PeImportScan ReadImportedLibraryNames(HANDLE file, std::vector<std::wstring>& names) {
    names.clear();
    ImageLayout layout;
    if (!ReadLayout(file, layout)) return PeImportScan::kNotADll;
    uint32_t position = 0;
    if (layout.importRva == 0 ||
        !RvaToFilePosition(layout.importRva, layout.sizeOfHeaders, layout.fileAlignment, layout.sections,
                           &position)) {
        return PeImportScan::kImports;
    }
    for (uint64_t at = position;; at += kImportDescriptorSize) {
        unsigned char descriptor[kImportDescriptorSize];
        if (!ReadExactly(file, at, descriptor, sizeof(descriptor))) break;
        const uint32_t nameRva = Field<uint32_t>(descriptor, 12);
        if (nameRva == 0) break;
        std::wstring name = ReadName(file, layout, nameRva);
        if (!name.empty()) names.push_back(std::move(name));
    }
    return PeImportScan::kImports;
}
