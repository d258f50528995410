// The options object handed to CreateCoreWebView2EnvironmentWithOptions: our
// own implementation of the options interfaces, with the defaults that the
// WebView2 SDK's options object has.
#pragma once

#include <string>

#include "webview2_api.h"

namespace vantor {

// The runtime version that the options ask to be compatible with by default.
constexpr const wchar_t* kTargetCompatibleBrowserVersion = L"114.0.1823.32";

// Implements ICoreWebView2EnvironmentOptions and ICoreWebView2EnvironmentOptions2.
// Getters return copies allocated with CoTaskMemAlloc (E_POINTER for a null
// out pointer, E_OUTOFMEMORY when the copy fails); setters take a copy (null
// gives an empty text).
class EnvironmentOptions final : public ICoreWebView2EnvironmentOptions, public ICoreWebView2EnvironmentOptions2 {
public:
    // A new options object with one reference and the defaults: no additional
    // arguments, no language, the target version above, single sign-on off,
    // exclusive user-data-folder access off.
    static EnvironmentOptions* Create();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE get_AdditionalBrowserArguments(LPWSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_AdditionalBrowserArguments(LPCWSTR value) override;
    HRESULT STDMETHODCALLTYPE get_Language(LPWSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_Language(LPCWSTR value) override;
    HRESULT STDMETHODCALLTYPE get_TargetCompatibleBrowserVersion(LPWSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_TargetCompatibleBrowserVersion(LPCWSTR value) override;
    HRESULT STDMETHODCALLTYPE get_AllowSingleSignOnUsingOSPrimaryAccount(BOOL* allow) override;
    HRESULT STDMETHODCALLTYPE put_AllowSingleSignOnUsingOSPrimaryAccount(BOOL allow) override;

    HRESULT STDMETHODCALLTYPE get_ExclusiveUserDataFolderAccess(BOOL* value) override;
    HRESULT STDMETHODCALLTYPE put_ExclusiveUserDataFolderAccess(BOOL value) override;

private:
    EnvironmentOptions() = default;
    ~EnvironmentOptions() = default;

    LONG m_refs = 1;
    std::wstring m_additionalBrowserArguments;
    std::wstring m_language;
    std::wstring m_targetCompatibleBrowserVersion = kTargetCompatibleBrowserVersion;
    BOOL m_allowSingleSignOn = FALSE;
    BOOL m_exclusiveUserDataFolderAccess = FALSE;
};

}  // namespace vantor
