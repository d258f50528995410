// Unpacking of downloaded zip archives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The bound of an archive whose entries' sizes nobody listed: 4 GiB - 1 in
// all, the most a file archive can hold as the downloader bounds it.
constexpr uint64_t kDefaultMaxUnpackBytes = 0xFFFFFFFFull;

// Unpacks every entry of the zip archive at `archivePath` into `folder`
// (a separator is added when it does not end with one). Entries are handled
// in archive order and the first failure stops the extraction; files
// already written stay. Returns true only when every entry was unpacked.
// An entry fails when:
// - it is a folder entry (attributes exactly 0x10) and the folder cannot be
//   created, including when it exists already (one level is created);
// - it is an empty file, or its parent folder does not exist;
// - its name is absolute, has a drive letter or a colon, climbs out with
//   "..", holds a component of only dots and blanks, or is longer than 255
//   bytes: nothing is then written, inside or outside `folder`;
// - its data cannot be read or inflated, or ends before the stated size.
// An archive that cannot be opened, has no entries or whose directory
// breaks off part-way gives false. Entry names are taken as ASCII.
// The sizes that the entries state add up to at most `maxBytes`, checked
// over the whole directory before anything is written (one WARNING line
// naming the archive otherwise), and no entry is written past its stated
// size, so the bytes unpacked never exceed `maxBytes`.
bool ExtractZip(const std::wstring& folder, const std::wstring& archivePath,
                uint64_t maxBytes = kDefaultMaxUnpackBytes);

// Like ExtractZip, for an archive that must hold only the files it is made
// for: every entry must be a file entry whose name is exactly one of
// `allowedNames` (bare names, compared with case), none twice, and at least
// one entry. Any other entry (another name, a folder, a name with a path
// that climbs out) makes it return false before anything is written, and so
// does a total of stated sizes past `maxBytes`, as for ExtractZip.
bool ExtractNamedFiles(const std::wstring& folder, const std::wstring& archivePath,
                       const std::vector<std::wstring>& allowedNames, uint64_t maxBytes = kDefaultMaxUnpackBytes);
