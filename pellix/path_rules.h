// Text rules on the paths the command looks at: which selections it accepts,
// whether a path lies in a folder, and where the uninstaller's icon lies.
#pragma once

#include <string>

namespace pellix {

// True when the text from the path's last "." equals ".exe" or ".lnk",
// ignoring case. A path without "." has no extension and gives false.
bool HasProgramExtension(const std::wstring& path);

// True when `path` names an existing file or folder; false for an empty text.
bool PathExists(const std::wstring& path);

// True when `path` is `folder` itself or lies in it or below it, comparing
// whole path components without regard to case ("C:\A" holds "C:\a\b.exe" but
// not "C:\AB\b.exe"). An empty `folder` cannot be checked and counts as holding
// every path.
bool IsPathInsideFolder(const std::wstring& path, const std::wstring& folder);

// The icon location for an uninstaller path: its folder followed by
// "logo.ico", or "logo.ico" alone when the path has no folder part (also for
// an empty path).
std::wstring IconLocationFor(const std::wstring& uninstallerPath);

}  // namespace pellix
