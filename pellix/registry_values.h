// The two registry values the command reads (it writes none). Both live under
// the App Paths key of the uninstaller, "NymUninstaller.exe".
#pragma once

#include <string>

namespace pellix {

// The full path of the uninstaller: the value "Launcher" of the App Paths key
// in HKEY_LOCAL_MACHINE, 32-bit view, of any type, taken as wide text up to its
// first NUL. An empty text when the key or the value cannot be read.
std::wstring ReadLauncherPath();

// The menu switch: the value "rmenu" of the App Paths key in
// HKEY_CURRENT_USER, of any type, read as a 32-bit number. True when it is
// non-zero; false when the key or value is missing, the value is 0, or it is
// longer than 4 bytes.
bool ReadMenuSwitch();

}  // namespace pellix
