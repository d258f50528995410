// Control interface of the test stand-in for WebView2Loader.dll.
//
// The stand-in implements the loader's two functions over a scripted fake
// runtime: environments and controllers are created asynchronously (their
// callbacks are posted to the calling thread's message queue), every call the
// runtime receives is written to a log, and the test fires the core view's
// events on command. Tests reach these functions with GetProcAddress on the
// WebView2Loader.dll that Vantor.dll loaded (see StubControl below).
//
// Log lines (one per call), for example:
//   GetAvailableCoreWebView2BrowserVersionString
//   CreateCoreWebView2EnvironmentWithOptions userData=<path> options=none
//   CreateCoreWebView2EnvironmentWithOptions userData=<path> options=args=<a>;exclusive=1;target=<v>
//   environment1.CreateCoreWebView2Controller parent=<hex handle>
//   controller1.put_ShouldDetectMonitorScaleChanges 0
//   settings1.put_IsScriptEnabled 1
//   controller1.put_Bounds 0,0,640,480
//   webview1.Navigate about:blank
//   webview1.add_NavigationStarting
//   webview1.AddScriptToExecuteOnDocumentCreated <script>
//   webview1.AddHostObjectToScript asexternal
//   newWindowArgs.put_Handled 1
//   controller1.put_IsVisible 0
//   webview1.remove_ProcessFailed
//   webview1.RemoveHostObjectFromScript asexternal
//   controller1.Close
//   webview1.Reload
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <type_traits>

// Behaviour switches for WvStubSetBehavior.
enum WvStubBehavior : unsigned int {
    kWvStubNormal = 0,
    kWvStubFailEnvironmentCall = 1,  // CreateCoreWebView2EnvironmentWithOptions fails at once (E_FAIL)
    kWvStubNoEnvironment = 2,        // the environment callback brings E_FAIL and no environment
    kWvStubNoController = 4,         // the controller callback brings E_FAIL and no controller
    kWvStubFailControllerCall = 8,   // CreateCoreWebView2Controller fails at once (E_FAIL)
};

// Version text that GetAvailableCoreWebView2BrowserVersionString reports when
// the test chose none: the environment variable WEBVIEW2_STUB_VERSION ("none"
// meaning no runtime installed), or else this text.
#define WVSTUB_DEFAULT_VERSION L"120.0.2210.91"

extern "C" {
// Forgets the log, the behaviour and the version chosen by the test (back to
// the default). Objects already handed out keep working.
typedef void (*WvStubResetFn)();
// The version text of the installed runtime; null: no runtime installed.
typedef void (*WvStubSetVersionFn)(const wchar_t* version);
typedef void (*WvStubSetBehaviorFn)(unsigned int flags);
// Number of log lines, and line `index` (valid until the next call that logs).
typedef int (*WvStubLogCountFn)();
typedef const wchar_t* (*WvStubLogLineFn)(int index);
// Number of core views created so far (their ids are 1, 2, ...).
typedef int (*WvStubWebViewCountFn)();
// The host object that core view `webview` (0: the newest) holds under
// `name`, with a new reference, or null.
typedef IDispatch* (*WvStubGetHostObjectFn)(int webview, const wchar_t* name);
// Fire an event on core view `webview` (0: the newest). Each returns the
// number of handlers invoked, or -1 when there is no such view.
typedef int (*WvStubFireNavigationStartingFn)(int webview);
// Sets the view's source to `uri` first.
typedef int (*WvStubFireSourceChangedFn)(int webview, const wchar_t* uri);
typedef int (*WvStubFireNavigationCompletedFn)(int webview, BOOL success);
// Sets the view's document title to `title` first.
typedef int (*WvStubFireDocumentTitleChangedFn)(int webview, const wchar_t* title);
// `*handled` (may be null) receives what the handlers left in Handled.
typedef int (*WvStubFireNewWindowRequestedFn)(int webview, const wchar_t* uri, BOOL* handled);
typedef int (*WvStubFireProcessFailedFn)(int webview);
}

// The control functions of a loaded stand-in, resolved by name.
struct StubControl {
    WvStubResetFn Reset = nullptr;
    WvStubSetVersionFn SetVersion = nullptr;
    WvStubSetBehaviorFn SetBehavior = nullptr;
    WvStubLogCountFn LogCount = nullptr;
    WvStubLogLineFn LogLine = nullptr;
    WvStubWebViewCountFn WebViewCount = nullptr;
    WvStubGetHostObjectFn GetHostObject = nullptr;
    WvStubFireNavigationStartingFn FireNavigationStarting = nullptr;
    WvStubFireSourceChangedFn FireSourceChanged = nullptr;
    WvStubFireNavigationCompletedFn FireNavigationCompleted = nullptr;
    WvStubFireDocumentTitleChangedFn FireDocumentTitleChanged = nullptr;
    WvStubFireNewWindowRequestedFn FireNewWindowRequested = nullptr;
    WvStubFireProcessFailedFn FireProcessFailed = nullptr;

    // Resolves every function from `module`; false when one is missing.
    bool Resolve(HMODULE module) {
        if (module == nullptr) return false;
        auto get = [module](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(
                reinterpret_cast<void*>(::GetProcAddress(module, name)));
            return fn != nullptr;
        };
        return get(Reset, "WvStubReset") && get(SetVersion, "WvStubSetVersion") &&
               get(SetBehavior, "WvStubSetBehavior") && get(LogCount, "WvStubLogCount") &&
               get(LogLine, "WvStubLogLine") && get(WebViewCount, "WvStubWebViewCount") &&
               get(GetHostObject, "WvStubGetHostObject") &&
               get(FireNavigationStarting, "WvStubFireNavigationStarting") &&
               get(FireSourceChanged, "WvStubFireSourceChanged") &&
               get(FireNavigationCompleted, "WvStubFireNavigationCompleted") &&
               get(FireDocumentTitleChanged, "WvStubFireDocumentTitleChanged") &&
               get(FireNewWindowRequested, "WvStubFireNewWindowRequested") &&
               get(FireProcessFailed, "WvStubFireProcessFailed");
    }
};
