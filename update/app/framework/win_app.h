// Application object: one global instance whose InitInstance is the
// program's start hook (the process ends when it returns).
#pragma once

#include <windows.h>

namespace fw {

class CWnd;

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Start hook. Returning FALSE ends the program without a message loop;
    // TRUE runs a message loop until WM_QUIT.
    virtual BOOL InitInstance() { return FALSE; }

    // The registry key under HKCU\Software that the application's settings
    // would use; kept for completeness, nothing is written there.
    void SetRegistryKey(const wchar_t* key);

    CWnd* m_pMainWnd = nullptr;

    // The one application object, or null.
    static CWinApp* Current();
    // The module that holds the resources (the executable).
    static HINSTANCE ResourceInstance();

    // Runs InitInstance and, when it answered TRUE, a message loop.
    // Returns the exit code of the process.
    int Run(HINSTANCE instance);

private:
    const wchar_t* m_registryKey = nullptr;
};

}  // namespace fw
