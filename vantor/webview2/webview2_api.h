// The WebView2 COM interfaces that Vantor calls, declared by hand.
//
// A runtime object is reached only through its vtable, so every interface
// below lists every slot of the real interface in the runtime's order, up to
// the last slot that this library or its test runtime touches. Slots that are
// never called keep their names, but parameter types that nothing here uses
// are reduced to IUnknown* or void*; that changes no slot position.
//
// Where each order was checked: Microsoft's public WebView2 reference, the
// interface description WebView2.idl as published in the Microsoft.Web.WebView2
// package (release 1.0.1823.32, the release whose runtime version this library
// asks for), each interface section read method by method; the IIDs are the
// uuid attributes of the same sections. Getter/setter pairs keep the order of
// that file: "propget" before "propput", except in
// ICoreWebView2NewWindowRequestedEventArgs, whose NewWindow and Handled
// setters come before their getters there.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oaidl.h>
#include <eventtoken.h>

// Removal of an event handler takes the token by value: 8 bytes everywhere.
static_assert(sizeof(EventRegistrationToken) == 8, "EventRegistrationToken is one 64-bit value");
#if defined(__i386__)
static_assert(sizeof(RECT) == 16 && sizeof(HWND) == 4 && sizeof(BOOL) == 4, "32-bit argument sizes");
#endif

struct ICoreWebView2;
struct ICoreWebView2Controller;
struct ICoreWebView2Environment;
struct ICoreWebView2Settings;

// ---------------------------------------------------------------------------
// Event arguments. The view reads only NavigationCompleted's IsSuccess and
// NewWindowRequested's Uri and Handled; the other three are handed over
// unread, so nothing of them is declared beyond IUnknown.
// ---------------------------------------------------------------------------
struct ICoreWebView2NavigationStartingEventArgs : public IUnknown {};
struct ICoreWebView2SourceChangedEventArgs : public IUnknown {};
struct ICoreWebView2ProcessFailedEventArgs : public IUnknown {};

// WebView2.idl section "ICoreWebView2NavigationCompletedEventArgs".
struct ICoreWebView2NavigationCompletedEventArgs : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_IsSuccess(BOOL* isSuccess) = 0;        // 3
    virtual HRESULT STDMETHODCALLTYPE get_WebErrorStatus(int* status) = 0;       // 4
    virtual HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* id) = 0;          // 5
};
__CRT_UUID_DECL(ICoreWebView2NavigationCompletedEventArgs, 0x30d68b7d, 0x20d9, 0x4752, 0xa9, 0xca, 0xec,
                0x84, 0x48, 0xfb, 0xb5, 0xc1)

// WebView2.idl section "ICoreWebView2NewWindowRequestedEventArgs".
struct ICoreWebView2NewWindowRequestedEventArgs : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) = 0;                   // 3
    virtual HRESULT STDMETHODCALLTYPE put_NewWindow(ICoreWebView2* newWindow) = 0;  // 4
    virtual HRESULT STDMETHODCALLTYPE get_NewWindow(ICoreWebView2** newWindow) = 0;  // 5
    virtual HRESULT STDMETHODCALLTYPE put_Handled(BOOL handled) = 0;             // 6
    virtual HRESULT STDMETHODCALLTYPE get_Handled(BOOL* handled) = 0;            // 7
    virtual HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* value) = 0;      // 8
    virtual HRESULT STDMETHODCALLTYPE GetDeferral(IUnknown** deferral) = 0;      // 9
    virtual HRESULT STDMETHODCALLTYPE get_WindowFeatures(IUnknown** value) = 0;  // 10
};
__CRT_UUID_DECL(ICoreWebView2NewWindowRequestedEventArgs, 0x34acb11c, 0xfc37, 0x4418, 0x91, 0x32, 0xf9,
                0xc2, 0x1d, 0x1e, 0xaf, 0xb9)

