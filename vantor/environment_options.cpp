#include "environment_options.h"

#include <cstring>
#include <new>

#include "velisk/com_guard.h"

namespace vantor {

namespace {

HRESULT CopyOut(const std::wstring& text, LPWSTR* value) {
    if (value == nullptr) return E_POINTER;
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    *value = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
    if (*value == nullptr) return E_OUTOFMEMORY;
    std::memcpy(*value, text.c_str(), bytes);
    return S_OK;
}

HRESULT CopyIn(LPCWSTR value, std::wstring* text) {
    return velisk::ComGuard([&] {
        *text = value != nullptr ? value : L"";
        return S_OK;
    });
}

}  // namespace

EnvironmentOptions* EnvironmentOptions::Create() { return new (std::nothrow) EnvironmentOptions(); }

HRESULT STDMETHODCALLTYPE EnvironmentOptions::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(ICoreWebView2EnvironmentOptions))) {
        *out = static_cast<ICoreWebView2EnvironmentOptions*>(this);
    } else if (IsEqualIID(iid, __uuidof(ICoreWebView2EnvironmentOptions2))) {
        *out = static_cast<ICoreWebView2EnvironmentOptions2*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE EnvironmentOptions::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }

ULONG STDMETHODCALLTYPE EnvironmentOptions::Release() {
    const LONG left = ::InterlockedDecrement(&m_refs);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE EnvironmentOptions::get_AdditionalBrowserArguments(LPWSTR* value) {
    return CopyOut(m_additionalBrowserArguments, value);
}
HRESULT STDMETHODCALLTYPE EnvironmentOptions::put_AdditionalBrowserArguments(LPCWSTR value) {
    return CopyIn(value, &m_additionalBrowserArguments);
}
HRESULT STDMETHODCALLTYPE EnvironmentOptions::get_Language(LPWSTR* value) { return CopyOut(m_language, value); }
HRESULT STDMETHODCALLTYPE EnvironmentOptions::put_Language(LPCWSTR value) { return CopyIn(value, &m_language); }
HRESULT STDMETHODCALLTYPE EnvironmentOptions::get_TargetCompatibleBrowserVersion(LPWSTR* value) {
    return CopyOut(m_targetCompatibleBrowserVersion, value);
}
HRESULT STDMETHODCALLTYPE EnvironmentOptions::put_TargetCompatibleBrowserVersion(LPCWSTR value) {
    return CopyIn(value, &m_targetCompatibleBrowserVersion);
}
HRESULT STDMETHODCALLTYPE EnvironmentOptions::get_AllowSingleSignOnUsingOSPrimaryAccount(BOOL* allow) {
    if (allow == nullptr) return E_POINTER;
    *allow = m_allowSingleSignOn;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE EnvironmentOptions::put_AllowSingleSignOnUsingOSPrimaryAccount(BOOL allow) {
    m_allowSingleSignOn = allow;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE EnvironmentOptions::get_ExclusiveUserDataFolderAccess(BOOL* value) {
    if (value == nullptr) return E_POINTER;
    *value = m_exclusiveUserDataFolderAccess;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE EnvironmentOptions::put_ExclusiveUserDataFolderAccess(BOOL value) {
    m_exclusiveUserDataFolderAccess = value;
    return S_OK;
}

}  // namespace vantor
