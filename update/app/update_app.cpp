#include "app/update_app.h"

#include <windows.h>
#include <commctrl.h>

#include <glog/logging.h>

#include <cstring>
#include <cwchar>
#include <memory>

#include "app/program_start.h"
#include "app/update_dlg.h"
#include "diag/crash_reporter.h"
#include "diag/logging.h"
#include "velisk/handles.h"
#include "velisk/version.h"

namespace {

void CopyBounded(wchar_t* field, size_t fieldChars, const std::wstring& value) {
    const size_t n = value.size() < fieldChars - 1 ? value.size() : fieldChars - 1;
    std::wmemcpy(field, value.data(), n);
    field[n] = L'\0';
}

// Sets the working directory to the folder that holds this program.
void EnterProgramFolder() {
    const std::wstring folder = UpdateProgramFolder();
    if (!folder.empty()) ::SetCurrentDirectoryW(folder.c_str());
}

}  // namespace

void CUpdateApp::ReadRestartInfo(const wchar_t* commandLine, RestartInfo* info) {
    velisk::ArgumentList args(commandLine);
    if (!HasUsableFolders(args)) return;
    const wchar_t* dir = std::wcscmp(args[1], L"-copy") == 0 ? args[3] : args[1];
    CopyBounded(info->installDir, 255, WithTrailingSeparator(dir));
    const std::wstring ini = std::wstring(info->installDir) + L"version.ini";
    CopyBounded(info->targetExe, 255, ReadTargetExe(ini, 255));
}

BOOL CUpdateApp::InitInstance() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    SetRegistryKey(L"应用程序向导生成的本地应用程序");
    InitLogging("Update.exe", "update");
    EnterProgramFolder();

    const wchar_t* commandLine = ::GetCommandLineW();
    RestartInfo restartInfo;
    std::memset(&restartInfo, 0, sizeof(restartInfo));
    ReadRestartInfo(commandLine, &restartInfo);

    auto dialog = std::make_unique<CUpdateDlg>();
    m_pMainWnd = dialog.get();
    restartInfo.dialog = dialog.get();

    SetRestartOnCrashQuery([](const CUpdateDlg* d) { return d->restartOnCrash(); });
    StartCrashReporter(L"Velisk客户端更新程序", VELISK_VERSION_WSTRING, &restartInfo);

    if (dialog->InitFromCommandLine(commandLine)) {
        if (dialog->hidden()) {
            if (dialog->Create(IDD_UPDATE_DIALOG)) {
                dialog->ShowWindow(SW_HIDE);
                dialog->RunModalLoop();
            }
        } else {
            dialog->DoModal();
        }
    }

    // The worker logs until its last line; logging must outlive it.
    dialog->StopWorker();
    google::ShutdownGoogleLogging();
    dialog.reset();  // the destructor runs the end sequence
    m_pMainWnd = nullptr;
    return FALSE;
}
