// Starting outside programs by their full path. Every start names the
// program file itself (the application name of CreateProcessW, or the file
// of ShellExecuteW), so no prefix of a path with blanks ("C:\\Program.exe"
// for "C:\\Program Files\\...") and no folder of the search order (the
// updater's own, the current one) is ever tried instead.
#pragma once

#include <windows.h>

#include <string>

// Full path of the running Update.exe; empty when it cannot be read.
std::wstring UpdateProgramPath();

// Folder of the running Update.exe, without a trailing separator; empty when
// the module path cannot be read.
std::wstring UpdateProgramFolder();

// "<system folder>\\<exeName>" from GetSystemDirectoryW (the 32-bit system
// folder for a 32-bit process); empty when the folder cannot be read.
std::wstring SystemProgramPath(const wchar_t* exeName);

// How StartHiddenProgram starts a program.
struct HiddenStart {
    bool noStandardHandles = false;  // STARTF_USESTDHANDLES with no handles
    DWORD waitMs = 0;                // 0: do not wait
    size_t maxCommandChars = 2047;   // longer command lines are not started
};

// Starts `exePath` hidden (SW_HIDE), no inherited handles, with the command
// line QuoteArgument(exePath) + " " + `arguments` (the arguments are already
// quoted by the caller) and `exePath` as the application name. Waits as
// `how` says. A start is logged at INFO as "started: " + the command line.
// False (logged at WARNING with the path) when the command line is too long
// or the program could not be started; exit codes are not read.
bool StartHiddenProgram(const std::wstring& exePath, const std::wstring& arguments, const HiddenStart& how);
