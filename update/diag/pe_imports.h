// Reading the names of the libraries that a PE image file imports at load
// time, without loading it. Both image kinds are read: PE32 (32-bit) and
// PE32+ (64-bit), whose optional headers put the import directory at
// different offsets.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// What the import walk needs from one section header.
struct PeSection {
    uint32_t virtualAddress = 0;
    uint32_t sizeOfRawData = 0;
    uint32_t pointerToRawData = 0;
};

// The file position of relative virtual address `rva`: an address below
// `sizeOfHeaders` is its own position; otherwise the first section whose range
// from its virtual address up to and including virtual address + raw size
// (raised to the next multiple of `fileAlignment`) holds it. Returns false
// when the address lies in no section.
bool RvaToFilePosition(uint32_t rva, uint32_t sizeOfHeaders, uint32_t fileAlignment,
                       const std::vector<PeSection>& sections, uint32_t* position);

enum class PeImportScan {
    kNotADll,   // no "MZ" signature, no "PE" header, or the DLL flag is clear
    kImports,   // a DLL image; `names` holds its imported libraries
};

// Reads the open file `file` (read access, position is moved) as a PE image.
// For a DLL image fills `names` with the imported library names in file
// order (each up to 255 bytes, ANSI code page, converted to wide text),
// stopping at the descriptor whose name address is 0 or at the end of the
// file. Only the first 32 section headers are looked at. A DLL without an
// import directory gives no names.
PeImportScan ReadImportedLibraryNames(HANDLE file, std::vector<std::wstring>& names);
