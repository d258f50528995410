// What the crash handler needs to restart the client after a crash of the
// updater: filled at start, lives for the whole run.
#pragma once

#include <cstdint>

class CUpdateDlg;

struct RestartInfo {
    wchar_t installDir[255];  // installation folder, ends with a separator
    wchar_t targetExe[255];   // client executable, relative to installDir
    CUpdateDlg* dialog;       // the run's dialog object, once it exists
};

#if defined(__i386__)
static_assert(sizeof(RestartInfo) == 1024, "RestartInfo layout (32-bit)");
#endif
