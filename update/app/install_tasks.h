// Free helpers of the installation chores (the chores themselves are
// members of CUpdateDlg, see update_dlg.h).
#pragma once

#include <string>

// Reads a string value (at most 512 bytes) below HKEY_LOCAL_MACHINE\keyPath
// and appends it to `out`. False when the key or value cannot be read.
bool ReadMachineValue(const std::wstring& keyPath, const wchar_t* valueName, std::wstring& out);

// True when the all-users desktop holds "<shortcutName>.lnk" whose raw
// target path ends with `targetExe` (compared with case).
bool ShortcutPointsToTarget(const std::wstring& shortcutName, const std::wstring& targetExe);
