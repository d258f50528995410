#include "app/framework/win_app.h"

namespace fw {
namespace {
CWinApp* g_app = nullptr;
HINSTANCE g_instance = nullptr;
}  // namespace

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

CWinApp* CWinApp::Current() { return g_app; }

HINSTANCE CWinApp::ResourceInstance() {
    return g_instance ? g_instance : ::GetModuleHandleW(nullptr);
}

void CWinApp::SetRegistryKey(const wchar_t* key) { m_registryKey = key; }

int CWinApp::Run(HINSTANCE instance) {
    g_instance = instance;
    if (!InitInstance()) return 0;
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace fw
