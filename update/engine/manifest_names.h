// Which manifest names the engine may turn into paths below a folder, and
// when two manifest names name the same file.
#pragma once

#include <set>
#include <string>

// True when `name` (a manifest name, "/" or "\\" between levels) names a
// place inside the folder it is relative to: not empty, not absolute (no
// leading separator), no drive letter or other colon, no control character,
// and no level that is empty or made of dots and blanks only (so no "..",
// which Windows would also make of ".. " or "..."). Such names are refused
// before any download, copy or deletion.
bool IsContainedManifestName(const std::wstring& name);

// `name` with every "/" turned into "\\" (a manifest name as a Windows path).
std::wstring WithBackslashes(const std::wstring& name);

// True when `a` and `b` name the same file as Windows sees it: equal after
// "/" is taken as "\\", ignoring case the way the file system does (ordinal,
// by the system's upper-case table).
bool SameManifestName(const std::wstring& a, const std::wstring& b);

// Strict order of manifest names that treats names SameManifestName calls
// equal as one (for sets of old and obsolete file names).
struct ManifestNameLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

// A set of manifest names in which "Bin\\Foo.dll" and "bin/foo.dll" are one
// entry (the first one inserted keeps its spelling).
using ManifestNameSet = std::set<std::wstring, ManifestNameLess>;
