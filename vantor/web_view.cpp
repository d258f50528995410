#include "web_view.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <new>
#include <set>
#include <utility>

#include "com_object.h"
#include "data_folder.h"
#include "environment_options.h"
#include "webview2_loader.h"
#include "velisk/com_guard.h"

namespace vantor {

namespace {

constexpr const wchar_t* kHostObjectName = L"asexternal";
constexpr const wchar_t* kBlankPage = L"about:blank";
constexpr int64_t kNoToken = -1;

// Runs in every document: no context menu, no default handling of dragged
// and dropped items.
constexpr const wchar_t* kDocumentScript =
    L"window.addEventListener('contextmenu', window => {window.preventDefault();});"
    L"window.addEventListener('dragover',function(e){e.preventDefault();},false);"
    L"window.addEventListener('drop',function(e){e.preventDefault();console.log(e.dataTransfer);"
    L"console.log(e.dataTransfer.files[0])}, false);";

// Views that exist, for IWebViewToIWebViewEx. Views live on their UI
// threads; the set is shared by all of them.
std::mutex g_liveLock;
std::set<const CefWebView::IWebView*> g_liveViews;

// ---------------------------------------------------------------------------
// Handler objects given to the runtime.
// ---------------------------------------------------------------------------

// A creation callback of one generation. It counts as outstanding from its
// construction until it has run or the runtime released it without running.
template <typename Interface, typename Created>
class CreationCallback final : public ComObject<Interface> {
public:
    using Method = void (CWebView::*)(unsigned int, HRESULT, Created*);
    CreationCallback(CWebView* view, unsigned int generation, Method method)
        : m_view(view), m_generation(generation), m_method(method) {
        m_view->AddPendingCallback();
    }
    HRESULT STDMETHODCALLTYPE Invoke(HRESULT status, Created* created) override {
        CWebView* view = std::exchange(m_view, nullptr);
        if (view == nullptr) return S_OK;  // a second Invoke is ignored
        // Settled whatever the step throws, so that a closed view still goes.
        velisk::GuardedVoidCall([&] { (view->*m_method)(m_generation, status, created); });
        view->SettlePendingCallback();  // may destroy a closed view
        return S_OK;
    }

private:
    ~CreationCallback() override {
        if (m_view != nullptr) m_view->SettlePendingCallback();
    }
    CWebView* m_view;
    unsigned int m_generation;
    Method m_method;
};

// An event handler; forwards to the view until the view detaches it.
template <typename Interface, typename Args>
class EventSink final : public ComObject<Interface> {
public:
    using Method = HRESULT (CWebView::*)(ICoreWebView2*, Args*);
    EventSink(CWebView* view, Method method) : m_view(view), m_method(method) {}
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, Args* args) override {
        if (m_view == nullptr) return S_OK;
        return velisk::ComGuard([&] { return (m_view->*m_method)(sender, args); });
    }
    void Detach() { m_view = nullptr; }

private:
    CWebView* m_view;
    Method m_method;
};

template <typename Interface, typename Args>
void DetachSink(IUnknown* sink) {
    static_cast<EventSink<Interface, Args>*>(static_cast<Interface*>(sink))->Detach();
}

// Completion of AddScriptToExecuteOnDocumentCreated: accepted and ignored.
class IgnoredScriptCompletion final
    : public ComObject<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(HRESULT, LPCWSTR) override { return S_OK; }
};

using EnvironmentCallback =
    CreationCallback<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, ICoreWebView2Environment>;
using ControllerCallback =
    CreationCallback<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, ICoreWebView2Controller>;
using NavigationStartingSink =
    EventSink<ICoreWebView2NavigationStartingEventHandler, ICoreWebView2NavigationStartingEventArgs>;
using SourceChangedSink = EventSink<ICoreWebView2SourceChangedEventHandler, ICoreWebView2SourceChangedEventArgs>;
using NavigationCompletedSink =
    EventSink<ICoreWebView2NavigationCompletedEventHandler, ICoreWebView2NavigationCompletedEventArgs>;
using DocumentTitleChangedSink = EventSink<ICoreWebView2DocumentTitleChangedEventHandler, IUnknown>;
using NewWindowRequestedSink =
    EventSink<ICoreWebView2NewWindowRequestedEventHandler, ICoreWebView2NewWindowRequestedEventArgs>;
using ProcessFailedSink = EventSink<ICoreWebView2ProcessFailedEventHandler, ICoreWebView2ProcessFailedEventArgs>;

