// CWebView: one browser view in a window of the host application, built on
// the WebView2 runtime. Everything runs on the host's UI thread: the host's
// calls, the runtime's creation callbacks and its events.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "CefWebView.h"
#include "host_object_as_external.h"
#include "velisk/handles.h"
#include "webview2_api.h"

namespace vantor {

class CWebView final : public CefWebView::IWebViewEx {
public:
    // A view for `parent` with `bounds`; `startAddress` may be null (blank
    // page). Creates or opens the named slot-file mutex; starts no browser.
    CWebView(HWND parent, const RECT& bounds, const wchar_t* startAddress);

    // IWebView (see CefWebView.h for the contract of each slot).
    void DeleteThis(unsigned int flags) override;
    BOOL Create(CefWebView::IWebViewHandler* handler) override;
    void SetHandler(CefWebView::IWebViewHandler* handler) override;
    BOOL Reserved1(void* a, void* b) override;
    BOOL LoadUrl(const wchar_t* address, void* reserved) override;
    BOOL SetVisible(BOOL visible) override;
    void SetBounds(const RECT* bounds) override;
    void Close() override;
    void Reserved2(void* a) override;

    // IWebViewEx.
    HRESULT QueryExtension(uintptr_t id, void** out) override;
    void SetUserData(void* data) override;
    HRESULT GetProperty(const wchar_t* name, void* buffer, DWORD* size) override;
    HRESULT SetProperty(const wchar_t* name, const void* value, DWORD size) override;
    HRESULT CallScriptFunction(const wchar_t* name, CefWebView::IScriptCallCompletion* completion,
                               const wchar_t** args, int count) override;
    int Reserved3(void* a) override;
    void Reserved4(void* a) override;
    HRESULT RegisterHostFunction(const wchar_t* name, CefWebView::IHostFunction* function) override;
    HRESULT UnregisterHostFunction(const wchar_t* name) override;
    int Reserved5(void* a) override;
    HRESULT Reload() override;

    // True when `view` is a view of this library that has not been destroyed.
    static bool IsLiveView(const CefWebView::IWebView* view);

    // Creation callbacks and events, called by the runtime's handler objects.
    // `generation` tells which creation a callback belongs to; callbacks of a
    // creation that LoadUrl or Close superseded only release what they got.
    void OnEnvironmentCreated(unsigned int generation, HRESULT status, ICoreWebView2Environment* environment);
    void OnControllerCreated(unsigned int generation, HRESULT status, ICoreWebView2Controller* controller);
    HRESULT OnNavigationStarting(ICoreWebView2* sender, ICoreWebView2NavigationStartingEventArgs* args);
    HRESULT OnSourceChanged(ICoreWebView2* sender, ICoreWebView2SourceChangedEventArgs* args);
    HRESULT OnNavigationCompleted(ICoreWebView2* sender, ICoreWebView2NavigationCompletedEventArgs* args);
    HRESULT OnDocumentTitleChanged(ICoreWebView2* sender, IUnknown* args);
    HRESULT OnNewWindowRequested(ICoreWebView2* sender, ICoreWebView2NewWindowRequestedEventArgs* args);
    HRESULT OnProcessFailed(ICoreWebView2* sender, ICoreWebView2ProcessFailedEventArgs* args);

    // A creation callback is outstanding from this call until the matching
    // SettlePendingCallback (when it has run, or the runtime dropped it).
    void AddPendingCallback();
    void SettlePendingCallback();

private:
    // Indexes of the six event registrations, in the order they are made.
    enum Event { kNavigationStarting, kSourceChanged, kNavigationCompleted, kDocumentTitleChanged,
                 kNewWindowRequested, kProcessFailed, kEventCount };

    ~CWebView();

    bool HasBrowser() const { return static_cast<bool>(m_webview); }
    void StartCreation();
    void SetUpBrowser();
    void RegisterEvents();
    void Teardown();
    void DestroyWhenIdle();
    void ReportLoadFailed();
    void ReplaceHostObject(ICoreWebView2* sender);

    HWND m_parent;
    RECT m_bounds;
    CefWebView::IWebViewHandler* m_handler = nullptr;
    void* m_userData = nullptr;
    std::wstring m_startAddress;
    std::vector<std::wstring> m_specialCommands;
    BOOL m_enableHighDpi = FALSE;
    std::wstring m_dataFolderName;
    velisk::UniqueKernelHandle m_mutex;

    velisk::ComPtr<ICoreWebView2Environment> m_environment;
    velisk::ComPtr<ICoreWebView2Controller> m_controller;
    velisk::ComPtr<ICoreWebView2> m_webview;
    EventRegistrationToken m_tokens[kEventCount];
    velisk::ComPtr<IUnknown> m_sinks[kEventCount];  // our handler objects, detached at teardown
    velisk::ComPtr<CHostObjectASExternal> m_hostObject;

    unsigned int m_generation = 0;   // number of the newest creation
    unsigned int m_pending = 0;      // creation callbacks outstanding
    bool m_closeRequested = false;
    bool m_destroyed = false;
};

}  // namespace vantor
