// Where a view's browser keeps its data: a folder per host program under the
// roaming application-data folder, and inside it one numbered user-data
// folder per running process of that program, handed out through the slot
// file "cache.ini".
#pragma once

#include <windows.h>

#include <string>

namespace vantor {

// Name of the named mutex, shared by all processes, that guards slot files.
constexpr const wchar_t* kSlotMutexName = L"Vantor_Mutex_sdk";

// File name of the running program without its extension (Host.exe gives
// Host); the program path is read with at most 260 characters.
std::wstring GetHostProgramName();

// Creates (with missing parents) and returns the host's folder
// "<roaming app data>\<dataFolderName>\edge_cache\edge_<host program>";
// an empty `dataFolderName` means "pelvar". Creation failures are not
// reported: the path is returned anyway.
std::wstring PrepareHostFolder(const std::wstring& dataFolderName);

// Chooses this process's slot in "<hostFolder>\cache.ini" (section
// "CacheDir", key = slot number, value = process id): the first slot that is
// free, already this process's, or held by a process that is gone. Writes
// this process's id into it while holding `mutex` (waits at most 5000 ms and
// goes on without it). Returns the slot number.
unsigned int ChooseSlot(const std::wstring& hostFolder, HANDLE mutex);

// The user-data folder for `slot`: "<hostFolder>\cache<slot>", created when
// missing.
std::wstring PrepareUserDataFolder(const std::wstring& hostFolder, unsigned int slot);

}  // namespace vantor
