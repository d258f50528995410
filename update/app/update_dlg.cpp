// CUpdateDlg: construction, the dialog's initialisation and layout, its
// messages, and the end sequence.
#include "app/update_dlg.h"

#include <shellapi.h>
#include <objidl.h>
#include <gdiplus.h>

#include <glog/logging.h>

#include <cstdio>

#include "app/framework/win_app.h"
#include "app/res/resource.h"
#include "app/program_start.h"
#include "app/skin_scroll_wnd.h"
#include "diag/command_line_quote.h"
#include "diag/command_values.h"
#include "diag/text_format.h"
#include "engine/auto_updater.h"
#include "engine/version_ini.h"
#include "velisk/privileges.h"

namespace {

constexpr wchar_t kLauncherName[] = L"zuZavozeVororiz.exe";
constexpr size_t kMaxLauncherCommandChars = 2047;
constexpr int kMaxUnscrolledLines = 8;
constexpr int kDragBandHeight = 42;
// The client's download page, opened by the (hidden) link control.
constexpr wchar_t kClientPageUrl[] = L"https://www.velisk.com/client";

// Window-thread font of the notes, created once per process.
HFONT NotesFont() {
    static HFONT font = [] {
        HDC screen = ::GetDC(nullptr);
        const int height = -::MulDiv(92, ::GetDeviceCaps(screen, LOGPIXELSY), 720);
        ::ReleaseDC(nullptr, screen);
        return ::CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                             L"微软雅黑");
    }();
    return font;
}

}  // namespace

int ProgressPercent(int index, int total) {
    if (total == 0) return 0;
    return static_cast<int>(static_cast<double>(index) / total * 100);
}

std::wstring ComposeUpdateNotes(const std::wstring& versionName, const std::vector<std::wstring>& lines) {
    if (lines.empty()) return L"";
    std::wstring notes = L"本次更新内容：\r\n\r\n";
    if (versionName.size() >= 2) notes += L"最新版本：" + versionName + L"\r\n";
    for (const auto& line : lines) notes += line + L"\r\n";
    return notes;
}

CUpdateDlg::CUpdateDlg(CWnd* parent) : CDialogEx(IDD_UPDATE_DIALOG, parent) {
    m_hIcon = ::LoadIconW(fw::CWinApp::ResourceInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME));
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&m_gdiplusToken, &input, nullptr);
    // Lets the process open and end other users' client processes.
    velisk::EnableProcessPrivilege(L"SeDebugPrivilege");
}

CUpdateDlg::~CUpdateDlg() {
    // The worker uses this object: it must have ended before anything goes.
    StopWorker();
    if (m_gdiplusToken != 0) Gdiplus::GdiplusShutdown(m_gdiplusToken);
    RunEndSequence();
}

void CUpdateDlg::StopWorker() {
    if (!m_workerThread) return;
    m_stopRequested = true;
    if (m_updater != nullptr) m_updater->CancelUpdate();
    ::WaitForSingleObject(m_workerThread.get(), INFINITE);
    m_workerThread.reset();
}

void CUpdateDlg::RunEndSequence() {
    if (!m_hidden) {
        if (!m_targetExe.empty()) {
            UpdateFirewallRule(m_installDir + L"version.ini", m_installDir + m_targetExe);
            const std::wstring client = m_installDir + m_targetExe;
            ::ShellExecuteW(nullptr, L"open", client.c_str(), L"--noupdate", nullptr, SW_SHOW);
        }
        const size_t at = m_launcherPath.find(kLauncherName);
        if (at != std::wstring::npos && at > 0) StartLauncher();
    }
    if (m_updater != nullptr) m_updater->DeleteThis(1);
    m_updater = nullptr;
}

void CUpdateDlg::StartLauncher() {
    if (!IsAbsolutePath(m_launcherPath)) {
        LOG(WARNING) << "launcher refused, not an absolute path: " << WideToUtf8Log(m_launcherPath);
        return;
    }
    HiddenStart how;
    how.maxCommandChars = kMaxLauncherCommandChars;
    StartHiddenProgram(m_launcherPath, L"-d " + QuoteArgument(m_launcherDir), how);
}

void CUpdateDlg::DoDataExchange() {
    m_progress.SubclassDlgItem(IDC_PROGRESS, this);
    m_progress2.SubclassDlgItem(IDC_PROGRESS2, this);
    m_btnMin.SubclassDlgItem(IDC_BTN_MIN, this);
    m_btnClose.SubclassDlgItem(IDC_BTN_CLOSE, this);
    m_link.SubclassDlgItem(IDC_LINK, this);
    m_btnStart.SubclassDlgItem(IDC_BTN_START, this);
    m_notesEdit.SubclassDlgItem(IDC_NOTES, this);
}

