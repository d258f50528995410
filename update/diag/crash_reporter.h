// Crash reporting through the outside crash-reporting library
// ("CrashRpt1403.dll" with "CrashSender1403.exe" and "crashrpt_lang.ini"),
// which is copied from the client's folder next to the updater and loaded at
// run time. A crash then sends a silent report with the updater's log files,
// flushes the logs and, when the dialog allows it, starts the client again.
#pragma once

#include "diag/crashrpt_api.h"
#include "diag/restart_info.h"

// Tells whether the run's dialog wants the client started again after a crash
// of the updater (its restart-on-crash flag at the moment of the crash).
using RestartOnCrashQuery = bool (*)(const CUpdateDlg* dialog);

// Installs the query the crash callback uses to read the dialog's flag.
// Without one, a crash never starts the client. Call before
// StartCrashReporter, on the main thread.
void SetRestartOnCrashQuery(RestartOnCrashQuery query);

// Installs crash reporting for this process, once, on the main thread: copies
// the library's three files from `info->installDir` into the current folder,
// loads the library from there, installs it with `appName` and `appVersion`
// (both copied and kept for the life of the process), registers
// CrashCallback with `info` (which must live as long as the process) and
// attaches the log files. Every failure leaves the program running without
// crash reporting; failures are logged at ERROR, except a missing or
// uncopyable library file, which ends the set-up silently.
void StartCrashReporter(const wchar_t* appName, const wchar_t* appVersion, RestartInfo* info);

// The library's crash callback: flushes the log files and shuts logging down
// (while logging is up), and on the first call starts `targetExe` with
// "--noupdate" in `installDir` when the RestartInfo in the user parameter has
// a dialog whose restart-on-crash flag is set. Always returns 2 (call again
// at the next stage).
int WINAPI CrashCallback(CrCrashCallbackInfoW* info);
