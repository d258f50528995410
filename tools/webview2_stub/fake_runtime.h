// The scripted fake WebView2 runtime behind the stand-in loader: state shared
// by the exports, the call log, and the fake environment, controller, core
// view and settings objects.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "velisk/handles.h"
#include "webview2_api.h"
#include "webview2_stub_control.h"

namespace wvstub {

class FakeWebView;

// Everything the stand-in remembers; one per process, used on one thread.
struct RuntimeState {
    std::optional<std::wstring> version;  // unset: no runtime installed
    unsigned int behavior = 0;
    std::vector<std::wstring> log;
    std::vector<velisk::ComPtr<FakeWebView>> webviews;  // every core view created, oldest first
    int environments = 0;
    int controllers = 0;
    int64_t nextToken = 1;
};

// The process's state (created on first use with the default version).
RuntimeState& State();
// Back to the defaults: default version, normal behaviour, empty log.
void ResetState();
// Appends one line to the call log.
void Log(const std::wstring& line);
// Runs `task` later on the calling thread, from its message loop.
void PostToThisThread(std::function<void()> task);

// IUnknown for one interface chain: answers IUnknown and each listed IID.
template <typename Interface>
class FakeObject : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !Answers(iid)) return E_NOINTERFACE;
        *out = static_cast<Interface*>(this);
        this->AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = --m_refs;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

protected:
    FakeObject() = default;
    virtual ~FakeObject() = default;
    // The interfaces besides IUnknown that QueryInterface answers.
    virtual bool Answers(REFIID iid) const = 0;

private:
    LONG m_refs = 1;
};

// The six events of a core view, in registration order.
enum class Event { NavigationStarting, SourceChanged, NavigationCompleted, DocumentTitleChanged, NewWindowRequested,
                   ProcessFailed };

class FakeSettings final : public FakeObject<ICoreWebView2Settings> {
public:
    explicit FakeSettings(int id) : m_id(id) {}
#define WVSTUB_BOOL_SETTING(Name)                                                  \
    HRESULT STDMETHODCALLTYPE get_##Name(BOOL* value) override {                   \
        if (value == nullptr) return E_POINTER;                                    \
        *value = m_##Name;                                                         \
        return S_OK;                                                               \
    }                                                                              \
    HRESULT STDMETHODCALLTYPE put_##Name(BOOL value) override {                    \
        Log(L"settings" + std::to_wstring(m_id) + L".put_" #Name L" " + std::to_wstring(value)); \
        m_##Name = value;                                                          \
        return S_OK;                                                               \
    }
    WVSTUB_BOOL_SETTING(IsScriptEnabled)
    WVSTUB_BOOL_SETTING(IsWebMessageEnabled)
    WVSTUB_BOOL_SETTING(AreDefaultScriptDialogsEnabled)
    WVSTUB_BOOL_SETTING(IsStatusBarEnabled)
    WVSTUB_BOOL_SETTING(AreDevToolsEnabled)
    WVSTUB_BOOL_SETTING(AreDefaultContextMenusEnabled)
    WVSTUB_BOOL_SETTING(AreHostObjectsAllowed)
    WVSTUB_BOOL_SETTING(IsZoomControlEnabled)
    WVSTUB_BOOL_SETTING(IsBuiltInErrorPageEnabled)
#undef WVSTUB_BOOL_SETTING

private:
    bool Answers(REFIID iid) const override { return IsEqualIID(iid, __uuidof(ICoreWebView2Settings)); }
    int m_id;
    BOOL m_IsScriptEnabled = TRUE, m_IsWebMessageEnabled = TRUE, m_AreDefaultScriptDialogsEnabled = TRUE,
         m_IsStatusBarEnabled = TRUE, m_AreDevToolsEnabled = TRUE, m_AreDefaultContextMenusEnabled = TRUE,
         m_AreHostObjectsAllowed = TRUE, m_IsZoomControlEnabled = TRUE, m_IsBuiltInErrorPageEnabled = TRUE;
};

// A core view. Navigate only records the address; events fire on command.
class FakeWebView final : public FakeObject<ICoreWebView2> {
public:
    explicit FakeWebView(int id);