// ---------------------------------------------------------------------------
// Handlers implemented by the caller. Each has one Invoke after IUnknown.
// WebView2.idl sections of the same names.
// ---------------------------------------------------------------------------
struct ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(HRESULT errorCode, ICoreWebView2Environment* environment) = 0;
};
__CRT_UUID_DECL(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, 0x4e8a3389, 0xc9d8, 0x4bd2, 0xb6,
                0xb5, 0x12, 0x4f, 0xee, 0x6c, 0xc1, 0x4d)

struct ICoreWebView2CreateCoreWebView2ControllerCompletedHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(HRESULT errorCode, ICoreWebView2Controller* controller) = 0;
};
__CRT_UUID_DECL(ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, 0x6c4819f3, 0xc9b7, 0x4260, 0x81,
                0x27, 0xc9, 0xf5, 0xbd, 0xe7, 0xf6, 0x8c)

struct ICoreWebView2NavigationStartingEventHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                             ICoreWebView2NavigationStartingEventArgs* args) = 0;
};
__CRT_UUID_DECL(ICoreWebView2NavigationStartingEventHandler, 0x9adbe429, 0xf36d, 0x432b, 0x9d, 0xdc, 0xf8,
                0x88, 0x1f, 0xbd, 0x76, 0xe3)

struct ICoreWebView2SourceChangedEventHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2SourceChangedEventArgs* args) = 0;
};
__CRT_UUID_DECL(ICoreWebView2SourceChangedEventHandler, 0x3c067f9f, 0x5388, 0x4772, 0x8b, 0x48, 0x79, 0xf7,
                0xef, 0x1a, 0xb3, 0x7c)

struct ICoreWebView2NavigationCompletedEventHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                             ICoreWebView2NavigationCompletedEventArgs* args) = 0;
};
__CRT_UUID_DECL(ICoreWebView2NavigationCompletedEventHandler, 0xd33a35bf, 0x1c49, 0x4f98, 0x93, 0xab, 0x00,
                0x6e, 0x05, 0x33, 0xfe, 0x1c)

struct ICoreWebView2DocumentTitleChangedEventHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, IUnknown* args) = 0;
};
__CRT_UUID_DECL(ICoreWebView2DocumentTitleChangedEventHandler, 0xf5f2b923, 0x953e, 0x4042, 0x9f, 0x95, 0xf3,
                0xa1, 0x18, 0xe1, 0xaf, 0xd4)

struct ICoreWebView2NewWindowRequestedEventHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                             ICoreWebView2NewWindowRequestedEventArgs* args) = 0;
};
__CRT_UUID_DECL(ICoreWebView2NewWindowRequestedEventHandler, 0xd4c185fe, 0xc81c, 0x4989, 0x97, 0xaf, 0x2d,
                0x3f, 0xa7, 0xab, 0x56, 0x51)

struct ICoreWebView2ProcessFailedEventHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2ProcessFailedEventArgs* args) = 0;
};
__CRT_UUID_DECL(ICoreWebView2ProcessFailedEventHandler, 0x79e0aea4, 0x990b, 0x42d9, 0xaa, 0x1d, 0x0f, 0xcc,
                0x2e, 0x5b, 0xc7, 0xf1)

struct ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(HRESULT errorCode, LPCWSTR id) = 0;
};
__CRT_UUID_DECL(ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler, 0xb99369f3, 0x9b11, 0x47b5,
                0xbc, 0x6f, 0x8e, 0x78, 0x95, 0xfc, 0xea, 0x17)

