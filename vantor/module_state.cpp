#include "module_state.h"

#include <atomic>

namespace vantor {

namespace {
std::atomic<HMODULE> g_module{nullptr};
}

void SetModuleHandle(HMODULE module) { g_module.store(module); }

HMODULE GetOwnModule() { return g_module.load(); }

std::wstring GetOwnModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(GetOwnModule(), path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

std::wstring GetOwnModuleFolder() {
    std::wstring path = GetOwnModulePath();
    const size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return {};
    path.resize(cut + 1);
    return path;
}

}  // namespace vantor
