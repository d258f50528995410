// The library's entry point and its three exports (named in Vantor.def).

#include <windows.h>

#include "CefWebView.h"
#include "module_state.h"
#include "web_view.h"
#include "web_view_factory.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID) {
    vantor::SetModuleHandle(instance);
    return TRUE;
}

extern "C" {

CefWebView::IWebViewFactory* GetWebViewFactory() { return vantor::GetFactory(); }

int IsSupportedWebViewEngine(int engineType, void*) { return vantor::CheckEngineAndSetLastError(engineType) ? 1 : 0; }

CefWebView::IWebViewEx* IWebViewToIWebViewEx(CefWebView::IWebView* view) {
    if (view == nullptr || !vantor::CWebView::IsLiveView(view)) return nullptr;
    return static_cast<vantor::CWebView*>(view);
}

}  // extern "C"
