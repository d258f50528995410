// The updater's one window and the state of the whole run.
//
// CUpdateDlg holds the run fields decided from the command line, runs the
// copy mode, drives the update worker in update mode, and performs the end
// sequence (firewall rule, client and launcher restart) in its destructor.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/framework/dialog.h"
#include "velisk/handles.h"

class IVkAutoUpdater;

// Posted by the worker: lParam is a heap copy of one status record that the
// handler frees.
constexpr UINT WM_UPDATE_STATUS = WM_USER + 1;
// Posted by the worker when it has finished.
constexpr UINT WM_UPDATE_DONE = WM_USER + 2;

constexpr UINT IDD_UPDATE_DIALOG = 102;

class CUpdateDlg : public fw::CDialogEx {
public:
    explicit CUpdateDlg(CWnd* parent = nullptr);
    // Runs the end sequence: firewall rule, client started with "--noupdate"
    // and the launcher with "-d" (visible runs only); deletes the engine.
    ~CUpdateDlg() override;

    // Stores the run fields, runs the copy mode to its end or prepares the
    // update mode. Returns true when the dialog is to run.
    bool InitFromCommandLine(const wchar_t* commandLine);

    // Single-instance lock of one installation: false when another updater
    // already holds the named mutex of m_installDir.
    bool AcquireInstallLock();

    // True when the new version excludes this system (excludexp set and a
    // Windows major version below 6, or the version query failed).
    bool IsExcludedOs();

    // Installation chores (see install_tasks.cpp).
    void CopyStagedUpdate(const std::wstring& src, const std::wstring& dst, bool restart);
    void InstallNewVersionIni();
    void DeleteUselessFiles(std::wstring folder, const std::wstring& uselessFilesJson);
    void UpdateFirewallRule(const std::wstring& iniPath, const std::wstring& programPath);
    bool RegisterUrlProtocol();
    bool UpdateDisplayVersion(const std::wstring& iniPath);
    void RefreshShortcut();

    // Ending the client and related processes (see process_control.cpp).
    void killRelatedExe();
    void CloseTargetClient(const std::wstring& exeName);

    bool hidden() const { return m_hidden; }
    bool restartOnCrash() const { return m_restartOnCrash.load(); }

    // Run fields (filled by InitFromCommandLine).
    std::wstring m_installDir;
    std::wstring m_stagingDir;
    std::wstring m_databaseUrl;
    std::wstring m_newIniPath;
    long m_waitPid = 0;
    std::wstring m_launcherDir;
    std::wstring m_launcherPath;
    std::wstring m_targetExe;
    std::wstring m_relatedExes;
    std::wstring m_versionName;
    bool m_hidden = false;
    std::atomic<bool> m_restartOnCrash{true};  // read by the crash handler's thread
    std::wstring m_pluginDir;
    std::wstring m_uselessFiles;
    IVkAutoUpdater* m_updater = nullptr;

protected:
    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* msg) override;
    LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override;

private:
    static DWORD WINAPI UpdateThreadProc(LPVOID param);
    void DoUpdate();
    void OnUpdateDone();
    void RunEndSequence();

    velisk::UniqueKernelHandle m_workerThread;
    std::atomic<bool> m_stopRequested{false};
    velisk::UniqueKernelHandle m_installLock;
};

// The run's installation folder with a trailing "\\" unless it already ends
// in "\\" or "/".
std::wstring WithTrailingSeparator(const std::wstring& dir);

// Name of the per-installation mutex: the path elements of `installDir` as
// Boost.Filesystem's iterator yields them, each followed by "/" except the
// root directory ("D:\\Apps\\Client\\" gives "D://Apps/Client/./").
std::wstring InstallLockName(const std::wstring& installDir);

// Hidden-mode decision: canHide of the installed file, then hide and
// minHideVersion of the new file against the installed version.
bool DecideHiddenMode(const std::wstring& installedIni, const std::wstring& newIni);

// Enables a privilege (for example "SeDebugPrivilege") for this process;
// false when it could not be enabled.
bool EnableProcessPrivilege(const wchar_t* privilegeName);
