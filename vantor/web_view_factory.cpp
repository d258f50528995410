#include "web_view_factory.h"

#include <new>

#include "runtime_check.h"
#include "velisk/com_guard.h"
#include "web_view.h"

namespace vantor {

namespace {

constexpr int kWebView2Engine = VANTOR_ENGINE_WEBVIEW2;
constexpr DWORD kRefusedLastError = 0xFFFFFFFF;

CWebViewFactory g_factory;

}  // namespace

CWebViewFactory* GetFactory() { return &g_factory; }

bool CheckEngineAndSetLastError(int engineType) {
    ::SetLastError(0);
    const bool supported = engineType == kWebView2Engine && IsRuntimeSupported();
    ::SetLastError(supported ? 0 : kRefusedLastError);
    return supported;
}

void CWebViewFactory::DeleteThis(unsigned int) {}

int CWebViewFactory::Initialize() { return 1; }

CefWebView::IWebView* CWebViewFactory::CreateWebView(int engineType, HWND parent, RECT bounds,
                                                     const wchar_t* address, void*) {
    if (!CheckEngineAndSetLastError(engineType)) return nullptr;
    // The view's construction copies the address: out of memory there, as
    // for the object itself, gives no view.
    CWebView* view = velisk::GuardedCall<CWebView*>(nullptr, [&] {
        return new (std::nothrow) CWebView(parent, bounds, address);
    });
    ::SetLastError(view != nullptr ? 0 : kRefusedLastError);
    return view;
}

}  // namespace vantor
