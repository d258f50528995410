// Loading a library from a folder outside the system's search path together
// with the libraries it imports from that same folder.
#pragma once

#include <windows.h>

// Loads the library at `path` (absolute, or relative to the current folder
// only). First every library that it imports and that is not yet in the
// process is loaded the same way (recursively) from the library's own
// folder, or failing that from the current folder; then the library itself.
// A module of that path or name already in the process is returned as it is.
// Returns the module handle, or null when `path` is not an existing file or
// the final load fails; failures of dependencies are left to that final
// load. A library already being prepared further up the walk (a dependency
// cycle) is not walked again. Nothing is logged.
HMODULE LoadLibraryWithDependencies(const wchar_t* path);

// The same, except that a dependency of the top library that is found
// neither in its folder nor in the current folder is also looked for in each
// of the `folderCount` folders of `folders`, in order. The folders are not
// used for the dependencies' own dependencies.
HMODULE LoadLibraryWithDependencies(const wchar_t* path, const wchar_t* const* folders, int folderCount);
