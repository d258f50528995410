// CWebViewFactory: the library's one factory, a static object that lives as
// long as the library is loaded.
#pragma once

#include "CefWebView.h"

namespace vantor {

class CWebViewFactory final : public CefWebView::IWebViewFactory {
public:
    // Does nothing: the factory is never destroyed through its interface.
    void DeleteThis(unsigned int flags) override;
    // Returns 1.
    int Initialize() override;
    // A new CWebView for engine type 2 when the runtime check passes (last
    // error 0); otherwise null with last error 0xFFFFFFFF. `reserved` is ignored.
    CefWebView::IWebView* CreateWebView(int engineType, HWND parent, RECT bounds, const wchar_t* address,
                                        void* reserved) override;
};

// The single factory instance.
CWebViewFactory* GetFactory();

// True when `engineType` is the WebView2 engine and the installed runtime is
// new enough; leaves the thread's last error at 0 on success and 0xFFFFFFFF
// otherwise.
bool CheckEngineAndSetLastError(int engineType);

}  // namespace vantor
