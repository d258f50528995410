#include "skin_window_fixture.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cstdio>

#include "app/res/resource.h"
#include "velisk/handles.h"

namespace skin_test {

GdiplusSession::GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&m_token, &input, nullptr);
}

GdiplusSession::~GdiplusSession() {
    if (m_token != 0) Gdiplus::GdiplusShutdown(m_token);
}

static void DispatchPending() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
        DispatchPending();
        if (done && done()) return true;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
}

void Pump(DWORD ms) { PumpUntil(nullptr, ms); }

void Repaint(HWND window) {
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump(50);
}

int Pixels::Count(int x0, int y0, int x1, int y1, const std::function<bool(COLORREF)>& match) const {
    int count = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            if (match(at(x, y))) ++count;
        }
    }
    return count;
}

int Pixels::CountColor(int x0, int y0, int x1, int y1, COLORREF color) const {
    return Count(x0, y0, x1, y1, [color](COLORREF c) { return c == color; });
}

Pixels Capture(HWND window) {
    Pixels pixels;
    RECT client;
    ::GetClientRect(window, &client);
    pixels.width = client.right;
    pixels.height = client.bottom;
    if (pixels.width <= 0 || pixels.height <= 0) return pixels;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = pixels.width;
    info.bmiHeader.biHeight = -pixels.height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC source = ::GetDC(window);
    void* bits = nullptr;
    velisk::UniqueGdiObject dib(::CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    velisk::UniqueMemoryDc memory(::CreateCompatibleDC(source));
    if (dib && memory) {
        HGDIOBJ old = ::SelectObject(memory.get(), dib.get());
        ::BitBlt(memory.get(), 0, 0, pixels.width, pixels.height, source, 0, 0, SRCCOPY);
        ::GdiFlush();
        ::SelectObject(memory.get(), old);
        const auto* bgra = static_cast<const uint32_t*>(bits);
        pixels.data.reserve(static_cast<size_t>(pixels.width) * pixels.height);
        for (int i = 0; i < pixels.width * pixels.height; ++i) {
            const uint32_t v = bgra[i];
            pixels.data.push_back(RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF));
        }
    }
    ::ReleaseDC(window, source);
    return pixels;
}

void SavePixels(const Pixels& pixels, const std::wstring& path) {
    std::string ppm = "P6\n" + std::to_string(pixels.width) + " " + std::to_string(pixels.height) + "\n255\n";
    for (COLORREF c : pixels.data) {
        ppm.push_back(static_cast<char>(GetRValue(c)));
        ppm.push_back(static_cast<char>(GetGValue(c)));
        ppm.push_back(static_cast<char>(GetBValue(c)));
    }
    testing_support::WriteBytes(path, ppm);
}

std::string ColorText(COLORREF color) {
    char text[32];
    std::snprintf(text, sizeof(text), "%d,%d,%d", GetRValue(color), GetGValue(color), GetBValue(color));
    return text;
}

UpdateDialogRun::UpdateDialogRun(int noteLines) : m_dir(L"skin") {
    std::wstring ini = L"[update]\r\nversion=3012\r\nversionName=3.0.12\r\n[updateInfo]";
    for (int i = 1; i <= noteLines; ++i) ini += L"\r\nline " + std::to_wstring(i);
    const std::wstring iniPath = m_dir / L"new\\version.ini";
    testing_support::WriteUtf8(iniPath, ini);
    m_dialog = std::make_unique<CUpdateDlg>();
    m_dialog->m_newIniPath = iniPath;
    m_dialog->m_versionName = L"3.0.12";
    m_dialog->m_installDir = m_dir.path() + L"\\";
    m_dialog->m_targetExe = L"skin_test_no_such_client.exe";
    m_dialog->m_waitPid = static_cast<long>(::GetCurrentProcessId());
    m_created = m_dialog->Create(IDD_UPDATE_DIALOG) != FALSE;
    // Lets the skinned frame place the notes (a posted message) and paint.
    Pump(300);
}

UpdateDialogRun::~UpdateDialogRun() {
    if (m_dialog->m_hWnd != nullptr) m_dialog->EndDialog(IDCANCEL);
    m_dialog.reset();  // stops the worker, which is still waiting for this process
    Pump(20);
}

ControlsDialog::ControlsDialog() : CDialogEx(IDD_UPDATE_DIALOG) {
    if (Create(IDD_UPDATE_DIALOG)) {
        ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 630, 390, SWP_NOACTIVATE);
        // Apart from each other, as the update window places them.
        notes.MoveWindow(94, 108, 444, 144);
        link.MoveWindow(30, 270, 100, 20);
        startButton.MoveWindow(230, 280, 120, 30);
        closeButton.MoveWindow(591, 10, 24, 24);
        progress.MoveWindow(30, 352, 570, 8);
        ::ShowWindow(GetDlgItem(IDC_PROGRESS2), SW_HIDE);
        ::ShowWindow(GetDlgItem(IDC_BTN_MIN), SW_HIDE);
        Pump(50);
    }
}

ControlsDialog::~ControlsDialog() {
    if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
    Pump(20);
}

void ControlsDialog::DoDataExchange() {
    progress.SubclassDlgItem(IDC_PROGRESS, this);
    closeButton.SubclassDlgItem(IDC_BTN_CLOSE, this);
    startButton.SubclassDlgItem(IDC_BTN_START, this);
    link.SubclassDlgItem(IDC_LINK, this);
    notes.SubclassDlgItem(IDC_NOTES, this);
}

LRESULT ControlsDialog::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
    *handled = true;
    if (msg == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(m_hWnd, &paint);
        velisk::UniqueGdiObject brush(::CreateSolidBrush(kBackground));
        ::FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(brush.get()));
        ::EndPaint(m_hWnd, &paint);
        return 0;
    }
    if (msg == WM_ERASEBKGND) return TRUE;
    *handled = false;
    return 0;
}

void ParkPointer() {
    ::SetCursorPos(::GetSystemMetrics(SM_CXSCREEN) - 2, ::GetSystemMetrics(SM_CYSCREEN) - 2);
    Pump(20);
}

}  // namespace skin_test
