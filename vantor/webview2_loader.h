// Access to the WebView2 loader, WebView2Loader.dll, which sits beside this
// library and finds the installed runtime.
#pragma once

#include "webview2_api.h"

namespace vantor {

// The loader's two functions.
struct WebView2Loader {
    GetAvailableCoreWebView2BrowserVersionStringFn getBrowserVersion = nullptr;
    CreateCoreWebView2EnvironmentWithOptionsFn createEnvironment = nullptr;
};

// Loads WebView2Loader.dll from this library's folder (never from the search
// path) and fills `out` with its two functions. The loader stays loaded for
// the life of the process once found; when it is missing or lacks a function
// the result is false and the next call tries again. Any thread.
bool GetWebView2Loader(WebView2Loader* out);

}  // namespace vantor