// A string that the runtime allocated, freed with CoTaskMemFree.
class TaskString {
public:
    ~TaskString() { ::CoTaskMemFree(m_text); }
    LPWSTR* receive() { return &m_text; }
    const wchar_t* get() const { return m_text != nullptr ? m_text : L""; }

private:
    LPWSTR m_text = nullptr;
};

// A property string: `size`/2 characters (up to a NUL), or up to the NUL when
// `size` is 0.
std::wstring PropertyText(const void* value, DWORD size) {
    const wchar_t* text = static_cast<const wchar_t*>(value);
    if (size == 0) return text;
    return std::wstring(text, wcsnlen(text, size / sizeof(wchar_t)));
}

bool NameIs(const wchar_t* name, const wchar_t* expected) {
    return name != nullptr && _wcsicmp(name, expected) == 0;
}

}  // namespace

CWebView::CWebView(HWND parent, const RECT& bounds, const wchar_t* startAddress)
    : m_parent(parent), m_bounds(bounds), m_startAddress(startAddress != nullptr ? startAddress : L"") {
    for (auto& token : m_tokens) token.value = kNoToken;
    m_mutex.reset(::CreateMutexW(nullptr, FALSE, kSlotMutexName));
    std::lock_guard<std::mutex> guard(g_liveLock);
    g_liveViews.insert(this);
}

CWebView::~CWebView() {
    {
        std::lock_guard<std::mutex> guard(g_liveLock);
        g_liveViews.erase(this);
    }
    Teardown();
}

bool CWebView::IsLiveView(const CefWebView::IWebView* view) {
    std::lock_guard<std::mutex> guard(g_liveLock);
    return g_liveViews.count(view) != 0;
}

// ---------------------------------------------------------------------------
// Lifetime.
// ---------------------------------------------------------------------------

void CWebView::DeleteThis(unsigned int) { Close(); }

void CWebView::Close() {
    if (m_closeRequested) return;
    m_closeRequested = true;
    m_handler = nullptr;
    DestroyWhenIdle();
}

void CWebView::DestroyWhenIdle() {
    if (!m_closeRequested || m_pending != 0 || m_destroyed) return;
    m_destroyed = true;
    delete this;
}

void CWebView::AddPendingCallback() { ++m_pending; }

void CWebView::SettlePendingCallback() {
    if (m_pending > 0) --m_pending;
    DestroyWhenIdle();
}

// ---------------------------------------------------------------------------
// Creation.
// ---------------------------------------------------------------------------

BOOL CWebView::Create(CefWebView::IWebViewHandler* handler) {
    return velisk::GuardedCall<BOOL>(FALSE, [&]() -> BOOL {
        m_handler = handler;
        if (!HasBrowser()) StartCreation();
        return TRUE;
    });
}

BOOL CWebView::LoadUrl(const wchar_t* address, void*) {
    return velisk::GuardedCall<BOOL>(FALSE, [&]() -> BOOL {
        if (HasBrowser()) Teardown();
        m_startAddress = address != nullptr ? address : L"";
        StartCreation();
        return TRUE;
    });
}

void CWebView::ReportLoadFailed() {
    if (m_handler != nullptr) m_handler->OnLoadFailed(this, m_startAddress.c_str(), 0);
}

void CWebView::StartCreation() {
    const unsigned int generation = ++m_generation;
    const std::wstring hostFolder = PrepareHostFolder(m_dataFolderName);
    const unsigned int slot = ChooseSlot(hostFolder, m_mutex.get());
    const std::wstring userDataFolder = PrepareUserDataFolder(hostFolder, slot);

    velisk::ComPtr<ICoreWebView2EnvironmentOptions> options;
    if (!m_specialCommands.empty()) {
        EnvironmentOptions* created = EnvironmentOptions::Create();
        if (created != nullptr) {
            created->put_ExclusiveUserDataFolderAccess(TRUE);
            for (const auto& command : m_specialCommands) created->put_AdditionalBrowserArguments(command.c_str());
            options = velisk::ComPtr<ICoreWebView2EnvironmentOptions>::Attach(created);
        }
    }

    WebView2Loader loader;
    HRESULT hr = E_FAIL;
    if (GetWebView2Loader(&loader)) {
        auto* callback = new (std::nothrow) EnvironmentCallback(this, generation, &CWebView::OnEnvironmentCreated);
        if (callback != nullptr) {
            auto held = velisk::ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>::Attach(callback);
            hr = loader.createEnvironment(nullptr, userDataFolder.c_str(), options.get(), held.get());
        } else {
            hr = E_OUTOFMEMORY;
        }
    }
    if (FAILED(hr)) ReportLoadFailed();
}

