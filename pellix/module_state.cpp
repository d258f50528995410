#include "module_state.h"

#include <atomic>

namespace pellix {

namespace {

HMODULE g_module = nullptr;
std::atomic<unsigned long> g_liveObjects{0};

}  // namespace

void RecordModuleHandle(HMODULE module) { g_module = module; }

void AddLiveObject() { g_liveObjects.fetch_add(1, std::memory_order_acq_rel); }

void RemoveLiveObject() {
    // Never below 0: an unbalanced LockServer(FALSE) must not wrap the count
    // around and keep the module from ever unloading.
    unsigned long count = g_liveObjects.load(std::memory_order_acquire);
    while (count != 0 &&
           !g_liveObjects.compare_exchange_weak(count, count - 1, std::memory_order_acq_rel)) {
    }
}

unsigned long LiveObjectCount() { return g_liveObjects.load(std::memory_order_acquire); }

std::wstring ModuleFolder() {
    // Grow the buffer until the whole file name fits (long paths included).
    std::wstring file(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(g_module, file.data(), static_cast<DWORD>(file.size()));
        if (n == 0) return {};
        if (n < file.size()) {
            file.resize(n);
            break;
        }
        if (file.size() >= 32768) return {};
        file.resize(file.size() * 2);
    }
    const size_t cut = file.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return {};
    return file.substr(0, cut);
}

}  // namespace pellix
