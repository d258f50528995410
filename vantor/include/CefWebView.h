// Public interface of Vantor.dll: browser views that a host application puts
// into its own windows.
//
// A host loads Vantor.dll, asks GetWebViewFactory() for the factory, creates
// views with CreateWebView and drives them through IWebView / IWebViewEx on
// the thread that owns the parent window and runs its message loop. Every
// notification comes back on that thread through the host's IWebViewHandler.
//
// Binary layout: these are tables of virtual operations whose slot order is
// fixed (the slot number is given with each operation). Slot 0 of IWebView and
// IWebViewFactory is where a compiler that uses one "deleting destructor" slot
// (Microsoft C++) places the virtual destructor; it is declared here as a plain
// operation so that every compiler gives the same table. Member functions use
// the compiler's default member calling convention (thiscall on 32-bit x86).
// Hosts never delete views or the factory: a view ends with Close().
#pragma once

#include <windows.h>

#include <cstdint>

namespace CefWebView {

class IWebView;

// Receives a view's notifications; implemented by the host. Strings are valid
// only during the call. Slots 0, 2, 3 and 4 are reserved and never called.
class IWebViewHandler {
public:
    virtual void Reserved0() {}                                                             // 0
    // A navigation starts; the page's new "asexternal" object is already in place.
    virtual void OnNavigationStarting(IWebView* view) = 0;                                  // 1
    virtual void Reserved2() {}                                                             // 2
    virtual void Reserved3() {}                                                             // 3
    virtual void Reserved4() {}                                                             // 4
    // The browser could not be built, a navigation failed or a browser process
    // failed. `address` is the view's start address; `code` is always 0.
    virtual void OnLoadFailed(IWebView* view, const wchar_t* address, int code) = 0;        // 5
    // A navigation completed successfully.
    virtual void OnLoadSucceeded(IWebView* view) = 0;                                       // 6
    // The page's address changed.
    virtual void OnSourceChanged(IWebView* view, const wchar_t* address) = 0;               // 7
    // The document title changed.
    virtual void OnTitleChanged(IWebView* view, const wchar_t* title) = 0;                  // 8
    // The page asked for a new window; none is opened.
    virtual void OnNewWindowRequested(IWebView* view, const wchar_t* address) = 0;          // 9

protected:
    ~IWebViewHandler() = default;
};

// Told the outcome of IWebViewEx::CallScriptFunction; implemented by the host.
class IScriptCallCompletion {
public:
    // `reserved` is always 0, `status` the result of calling the page function
    // (0x80004001 when the page registered no function under the name),
    // `result` is always an empty string.
    virtual void OnCompleted(int reserved, HRESULT status, const wchar_t* result) = 0;      // 0

protected:
    ~IScriptCallCompletion() = default;
};

// A function that the host offers to page script; implemented by the host.
class IHostFunction {
public:
    // Runs the function. `args` holds `count` strings (null when there are
    // none), valid only during the call. The function may set `*result` (null
    // on entry) to a string of its own; the view copies it and hands it back
    // through FreeResult. The return value is not looked at.
    virtual int Call(const wchar_t* name, const wchar_t** args, int count, wchar_t** result) = 0;  // 0
    // Frees a string that Call returned.
    virtual void FreeResult(wchar_t* result) = 0;                                           // 1
    // Called once when the view no longer keeps the function.
    virtual void Release() = 0;                                                             // 2

protected:
    ~IHostFunction() = default;
};

// One browser view.
class IWebView {
public:
    // Slot of the deleting destructor. Hosts do not call it; if one does, the
    // view ends as with Close().
    virtual void DeleteThis(unsigned int flags) = 0;                                        // 0
    // Stores the handler and starts the browser unless one exists. Returns 1.
    virtual BOOL Create(IWebViewHandler* handler) = 0;                                      // 1
    // Replaces the handler; null stops notifications.
    virtual void SetHandler(IWebViewHandler* handler) = 0;                                  // 2
    virtual BOOL Reserved1(void* a, void* b) = 0;                                           // 3
    // Drops the current browser (if any) and builds a new one that starts at
    // `address` (null: the blank page). Returns 1.
    virtual BOOL LoadUrl(const wchar_t* address, void* reserved) = 0;                       // 4
    // Shows or hides the browser, when one exists. Returns 1.
    virtual BOOL SetVisible(BOOL visible) = 0;                                              // 5
    // New bounds in the parent's client coordinates.
    virtual void SetBounds(const RECT* bounds) = 0;                                         // 6
    // Ends the view. The host must not use the pointer afterwards.
    virtual void Close() = 0;                                                               // 7
    virtual void Reserved2(void* a) = 0;                                                    // 8

protected:
    ~IWebView() = default;
};

// The extended view. Every view of this library implements it; reach it with
// IWebViewToIWebViewEx.
class IWebViewEx : public IWebView {
public:
    // No extensions exist: sets *out to null and returns E_NOINTERFACE.
    virtual HRESULT QueryExtension(uintptr_t id, void** out) = 0;                           // 9
    // Stores an opaque value that the view never reads.
    virtual void SetUserData(void* data) = 0;                                               // 10
    // Reads "root_window" or "enable_high_dpi" (names ignore case) as 4 bytes
    // into `buffer`; `*size` is the buffer size in, 4 out. E_INVALIDARG when
    // the buffer is smaller than 4 bytes; other names give 0 and write nothing.
    virtual HRESULT GetProperty(const wchar_t* name, void* buffer, DWORD* size) = 0;        // 11
    // Sets "enable_high_dpi" (4-byte boolean), "special_command" (a browser
    // argument; the last one set is used) or "set_edge_log_path" (name of the
    // data folder). Strings are `size`/2 characters, or NUL-terminated when
    // `size` is 0. The first two give E_ACCESSDENIED once the browser exists.
    virtual HRESULT SetProperty(const wchar_t* name, const void* value, DWORD size) = 0;    // 12
    // Calls the page function registered under `name` with `args`, then tells
    // `completion` (may be null) the status. Nothing happens before the first
    // navigation has started. Returns 0.
    virtual HRESULT CallScriptFunction(const wchar_t* name, IScriptCallCompletion* completion,
                                       const wchar_t** args, int count) = 0;                // 13
    virtual int Reserved3(void* a) = 0;                                                     // 14
    virtual void Reserved4(void* a) = 0;                                                    // 15
    // Offers `function` to the current page under `name` (replacing and
    // releasing an earlier one). Ignored before the first navigation starts;
    // every navigation start begins with an empty set. Returns 0.
    virtual HRESULT RegisterHostFunction(const wchar_t* name, IHostFunction* function) = 0;  // 16
    // Withdraws and releases the function under `name`. Returns 0.
    virtual HRESULT UnregisterHostFunction(const wchar_t* name) = 0;                        // 17
    virtual int Reserved5(void* a) = 0;                                                     // 18
    // Reloads the page; the browser's result, or 0 when no browser exists.
    virtual HRESULT Reload() = 0;                                                           // 19

protected:
    ~IWebViewEx() = default;
};

// Creates views. One static instance lives as long as the library.
class IWebViewFactory {
public:
    // Slot of the deleting destructor; does nothing.
    virtual void DeleteThis(unsigned int flags) = 0;                                        // 0
    // Returns 1.
    virtual int Initialize() = 0;                                                           // 1
    // A new view for engine type 2 (WebView2) with a runtime of major version
    // 109 or later, or null with last error 0xFFFFFFFF. The browser starts
    // with IWebView::Create. `address` may be null (the blank page).
    virtual IWebView* CreateWebView(int engineType, HWND parent, RECT bounds, const wchar_t* address,
                                    void* reserved) = 0;                                    // 2

protected:
    ~IWebViewFactory() = default;
};

}  // namespace CefWebView

// Engine type of the WebView2 engine, the only one this library serves.
#define VANTOR_ENGINE_WEBVIEW2 2

// Exports of Vantor.dll (undecorated names, C calling convention).
extern "C" {
// The factory; the same pointer on every call.
CefWebView::IWebViewFactory* GetWebViewFactory();
// 1 when `engineType` is 2 and the installed WebView2 runtime is major version
// 109 or later (last error 0); otherwise 0 with last error 0xFFFFFFFF.
int IsSupportedWebViewEngine(int engineType, void* reserved);
// The extended interface of a live view of this library, or null.
CefWebView::IWebViewEx* IWebViewToIWebViewEx(CefWebView::IWebView* view);
}

using GetWebViewFactoryFn = CefWebView::IWebViewFactory* (*)();
using IsSupportedWebViewEngineFn = int (*)(int engineType, void* reserved);
using IWebViewToIWebViewExFn = CefWebView::IWebViewEx* (*)(CefWebView::IWebView* view);