// ---------------------------------------------------------------------------
// WebView2.idl section "ICoreWebView2Settings" (all twenty slots).
// ---------------------------------------------------------------------------
struct ICoreWebView2Settings : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_IsScriptEnabled(BOOL* value) = 0;                  // 3
    virtual HRESULT STDMETHODCALLTYPE put_IsScriptEnabled(BOOL value) = 0;                   // 4
    virtual HRESULT STDMETHODCALLTYPE get_IsWebMessageEnabled(BOOL* value) = 0;              // 5
    virtual HRESULT STDMETHODCALLTYPE put_IsWebMessageEnabled(BOOL value) = 0;               // 6
    virtual HRESULT STDMETHODCALLTYPE get_AreDefaultScriptDialogsEnabled(BOOL* value) = 0;   // 7
    virtual HRESULT STDMETHODCALLTYPE put_AreDefaultScriptDialogsEnabled(BOOL value) = 0;    // 8
    virtual HRESULT STDMETHODCALLTYPE get_IsStatusBarEnabled(BOOL* value) = 0;               // 9
    virtual HRESULT STDMETHODCALLTYPE put_IsStatusBarEnabled(BOOL value) = 0;                // 10
    virtual HRESULT STDMETHODCALLTYPE get_AreDevToolsEnabled(BOOL* value) = 0;               // 11
    virtual HRESULT STDMETHODCALLTYPE put_AreDevToolsEnabled(BOOL value) = 0;                // 12
    virtual HRESULT STDMETHODCALLTYPE get_AreDefaultContextMenusEnabled(BOOL* value) = 0;    // 13
    virtual HRESULT STDMETHODCALLTYPE put_AreDefaultContextMenusEnabled(BOOL value) = 0;     // 14
    virtual HRESULT STDMETHODCALLTYPE get_AreHostObjectsAllowed(BOOL* value) = 0;            // 15
    virtual HRESULT STDMETHODCALLTYPE put_AreHostObjectsAllowed(BOOL value) = 0;             // 16
    virtual HRESULT STDMETHODCALLTYPE get_IsZoomControlEnabled(BOOL* value) = 0;             // 17
    virtual HRESULT STDMETHODCALLTYPE put_IsZoomControlEnabled(BOOL value) = 0;              // 18
    virtual HRESULT STDMETHODCALLTYPE get_IsBuiltInErrorPageEnabled(BOOL* value) = 0;        // 19
    virtual HRESULT STDMETHODCALLTYPE put_IsBuiltInErrorPageEnabled(BOOL value) = 0;         // 20
};
__CRT_UUID_DECL(ICoreWebView2Settings, 0xe562e4f0, 0xd7fa, 0x43ac, 0x8d, 0x71, 0xc0, 0x51, 0x50, 0x49, 0x9f,
                0x00)