void CWebView::OnEnvironmentCreated(unsigned int generation, HRESULT, ICoreWebView2Environment* environment) {
    if (m_closeRequested || generation != m_generation) return;  // superseded: drop what came
    if (environment == nullptr) {
        ReportLoadFailed();
        return;
    }
    m_environment = environment;
    auto* callback = new (std::nothrow) ControllerCallback(this, generation, &CWebView::OnControllerCreated);
    HRESULT hr = E_OUTOFMEMORY;
    if (callback != nullptr) {
        auto held = velisk::ComPtr<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>::Attach(callback);
        hr = m_environment->CreateCoreWebView2Controller(m_parent, held.get());
    }
    if (FAILED(hr)) ReportLoadFailed();
}

void CWebView::OnControllerCreated(unsigned int generation, HRESULT, ICoreWebView2Controller* controller) {
    if (m_closeRequested || generation != m_generation) {
        if (controller != nullptr) controller->Close();
        return;
    }
    velisk::ComPtr<ICoreWebView2> webview;
    if (controller == nullptr || FAILED(controller->get_CoreWebView2(webview.receive())) || !webview) {
        if (controller != nullptr) controller->Close();
        ReportLoadFailed();
        return;
    }
    m_controller = controller;
    m_webview = webview;
    SetUpBrowser();
}

void CWebView::SetUpBrowser() {
    velisk::ComPtr<ICoreWebView2Controller3> controller3;
    if (SUCCEEDED(m_controller.As(&controller3)) && controller3) {
        controller3->put_ShouldDetectMonitorScaleChanges(m_enableHighDpi);
    }
    velisk::ComPtr<ICoreWebView2Settings> settings;
    if (SUCCEEDED(m_webview->get_Settings(settings.receive())) && settings) {
        settings->put_IsScriptEnabled(TRUE);
        settings->put_AreDefaultScriptDialogsEnabled(TRUE);
        settings->put_IsWebMessageEnabled(TRUE);
        settings->put_IsStatusBarEnabled(FALSE);
    }
    m_controller->put_Bounds(m_bounds);
    m_webview->Navigate(m_startAddress.empty() ? kBlankPage : m_startAddress.c_str());
    RegisterEvents();
    auto* completion = new (std::nothrow) IgnoredScriptCompletion();
    if (completion != nullptr) {
        m_webview->AddScriptToExecuteOnDocumentCreated(kDocumentScript, completion);
        completion->Release();
    }
}

void CWebView::RegisterEvents() {
    auto add = [this](Event event, auto* sink, auto addMethod) {
        if (sink == nullptr) return;
        m_sinks[event] = velisk::ComPtr<IUnknown>::Attach(sink);
        if (FAILED((m_webview.get()->*addMethod)(sink, &m_tokens[event]))) m_tokens[event].value = kNoToken;
    };
    add(kNavigationStarting, new (std::nothrow) NavigationStartingSink(this, &CWebView::OnNavigationStarting),
        &ICoreWebView2::add_NavigationStarting);
    add(kSourceChanged, new (std::nothrow) SourceChangedSink(this, &CWebView::OnSourceChanged),
        &ICoreWebView2::add_SourceChanged);
    add(kNavigationCompleted, new (std::nothrow) NavigationCompletedSink(this, &CWebView::OnNavigationCompleted),
        &ICoreWebView2::add_NavigationCompleted);
    add(kDocumentTitleChanged,
        new (std::nothrow) DocumentTitleChangedSink(this, &CWebView::OnDocumentTitleChanged),
        &ICoreWebView2::add_DocumentTitleChanged);
    add(kNewWindowRequested, new (std::nothrow) NewWindowRequestedSink(this, &CWebView::OnNewWindowRequested),
        &ICoreWebView2::add_NewWindowRequested);
    add(kProcessFailed, new (std::nothrow) ProcessFailedSink(this, &CWebView::OnProcessFailed),
        &ICoreWebView2::add_ProcessFailed);
}

// ---------------------------------------------------------------------------
// Teardown: the browser goes, the options and the handler stay.
// ---------------------------------------------------------------------------

