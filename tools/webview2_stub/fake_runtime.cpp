#include "fake_runtime.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace wvstub {

namespace {

constexpr UINT kRunTaskMessage = WM_APP + 1;

std::optional<std::wstring> DefaultVersion() {
    wchar_t value[256] = {};
    const DWORD n = ::GetEnvironmentVariableW(L"WEBVIEW2_STUB_VERSION", value, 256);
    if (n == 0 || n >= 256) return std::wstring(WVSTUB_DEFAULT_VERSION);
    if (std::wcscmp(value, L"none") == 0) return std::nullopt;
    return std::wstring(value);
}

LRESULT CALLBACK TaskWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kRunTaskMessage) {
        auto* task = reinterpret_cast<std::function<void()>*>(lparam);
        (*task)();
        delete task;
        return 0;
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
}

HWND TaskWindowOfThisThread() {
    static thread_local HWND window = nullptr;
    if (window != nullptr) return window;
    HINSTANCE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&TaskWindowProc), &module);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = TaskWindowProc;
    wc.hInstance = module;
    wc.lpszClassName = L"WvStubTaskWindow";
    ::RegisterClassW(&wc);  // fails harmlessly when already registered
    window = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
    return window;
}

std::wstring Hex(const void* value) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(value)));
    return text;
}

// Event arguments that carry nothing the view reads.
template <typename Interface>
class OpaqueArgs final : public FakeObject<Interface> {
    bool Answers(REFIID) const override { return false; }
};

class NavigationCompletedArgs final : public FakeObject<ICoreWebView2NavigationCompletedEventArgs> {
public:
    explicit NavigationCompletedArgs(BOOL success) : m_success(success) {}
    HRESULT STDMETHODCALLTYPE get_IsSuccess(BOOL* success) override {
        if (success == nullptr) return E_POINTER;
        *success = m_success;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_WebErrorStatus(int* status) override {
        if (status == nullptr) return E_POINTER;
        *status = m_success ? 0 : 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* id) override {
        if (id == nullptr) return E_POINTER;
        *id = 1;
        return S_OK;
    }

private:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, __uuidof(ICoreWebView2NavigationCompletedEventArgs));
    }
    BOOL m_success;
};