// ---------------------------------------------------------------------------
// WebView2.idl section "ICoreWebView2" (all 58 slots after IUnknown).
// ---------------------------------------------------------------------------
struct ICoreWebView2 : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** settings) = 0;               // 3
    virtual HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* uri) = 0;                                      // 4
    virtual HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) = 0;                                        // 5
    virtual HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR htmlContent) = 0;                        // 6
    virtual HRESULT STDMETHODCALLTYPE add_NavigationStarting(ICoreWebView2NavigationStartingEventHandler* handler,
                                                             EventRegistrationToken* token) = 0;        // 7
    virtual HRESULT STDMETHODCALLTYPE remove_NavigationStarting(EventRegistrationToken token) = 0;      // 8
    virtual HRESULT STDMETHODCALLTYPE add_ContentLoading(IUnknown* handler, EventRegistrationToken* token) = 0;  // 9
    virtual HRESULT STDMETHODCALLTYPE remove_ContentLoading(EventRegistrationToken token) = 0;         // 10
    virtual HRESULT STDMETHODCALLTYPE add_SourceChanged(ICoreWebView2SourceChangedEventHandler* handler,
                                                        EventRegistrationToken* token) = 0;             // 11
    virtual HRESULT STDMETHODCALLTYPE remove_SourceChanged(EventRegistrationToken token) = 0;          // 12
    virtual HRESULT STDMETHODCALLTYPE add_HistoryChanged(IUnknown* handler, EventRegistrationToken* token) = 0;  // 13
    virtual HRESULT STDMETHODCALLTYPE remove_HistoryChanged(EventRegistrationToken token) = 0;         // 14
    virtual HRESULT STDMETHODCALLTYPE add_NavigationCompleted(ICoreWebView2NavigationCompletedEventHandler* handler,
                                                              EventRegistrationToken* token) = 0;       // 15
    virtual HRESULT STDMETHODCALLTYPE remove_NavigationCompleted(EventRegistrationToken token) = 0;    // 16
    virtual HRESULT STDMETHODCALLTYPE add_FrameNavigationStarting(IUnknown* handler,
                                                                  EventRegistrationToken* token) = 0;   // 17
    virtual HRESULT STDMETHODCALLTYPE remove_FrameNavigationStarting(EventRegistrationToken token) = 0;  // 18
    virtual HRESULT STDMETHODCALLTYPE add_FrameNavigationCompleted(IUnknown* handler,
                                                                   EventRegistrationToken* token) = 0;  // 19
    virtual HRESULT STDMETHODCALLTYPE remove_FrameNavigationCompleted(EventRegistrationToken token) = 0;  // 20
    virtual HRESULT STDMETHODCALLTYPE add_ScriptDialogOpening(IUnknown* handler,
                                                              EventRegistrationToken* token) = 0;       // 21
    virtual HRESULT STDMETHODCALLTYPE remove_ScriptDialogOpening(EventRegistrationToken token) = 0;    // 22
    virtual HRESULT STDMETHODCALLTYPE add_PermissionRequested(IUnknown* handler,
                                                              EventRegistrationToken* token) = 0;       // 23
    virtual HRESULT STDMETHODCALLTYPE remove_PermissionRequested(EventRegistrationToken token) = 0;    // 24
    virtual HRESULT STDMETHODCALLTYPE add_ProcessFailed(ICoreWebView2ProcessFailedEventHandler* handler,
                                                        EventRegistrationToken* token) = 0;             // 25
    virtual HRESULT STDMETHODCALLTYPE remove_ProcessFailed(EventRegistrationToken token) = 0;          // 26
    virtual HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(
        LPCWSTR javaScript, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler) = 0;  // 27
    virtual HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR id) = 0;          // 28
    virtual HRESULT STDMETHODCALLTYPE ExecuteScript(LPCWSTR javaScript, IUnknown* handler) = 0;        // 29
    virtual HRESULT STDMETHODCALLTYPE CapturePreview(int imageFormat, IUnknown* imageStream,
                                                     IUnknown* handler) = 0;                             // 30
    virtual HRESULT STDMETHODCALLTYPE Reload() = 0;                                                     // 31
    virtual HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR webMessageAsJson) = 0;              // 32
    virtual HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR webMessageAsString) = 0;          // 33
    virtual HRESULT STDMETHODCALLTYPE add_WebMessageReceived(IUnknown* handler,
                                                             EventRegistrationToken* token) = 0;        // 34
    virtual HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(EventRegistrationToken token) = 0;     // 35
    virtual HRESULT STDMETHODCALLTYPE CallDevToolsProtocolMethod(LPCWSTR methodName, LPCWSTR parametersAsJson,
                                                                 IUnknown* handler) = 0;                // 36
    virtual HRESULT STDMETHODCALLTYPE get_BrowserProcessId(UINT32* value) = 0;                          // 37
    virtual HRESULT STDMETHODCALLTYPE get_CanGoBack(BOOL* canGoBack) = 0;                               // 38
    virtual HRESULT STDMETHODCALLTYPE get_CanGoForward(BOOL* canGoForward) = 0;                         // 39
    virtual HRESULT STDMETHODCALLTYPE GoBack() = 0;                                                     // 40
    virtual HRESULT STDMETHODCALLTYPE GoForward() = 0;                                                  // 41
    virtual HRESULT STDMETHODCALLTYPE GetDevToolsProtocolEventReceiver(LPCWSTR eventName,
                                                                       IUnknown** receiver) = 0;        // 42
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;                                                       // 43
    virtual HRESULT STDMETHODCALLTYPE add_NewWindowRequested(ICoreWebView2NewWindowRequestedEventHandler* handler,
                                                             EventRegistrationToken* token) = 0;        // 44
    virtual HRESULT STDMETHODCALLTYPE remove_NewWindowRequested(EventRegistrationToken token) = 0;     // 45
    virtual HRESULT STDMETHODCALLTYPE add_DocumentTitleChanged(ICoreWebView2DocumentTitleChangedEventHandler* handler,
                                                               EventRegistrationToken* token) = 0;      // 46
    virtual HRESULT STDMETHODCALLTYPE remove_DocumentTitleChanged(EventRegistrationToken token) = 0;   // 47
    virtual HRESULT STDMETHODCALLTYPE get_DocumentTitle(LPWSTR* title) = 0;                             // 48
    virtual HRESULT STDMETHODCALLTYPE AddHostObjectToScript(LPCWSTR name, VARIANT* object) = 0;         // 49
    virtual HRESULT STDMETHODCALLTYPE RemoveHostObjectFromScript(LPCWSTR name) = 0;                     // 50
    virtual HRESULT STDMETHODCALLTYPE OpenDevToolsWindow() = 0;                                         // 51
    virtual HRESULT STDMETHODCALLTYPE add_ContainsFullScreenElementChanged(IUnknown* handler,
                                                                           EventRegistrationToken* token) = 0;  // 52
    virtual HRESULT STDMETHODCALLTYPE remove_ContainsFullScreenElementChanged(EventRegistrationToken token) = 0;  // 53
    virtual HRESULT STDMETHODCALLTYPE get_ContainsFullScreenElement(BOOL* value) = 0;                  // 54
    virtual HRESULT STDMETHODCALLTYPE add_WebResourceRequested(IUnknown* handler,
                                                               EventRegistrationToken* token) = 0;      // 55
    virtual HRESULT STDMETHODCALLTYPE remove_WebResourceRequested(EventRegistrationToken token) = 0;   // 56
    virtual HRESULT STDMETHODCALLTYPE AddWebResourceRequestedFilter(LPCWSTR uri, int resourceContext) = 0;    // 57
    virtual HRESULT STDMETHODCALLTYPE RemoveWebResourceRequestedFilter(LPCWSTR uri, int resourceContext) = 0;  // 58
    virtual HRESULT STDMETHODCALLTYPE add_WindowCloseRequested(IUnknown* handler,
                                                               EventRegistrationToken* token) = 0;      // 59
    virtual HRESULT STDMETHODCALLTYPE remove_WindowCloseRequested(EventRegistrationToken token) = 0;   // 60
};
__CRT_UUID_DECL(ICoreWebView2, 0x76eceacb, 0x0462, 0x4d94, 0xac, 0x83, 0x42, 0x3a, 0x67, 0x93, 0x77, 0x5e)

