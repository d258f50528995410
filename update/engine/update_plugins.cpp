// Update plug-ins: libraries of the plug-in folder that are loaded for a
// hidden run, told of every status report and unloaded at its end.
#include <windows.h>

#include <map>
#include <string>

#include "diag/catching_call.h"
#include "diag/library_loader.h"
#include "diag/unit_log.h"
#include "engine/sdk_updater.h"
#include "velisk/handles.h"

namespace {

// The listing pattern folder + "\\*.dll" must fit this many characters.
constexpr size_t kMaxPatternChars = 255;

}  // namespace

int SDKUpdater::LoadPlugins(const wchar_t* folder) {
    if (folder == nullptr || m_pluginOptions.silent == 0 || *folder == L'\0') return 0;
    const std::wstring base = std::wstring(folder) + L"\\";
    const std::wstring pattern = base + L"*.dll";
    if (pattern.size() > kMaxPatternChars) return 0;

    WIN32_FIND_DATAW entry = {};
    velisk::UniqueFindHandle listing(::FindFirstFileW(pattern.c_str(), &entry));
    if (!listing) return 0;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L".." || m_plugins.count(name) != 0) continue;
        const std::wstring path = base + name;
        HMODULE module = LoadLibraryWithDependencies(path.c_str(), m_pluginOptions.searchDirs,
                                                     m_pluginOptions.searchDirCount);
        if (module == nullptr) continue;
        auto load = reinterpret_cast<AutoUpdateLoadPluginFunction>(
            reinterpret_cast<void*>(::GetProcAddress(module, "AutoUpdateLoadPlugin")));
        auto unload = reinterpret_cast<AutoUpdateUnloadPluginFunction>(
            reinterpret_cast<void*>(::GetProcAddress(module, "AutoUpdateUnloadPlugin")));
        if (load == nullptr) {
            ::FreeLibrary(module);
            continue;
        }
        void* instance = load(&m_pluginContext);
        if (instance == nullptr) {
            ::FreeLibrary(module);
            continue;
        }
        PluginRecord& record = m_plugins[name];
        record.instance = instance;
        record.module = module;
        record.loadFunction = load;
        record.unloadFunction = unload;
        record.path = path;
    } while (::FindNextFileW(listing.get(), &entry));
    return static_cast<int>(m_plugins.size());
}

void SDKUpdater::UnloadPlugins() {
    // The libraries stay loaded until the process ends: a plug-in may have
    // left threads or callbacks behind. The table is emptied before the
    // first call, so that no instance is ever unloaded twice or notified
    // after its unload, even when an unload call throws.
    std::map<std::wstring, PluginRecord> plugins;
    plugins.swap(m_plugins);
    for (auto& entry : plugins) {
        if (entry.second.unloadFunction == nullptr) continue;
        std::string error;
        velisk::CallCatching(
            [&] {
                entry.second.unloadFunction(entry.second.instance);
                return true;
            },
            false, &error);
        if (!error.empty()) UPDATER_LOG(ERROR) << "UnloadPlugins crash " << error;
    }
}
