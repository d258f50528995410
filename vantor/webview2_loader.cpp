#include "webview2_loader.h"

#include <mutex>
#include <string>

#include "module_state.h"

namespace vantor {

namespace {

std::mutex g_lock;
HMODULE g_loader = nullptr;  // kept loaded once both functions were found

}  // namespace

bool GetWebView2Loader(WebView2Loader* out) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_loader == nullptr) {
        const std::wstring folder = GetOwnModuleFolder();
        if (folder.empty()) return false;
        const std::wstring path = folder + L"WebView2Loader.dll";
        HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (module == nullptr) return false;
        if (::GetProcAddress(module, "GetAvailableCoreWebView2BrowserVersionString") == nullptr ||
            ::GetProcAddress(module, "CreateCoreWebView2EnvironmentWithOptions") == nullptr) {
            ::FreeLibrary(module);
            return false;
        }
        g_loader = module;
    }
    out->getBrowserVersion = reinterpret_cast<GetAvailableCoreWebView2BrowserVersionStringFn>(
        reinterpret_cast<void*>(::GetProcAddress(g_loader, "GetAvailableCoreWebView2BrowserVersionString")));
    out->createEnvironment = reinterpret_cast<CreateCoreWebView2EnvironmentWithOptionsFn>(
        reinterpret_cast<void*>(::GetProcAddress(g_loader, "CreateCoreWebView2EnvironmentWithOptions")));
    return out->getBrowserVersion != nullptr && out->createEnvironment != nullptr;
}

}  // namespace vantor