// ---------------------------------------------------------------------------
// WebView2.idl sections "ICoreWebView2Controller", "...Controller2" and
// "...Controller3"; each continues the slots of the one before.
// ---------------------------------------------------------------------------
struct ICoreWebView2Controller : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL* isVisible) = 0;                              // 3
    virtual HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL isVisible) = 0;                               // 4
    virtual HRESULT STDMETHODCALLTYPE get_Bounds(RECT* bounds) = 0;                                    // 5
    virtual HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) = 0;                                     // 6
    virtual HRESULT STDMETHODCALLTYPE get_ZoomFactor(double* zoomFactor) = 0;                          // 7
    virtual HRESULT STDMETHODCALLTYPE put_ZoomFactor(double zoomFactor) = 0;                           // 8
    virtual HRESULT STDMETHODCALLTYPE add_ZoomFactorChanged(IUnknown* handler, EventRegistrationToken* token) = 0;  // 9
    virtual HRESULT STDMETHODCALLTYPE remove_ZoomFactorChanged(EventRegistrationToken token) = 0;     // 10
    virtual HRESULT STDMETHODCALLTYPE SetBoundsAndZoomFactor(RECT bounds, double zoomFactor) = 0;     // 11
    virtual HRESULT STDMETHODCALLTYPE MoveFocus(int reason) = 0;                                       // 12
    virtual HRESULT STDMETHODCALLTYPE add_MoveFocusRequested(IUnknown* handler, EventRegistrationToken* token) = 0;  // 13
    virtual HRESULT STDMETHODCALLTYPE remove_MoveFocusRequested(EventRegistrationToken token) = 0;    // 14
    virtual HRESULT STDMETHODCALLTYPE add_GotFocus(IUnknown* handler, EventRegistrationToken* token) = 0;  // 15
    virtual HRESULT STDMETHODCALLTYPE remove_GotFocus(EventRegistrationToken token) = 0;              // 16
    virtual HRESULT STDMETHODCALLTYPE add_LostFocus(IUnknown* handler, EventRegistrationToken* token) = 0;  // 17
    virtual HRESULT STDMETHODCALLTYPE remove_LostFocus(EventRegistrationToken token) = 0;             // 18
    virtual HRESULT STDMETHODCALLTYPE add_AcceleratorKeyPressed(IUnknown* handler,
                                                                EventRegistrationToken* token) = 0;    // 19
    virtual HRESULT STDMETHODCALLTYPE remove_AcceleratorKeyPressed(EventRegistrationToken token) = 0;  // 20
    virtual HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND* parentWindow) = 0;                        // 21
    virtual HRESULT STDMETHODCALLTYPE put_ParentWindow(HWND parentWindow) = 0;                         // 22
    virtual HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() = 0;                         // 23
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;                                                     // 24
    virtual HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** coreWebView2) = 0;              // 25
};
__CRT_UUID_DECL(ICoreWebView2Controller, 0x4d00c0d1, 0x9434, 0x4eb6, 0x80, 0x78, 0x86, 0x97, 0xa5, 0x60, 0x33,
                0x4f)

