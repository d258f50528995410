// CUpdateDlg: construction, the dialog's messages and the end sequence.
#include "app/update_dlg.h"

#include <shellapi.h>

#include <glog/logging.h>

#include <cstdio>

#include "engine/auto_updater.h"

namespace {
constexpr wchar_t kLauncherName[] = L"zuZavozeVororiz.exe";
}  // namespace

bool EnableProcessPrivilege(const wchar_t* privilegeName) {
    velisk::UniqueKernelHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                            token.receive())) {
        return false;
    }
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::LookupPrivilegeValueW(nullptr, privilegeName, &privileges.Privileges[0].Luid)) {
        return false;
    }
    if (!::AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(privileges), nullptr,
                                 nullptr)) {
        return false;
    }
    return ::GetLastError() == ERROR_SUCCESS;
}

CUpdateDlg::CUpdateDlg(CWnd* parent) : CDialogEx(IDD_UPDATE_DIALOG, parent) {
    // Lets the process open and end other users' client processes.
    EnableProcessPrivilege(L"SeDebugPrivilege");
}

CUpdateDlg::~CUpdateDlg() { RunEndSequence(); }

void CUpdateDlg::RunEndSequence() {
    if (!m_hidden) {
        if (!m_targetExe.empty()) {
            UpdateFirewallRule(m_installDir + L"version.ini", m_installDir + m_targetExe);
            const std::wstring client = m_installDir + m_targetExe;
            ::ShellExecuteW(nullptr, L"open", client.c_str(), L"--noupdate", nullptr, SW_SHOW);
        }
        const size_t at = m_launcherPath.find(kLauncherName);
        if (at != std::wstring::npos && at > 0) {
            wchar_t commandLine[2048] = {};
            std::swprintf(commandLine, 2048, L"%ls -d \"%ls\"", m_launcherPath.c_str(),
                          m_launcherDir.c_str());
            STARTUPINFOW startup = {};
            startup.cb = sizeof(startup);
            startup.dwFlags = STARTF_USESHOWWINDOW;
            startup.wShowWindow = SW_HIDE;
            PROCESS_INFORMATION process = {};
            if (::CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &process)) {
                ::CloseHandle(process.hThread);
                ::CloseHandle(process.hProcess);
            }
        }
    }
    delete m_updater;
    m_updater = nullptr;
}

BOOL CUpdateDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    if (m_hidden) {
        ModifyStyleEx(WS_EX_APPWINDOW, WS_EX_TOOLWINDOW);
        ::SetWindowPos(m_hWnd, HWND_TOP, 0, 0, 0, 0, 0);
        WINDOWPLACEMENT placement = {};
        placement.length = sizeof(placement);
        ::GetWindowPlacement(m_hWnd, &placement);
        placement.showCmd = SW_HIDE;
        placement.flags = WPF_RESTORETOMAXIMIZED;
        ::SetWindowPlacement(m_hWnd, &placement);
    }
    m_workerThread.reset(::CreateThread(nullptr, 0, &CUpdateDlg::UpdateThreadProc, this, 0, nullptr));
    return TRUE;
}

BOOL CUpdateDlg::PreTranslateMessage(MSG* msg) {
    // Neither Enter nor Esc ends the dialog.
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE)) {
        return FALSE;
    }
    return CDialogEx::PreTranslateMessage(msg);
}

LRESULT CUpdateDlg::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
    switch (msg) {
        case WM_UPDATE_STATUS:
            *handled = true;
            delete reinterpret_cast<FileUpdateStatus*>(lp);
            return 1;
        case WM_UPDATE_DONE:
            *handled = true;
            OnUpdateDone();
            return 0;
        case WM_NCPAINT:
            ShowWindow(m_hidden ? SW_HIDE : SW_SHOW);
            break;
        case WM_CLOSE:
            // Only the worker's end closes the window: the dialog object must
            // outlive the worker thread.
            *handled = true;
            return 0;
        default:
            break;
    }
    return CDialogEx::OnMessage(msg, wp, lp, handled);
}

void CUpdateDlg::OnUpdateDone() {
    if (m_workerThread) ::WaitForSingleObject(m_workerThread.get(), INFINITE);
    EndDialog(IDOK);
}

DWORD WINAPI CUpdateDlg::UpdateThreadProc(LPVOID param) {
    auto* self = static_cast<CUpdateDlg*>(param);
    self->DoUpdate();
    ::PostMessageW(self->m_hWnd, WM_UPDATE_DONE, 0, 0);
    LOG(INFO) << "update thread over";
    return 0;
}

void CUpdateDlg::DoUpdate() {
    LOG(INFO) << "DoUpdate: the update worker is not built yet";
}