    int id() const { return m_id; }
    // Fires one event to every registered handler; returns how many ran.
    int FireNavigationStarting();
    int FireSourceChanged(const wchar_t* uri);
    int FireNavigationCompleted(BOOL success);
    int FireDocumentTitleChanged(const wchar_t* title);
    int FireNewWindowRequested(const wchar_t* uri, BOOL* handled);
    int FireProcessFailed();
    // The host object under `name` with a new reference, or null.
    IDispatch* HostObject(const std::wstring& name);
    // What the controller's Close does to the view: handlers and host objects go.
    void CloseByController();

    HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** settings) override;
    HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* uri) override;
    HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) override;
    HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_NavigationStarting(ICoreWebView2NavigationStartingEventHandler* handler,
                                                     EventRegistrationToken* token) override {
        return Add(Event::NavigationStarting, L"NavigationStarting", handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_NavigationStarting(EventRegistrationToken token) override {
        return Remove(Event::NavigationStarting, L"NavigationStarting", token);
    }
    HRESULT STDMETHODCALLTYPE add_ContentLoading(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE remove_ContentLoading(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_SourceChanged(ICoreWebView2SourceChangedEventHandler* handler,
                                                EventRegistrationToken* token) override {
        return Add(Event::SourceChanged, L"SourceChanged", handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_SourceChanged(EventRegistrationToken token) override {
        return Remove(Event::SourceChanged, L"SourceChanged", token);
    }
    HRESULT STDMETHODCALLTYPE add_HistoryChanged(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE remove_HistoryChanged(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_NavigationCompleted(ICoreWebView2NavigationCompletedEventHandler* handler,
                                                      EventRegistrationToken* token) override {
        return Add(Event::NavigationCompleted, L"NavigationCompleted", handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_NavigationCompleted(EventRegistrationToken token) override {
        return Remove(Event::NavigationCompleted, L"NavigationCompleted", token);
    }
    HRESULT STDMETHODCALLTYPE add_FrameNavigationStarting(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_FrameNavigationStarting(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_FrameNavigationCompleted(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_FrameNavigationCompleted(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_ScriptDialogOpening(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_ScriptDialogOpening(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_PermissionRequested(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_PermissionRequested(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_ProcessFailed(ICoreWebView2ProcessFailedEventHandler* handler,
                                                EventRegistrationToken* token) override {
        return Add(Event::ProcessFailed, L"ProcessFailed", handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_ProcessFailed(EventRegistrationToken token) override {
        return Remove(Event::ProcessFailed, L"ProcessFailed", token);
    }
    HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(
        LPCWSTR javaScript, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler) override;
    HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExecuteScript(LPCWSTR, IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CapturePreview(int, IUnknown*, IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reload() override;
    HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_WebMessageReceived(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CallDevToolsProtocolMethod(LPCWSTR, LPCWSTR, IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_BrowserProcessId(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_CanGoBack(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_CanGoForward(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GoBack() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GoForward() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDevToolsProtocolEventReceiver(LPCWSTR, IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_NewWindowRequested(ICoreWebView2NewWindowRequestedEventHandler* handler,
                                                     EventRegistrationToken* token) override {
        return Add(Event::NewWindowRequested, L"NewWindowRequested", handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_NewWindowRequested(EventRegistrationToken token) override {
        return Remove(Event::NewWindowRequested, L"NewWindowRequested", token);
    }
    HRESULT STDMETHODCALLTYPE add_DocumentTitleChanged(ICoreWebView2DocumentTitleChangedEventHandler* handler,
                                                       EventRegistrationToken* token) override {
        return Add(Event::DocumentTitleChanged, L"DocumentTitleChanged", handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_DocumentTitleChanged(EventRegistrationToken token) override {
        return Remove(Event::DocumentTitleChanged, L"DocumentTitleChanged", token);
    }
    HRESULT STDMETHODCALLTYPE get_DocumentTitle(LPWSTR* title) override;
    HRESULT STDMETHODCALLTYPE AddHostObjectToScript(LPCWSTR name, VARIANT* object) override;
    HRESULT STDMETHODCALLTYPE RemoveHostObjectFromScript(LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE OpenDevToolsWindow() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_ContainsFullScreenElementChanged(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_ContainsFullScreenElementChanged(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_ContainsFullScreenElement(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_WebResourceRequested(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_WebResourceRequested(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddWebResourceRequestedFilter(LPCWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveWebResourceRequestedFilter(LPCWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_WindowCloseRequested(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_WindowCloseRequested(EventRegistrationToken) override { return E_NOTIMPL; }

private:
    bool Answers(REFIID iid) const override { return IsEqualIID(iid, __uuidof(ICoreWebView2)); }
    HRESULT Add(Event event, const wchar_t* name, IUnknown* handler, EventRegistrationToken* token);
    HRESULT Remove(Event event, const wchar_t* name, EventRegistrationToken token);
    // The handlers of `event`, each with a reference, in registration order.
    std::vector<velisk::ComPtr<IUnknown>> Handlers(Event event) const;
    std::wstring Name() const { return L"webview" + std::to_wstring(m_id); }

    int m_id;
    std::wstring m_source;
    std::wstring m_title;
    velisk::ComPtr<FakeSettings> m_settings;
    std::map<Event, std::map<int64_t, velisk::ComPtr<IUnknown>>> m_handlers;
    std::map<std::wstring, velisk::ComPtr<IDispatch>> m_hostObjects;
};

// A controller with its core view; answers Controller, Controller2 and Controller3.
class FakeController final : public FakeObject<ICoreWebView2Controller3> {
public:
    FakeController(int id, FakeWebView* webview) : m_id(id), m_webview(webview) {}

    HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL* visible) override;
    HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL visible) override;
    HRESULT STDMETHODCALLTYPE get_Bounds(RECT* bounds) override;
    HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) override;
    HRESULT STDMETHODCALLTYPE get_ZoomFactor(double*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_ZoomFactor(double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_ZoomFactorChanged(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE remove_ZoomFactorChanged(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetBoundsAndZoomFactor(RECT, double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MoveFocus(int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_MoveFocusRequested(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_MoveFocusRequested(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_GotFocus(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE remove_GotFocus(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_LostFocus(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE remove_LostFocus(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_AcceleratorKeyPressed(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_AcceleratorKeyPressed(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_ParentWindow(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Close() override;
    HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** webview) override;
    HRESULT STDMETHODCALLTYPE get_DefaultBackgroundColor(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_DefaultBackgroundColor(UINT32) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RasterizationScale(double*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_RasterizationScale(double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ShouldDetectMonitorScaleChanges(BOOL* value) override;
    HRESULT STDMETHODCALLTYPE put_ShouldDetectMonitorScaleChanges(BOOL value) override;
    HRESULT STDMETHODCALLTYPE add_RasterizationScaleChanged(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_RasterizationScaleChanged(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_BoundsMode(int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_BoundsMode(int) override { return E_NOTIMPL; }

private:
    bool Answers(REFIID iid) const override;
    std::wstring Name() const { return L"controller" + std::to_wstring(m_id); }

    int m_id;
    velisk::ComPtr<FakeWebView> m_webview;
    BOOL m_visible = TRUE;
    RECT m_bounds = {};
    BOOL m_detectScale = TRUE;
    bool m_closed = false;
};

class FakeEnvironment final : public FakeObject<ICoreWebView2Environment> {
public:
    explicit FakeEnvironment(int id) : m_id(id) {}

    HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
        HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) override;
    HRESULT STDMETHODCALLTYPE CreateWebResourceResponse(IUnknown*, int, LPCWSTR, LPCWSTR, IUnknown**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_BrowserVersionString(LPWSTR* version) override;
    HRESULT STDMETHODCALLTYPE add_NewBrowserVersionAvailable(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_NewBrowserVersionAvailable(EventRegistrationToken) override { return E_NOTIMPL; }

private:
    bool Answers(REFIID iid) const override { return IsEqualIID(iid, __uuidof(ICoreWebView2Environment)); }
    int m_id;
};

// A copy of `text` allocated with CoTaskMemAlloc (the runtime's string rule).
LPWSTR TaskCopy(const std::wstring& text);

}  // namespace wvstub
