// CUpdateDlg: construction, the dialog's initialisation and layout, its
// messages, and the end sequence.
#include "app/update_dlg.h"

#include <shellapi.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdio>

#include "app/framework/win_app.h"
#include "app/res/resource.h"
#include "app/program_start.h"
#include "app/skin/scroll_wnd.h"
#include "diag/command_line_quote.h"
#include "diag/command_values.h"
#include "diag/text_format.h"
#include "diag/unit_log.h"
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
// Sent to a per-monitor aware window whose monitor scale changed (Windows
// 8.1 and later; named here because the SDK headers name it only for them).
constexpr UINT kDpiChangedMessage = 0x02E0;

// The notes font for `dpi`: 9.2 points.
HFONT CreateNotesFont(UINT dpi) {
    const int height = -::MulDiv(92, static_cast<int>(dpi), 720);
    return ::CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"微软雅黑");
}

// Height of one line of text in `font`, as an edit control spaces its lines.
int LineHeightOf(HWND window, HFONT font) {
    HDC dc = ::GetDC(window);
    if (dc == nullptr) return 0;
    HGDIOBJ previous = ::SelectObject(dc, font);
    TEXTMETRICW metrics = {};
    const BOOL ok = ::GetTextMetricsW(dc, &metrics);
    ::SelectObject(dc, previous);
    ::ReleaseDC(window, dc);
    return ok ? metrics.tmHeight : 0;
}

}  // namespace

UINT WindowDpi(HWND window) {
    // GetDpiForWindow (Windows 10 1607) gives the window's monitor scale; on
    // older systems the system scale is the only one.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    UINT dpi = 0;
    if (getDpiForWindow != nullptr && window != nullptr) dpi = getDpiForWindow(window);
    if (dpi == 0) {
        HDC screen = ::GetDC(nullptr);
        dpi = static_cast<UINT>(::GetDeviceCaps(screen, LOGPIXELSY));
        ::ReleaseDC(nullptr, screen);
    }
    return dpi != 0 ? dpi : 96;
}

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
            if (!m_iniRefused) UpdateFirewallRule(m_installDir + L"version.ini", m_installDir + m_targetExe);
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
        UPDATEDLG_LOG(WARNING) << "launcher refused, not an absolute path: " << WideToUtf8Log(m_launcherPath);
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

int CUpdateDlg::Scaled(int value) const { return ::MulDiv(value, static_cast<int>(m_dpi), 96); }

void CUpdateDlg::UseNotesFontFor(UINT dpi) {
    HFONT font = CreateNotesFont(dpi);
    if (font == nullptr) return;
    m_notesEdit.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    m_notesFont.reset(font);
}

void CUpdateDlg::LoadUpdateNotes() {
    m_dpi = WindowDpi(m_hWnd);
    UseNotesFontFor(m_dpi);
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
    UpdateNotesScrolling();
}