BOOL CUpdateDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    if (m_hidden) {
        // No task-bar button, no size, and a placement that keeps it hidden.
        ModifyStyleEx(WS_EX_APPWINDOW, WS_EX_TOOLWINDOW);
        ::SetWindowPos(m_hWnd, HWND_TOP, 0, 0, 0, 0, 0);
        WINDOWPLACEMENT placement = {};
        placement.length = sizeof(placement);
        ::GetWindowPlacement(m_hWnd, &placement);
        placement.showCmd = SW_HIDE;
        placement.flags = WPF_RESTORETOMAXIMIZED;
        ::SetWindowPlacement(m_hWnd, &placement);
    }
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    LoadUpdateNotes();

    if (m_updater == nullptr) m_updater = CreateAutoUpdater();
    m_updater->SetStatusCallback(&CUpdateDlg::OnEngineStatus, this);

    wchar_t temp[255] = {};
    ::GetTempPathW(255, temp);
    const std::wstring workDir =
        std::wstring(temp) + L"veliskPCClient\\" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
    m_updater->SetNewDatabasePath((workDir + L"ProgramConfig.zdb").c_str(), L"");
    if (m_hidden) m_stagingDir = L"update" + std::to_wstring(::GetTickCount());
    m_updater->SetDirectories(workDir.c_str(), m_installDir.c_str(), m_stagingDir.c_str());

    m_workerThread.reset(::CreateThread(nullptr, 0, &CUpdateDlg::UpdateThreadProc, this, 0, nullptr));
    return TRUE;
}

void CUpdateDlg::LoadUpdateNotes() {
    m_notesEdit.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(NotesFont()), TRUE);
    if (m_updateNotes.empty()) {
        m_updateNotes = ComposeUpdateNotes(m_versionName, ReadReleaseNotes(m_newIniPath.c_str()));
    }
    if (m_updateNotes.empty()) {
        m_notesEdit.ShowWindow(SW_HIDE);
    } else {
        ::SetWindowTextW(m_notesEdit, m_updateNotes.c_str());
        m_notesEdit.ShowWindow(SW_SHOW);
    }
    ApplyLayout();

    const LRESULT lines = m_notesEdit.SendMessage(EM_GETLINECOUNT);
    if (lines <= kMaxUnscrolledLines) {
        m_notesEdit.ModifyStyle(WS_VSCROLL, 0);
        ::SetWindowPos(m_notesEdit, nullptr, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    } else {
        m_scrollSkin = static_cast<HBITMAP>(
            ::LoadImageW(fw::CWinApp::ResourceInstance(), MAKEINTRESOURCEW(IDB_SCROLL_SKIN), IMAGE_BITMAP, 0, 0,
                         LR_CREATEDIBSECTION));
        AttachSkinScrollBars(m_notesEdit, m_scrollSkin);
    }
}

void CUpdateDlg::ApplyLayout() {
    // A hidden run keeps its window at 0 x 0, so that even the dialog
    // manager's own show after initialisation shows nothing.
    if (!m_hidden) ::SetWindowPos(m_hWnd, nullptr, 0, 0, 630, 390, SWP_NOMOVE | SWP_NOZORDER);
    m_btnClose.MoveWindow(591, 10, 24, 24);
    m_btnClose.SetImage(IDB_PNG_CLOSE);
    m_btnMin.MoveWindow(557, 10, 24, 24);
    m_btnMin.SetImage(IDB_PNG_MINIMIZE);
    m_progress2.MoveWindow(32, 195, 350, 12);
    m_progress2.ShowWindow(SW_HIDE);
    m_progress.MoveWindow(30, 352, 570, 8);
    m_btnStart.MoveWindow(230, 280, 100, 30);
    m_btnStart.SetBackColor(0xFFFF9900);
    const DWORD startColors[4] = {0xFFE2E2E2, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    m_btnStart.SetTextColors(startColors);
    m_btnStart.ShowWindow(SW_HIDE);
    m_notesEdit.MoveWindow(static_cast<int>(m_notesRect.x) + 4, static_cast<int>(m_notesRect.y) + 4,
                           static_cast<int>(m_notesRect.width) - 8, static_cast<int>(m_notesRect.height) - 8);
    m_statusRect = {30, 324, 600, 17};
    m_statusArea = {30, 324, 600, 350};
    m_link.ShowWindow(SW_HIDE);
}

BOOL CUpdateDlg::PreTranslateMessage(MSG* msg) {
    // Neither Enter nor Esc ends the dialog.
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE)) return FALSE;
    return CDialogEx::PreTranslateMessage(msg);
}

