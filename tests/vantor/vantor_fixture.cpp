#include "vantor_fixture.h"

#include <objbase.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>

#include "support/test_support.h"

namespace vantor_test {

using testing_support::BinFile;

void PumpPending() {
    // Callbacks of the stand-in are posted messages; a few rounds let chains
    // of them (environment, then controller) run out.
    for (int round = 0; round < 5; ++round) {
        PumpUntil([] { return false; }, 20);
    }
}

// ---------------------------------------------------------------------------

ScopedDataFolder::ScopedDataFolder() {
    static std::atomic<unsigned> counter{0};
    wchar_t appData[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, appData);
    m_name = L"vt_" + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(counter++);
    m_root = std::wstring(appData) + L"\\" + m_name;
}

ScopedDataFolder::~ScopedDataFolder() { testing_support::RemoveTree(m_root); }

std::wstring ScopedDataFolder::HostFolder(const std::wstring& hostProgram) const {
    return m_root + L"\\edge_cache\\edge_" + hostProgram;
}

DWORD ScopedDataFolder::SlotHolder(const std::wstring& hostProgram, int slot) const {
    const std::wstring file = HostFolder(hostProgram) + L"\\cache.ini";
    return ::GetPrivateProfileIntW(L"CacheDir", std::to_wstring(slot).c_str(), 0, file.c_str());
}

// ---------------------------------------------------------------------------

TestWindow::TestWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VantorTestWindow";
    ::RegisterClassW(&wc);
    m_hwnd = ::CreateWindowExW(0, wc.lpszClassName, L"vantor test", WS_OVERLAPPEDWINDOW, 0, 0, 700, 550,
                               nullptr, nullptr, wc.hInstance, nullptr);
}

TestWindow::~TestWindow() {
    if (m_hwnd != nullptr) ::DestroyWindow(m_hwnd);
}

// ---------------------------------------------------------------------------

int RecordingFunction::Call(const wchar_t* name, const wchar_t** args, int count, wchar_t** result) {
    CallRecord record;
    record.name = name != nullptr ? name : L"<null>";
    if (result == nullptr || *result != nullptr) record.name += L" (result slot missing or not null)";
    record.argsNull = args == nullptr;
    for (int i = 0; args != nullptr && i < count; ++i) record.args.push_back(args[i] != nullptr ? args[i] : L"<null>");
    calls.push_back(record);
    if (m_answer && result != nullptr) {
        auto* copy = new wchar_t[m_answer->size() + 1];
        std::memcpy(copy, m_answer->c_str(), (m_answer->size() + 1) * sizeof(wchar_t));
        m_outstanding.push_back(copy);
        *result = copy;
    }
    return 12345;  // never looked at
}

void RecordingFunction::FreeResult(wchar_t* result) {
    for (auto it = m_outstanding.begin(); it != m_outstanding.end(); ++it) {
        if (*it == result) {
            delete[] result;
            m_outstanding.erase(it);
            ++frees;
            return;
        }
    }
    ++freedOther;
}

// ---------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE FakePageFunction::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE FakePageFunction::Invoke(DISPID id, REFIID, LCID locale, WORD flags, DISPPARAMS* params,
                                                   VARIANT*, EXCEPINFO*, UINT*) {
    InvokeRecord record;
    record.id = id;
    record.locale = locale;
    record.flags = flags;
    record.paramsNull = params == nullptr;
    if (params != nullptr) {
        record.argCount = params->cArgs;
        if (params->cArgs > 0 && params->rgvarg != nullptr) {
            record.argType = V_VT(&params->rgvarg[0]);
            if (record.argType == VT_BSTR && V_BSTR(&params->rgvarg[0]) != nullptr) {
                record.payload.assign(V_BSTR(&params->rgvarg[0]), ::SysStringLen(V_BSTR(&params->rgvarg[0])));
            }
        }
    }
    invokes.push_back(record);
    return m_status;
}

// ---------------------------------------------------------------------------

namespace {

HRESULT InvokeMethod(IDispatch* object, DISPID id, VARIANTARG* args, UINT count, VARIANT* result) {
    DISPPARAMS params = {args, nullptr, count, 0};
    EXCEPINFO exception = {};
    UINT argError = 0;
    HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, &exception,
                                &argError);
    if (hr == DISP_E_EXCEPTION) {
        if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
        hr = exception.scode != 0 ? exception.scode : static_cast<HRESULT>(exception.wCode);
    }
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    return hr;
}

}  // namespace

