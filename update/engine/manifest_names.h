// Which manifest names the engine may turn into paths below a folder.
#pragma once

#include <string>

// True when `name` (a manifest name, "/" or "\\" between levels) names a
// place inside the folder it is relative to: not empty, not absolute (no
// leading separator), no drive letter or other colon, and no level that is
// empty or made of dots and blanks only (so no "..", which Windows would
// also make of ".. " or "..."). Such names are refused before any download,
// copy or deletion.
bool IsContainedManifestName(const std::wstring& name);