void CWebView::Teardown() {
    if (!HasBrowser()) return;
    struct Removal {
        Event event;
        HRESULT (STDMETHODCALLTYPE ICoreWebView2::*remove)(EventRegistrationToken);
        void (*detach)(IUnknown*);
    };
    const Removal removals[] = {
        {kProcessFailed, &ICoreWebView2::remove_ProcessFailed,
         &DetachSink<ICoreWebView2ProcessFailedEventHandler, ICoreWebView2ProcessFailedEventArgs>},
        {kNewWindowRequested, &ICoreWebView2::remove_NewWindowRequested,
         &DetachSink<ICoreWebView2NewWindowRequestedEventHandler, ICoreWebView2NewWindowRequestedEventArgs>},
        {kDocumentTitleChanged, &ICoreWebView2::remove_DocumentTitleChanged,
         &DetachSink<ICoreWebView2DocumentTitleChangedEventHandler, IUnknown>},
        {kNavigationCompleted, &ICoreWebView2::remove_NavigationCompleted,
         &DetachSink<ICoreWebView2NavigationCompletedEventHandler, ICoreWebView2NavigationCompletedEventArgs>},
        {kSourceChanged, &ICoreWebView2::remove_SourceChanged,
         &DetachSink<ICoreWebView2SourceChangedEventHandler, ICoreWebView2SourceChangedEventArgs>},
        {kNavigationStarting, &ICoreWebView2::remove_NavigationStarting,
         &DetachSink<ICoreWebView2NavigationStartingEventHandler, ICoreWebView2NavigationStartingEventArgs>},
    };
    for (const auto& r : removals) {
        if (m_tokens[r.event].value >= 0) {
            (m_webview.get()->*r.remove)(m_tokens[r.event]);
            m_tokens[r.event].value = kNoToken;
        }
        if (m_sinks[r.event]) {
            r.detach(m_sinks[r.event].get());
            m_sinks[r.event].reset();
        }
    }
    if (m_hostObject) {
        m_webview->RemoveHostObjectFromScript(kHostObjectName);
        m_hostObject.reset();
    }
    if (m_controller) m_controller->Close();
    m_webview.reset();
    m_controller.reset();
    m_environment.reset();
}

// ---------------------------------------------------------------------------
// Events.
// ---------------------------------------------------------------------------

void CWebView::ReplaceHostObject(ICoreWebView2* sender) {
    if (m_hostObject) {
        sender->RemoveHostObjectFromScript(kHostObjectName);
        m_hostObject.reset();
    }
    CHostObjectASExternal* created = CHostObjectASExternal::Create();
    if (created == nullptr) return;
    m_hostObject = velisk::ComPtr<CHostObjectASExternal>::Attach(created);
    VARIANT object;
    ::VariantInit(&object);
    V_VT(&object) = VT_DISPATCH;
    V_DISPATCH(&object) = static_cast<IDispatch*>(created);
    sender->AddHostObjectToScript(kHostObjectName, &object);
}

HRESULT CWebView::OnNavigationStarting(ICoreWebView2* sender, ICoreWebView2NavigationStartingEventArgs*) {
    if (sender != nullptr) ReplaceHostObject(sender);
    if (m_handler != nullptr) m_handler->OnNavigationStarting(this);
    return S_OK;
}

HRESULT CWebView::OnSourceChanged(ICoreWebView2* sender, ICoreWebView2SourceChangedEventArgs*) {
    if (m_handler == nullptr || sender == nullptr) return S_OK;
    TaskString source;
    sender->get_Source(source.receive());
    m_handler->OnSourceChanged(this, source.get());
    return S_OK;
}

HRESULT CWebView::OnNavigationCompleted(ICoreWebView2*, ICoreWebView2NavigationCompletedEventArgs* args) {
    BOOL success = FALSE;
    if (args != nullptr) args->get_IsSuccess(&success);
    if (m_handler == nullptr) return S_OK;
    if (success) {
        m_handler->OnLoadSucceeded(this);
    } else {
        m_handler->OnLoadFailed(this, m_startAddress.c_str(), 0);
    }
    return S_OK;
}

HRESULT CWebView::OnDocumentTitleChanged(ICoreWebView2* sender, IUnknown*) {
    if (m_handler == nullptr || sender == nullptr) return S_OK;
    TaskString title;
    sender->get_DocumentTitle(title.receive());
    m_handler->OnTitleChanged(this, title.get());
    return S_OK;
}

HRESULT CWebView::OnNewWindowRequested(ICoreWebView2*, ICoreWebView2NewWindowRequestedEventArgs* args) {
    TaskString uri;
    if (args != nullptr) {
        args->get_Uri(uri.receive());
        args->put_Handled(TRUE);
    }
    if (m_handler != nullptr) m_handler->OnNewWindowRequested(this, uri.get());
    return S_OK;
}

