// Command line, modes, the single-instance lock and the old-system exclusion.
#include <windows.h>

#include <boost/filesystem/path.hpp>
#include <glog/logging.h>

#include <cwchar>

#include "app/update_dlg.h"
#include "diag/statistics.h"
#include "diag/text_format.h"
#include "engine/copy_recovery.h"
#include "engine/version_ini.h"

namespace {
constexpr wchar_t kUpdate[] = L"update";
}  // namespace

std::wstring WithTrailingSeparator(const std::wstring& dir) {
    if (!dir.empty() && (dir.back() == L'\\' || dir.back() == L'/')) return dir;
    return dir + L"\\";
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
        LOG(INFO) << "currentVersion= " << current;
        if (current < minHide) hidden = false;
    }
    return hidden;
}

bool CUpdateDlg::AcquireInstallLock() {
    const std::wstring name = InstallLockName(m_installDir);
    velisk::UniqueKernelHandle existing(::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, name.c_str()));
    if (existing) return false;
    // Held until the process ends; never owned or released explicitly.
    m_installLock.reset(::CreateMutexW(nullptr, FALSE, name.c_str()));
    return true;
}

bool CUpdateDlg::IsExcludedOs() {
    if (ReadIniInt(m_newIniPath, kUpdate, L"excludexp", 0) == 0) return false;
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!::GetVersionExW(&info)) return true;
    return info.dwMajorVersion < 6;
}

bool CUpdateDlg::InitFromCommandLine(const wchar_t* commandLine) {
    LOG(INFO) << "cmdline= " << WideToUtf8Log(commandLine ? commandLine : L"");

    velisk::ArgumentList args(commandLine);
    if (args.count() < 2) return false;

    if (std::wcscmp(args[1], L"-copy") == 0) {
        if (args.count() < 4) return false;
        m_installDir = WithTrailingSeparator(args[3]);
        if (!AcquireInstallLock()) return false;
        RepairInterruptedCopy(m_installDir);  // a copy cut off by a crash is undone first
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

    if (args.count() < 7) return false;
    m_installDir = WithTrailingSeparator(args[1]);
    m_databaseUrl = args[2];
    m_newIniPath = args[3];
    m_waitPid = std::wcstol(args[4], nullptr, 10);
    m_launcherDir = args[5];
    m_launcherPath = args[6];
    m_relatedExes = ReadIniString(m_newIniPath, kUpdate, L"related", L"", 256);

    const std::wstring installedIni = m_installDir + L"version.ini";
    killRelatedExe();
    if (!AcquireInstallLock()) return false;
    RepairInterruptedCopy(m_installDir);  // a copy cut off by a crash is undone first

    m_targetExe = ReadIniString(m_newIniPath, kUpdate, L"target", L"VeliskLive.exe", 256);
    m_versionName = ReadIniString(m_newIniPath, kUpdate, L"versionName", L"", 256);
    RegisterUrlProtocol();

    m_hidden = DecideHiddenMode(installedIni, m_newIniPath);
    m_restartOnCrash = !m_hidden;

    LoadStatContext(installedIni.c_str(), m_newIniPath.c_str());
    StatPoint point("update_command");
    LOG(INFO) << "point update_command: " << point.Send();

    const std::wstring plugin = ReadIniString(m_newIniPath, kUpdate, L"plugin", L"", 512);
    if (!plugin.empty()) m_pluginDir = m_installDir + plugin;
    m_uselessFiles = ReadIniString(m_newIniPath, kUpdate, L"uselessFiles", L"", 2048);

    if (IsExcludedOs()) {
        InstallNewVersionIni();
        return false;
    }
    return true;
}
