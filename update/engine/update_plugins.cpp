// Update plug-ins: libraries of the plug-in folder that are loaded for a
// hidden run, told of every status report and unloaded at its end.
#include <windows.h>

#include <map>
#include <string>

#include "diag/catching_call.h"
#include "diag/library_loader.h"
#include "diag/unit_log.h"
#include "diag/text_format.h"
#include "engine/manifest_keys.h"
#include "engine/manifest_names.h"
#include "engine/sdk_updater.h"
#include "velisk/handles.h"

namespace {

// The listing pattern folder + "\\*.dll" must fit this many characters.
constexpr size_t kMaxPatternChars = 255;

// `folder` relative to `installDir` with "/" between levels, or empty when it
// does not lie inside it.
std::wstring ManifestFolderName(const std::wstring& installDir, const std::wstring& folder) {
    if (installDir.empty() || folder.size() <= installDir.size() ||
        ::CompareStringOrdinal(folder.c_str(), static_cast<int>(installDir.size()), installDir.c_str(),
                               static_cast<int>(installDir.size()), TRUE) != CSTR_EQUAL) {
        return L"";
    }
    std::wstring name = folder.substr(installDir.size());
    for (auto& c : name) c = (c == L'\\') ? L'/' : c;
    while (!name.empty() && name.back() == L'/') name.pop_back();
    return IsContainedManifestName(name) ? name : L"";
}

}  // namespace

velisk::UniqueFileHandle SDKUpdater::HoldListedPlugin(const std::wstring& manifestFolder, const std::wstring& fileName,
                                                      const std::wstring& path) {
    // Shared for reading only: from here until the library is loaded nobody
    // can write, rename or delete it (an open that already writes makes this
    // one fail).
    velisk::UniqueFileHandle held(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::wstring name = manifestFolder + L"/" + fileName;
    if (!held) {
        UPDATER_LOG(WARNING) << "plugin not loaded, cannot be held: " << WideToUtf8Log(name);
        return held;
    }
    if (m_updateAlgorithm == nullptr || m_updateAlgorithm->CheckFile(name.c_str())) {
        UPDATER_LOG(WARNING) << "plugin not loaded, not listed by the manifest with this digest: " << WideToUtf8Log(name);
        held.reset();
    }
    return held;
}

int SDKUpdater::LoadPlugins(const wchar_t* folder) {
    if (folder == nullptr || m_pluginOptions.silent == 0 || *folder == L'\0') return 0;
    const std::wstring base = std::wstring(folder) + L"\\";
    const std::wstring pattern = base + L"*.dll";
    if (pattern.size() > kMaxPatternChars) return 0;
    const bool checked = !TrustedManifestKeys().empty();
    const std::wstring manifestFolder = checked ? ManifestFolderName(m_installDir, folder) : L"";
    if (checked && manifestFolder.empty()) {
        UPDATER_LOG(WARNING) << "plugins not loaded, folder not inside the installation: " << WideToUtf8Log(folder);
        return 0;
    }

    WIN32_FIND_DATAW entry = {};
    velisk::UniqueFindHandle listing(::FindFirstFileW(pattern.c_str(), &entry));
    if (!listing) return 0;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L".." || m_plugins.count(name) != 0) continue;
        const std::wstring path = base + name;
        velisk::UniqueFileHandle held;
        if (checked && !(held = HoldListedPlugin(manifestFolder, name, path))) continue;
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