struct ICoreWebView2Controller2 : public ICoreWebView2Controller {
    virtual HRESULT STDMETHODCALLTYPE get_DefaultBackgroundColor(UINT32* color) = 0;                   // 26
    virtual HRESULT STDMETHODCALLTYPE put_DefaultBackgroundColor(UINT32 color) = 0;                    // 27
};
__CRT_UUID_DECL(ICoreWebView2Controller2, 0xc979903e, 0xd4ca, 0x4228, 0x92, 0xeb, 0x47, 0xee, 0x3f, 0xa9, 0x6e,
                0xab)

struct ICoreWebView2Controller3 : public ICoreWebView2Controller2 {
    virtual HRESULT STDMETHODCALLTYPE get_RasterizationScale(double* scale) = 0;                       // 28
    virtual HRESULT STDMETHODCALLTYPE put_RasterizationScale(double scale) = 0;                        // 29
    virtual HRESULT STDMETHODCALLTYPE get_ShouldDetectMonitorScaleChanges(BOOL* value) = 0;            // 30
    virtual HRESULT STDMETHODCALLTYPE put_ShouldDetectMonitorScaleChanges(BOOL value) = 0;             // 31
    virtual HRESULT STDMETHODCALLTYPE add_RasterizationScaleChanged(IUnknown* handler,
                                                                    EventRegistrationToken* token) = 0;  // 32
    virtual HRESULT STDMETHODCALLTYPE remove_RasterizationScaleChanged(EventRegistrationToken token) = 0;  // 33
    virtual HRESULT STDMETHODCALLTYPE get_BoundsMode(int* boundsMode) = 0;                             // 34
    virtual HRESULT STDMETHODCALLTYPE put_BoundsMode(int boundsMode) = 0;                              // 35
};
__CRT_UUID_DECL(ICoreWebView2Controller3, 0xf9614724, 0x5d2b, 0x41dc, 0xae, 0xf7, 0x73, 0xd6, 0x2b, 0x51, 0x54,
                0x3b)

