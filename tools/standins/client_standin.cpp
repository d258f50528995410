// Stand-in for the client program (VeliskLive.exe): records how it was
// started, shows a top-level window and ends on WM_QUIT (or after two
// minutes at the latest, so a forgotten stand-in never outlives a test run).
//
// Options for tests:
//   --no-window      run the message loop without any window
//   --spawn PATH     start PATH as a child process first
//   --exit           end right after the start (and the child's), leaving
//                    the child running
//   --guarded        give its own process an access list that lets others only
//                    query and wait for it, so that no other process can open
//                    it to end it (the owner can still
//                    rewrite the list; a handle from CreateProcess keeps its
//                    rights); set before the start is recorded
#include <windows.h>
#include <aclapi.h>

#include <cwchar>
#include <string>

#include "standin_record.h"
#include "velisk/handles.h"

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

static void StartChild(const wchar_t* path) {
    std::wstring cmd = std::wstring(L"\"") + path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
    }
}

// A protected access list on this process that lets other processes only
// query it and wait for it (as an elevated program looks to a normal one):
// every OpenProcess that asks to end it is denied.
static bool GuardOwnProcess() {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) return false;
    alignas(DWORD) BYTE buffer[256];
    auto* acl = reinterpret_cast<PACL>(buffer);
    const bool built = ::InitializeAcl(acl, sizeof(buffer), ACL_REVISION) &&
                       ::AddAccessAllowedAce(acl, ACL_REVISION, PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, everyone);
    const bool set = built && ::SetSecurityInfo(::GetCurrentProcess(), SE_KERNEL_OBJECT,
                                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                                nullptr, nullptr, acl, nullptr) == ERROR_SUCCESS;
    ::FreeSid(everyone);
    return set;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    velisk::ArgumentList args(::GetCommandLineW());
    bool withWindow = true;
    for (int i = 1; i < args.count(); ++i) {
        if (std::wcscmp(args[i], L"--no-window") == 0) withWindow = false;
        if (std::wcscmp(args[i], L"--guarded") == 0 && !GuardOwnProcess()) return 3;
    }
    standin::AppendStartRecord();
    bool exitAtOnce = false;
    for (int i = 1; i < args.count(); ++i) {
        if (std::wcscmp(args[i], L"--spawn") == 0 && i + 1 < args.count()) StartChild(args[++i]);
        if (std::wcscmp(args[i], L"--exit") == 0) exitAtOnce = true;
    }
    if (exitAtOnce) return 0;
    if (!withWindow) {
        ::SetTimer(nullptr, kLifetimeTimer, kLifetimeMs, nullptr);
        MSG msg;
        while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_TIMER) break;
        }
        return 0;
    }
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
