// Fixtures for the Vantor tests: the library loaded as a host loads it, the
// stand-in WebView2 runtime beside it, a parent window, a message pump, a
// private data folder, and recording stand-ins for the host's and the page's
// functions.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "CefWebView.h"
#include "recording_handler.h"
#include "vantor_library.h"
#include "webview2_stub_control.h"

namespace vantor_test {

// Dispatch ids of the host object's methods in its type library.
constexpr DISPID kExecuteId = 0x60010000;
constexpr DISPID kRegisterFunctionId = 0x60010001;

// Dispatches every message of this thread until `done` holds or `timeoutMs`
// passes; returns `done()` at the end.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs = 10000) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (done()) return true;
        if (::GetTickCount64() >= end) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// Like PumpUntil, but looks at `done` after every single message, so that a
// test can act between two posted callbacks.
template <typename Done>
bool DispatchUntil(Done done, DWORD timeoutMs = 10000) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
        if (done()) return true;
        MSG msg;
        if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
            continue;
        }
        if (::GetTickCount64() >= end) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// Dispatches what is queued now (and what that queues), for a short while.
void PumpPending();

// A data-folder name of this process's own ("vt_<pid>_<n>") for
// "set_edge_log_path"; its tree under the roaming application-data folder is
// removed at the end.
class ScopedDataFolder {
public:
    ScopedDataFolder();
    ~ScopedDataFolder();
    const std::wstring& name() const { return m_name; }
    // "<roaming app data>\<name>\edge_cache\edge_<hostProgram>".
    std::wstring HostFolder(const std::wstring& hostProgram) const;
    // Value of key `slot` in the host folder's cache.ini (0 when missing).
    DWORD SlotHolder(const std::wstring& hostProgram, int slot) const;

private:
    std::wstring m_root;
    std::wstring m_name;
};

// A top-level window to put views into. It stays hidden: destroying a shown
// window waits for a window manager that Xvfb does not have.
class TestWindow {
public:
    TestWindow();
    ~TestWindow();
    HWND hwnd() const { return m_hwnd; }

private:
    HWND m_hwnd = nullptr;
};

// A host function that records its calls and answers with a chosen text.
class RecordingFunction final : public CefWebView::IHostFunction {
public:
    struct CallRecord {
        std::wstring name;
        bool argsNull = false;
        std::vector<std::wstring> args;
    };
    explicit RecordingFunction(std::optional<std::wstring> answer = std::nullopt) : m_answer(std::move(answer)) {}

    int Call(const wchar_t* name, const wchar_t** args, int count, wchar_t** result) override;
    void FreeResult(wchar_t* result) override;
    void Release() override { ++releases; }

    std::vector<CallRecord> calls;
    int frees = 0;
    int freedOther = 0;  // FreeResult with a pointer that Call did not return
    int releases = 0;

private:
    std::optional<std::wstring> m_answer;
    std::vector<wchar_t*> m_outstanding;
};

// A page script function as WebView2 hands it over: an IDispatch whose
// Invoke records how it was called.
class FakePageFunction final : public IDispatch {
public:
    struct InvokeRecord {
        DISPID id = 0;
        LCID locale = 0;
        WORD flags = 0;
        bool paramsNull = false;
        UINT argCount = 0;
        VARTYPE argType = VT_EMPTY;
        std::wstring payload;
    };
    explicit FakePageFunction(HRESULT status = S_OK) : m_status(status) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // lives on the test's stack
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

    std::vector<InvokeRecord> invokes;
    ULONG refs = 1;

private:
    HRESULT m_status;
};

// Records OnCompleted calls.
class RecordingCompletion final : public CefWebView::IScriptCallCompletion {
public:
    struct Record {
        int reserved;
        HRESULT status;
        std::wstring result;
    };
    void OnCompleted(int reserved, HRESULT status, const wchar_t* result) override {
        records.push_back({reserved, status, result != nullptr ? result : L"<null>"});
    }
    std::vector<Record> records;
};

// Calls Execute through IDispatch::Invoke as page script does. `jsonParam`
// null passes a null automation string. Returns the call's status (the
// method's own failure, taken from the exception information when the type
// information reports DISP_E_EXCEPTION); `*answer` receives the answer text.
HRESULT InvokeExecute(IDispatch* object, const std::wstring& funcName, const wchar_t* jsonParam,
                      std::wstring* answer = nullptr);
// Calls RegisterFunction through IDispatch::Invoke (`func` may be null).
HRESULT InvokeRegisterFunction(IDispatch* object, const std::wstring& funcName, IDispatch* func);

// Base for tests that drive views in this process: COM, the library from
// the bin folder, the stand-in (reset, default version) and a window.
class VantorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A new view for the test window with `bounds`, its data folder set to
    // this test's own; fails the test when the factory refuses.
    CefWebView::IWebViewEx* NewView(const wchar_t* address = nullptr, RECT bounds = {10, 20, 650, 500});
    // Create(handler) and wait until the stand-in built core view number
    // `webviewNumber` (1 for the first of the test).
    void StartBrowser(CefWebView::IWebViewEx* view, CefWebView::IWebViewHandler* handler, int webviewNumber = 1);
    // The stand-in's call log.
    std::vector<std::wstring> RuntimeLog() const;
    // Index of the first log line that begins with `prefix` at or after
    // `from`, or -1.
    int FindLog(const std::wstring& prefix, int from = 0) const;
    // The "asexternal" object of core view `webview` (0: newest), or null.
    IDispatch* HostObject(int webview = 0) const;

    VantorLibrary m_vantor;
    HMODULE m_stubModule = nullptr;
    StubControl m_stub;
    ScopedDataFolder m_data;
    std::optional<TestWindow> m_window;
    bool m_comInitialized = false;
};

}  // namespace vantor_test