// ---------------------------------------------------------------------------
// WebView2.idl section "ICoreWebView2Environment" (all five slots).
// ---------------------------------------------------------------------------
struct ICoreWebView2Environment : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
        HWND parentWindow, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) = 0;    // 3
    virtual HRESULT STDMETHODCALLTYPE CreateWebResourceResponse(IUnknown* content, int statusCode,
                                                                LPCWSTR reasonPhrase, LPCWSTR headers,
                                                                IUnknown** response) = 0;              // 4
    virtual HRESULT STDMETHODCALLTYPE get_BrowserVersionString(LPWSTR* versionInfo) = 0;              // 5
    virtual HRESULT STDMETHODCALLTYPE add_NewBrowserVersionAvailable(IUnknown* handler,
                                                                     EventRegistrationToken* token) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE remove_NewBrowserVersionAvailable(EventRegistrationToken token) = 0;  // 7
};
__CRT_UUID_DECL(ICoreWebView2Environment, 0xb96d755e, 0x0319, 0x4e92, 0xa2, 0x96, 0x23, 0x43, 0x6f, 0x46, 0xa1,
                0xfc)

// ---------------------------------------------------------------------------
// WebView2.idl sections "ICoreWebView2EnvironmentOptions" and
// "ICoreWebView2EnvironmentOptions2"; both derive from IUnknown directly.
// ---------------------------------------------------------------------------
struct ICoreWebView2EnvironmentOptions : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_AdditionalBrowserArguments(LPWSTR* value) = 0;              // 3
    virtual HRESULT STDMETHODCALLTYPE put_AdditionalBrowserArguments(LPCWSTR value) = 0;              // 4
    virtual HRESULT STDMETHODCALLTYPE get_Language(LPWSTR* value) = 0;                                // 5
    virtual HRESULT STDMETHODCALLTYPE put_Language(LPCWSTR value) = 0;                                // 6
    virtual HRESULT STDMETHODCALLTYPE get_TargetCompatibleBrowserVersion(LPWSTR* value) = 0;          // 7
    virtual HRESULT STDMETHODCALLTYPE put_TargetCompatibleBrowserVersion(LPCWSTR value) = 0;          // 8
    virtual HRESULT STDMETHODCALLTYPE get_AllowSingleSignOnUsingOSPrimaryAccount(BOOL* allow) = 0;    // 9
    virtual HRESULT STDMETHODCALLTYPE put_AllowSingleSignOnUsingOSPrimaryAccount(BOOL allow) = 0;     // 10
};
__CRT_UUID_DECL(ICoreWebView2EnvironmentOptions, 0x2fde08a8, 0x1e9a, 0x4766, 0x8c, 0x05, 0x95, 0xa9, 0xce, 0xb9,
                0xd1, 0xc5)

struct ICoreWebView2EnvironmentOptions2 : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_ExclusiveUserDataFolderAccess(BOOL* value) = 0;             // 3
    virtual HRESULT STDMETHODCALLTYPE put_ExclusiveUserDataFolderAccess(BOOL value) = 0;              // 4
};
__CRT_UUID_DECL(ICoreWebView2EnvironmentOptions2, 0xff85c98a, 0x1ba7, 0x4a6b, 0x90, 0xc8, 0x2b, 0x75, 0x2c, 0x89,
                0xe9, 0xe2)

// ---------------------------------------------------------------------------
// The two loader functions, exported undecorated by WebView2Loader.dll
// (WebView2.idl, closing cpp_quote lines). STDAPI: __stdcall, HRESULT.
// ---------------------------------------------------------------------------
using GetAvailableCoreWebView2BrowserVersionStringFn = HRESULT(STDAPICALLTYPE*)(PCWSTR browserExecutableFolder,
                                                                               LPWSTR* versionInfo);
using CreateCoreWebView2EnvironmentWithOptionsFn = HRESULT(STDAPICALLTYPE*)(
    PCWSTR browserExecutableFolder, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* environmentCreatedHandler);
