// The updater's application object.
#pragma once

#include "app/framework/win_app.h"
#include "diag/restart_info.h"

class CUpdateApp : public fw::CWinApp {
public:
    // The whole run: logging, restart record, dialog, crash reporting, the
    // mode decision, the dialog loop and the end sequence. Always FALSE, so
    // no message loop of the framework follows.
    BOOL InitInstance() override;

    // Fills installDir and targetExe of `info` from the command line; leaves
    // the record empty when the command line names no installation.
    static void ReadRestartInfo(const wchar_t* commandLine, RestartInfo* info);
};