LRESULT CUpdateDlg::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
    *handled = true;
    switch (msg) {
        case WM_UPDATE_STATUS:
            return OnUpdateStatus(wp, lp);
        case WM_UPDATE_DONE:
            OnUpdateDone();
            return 0;
        case WM_PAINT:
            OnPaint();
            return 0;
        case WM_ERASEBKGND:
            return FALSE;  // painting covers the whole client area
        case WM_QUERYDRAGICON:
            return reinterpret_cast<LRESULT>(m_hIcon);
        case WM_COMMAND:
            if (HIWORD(wp) != BN_CLICKED) break;
            switch (LOWORD(wp)) {
                case IDC_BTN_CLOSE: OnCloseButton(); return 0;
                case IDC_BTN_MIN: SendMessage(WM_SYSCOMMAND, SC_MINIMIZE); return 0;
                case IDC_LINK: OnLinkButton(); return 0;
                default: break;
            }
            break;
        case WM_CLOSE:
            // The system close command asks like the close button does; the
            // dialog never ends while the worker still runs.
            OnCloseButton();
            return 0;
        case WM_LBUTTONDOWN:
            OnLButtonDown(lp);
            break;
        case WM_NCPAINT:
            ShowWindow(m_hidden ? SW_HIDE : SW_SHOW);
            break;
        case WM_SIZE:
            OnSize();
            break;
        case WM_DESTROY:
            OnDestroy();
            break;
        default:
            break;
    }
    *handled = false;
    return 0;
}

LRESULT CUpdateDlg::OnUpdateStatus(WPARAM, LPARAM lp) {
    auto* status = reinterpret_cast<FileUpdateStatus*>(lp);
    if (status == nullptr) return 1;
    wchar_t text[512] = {};
    switch (status->status) {
        case FUS_DOWNLOADING:
            m_progress.SetPos(ProgressPercent(status->index + 1, status->total));
            std::swprintf(text, 512, L"正在下载(%d/%d)：%ls", status->index + 1, status->total, status->fileName);
            m_statusText = text;
            ::InvalidateRect(m_hWnd, &m_statusArea, TRUE);
            break;
        case FUS_VERIFYFILE:
            std::swprintf(text, 512, L"正在校验(%d/%d)：%ls", status->index, status->total, status->fileName);
            m_statusText = text;
            m_progress.SetPos(ProgressPercent(status->index, status->total));
            ::InvalidateRect(m_hWnd, &m_statusArea, TRUE);
            break;
        case FUS_COPYSTART:
            if (!m_hidden) m_restartOnCrash = false;
            break;
        case FUS_COPYEND:
            if (!m_hidden) m_restartOnCrash = true;
            break;
        default:
            break;
    }
    delete status;
    return 1;
}

void CUpdateDlg::OnUpdateDone() { EndDialog(IDOK); }

void CUpdateDlg::OnCloseButton() {
    if (::MessageBoxW(m_hWnd, L"正在更新，你要中断吗？", L"中断提醒", MB_YESNO) != IDYES) return;
    m_stopRequested = true;
    if (m_updater != nullptr) m_updater->CancelUpdate();
    if (m_workerThread) ::WaitForSingleObject(m_workerThread.get(), INFINITE);
    EndDialog(IDCANCEL);
}

void CUpdateDlg::OnLinkButton() {
    ::ShellExecuteW(nullptr, L"open", kClientPageUrl, nullptr, nullptr, SW_SHOW);
}

void CUpdateDlg::OnLButtonDown(LPARAM point) {
    // The top band of the window drags it.
    if (static_cast<short>(HIWORD(point)) < kDragBandHeight) PostMessage(WM_NCLBUTTONDOWN, HTCAPTION, point);
}

void CUpdateDlg::OnSize() {
    HWND edit = m_notesEdit.m_hWnd;
    if (edit == nullptr) return;
    HWND parent = ::GetParent(edit);
    HWND frame = parent ? ::GetParent(parent) : nullptr;
    if (frame != nullptr && frame != m_hWnd) {
        ::MoveWindow(frame, static_cast<int>(m_notesRect.x) + 4, static_cast<int>(m_notesRect.y) + 4,
                     static_cast<int>(m_notesRect.width) - 8, static_cast<int>(m_notesRect.height) - 8, TRUE);
        Invalidate();
    }
}

void CUpdateDlg::OnDestroy() {
    if (m_scrollSkin != nullptr) {
        ::DeleteObject(m_scrollSkin);
        m_scrollSkin = nullptr;
    }
}
