// Command line, modes, the single-instance lock and the old-system exclusion.
#include <windows.h>
#include <shellapi.h>

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <cwchar>
#include <utility>

#include "app/update_dlg.h"
#include "diag/command_values.h"
#include "diag/statistics.h"
#include "diag/text_format.h"
#include "diag/unit_log.h"
#include "engine/copy_recovery.h"
#include "engine/manifest_keys.h"
#include "engine/manifest_names.h"
#include "engine/version_ini.h"

namespace {
constexpr wchar_t kUpdate[] = L"update";
constexpr wchar_t kDefaultTarget[] = L"VeliskLive.exe";
// Kernel object names are at most MAX_PATH characters.
constexpr size_t kMaxLockNameChars = MAX_PATH;

// FNV-1a over the UTF-16 units of `text`, for lock names too long to use.
uint64_t NameHash(const std::wstring& text) {
    uint64_t hash = 14695981039346656037ull;
    for (const wchar_t c : text) {
        hash ^= static_cast<uint16_t>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

// The plug-in folder named by the new version.ini, when it lies inside the
// installation; empty (after a WARNING for a refused name) otherwise.
std::wstring PluginFolder(const std::wstring& installDir, const std::wstring& plugin) {
    if (plugin.empty()) return L"";
    std::wstring relative = plugin;
    while (!relative.empty() && (relative.back() == L'\\' || relative.back() == L'/')) relative.pop_back();
    if (!IsContainedManifestName(relative)) {
        UPDATEDLG_LOG(WARNING) << "plugin folder refused, not inside the installation: " << WideToUtf8Log(plugin);
        return L"";
    }
    return installDir + relative;
}

}  // namespace

bool HasUsableFolders(const velisk::ArgumentList& args) {
    if (args.count() < 2) return false;
    if (std::wcscmp(args[1], L"-copy") == 0) {
        // The staging folder and the installation folder.
        return args.count() >= 4 && IsAbsolutePath(args[2]) && IsAbsolutePath(args[3]);
    }
    // The installation folder, the new version.ini and the launcher folder.
    return args.count() >= 7 && IsAbsolutePath(args[1]) && IsAbsolutePath(args[3]) && IsAbsolutePath(args[5]);
}

std::wstring ReadTargetExe(const std::wstring& iniPath, int bufferChars) {
    const std::wstring target = ReadIniString(iniPath, kUpdate, L"target", kDefaultTarget, bufferChars);
    if (IsPlainFileName(target)) return target;
    UPDATEDLG_LOG(WARNING) << "target refused, not a plain file name: " << WideToUtf8Log(target);
    return L"";
}

std::wstring UsableLockName(const std::wstring& lockName) {
    std::wstring name = lockName;
    // A backslash would name a folder of the object namespace (an
    // installation on \\server\share gives one); "/" keeps names unique,
    // since drive paths begin with a letter and a colon instead.
    for (auto& c : name) {
        if (c == L'\\') c = L'/';
    }
    if (name.size() < kMaxLockNameChars) return name;
    std::wstring hex;
    const uint64_t hash = NameHash(name);
    for (int shift = 60; shift >= 0; shift -= 4) hex += L"0123456789abcdef"[(hash >> shift) & 0xF];
    return L"VeliskUpdate-" + hex + L"-" + std::to_wstring(name.size());
}

std::wstring InstallLockName(const std::wstring& installDir) {
    std::wstring name;
    const boost::filesystem::path path(installDir);
    for (const auto& element : path) {
        std::wstring text = element.wstring();
        // Boost writes the root directory with the separator found in the
        // path; the lock name always uses "/" and adds none after it.
        if (text == L"/" || text == L"\\") {
            name += L"/";
            continue;
        }
        if (text.empty()) text = L".";  // the trailing separator
        name += text;
        name += L"/";
    }
    return name;
}

bool DecideHiddenMode(const std::wstring& installedIni, const std::wstring& newIni) {
    bool hidden = false;
    if (ReadIniInt(installedIni, kUpdate, L"canHide", 0) != 0) {
        hidden = ReadIniInt(newIni, kUpdate, L"hide", 0) != 0;
    }
    if (hidden) {
        const int minHide = ReadIniInt(newIni, kUpdate, L"minHideVersion", 0x7FFFFFFF);
        const int current = ReadIniInt(installedIni, kUpdate, L"version", 0);
        UPDATEDLG_LOG(INFO) << "currentVersion= " << current;
        if (current < minHide) hidden = false;
    }
    return hidden;
}

bool CUpdateDlg::AcquireInstallLock() {
    const std::wstring name = UsableLockName(InstallLockName(m_installDir));
    // One call creates the mutex or finds it: nothing can come between a
    // look and a create. Held until the process ends; never owned.
    velisk::UniqueKernelHandle lock(::CreateMutexW(nullptr, FALSE, name.c_str()));
    const DWORD error = ::GetLastError();
    if (!lock) {
        // ERROR_ACCESS_DENIED is a mutex of an updater with other rights;
        // any other failure leaves the installation unprotected: both count
        // as held.
        UPDATEDLG_LOG(WARNING) << "install lock not taken, error " << error << ": " << WideToUtf8Log(name);
        return false;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        UPDATEDLG_LOG(INFO) << "install lock held by another updater: " << WideToUtf8Log(name);
        return false;
    }
    m_installLock = std::move(lock);
    return true;
}

bool CUpdateDlg::IsExcludedOs() {
    if (ReadIniInt(m_newIniPath, kUpdate, L"excludexp", 0) == 0) return false;
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!::GetVersionExW(&info)) return true;
    return info.dwMajorVersion < 6;
}

bool CUpdateDlg::AuthenticateNewVersionIni(const std::wstring& iniPath) {
    m_givenIniPath = iniPath;
    m_newIniPath = iniPath;
    const std::span<const ManifestPublicKey> keys = TrustedManifestKeys();
    if (keys.empty()) return true;  // a build without keys checks nothing
    m_heldIni = AuthenticateVersionIni(iniPath, keys);
    if (!m_heldIni) {
        m_iniRefused = true;
        return false;
    }
    m_newIniPath = m_heldIni->path();
    return true;
}


bool CUpdateDlg::InitFromCommandLine(const wchar_t* commandLine) {
    UPDATEDLG_LOG(INFO) << "cmdline= " << WideToUtf8Log(commandLine ? commandLine : L"");

    velisk::ArgumentList args(commandLine);
    if (args.count() < 2) return false;

    if (std::wcscmp(args[1], L"-copy") == 0) {
        if (!HasUsableFolders(args)) return false;
        m_installDir = WithTrailingSeparator(args[3]);
        // The staged version.ini drives the copy's chores: checked before
        // anything else happens, as in update mode.
        if (!AuthenticateNewVersionIni(WithTrailingSeparator(args[2]) + L"version.ini")) {
            const std::wstring target = ReadTargetExe(m_installDir + L"version.ini", 512);
            if (args.count() >= 5 && std::wcscmp(args[4], L"-restart") == 0 && !target.empty()) {
                const std::wstring client = m_installDir + target;
                ::ShellExecuteW(nullptr, L"open", client.c_str(), L"--noupdate", m_installDir.c_str(), SW_SHOW);
            }
            return false;
        }
        if (!AcquireInstallLock()) return false;
        m_installationRepaired = RepairInterruptedCopy(m_installDir);  // a copy cut off by a crash is undone first
        bool restart = false;
        m_restartOnCrash = false;
        if (args.count() >= 5 && std::wcscmp(args[4], L"-restart") == 0) {
            restart = true;
            m_restartOnCrash = true;
        }
        ::Sleep(1000);
        CopyStagedUpdate(args[2], args[3], restart);
        return false;
    }

    if (!HasUsableFolders(args)) return false;
    m_installDir = WithTrailingSeparator(args[1]);
    m_databaseUrl = args[2];
    m_waitPid = std::wcstol(args[4], nullptr, 10);
    m_launcherDir = args[5];
    m_launcherPath = args[6];
    const std::wstring installedIni = m_installDir + L"version.ini";
    // Nothing of the new version.ini is read before its signature is checked;
    // a refused one ends the run here, and the end sequence restarts the
    // installed client as after any failed run.
    if (!AuthenticateNewVersionIni(args[3])) {
        m_targetExe = ReadTargetExe(installedIni, 256);
        return false;
    }
    m_relatedExes = ReadIniString(m_newIniPath, kUpdate, L"related", L"", 256);

    killRelatedExe();
    if (!AcquireInstallLock()) return false;
    m_installationRepaired = RepairInterruptedCopy(m_installDir);  // a copy cut off by a crash is undone first

    m_targetExe = ReadTargetExe(m_newIniPath, 256);
    m_versionName = ReadIniString(m_newIniPath, kUpdate, L"versionName", L"", 256);
    RegisterUrlProtocol();

    m_hidden = DecideHiddenMode(installedIni, m_newIniPath);
    m_restartOnCrash = !m_hidden;

    LoadStatContext(installedIni.c_str(), m_newIniPath.c_str());
    StatPoint point("update_command");
    UPDATEDLG_LOG(INFO) << "point update_command: " << point.Send();

    const std::wstring plugin = ReadIniString(m_newIniPath, kUpdate, L"plugin", L"", 512);
    m_pluginDir = PluginFolder(m_installDir, plugin);
    m_uselessFiles = ReadIniString(m_newIniPath, kUpdate, L"uselessFiles", L"", 2048);

    if (IsExcludedOs()) {
        InstallNewVersionIni();
        return false;
    }
    return true;
}
