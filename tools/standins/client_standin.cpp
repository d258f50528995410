// Stand-in for the client program (VeliskLive.exe): records how it was
// started, shows a top-level window and ends on WM_QUIT (or after two
// minutes at the latest, so a forgotten stand-in never outlives a test run).
#include <windows.h>

#include "standin_record.h"

namespace {

constexpr UINT_PTR kLifetimeTimer = 1;
constexpr UINT kLifetimeMs = 120000;

LRESULT CALLBACK ClientWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_TIMER:
            if (wp == kLifetimeTimer) ::PostQuitMessage(0);
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(hwnd, msg, wp, lp);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    standin::AppendStartRecord();
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ClientWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = L"VeliskClientStandIn";
    ::RegisterClassW(&wc);
    HWND window = ::CreateWindowExW(0, wc.lpszClassName, L"Velisk client stand-in", WS_OVERLAPPEDWINDOW,
                                    CW_USEDEFAULT, CW_USEDEFAULT, 320, 200, nullptr, nullptr, instance, nullptr);
    ::SetTimer(window, kLifetimeTimer, kLifetimeMs, nullptr);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return 0;
}