HRESULT CWebView::OnProcessFailed(ICoreWebView2*, ICoreWebView2ProcessFailedEventArgs*) {
    if (m_handler != nullptr) m_handler->OnLoadFailed(this, m_startAddress.c_str(), 0);
    return S_OK;
}

// ---------------------------------------------------------------------------
// Simple operations.
// ---------------------------------------------------------------------------

void CWebView::SetHandler(CefWebView::IWebViewHandler* handler) {
    if (!m_closeRequested) m_handler = handler;
}

BOOL CWebView::Reserved1(void*, void*) { return TRUE; }
void CWebView::Reserved2(void*) {}
int CWebView::Reserved3(void*) { return 0; }
void CWebView::Reserved4(void*) {}
int CWebView::Reserved5(void*) { return 0; }

BOOL CWebView::SetVisible(BOOL visible) {
    return velisk::GuardedCall<BOOL>(FALSE, [&]() -> BOOL {
        if (m_controller) m_controller->put_IsVisible(visible);
        return TRUE;
    });
}

void CWebView::SetBounds(const RECT* bounds) {
    velisk::GuardedVoidCall([&] {
        if (bounds == nullptr) return;
        m_bounds = *bounds;
        if (m_controller) m_controller->put_Bounds(m_bounds);
    });
}

HRESULT CWebView::QueryExtension(uintptr_t, void** out) {
    if (out != nullptr) *out = nullptr;
    return E_NOINTERFACE;
}

void CWebView::SetUserData(void* data) { m_userData = data; }

HRESULT CWebView::GetProperty(const wchar_t* name, void* buffer, DWORD* size) {
    return velisk::ComGuard([&]() -> HRESULT {
        uint32_t value = 0;
        if (NameIs(name, L"root_window")) {
            value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(m_parent));
        } else if (NameIs(name, L"enable_high_dpi")) {
            value = static_cast<uint32_t>(m_enableHighDpi);
        } else {
            return S_OK;
        }
        if (size == nullptr || buffer == nullptr || *size < sizeof(value)) return E_INVALIDARG;
        *size = sizeof(value);
        std::memcpy(buffer, &value, sizeof(value));
        return S_OK;
    });
}

HRESULT CWebView::SetProperty(const wchar_t* name, const void* value, DWORD size) {
    return velisk::ComGuard([&]() -> HRESULT {
        if (NameIs(name, L"enable_high_dpi")) {
            if (size < sizeof(int32_t) || value == nullptr) return E_INVALIDARG;
            if (HasBrowser()) return E_ACCESSDENIED;
            int32_t enabled = 0;
            std::memcpy(&enabled, value, sizeof(enabled));
            m_enableHighDpi = enabled;
        } else if (NameIs(name, L"special_command")) {
            if (HasBrowser()) return E_ACCESSDENIED;
            if (value == nullptr && size != 0) return E_INVALIDARG;
            m_specialCommands.push_back(value != nullptr ? PropertyText(value, size) : std::wstring());
        } else if (NameIs(name, L"set_edge_log_path")) {
            if (value != nullptr) m_dataFolderName = PropertyText(value, size);
        }
        return S_OK;
    });
}

HRESULT CWebView::CallScriptFunction(const wchar_t* name, CefWebView::IScriptCallCompletion* completion,
                                     const wchar_t** args, int count) {
    return velisk::ComGuard([&]() -> HRESULT {
        if (!m_hostObject) return S_OK;
        velisk::ComPtr<CHostObjectASExternal> hostObject = m_hostObject;
        const HRESULT status = hostObject->CallPageFunction(name != nullptr ? name : L"", args, count);
        if (completion != nullptr) completion->OnCompleted(0, status, L"");
        return S_OK;
    });
}

HRESULT CWebView::RegisterHostFunction(const wchar_t* name, CefWebView::IHostFunction* function) {
    return velisk::ComGuard([&]() -> HRESULT {
        if (m_hostObject) m_hostObject->SetHostFunction(name != nullptr ? name : L"", function);
        return S_OK;
    });
}

HRESULT CWebView::UnregisterHostFunction(const wchar_t* name) {
    return velisk::ComGuard([&]() -> HRESULT {
        if (m_hostObject) m_hostObject->RemoveHostFunction(name != nullptr ? name : L"");
        return S_OK;
    });
}

HRESULT CWebView::Reload() {
    return velisk::ComGuard([&]() -> HRESULT {
        if (!HasBrowser()) return S_OK;
        return m_webview->Reload();
    });
}

}  // namespace vantor
