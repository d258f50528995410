// What the library knows about its own file: the module handle recorded when
// the system loads it.
#pragma once

#include <windows.h>

#include <string>

namespace vantor {

// Records the library's module handle; called by the entry point.
void SetModuleHandle(HMODULE module);

// The library's own module handle (null before the entry point ran).
HMODULE GetOwnModule();

// Full path of the library's own file, or an empty string when it cannot be
// read. Paths longer than MAX_PATH are returned whole.
std::wstring GetOwnModulePath();

// The folder of the library's own file, ending with "\\", or an empty string.
std::wstring GetOwnModuleFolder();

}  // namespace vantor
