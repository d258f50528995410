#include "runtime_check.h"

#include <objbase.h>

#include <cstdint>
#include <cwchar>

#include "webview2_loader.h"

namespace vantor {

bool ParseMajorVersion(const wchar_t* version, unsigned long* major) {
    if (version == nullptr) return false;
    const wchar_t* dot = std::wcschr(version, L'.');
    if (dot == nullptr || dot == version) return false;
    uint64_t value = 0;
    const wchar_t* p = version;
    for (; p < dot && *p >= L'0' && *p <= L'9'; ++p) {
        value = value * 10 + static_cast<uint64_t>(*p - L'0');
        if (value > UINT32_MAX) return false;
    }
    if (p == version) return false;
    *major = static_cast<unsigned long>(value);
    return true;
}

bool IsRuntimeSupported() {
    WebView2Loader loader;
    if (!GetWebView2Loader(&loader)) return false;
    LPWSTR version = nullptr;
    const HRESULT hr = loader.getBrowserVersion(nullptr, &version);
    unsigned long major = 0;
    const bool readable = SUCCEEDED(hr) && ParseMajorVersion(version, &major);
    ::CoTaskMemFree(version);
    return readable && major >= kMinimumRuntimeMajor;
}

}  // namespace vantor
