// Process-wide state of the module: its own handle, the count of live objects
// that keeps it loaded, and the folder that holds the DLL file.
#pragma once

#include <windows.h>

#include <string>

namespace pellix {

// Records the module handle the loader gave to DllMain; called once at load.
void RecordModuleHandle(HMODULE module);

// Adds one live object (a command object or a server lock) to the module's
// count. Atomic: callable from any thread.
void AddLiveObject();

// Removes one live object from the module's count; the count never goes
// below 0. Atomic.
void RemoveLiveObject();

// The number of live objects now; 0 means the module may be unloaded.
unsigned long LiveObjectCount();

// The folder that holds this DLL file, without a trailing separator; an empty
// text when the module's file name cannot be read.
std::wstring ModuleFolder();

}  // namespace pellix
