// The stand-in's exports: the two WebView2 loader functions and the test
// control functions (webview2_stub_control.h). All are named in
// WebView2Loader.def.

#include <windows.h>

#include <string>

#include "fake_runtime.h"
#include "webview2_stub_control.h"

using namespace wvstub;

namespace {

// Core view `webview` (1-based id; 0 for the newest), or null.
FakeWebView* FindWebView(int webview) {
    auto& views = State().webviews;
    if (views.empty()) return nullptr;
    if (webview == 0) return views.back().get();
    if (webview < 0 || static_cast<size_t>(webview) > views.size()) return nullptr;
    return views[static_cast<size_t>(webview) - 1].get();
}

std::wstring DescribeOptions(ICoreWebView2EnvironmentOptions* options) {
    if (options == nullptr) return L"none";
    std::wstring text;
    LPWSTR value = nullptr;
    if (SUCCEEDED(options->get_AdditionalBrowserArguments(&value)) && value != nullptr) text += L"args=" + std::wstring(value);
    ::CoTaskMemFree(value);
    velisk::ComPtr<ICoreWebView2EnvironmentOptions2> options2;
    BOOL exclusive = FALSE;
    if (SUCCEEDED(options->QueryInterface(__uuidof(ICoreWebView2EnvironmentOptions2), options2.receiveVoid())) &&
        options2 && SUCCEEDED(options2->get_ExclusiveUserDataFolderAccess(&exclusive))) {
        text += L";exclusive=" + std::to_wstring(exclusive);
    }
    value = nullptr;
    if (SUCCEEDED(options->get_TargetCompatibleBrowserVersion(&value)) && value != nullptr) {
        text += L";target=" + std::wstring(value);
    }
    ::CoTaskMemFree(value);
    return text;
}

}  // namespace

extern "C" {

HRESULT STDAPICALLTYPE GetAvailableCoreWebView2BrowserVersionString(PCWSTR browserExecutableFolder,
                                                                    LPWSTR* versionInfo) {
    Log(std::wstring(L"GetAvailableCoreWebView2BrowserVersionString") +
        (browserExecutableFolder != nullptr ? L" folder=" + std::wstring(browserExecutableFolder) : L""));
    if (versionInfo == nullptr) return E_POINTER;
    *versionInfo = nullptr;
    const auto& version = State().version;
    if (!version) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    *versionInfo = TaskCopy(*version);
    return *versionInfo != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browserExecutableFolder, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* environmentCreatedHandler) {
    Log(std::wstring(L"CreateCoreWebView2EnvironmentWithOptions") +
        (browserExecutableFolder != nullptr ? L" folder=" + std::wstring(browserExecutableFolder) : L"") +
        L" userData=" + (userDataFolder != nullptr ? userDataFolder : L"<null>") +
        L" options=" + DescribeOptions(environmentOptions));
    if (environmentCreatedHandler == nullptr) return E_INVALIDARG;
    if (State().behavior & kWvStubFailEnvironmentCall) return E_FAIL;
    velisk::ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> held(environmentCreatedHandler);
    PostToThisThread([held] {
        RuntimeState& s = State();
        if (s.behavior & kWvStubNoEnvironment) {
            held->Invoke(E_FAIL, nullptr);
            return;
        }
        auto environment = velisk::ComPtr<FakeEnvironment>::Attach(new FakeEnvironment(++s.environments));
        held->Invoke(S_OK, environment.get());
    });
    return S_OK;
}

void WvStubReset() { ResetState(); }

void WvStubSetVersion(const wchar_t* version) {
    if (version != nullptr) {
        State().version = std::wstring(version);
    } else {
        State().version.reset();
    }
}

void WvStubSetBehavior(unsigned int flags) { State().behavior = flags; }

int WvStubLogCount() { return static_cast<int>(State().log.size()); }

const wchar_t* WvStubLogLine(int index) {
    const auto& log = State().log;
    if (index < 0 || static_cast<size_t>(index) >= log.size()) return nullptr;
    return log[static_cast<size_t>(index)].c_str();
}

int WvStubWebViewCount() { return static_cast<int>(State().webviews.size()); }

IDispatch* WvStubGetHostObject(int webview, const wchar_t* name) {
    FakeWebView* view = FindWebView(webview);
    return view != nullptr ? view->HostObject(name != nullptr ? name : L"") : nullptr;
}

int WvStubFireNavigationStarting(int webview) {
    FakeWebView* view = FindWebView(webview);
    return view != nullptr ? view->FireNavigationStarting() : -1;
}

int WvStubFireSourceChanged(int webview, const wchar_t* uri) {
    FakeWebView* view = FindWebView(webview);
    return view != nullptr ? view->FireSourceChanged(uri) : -1;
}

int WvStubFireNavigationCompleted(int webview, BOOL success) {
    FakeWebView* view = FindWebView(webview);
    return view != nullptr ? view->FireNavigationCompleted(success) : -1;
}

int WvStubFireDocumentTitleChanged(int webview, const wchar_t* title) {
    FakeWebView* view = FindWebView(webview);
    return view != nullptr ? view->FireDocumentTitleChanged(title) : -1;
}

int WvStubFireNewWindowRequested(int webview, const wchar_t* uri, BOOL* handled) {
    FakeWebView* view = FindWebView(webview);
    return view != nullptr ? view->FireNewWindowRequested(uri, handled) : -1;
}

int WvStubFireProcessFailed(int webview) {
    FakeWebView* view = FindWebView(webview);
    return view != nullptr ? view->FireProcessFailed() : -1;
}

}  // extern "C"