bool CUpdateDlg::NotesFitWithoutScrolling() const {
    const LRESULT lines = ::SendMessageW(m_notesEdit, EM_GETLINECOUNT, 0, 0);
    if (lines > kMaxUnscrolledLines) return false;
    // The font grows with the scale; the box grows with it only as far as
    // the layout rounds, so the lines are measured rather than assumed.
    RECT text = {};
    ::SendMessageW(m_notesEdit, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
    const int lineHeight = LineHeightOf(m_notesEdit, static_cast<HFONT>(m_notesFont.get()));
    return lineHeight <= 0 || lines * lineHeight <= text.bottom - text.top;
}

void CUpdateDlg::UpdateNotesScrolling() {
    if (m_scrollSkin != nullptr) return;  // the skinned bar stays once attached
    if (NotesFitWithoutScrolling()) {
        m_notesEdit.ModifyStyle(WS_VSCROLL, 0);
        ::SetWindowPos(m_notesEdit, nullptr, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
        return;
    }
    m_notesEdit.ModifyStyle(0, WS_VSCROLL);
    m_scrollSkin = static_cast<HBITMAP>(::LoadImageW(fw::CWinApp::ResourceInstance(),
                                                     MAKEINTRESOURCEW(IDB_SCROLL_SKIN), IMAGE_BITMAP, 0, 0,
                                                     LR_CREATEDIBSECTION));
    AttachSkinScrollBars(m_notesEdit, m_scrollSkin);
}

void CUpdateDlg::OnDpiChanged(WPARAM wp, LPARAM lp) {
    m_dpi = HIWORD(wp) != 0 ? HIWORD(wp) : m_dpi;
    UseNotesFontFor(m_dpi);
    ApplyLayout();
    // The system's suggested place keeps the window on the monitor it moved to.
    if (const auto* suggested = reinterpret_cast<const RECT*>(lp); suggested != nullptr && !m_hidden) {
        ::SetWindowPos(m_hWnd, nullptr, suggested->left, suggested->top, Scaled(kWindowWidth),
                       Scaled(kWindowHeight), SWP_NOZORDER | SWP_NOACTIVATE);
    }
    UpdateNotesScrolling();
    Invalidate();
}

void CUpdateDlg::PlaceNotesBox() {
    const int x = static_cast<int>(m_notesRect.x) + Scaled(4), y = static_cast<int>(m_notesRect.y) + Scaled(4);
    const int width = static_cast<int>(m_notesRect.width) - Scaled(8);
    const int height = static_cast<int>(m_notesRect.height) - Scaled(8);
    HWND edit = m_notesEdit.m_hWnd;
    if (edit == nullptr) return;
    HWND parent = ::GetParent(edit);
    HWND frame = parent ? ::GetParent(parent) : nullptr;
    if (parent != m_hWnd && frame != nullptr && frame != m_hWnd) {
        // Wrapped by the skinned scroll bars: the frame takes the place.
        ::MoveWindow(frame, x, y, width, height, TRUE);
    } else {
        ::MoveWindow(edit, x, y, width, height, TRUE);
    }
}

void CUpdateDlg::ApplyLayout() {
    // Every place below is in pixels at 96 DPI, scaled to the window's
    // monitor: the fonts grow with the scale, so the boxes must too.
    // A hidden run keeps its window at 0 x 0, so that even the dialog
    // manager's own show after initialisation shows nothing.
    if (!m_hidden) {
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, Scaled(kWindowWidth), Scaled(kWindowHeight),
                       SWP_NOMOVE | SWP_NOZORDER);
    }
    m_btnClose.MoveWindow(Scaled(591), Scaled(10), Scaled(24), Scaled(24));
    m_btnClose.SetImage(IDB_PNG_CLOSE);
    m_btnMin.MoveWindow(Scaled(557), Scaled(10), Scaled(24), Scaled(24));
    m_btnMin.SetImage(IDB_PNG_MINIMIZE);
    m_progress2.MoveWindow(Scaled(32), Scaled(195), Scaled(350), Scaled(12));
    m_progress2.ShowWindow(SW_HIDE);
    m_progress.MoveWindow(Scaled(30), Scaled(352), Scaled(570), Scaled(8));
    m_btnStart.MoveWindow(Scaled(230), Scaled(280), Scaled(100), Scaled(30));
    m_btnStart.SetBackColor(0xFFFF9900);
    const DWORD startColors[4] = {0xFFE2E2E2, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    m_btnStart.SetTextColors(startColors);
    m_btnStart.ShowWindow(SW_HIDE);
    const auto scaled = [this](float value) { return value * static_cast<float>(m_dpi) / 96.0f; };
    m_notesRect = {scaled(90), scaled(104), scaled(452), scaled(152)};
    PlaceNotesBox();
    m_statusRect = {scaled(30), scaled(324), scaled(600), scaled(17)};
    m_statusArea = {Scaled(30), Scaled(324), Scaled(600), Scaled(350)};
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
        case kDpiChangedMessage:
            OnDpiChanged(wp, lp);
            return 0;
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
    if (static_cast<short>(HIWORD(point)) < Scaled(kDragBandHeight)) PostMessage(WM_NCLBUTTONDOWN, HTCAPTION, point);
}

void CUpdateDlg::OnSize() {
    HWND edit = m_notesEdit.m_hWnd;
    if (edit == nullptr) return;
    HWND parent = ::GetParent(edit);
    HWND frame = parent ? ::GetParent(parent) : nullptr;
    if (frame != nullptr && frame != m_hWnd) {
        PlaceNotesBox();
        Invalidate();
    }
}

void CUpdateDlg::OnDestroy() {
    if (m_scrollSkin != nullptr) {
        ::DeleteObject(m_scrollSkin);
        m_scrollSkin = nullptr;
    }
    m_notesFont.reset();
}
