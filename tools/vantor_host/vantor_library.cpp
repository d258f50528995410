#include "vantor_library.h"

VantorLibrary::~VantorLibrary() {
    if (m_module != nullptr) ::FreeLibrary(m_module);
}

bool VantorLibrary::Load(const std::wstring& path) {
    HMODULE module = ::LoadLibraryW(path.c_str());
    if (module == nullptr) return false;
    auto resolve = [module](const char* name) { return reinterpret_cast<void*>(::GetProcAddress(module, name)); };
    GetWebViewFactory = reinterpret_cast<GetWebViewFactoryFn>(resolve("GetWebViewFactory"));
    IsSupportedWebViewEngine = reinterpret_cast<IsSupportedWebViewEngineFn>(resolve("IsSupportedWebViewEngine"));
    IWebViewToIWebViewEx = reinterpret_cast<IWebViewToIWebViewExFn>(resolve("IWebViewToIWebViewEx"));
    if (GetWebViewFactory == nullptr || IsSupportedWebViewEngine == nullptr || IWebViewToIWebViewEx == nullptr) {
        ::FreeLibrary(module);
        return false;
    }
    m_module = module;
    return true;
}
