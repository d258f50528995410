// Reading the imported library names of PE32 and PE32+ files, from images
// built here byte by byte and from a real fixture library.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "diag/pe_imports.h"
#include "support/test_support.h"
#include "velisk/handles.h"

namespace {

using namespace testing_support;

// Layout of the images built here: headers in the first 0x200 bytes, then
// `sections` sections of 0x200 raw bytes, section i at file position
// 0x200 * (i + 1) and address 0x1000 * (i + 1). Section `importSection` holds
// the library names at its start and the import descriptors at offset 0x100.
struct ImageRecipe {
    bool pe32plus = false;
    bool dll = true;
    bool mz = true;
    std::vector<std::string> imports;
    bool terminator = true;   // false: the file ends right after the last descriptor
    int sections = 1;
    int importSection = 0;
    bool importDirectory = true;
    uint32_t nameRvaOverride = 0;  // non-zero: every name address is this
    size_t cutAt = 0;              // non-zero: the file ends here
};

template <typename T>
void Put(std::string& image, size_t at, T value) {
    if (image.size() < at + sizeof(T)) image.resize(at + sizeof(T), '\0');
    std::memcpy(image.data() + at, &value, sizeof(T));
}

std::string BuildImage(const ImageRecipe& recipe) {
    std::string image(0x200 * (recipe.sections + 1), '\0');
    if (recipe.mz) Put<uint16_t>(image, 0, 0x5A4D);
    const size_t nt = 0x40;
    Put<uint32_t>(image, 60, nt);
    Put<uint32_t>(image, nt, 0x00004550);
    const size_t fileHeader = nt + 4;
    Put<uint16_t>(image, fileHeader + 0, recipe.pe32plus ? 0x8664 : 0x14C);
    Put<uint16_t>(image, fileHeader + 2, static_cast<uint16_t>(recipe.sections));
    const uint16_t optionalSize = recipe.pe32plus ? 240 : 224;
    Put<uint16_t>(image, fileHeader + 16, optionalSize);
    Put<uint16_t>(image, fileHeader + 18, static_cast<uint16_t>(0x0002 | (recipe.dll ? 0x2000 : 0)));
    const size_t optional = fileHeader + 20;
    Put<uint16_t>(image, optional, recipe.pe32plus ? 0x20B : 0x10B);
    Put<uint32_t>(image, optional + 36, 0x200);  // file alignment
    Put<uint32_t>(image, optional + 60, 0x200);  // size of headers
    const size_t directories = optional + (recipe.pe32plus ? 112 : 96);
    Put<uint32_t>(image, directories - 4, 16);
    // Names at the start of the import section, descriptors at offset 0x100.
    const uint32_t sectionRva = 0x1000 * (recipe.importSection + 1);
    const uint32_t importRva = sectionRva + 0x100;
    if (recipe.importDirectory) {
        Put<uint32_t>(image, directories + 8, importRva);
        Put<uint32_t>(image, directories + 12, 20 * static_cast<uint32_t>(recipe.imports.size() + 1));
    }
    const size_t sectionTable = optional + optionalSize;
    for (int i = 0; i < recipe.sections; ++i) {
        const size_t header = sectionTable + 40 * i;
        Put<uint32_t>(image, header + 12, 0x1000 * (i + 1));  // virtual address
        Put<uint32_t>(image, header + 16, 0x200);             // raw size
        Put<uint32_t>(image, header + 20, 0x200 * (i + 1));   // raw position
    }
    const size_t raw = 0x200 * (recipe.importSection + 1);
    size_t nameAt = 0;
    for (size_t i = 0; i < recipe.imports.size(); ++i) {
        const uint32_t nameRva = recipe.nameRvaOverride ? recipe.nameRvaOverride : sectionRva + static_cast<uint32_t>(nameAt);
        Put<uint32_t>(image, raw + 0x100 + 20 * i + 12, nameRva);
        image.replace(raw + nameAt, recipe.imports[i].size(), recipe.imports[i]);
        nameAt += recipe.imports[i].size() + 1;
    }
    // Without the zero descriptor the file ends right after the list.
    if (!recipe.terminator) image.resize(raw + 0x100 + 20 * recipe.imports.size());
    if (recipe.cutAt != 0) image.resize(recipe.cutAt);
    return image;
}

struct Scan {
    PeImportScan kind;
    std::vector<std::wstring> names;
};

Scan ScanFile(const std::wstring& path) {
    Scan scan{PeImportScan::kNotADll, {}};
    velisk::UniqueFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(file) << WideToUtf8String(path);
    if (file) scan.kind = ReadImportedLibraryNames(file.get(), scan.names);
    return scan;
}

TEST(PeImports, ReadsImportedNamesOfPe32AndPe32PlusDllImages) {
    ScratchDir dir(L"pei");
    const std::vector<std::wstring> two = {L"KERNEL32.dll", L"loader_dep.dll"};
    const std::vector<std::wstring> none;
    ImageRecipe pe32;
    pe32.imports = {"KERNEL32.dll", "loader_dep.dll"};
    ImageRecipe pe64 = pe32;
    pe64.pe32plus = true;
    ImageRecipe exe = pe32;
    exe.dll = false;
    ImageRecipe noMz = pe64;
    noMz.mz = false;
    ImageRecipe noImports = pe64;
    noImports.importDirectory = false;
    ImageRecipe unterminated = pe32;
    unterminated.terminator = false;
    ImageRecipe cut = pe64;
    cut.terminator = false;
    cut.cutAt = 0x200 + 0x100 + 20 + 10;  // inside the second descriptor
    ImageRecipe outside = pe32;
    outside.nameRvaOverride = 0x9000;  // in no section
    ImageRecipe late = pe64;
    late.sections = 33;
    late.importSection = 32;  // only the first 32 section headers count
    ImageRecipe lateOk = late;
    lateOk.importSection = 31;

    const struct {
        const char* name;
        ImageRecipe recipe;
        PeImportScan kind;
        std::vector<std::wstring> names;
    } cases[] = {
        {"PE32 DLL", pe32, PeImportScan::kImports, two},
        {"PE32+ DLL", pe64, PeImportScan::kImports, two},
        {"no DLL flag", exe, PeImportScan::kNotADll, none},
        {"no MZ signature", noMz, PeImportScan::kNotADll, none},
        {"no import directory", noImports, PeImportScan::kImports, none},
        {"no terminating descriptor: the list ends with the file", unterminated, PeImportScan::kImports, two},
        {"a file cut inside the descriptors", cut, PeImportScan::kImports, {L"KERNEL32.dll"}},
        {"name addresses in no section are skipped", outside, PeImportScan::kImports, none},
        {"imports in the 33rd section are not found", late, PeImportScan::kImports, none},
        {"imports in the 32nd section are found", lateOk, PeImportScan::kImports, two},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = dir / (Utf8ToWide(c.name).substr(0, 8) + L".dll");
        ASSERT_TRUE(WriteBytes(path, BuildImage(c.recipe)));
        const Scan scan = ScanFile(path);
        EXPECT_EQ(scan.kind, c.kind);
        EXPECT_EQ(scan.names, c.names);
    }
}

TEST(PeImports, ReadsTheImportsOfARealLinkedLibrary) {
    const Scan scan = ScanFile(BinFile(L"loader_fixtures\\own\\loader_top.dll"));
    EXPECT_EQ(scan.kind, PeImportScan::kImports);
    EXPECT_NE(std::find(scan.names.begin(), scan.names.end(), L"loader_dep.dll"), scan.names.end());
    EXPECT_NE(std::find(scan.names.begin(), scan.names.end(), L"KERNEL32.dll"), scan.names.end());
}

TEST(PeImports, MapsAddressesToFilePositionsThroughAlignedSections) {
    const std::vector<PeSection> sections = {{0x1000, 0x150, 0x400}, {0x2000, 0x200, 0x600}};
    const struct {
        uint32_t rva;
        bool found;
        uint32_t position;
    } cases[] = {
        {0x0, true, 0x0},        {0x3FF, true, 0x3FF},    {0x1000, true, 0x400},
        {0x11F0, true, 0x5F0},   // raw size 0x150 raised to 0x200
        {0x1200, true, 0x600},   // the end of a section's range counts
        {0x2010, true, 0x610},   {0x2201, false, 0},      {0x9000, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rva);
        uint32_t position = 0;
        EXPECT_EQ(RvaToFilePosition(c.rva, 0x400, 0x200, sections, &position), c.found);
        if (c.found) {
            EXPECT_EQ(position, c.position);
        }
    }
}

}  // namespace