HRESULT InvokeExecute(IDispatch* object, const std::wstring& funcName, const wchar_t* jsonParam, std::wstring* answer) {
    VARIANTARG args[2];  // in reverse order: jsonParam, funcName
    ::VariantInit(&args[0]);
    ::VariantInit(&args[1]);
    V_VT(&args[0]) = VT_BSTR;
    V_BSTR(&args[0]) = jsonParam != nullptr ? ::SysAllocString(jsonParam) : nullptr;
    V_VT(&args[1]) = VT_BSTR;
    V_BSTR(&args[1]) = ::SysAllocStringLen(funcName.data(), static_cast<UINT>(funcName.size()));
    VARIANT result;
    ::VariantInit(&result);
    const HRESULT hr = InvokeMethod(object, kExecuteId, args, 2, &result);
    if (answer != nullptr) {
        *answer = (V_VT(&result) == VT_BSTR && V_BSTR(&result) != nullptr)
                      ? std::wstring(V_BSTR(&result), ::SysStringLen(V_BSTR(&result)))
                      : L"<no answer>";
    }
    ::VariantClear(&result);
    ::VariantClear(&args[0]);
    ::VariantClear(&args[1]);
    return hr;
}

HRESULT InvokeRegisterFunction(IDispatch* object, const std::wstring& funcName, IDispatch* func) {
    VARIANTARG args[2];  // func, funcName
    ::VariantInit(&args[0]);
    ::VariantInit(&args[1]);
    V_VT(&args[0]) = VT_DISPATCH;
    V_DISPATCH(&args[0]) = func;  // not owned: not cleared below
    V_VT(&args[1]) = VT_BSTR;
    V_BSTR(&args[1]) = ::SysAllocStringLen(funcName.data(), static_cast<UINT>(funcName.size()));
    const HRESULT hr = InvokeMethod(object, kRegisterFunctionId, args, 2, nullptr);
    ::VariantClear(&args[1]);
    return hr;
}

// ---------------------------------------------------------------------------

void VantorTest::SetUp() {
    m_comInitialized = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    // The stand-in is loaded first from the same path that Vantor.dll uses,
    // so both name the same module.
    m_stubModule = ::LoadLibraryW(BinFile(L"WebView2Loader.dll").c_str());
    ASSERT_TRUE(m_stub.Resolve(m_stubModule)) << "WebView2Loader.dll stand-in missing beside the tests";
    m_stub.Reset();
    ASSERT_TRUE(m_vantor.Load(BinFile(L"Vantor.dll"))) << "Vantor.dll missing beside the tests";
    m_window.emplace();
    ASSERT_NE(m_window->hwnd(), nullptr);
}

void VantorTest::TearDown() {
    PumpPending();
    m_window.reset();
    if (m_comInitialized) ::CoUninitialize();
}

CefWebView::IWebViewEx* VantorTest::NewView(const wchar_t* address, RECT bounds) {
    CefWebView::IWebView* view = m_vantor.GetWebViewFactory()->CreateWebView(VANTOR_ENGINE_WEBVIEW2, m_window->hwnd(),
                                                                             bounds, address, nullptr);
    EXPECT_NE(view, nullptr);
    if (view == nullptr) return nullptr;
    CefWebView::IWebViewEx* ex = m_vantor.IWebViewToIWebViewEx(view);
    EXPECT_NE(ex, nullptr);
    if (ex != nullptr) {
        EXPECT_EQ(ex->SetProperty(L"set_edge_log_path", m_data.name().c_str(), 0), S_OK);
    }
    return ex;
}

void VantorTest::StartBrowser(CefWebView::IWebViewEx* view, CefWebView::IWebViewHandler* handler, int webviewNumber) {
    ASSERT_EQ(view->Create(handler), TRUE);
    ASSERT_TRUE(PumpUntil([&] { return m_stub.WebViewCount() >= webviewNumber; }))
        << "the stand-in runtime never built core view " << webviewNumber;
    PumpPending();
}

std::vector<std::wstring> VantorTest::RuntimeLog() const {
    std::vector<std::wstring> lines;
    for (int i = 0; i < m_stub.LogCount(); ++i) lines.push_back(m_stub.LogLine(i));
    return lines;
}

int VantorTest::FindLog(const std::wstring& prefix, int from) const {
    for (int i = from < 0 ? 0 : from; i < m_stub.LogCount(); ++i) {
        if (std::wstring(m_stub.LogLine(i)).compare(0, prefix.size(), prefix) == 0) return i;
    }
    return -1;
}

IDispatch* VantorTest::HostObject(int webview) const { return m_stub.GetHostObject(webview, L"asexternal"); }

}  // namespace vantor_test