class NewWindowRequestedArgs final : public FakeObject<ICoreWebView2NewWindowRequestedEventArgs> {
public:
    explicit NewWindowRequestedArgs(std::wstring uri) : m_uri(std::move(uri)) {}
    BOOL handled() const { return m_handled; }
    HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override {
        if (uri == nullptr) return E_POINTER;
        *uri = TaskCopy(m_uri);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_NewWindow(ICoreWebView2*) override {
        Log(L"newWindowArgs.put_NewWindow");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_NewWindow(ICoreWebView2** window) override {
        if (window == nullptr) return E_POINTER;
        *window = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Handled(BOOL handled) override {
        Log(L"newWindowArgs.put_Handled " + std::to_wstring(handled));
        m_handled = handled;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Handled(BOOL* handled) override {
        if (handled == nullptr) return E_POINTER;
        *handled = m_handled;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* value) override {
        if (value == nullptr) return E_POINTER;
        *value = TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDeferral(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_WindowFeatures(IUnknown**) override { return E_NOTIMPL; }

private:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, __uuidof(ICoreWebView2NewWindowRequestedEventArgs));
    }
    std::wstring m_uri;
    BOOL m_handled = FALSE;
};

template <typename Object>
velisk::ComPtr<Object> Own(Object* created) {
    return velisk::ComPtr<Object>::Attach(created);
}

}  // namespace

RuntimeState& State() {
    static RuntimeState* state = [] {
        auto* s = new RuntimeState();
        s->version = DefaultVersion();
        return s;
    }();
    return *state;
}

void ResetState() {
    RuntimeState& s = State();
    s.version = DefaultVersion();
    s.behavior = 0;
    s.log.clear();
}

void Log(const std::wstring& line) { State().log.push_back(line); }

void PostToThisThread(std::function<void()> task) {
    auto* heap = new std::function<void()>(std::move(task));
    if (!::PostMessageW(TaskWindowOfThisThread(), kRunTaskMessage, 0, reinterpret_cast<LPARAM>(heap))) delete heap;
}

LPWSTR TaskCopy(const std::wstring& text) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
    if (copy != nullptr) std::memcpy(copy, text.c_str(), bytes);
    return copy;
}

// ---------------------------------------------------------------------------
// FakeWebView
// ---------------------------------------------------------------------------

FakeWebView::FakeWebView(int id) : m_id(id), m_settings(Own(new FakeSettings(id))) {}

HRESULT FakeWebView::Add(Event event, const wchar_t* name, IUnknown* handler, EventRegistrationToken* token) {
    if (handler == nullptr || token == nullptr) return E_INVALIDARG;
    Log(Name() + L".add_" + name);
    token->value = State().nextToken++;
    m_handlers[event][token->value] = velisk::ComPtr<IUnknown>(handler);
    return S_OK;
}

HRESULT FakeWebView::Remove(Event event, const wchar_t* name, EventRegistrationToken token) {
    Log(Name() + L".remove_" + name);
    return m_handlers[event].erase(token.value) != 0 ? S_OK : E_INVALIDARG;
}

std::vector<velisk::ComPtr<IUnknown>> FakeWebView::Handlers(Event event) const {
    std::vector<velisk::ComPtr<IUnknown>> out;
    auto found = m_handlers.find(event);
    if (found != m_handlers.end()) {
        for (const auto& entry : found->second) out.push_back(entry.second);
    }
    return out;
}

int FakeWebView::FireNavigationStarting() {
    auto handlers = Handlers(Event::NavigationStarting);
    auto args = Own(new OpaqueArgs<ICoreWebView2NavigationStartingEventArgs>());
    for (auto& h : handlers) {
        static_cast<ICoreWebView2NavigationStartingEventHandler*>(h.get())->Invoke(this, args.get());
    }
    return static_cast<int>(handlers.size());
}

int FakeWebView::FireSourceChanged(const wchar_t* uri) {
    m_source = uri != nullptr ? uri : L"";
    auto handlers = Handlers(Event::SourceChanged);
    auto args = Own(new OpaqueArgs<ICoreWebView2SourceChangedEventArgs>());
    for (auto& h : handlers) static_cast<ICoreWebView2SourceChangedEventHandler*>(h.get())->Invoke(this, args.get());
    return static_cast<int>(handlers.size());
}

int FakeWebView::FireNavigationCompleted(BOOL success) {
    auto handlers = Handlers(Event::NavigationCompleted);
    auto args = Own(new NavigationCompletedArgs(success));
    for (auto& h : handlers) {
        static_cast<ICoreWebView2NavigationCompletedEventHandler*>(h.get())->Invoke(this, args.get());
    }
    return static_cast<int>(handlers.size());
}

int FakeWebView::FireDocumentTitleChanged(const wchar_t* title) {
    m_title = title != nullptr ? title : L"";
    auto handlers = Handlers(Event::DocumentTitleChanged);
    for (auto& h : handlers) static_cast<ICoreWebView2DocumentTitleChangedEventHandler*>(h.get())->Invoke(this, nullptr);
    return static_cast<int>(handlers.size());
}

int FakeWebView::FireNewWindowRequested(const wchar_t* uri, BOOL* handled) {
    auto handlers = Handlers(Event::NewWindowRequested);
    auto args = Own(new NewWindowRequestedArgs(uri != nullptr ? uri : L""));
    for (auto& h : handlers) {
        static_cast<ICoreWebView2NewWindowRequestedEventHandler*>(h.get())->Invoke(this, args.get());
    }
    if (handled != nullptr) *handled = args->handled();
    return static_cast<int>(handlers.size());
}

int FakeWebView::FireProcessFailed() {
    auto handlers = Handlers(Event::ProcessFailed);
    auto args = Own(new OpaqueArgs<ICoreWebView2ProcessFailedEventArgs>());
    for (auto& h : handlers) static_cast<ICoreWebView2ProcessFailedEventHandler*>(h.get())->Invoke(this, args.get());
    return static_cast<int>(handlers.size());
}

IDispatch* FakeWebView::HostObject(const std::wstring& name) {
    auto found = m_hostObjects.find(name);
    if (found == m_hostObjects.end()) return nullptr;
    IDispatch* object = found->second.get();
    object->AddRef();
    return object;
}

void FakeWebView::CloseByController() {
    m_handlers.clear();
    m_hostObjects.clear();
}

HRESULT STDMETHODCALLTYPE FakeWebView::get_Settings(ICoreWebView2Settings** settings) {
    if (settings == nullptr) return E_POINTER;
    *settings = m_settings.get();
    (*settings)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeWebView::get_Source(LPWSTR* uri) {
    if (uri == nullptr) return E_POINTER;
    *uri = TaskCopy(m_source);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeWebView::Navigate(LPCWSTR uri) {
    Log(Name() + L".Navigate " + (uri != nullptr ? uri : L"<null>"));
    m_source = uri != nullptr ? uri : L"";
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeWebView::AddScriptToExecuteOnDocumentCreated(
    LPCWSTR javaScript, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler) {
    Log(Name() + L".AddScriptToExecuteOnDocumentCreated " + (javaScript != nullptr ? javaScript : L""));
    if (handler != nullptr) {
        velisk::ComPtr<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler> held(handler);
        PostToThisThread([held] { held->Invoke(S_OK, L"script1"); });
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeWebView::Reload() {
    Log(Name() + L".Reload");
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeWebView::get_DocumentTitle(LPWSTR* title) {
    if (title == nullptr) return E_POINTER;
    *title = TaskCopy(m_title);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeWebView::AddHostObjectToScript(LPCWSTR name, VARIANT* object) {
    const std::wstring key = name != nullptr ? name : L"";
    Log(Name() + L".AddHostObjectToScript " + key);
    if (object == nullptr || V_VT(object) != VT_DISPATCH || V_DISPATCH(object) == nullptr) return E_INVALIDARG;
    m_hostObjects[key] = velisk::ComPtr<IDispatch>(V_DISPATCH(object));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeWebView::RemoveHostObjectFromScript(LPCWSTR name) {
    const std::wstring key = name != nullptr ? name : L"";
    Log(Name() + L".RemoveHostObjectFromScript " + key);
    return m_hostObjects.erase(key) != 0 ? S_OK : E_INVALIDARG;
}

// ---------------------------------------------------------------------------
// FakeController
// ---------------------------------------------------------------------------

bool FakeController::Answers(REFIID iid) const {
    return IsEqualIID(iid, __uuidof(ICoreWebView2Controller)) || IsEqualIID(iid, __uuidof(ICoreWebView2Controller2)) ||
           IsEqualIID(iid, __uuidof(ICoreWebView2Controller3));
}

HRESULT STDMETHODCALLTYPE FakeController::get_IsVisible(BOOL* visible) {
    if (visible == nullptr) return E_POINTER;
    *visible = m_visible;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeController::put_IsVisible(BOOL visible) {
    Log(Name() + L".put_IsVisible " + std::to_wstring(visible));
    m_visible = visible;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeController::get_Bounds(RECT* bounds) {
    if (bounds == nullptr) return E_POINTER;
    *bounds = m_bounds;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeController::put_Bounds(RECT bounds) {
    Log(Name() + L".put_Bounds " + std::to_wstring(bounds.left) + L"," + std::to_wstring(bounds.top) + L"," +
        std::to_wstring(bounds.right) + L"," + std::to_wstring(bounds.bottom));
    m_bounds = bounds;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeController::Close() {
    Log(Name() + L".Close");
    if (!m_closed && m_webview) m_webview->CloseByController();
    m_closed = true;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeController::get_CoreWebView2(ICoreWebView2** webview) {
    if (webview == nullptr) return E_POINTER;
    *webview = nullptr;
    if (m_closed || !m_webview) return E_FAIL;
    *webview = m_webview.get();
    (*webview)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeController::get_ShouldDetectMonitorScaleChanges(BOOL* value) {
    if (value == nullptr) return E_POINTER;
    *value = m_detectScale;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeController::put_ShouldDetectMonitorScaleChanges(BOOL value) {
    Log(Name() + L".put_ShouldDetectMonitorScaleChanges " + std::to_wstring(value));
    m_detectScale = value;
    return S_OK;
}

// ---------------------------------------------------------------------------
// FakeEnvironment
// ---------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE FakeEnvironment::CreateCoreWebView2Controller(
    HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) {
    Log(L"environment" + std::to_wstring(m_id) + L".CreateCoreWebView2Controller parent=" + Hex(parent));
    if (handler == nullptr) return E_INVALIDARG;
    if (State().behavior & kWvStubFailControllerCall) return E_FAIL;
    velisk::ComPtr<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler> held(handler);
    PostToThisThread([held] {
        RuntimeState& s = State();
        if (s.behavior & kWvStubNoController) {
            held->Invoke(E_FAIL, nullptr);
            return;
        }
        const int id = ++s.controllers;
        auto webview = Own(new FakeWebView(static_cast<int>(s.webviews.size()) + 1));
        s.webviews.push_back(webview);
        auto controller = Own(new FakeController(id, webview.get()));
        held->Invoke(S_OK, controller.get());
    });
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeEnvironment::get_BrowserVersionString(LPWSTR* version) {
    if (version == nullptr) return E_POINTER;
    *version = TaskCopy(State().version.value_or(L""));
    return S_OK;
}

}  // namespace wvstub
