// Crash reporting through the outside crash-reporting library.
#pragma once

#include "diag/restart_info.h"

// Installs the crash reporter for this process from the client's folder
// (`info->installDir`). With an empty installDir crash reporting stays off.
// Failures are logged, never reported to the user.
void StartCrashReporter(const wchar_t* appName, const wchar_t* appVersion, RestartInfo* info);
