// The updater's one window and the state of the whole run.
//
// CUpdateDlg holds the run fields decided from the command line, runs the
// copy mode, drives the update worker in update mode, and performs the end
// sequence (firewall rule, client and launcher restart) in its destructor.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/framework/dialog.h"
#include "app/path_identity.h"
#include "app/res/resource.h"
#include "app/skin/controls.h"
#include "engine/version_ini_signature.h"
#include "velisk/handles.h"

class IVkAutoUpdater;
class DownloadDeadline;
struct FileUpdateStatus;

namespace Gdiplus {
class Graphics;
class Color;
}  // namespace Gdiplus

// A layout box in pixels (x, y, width, height), as GDI+ takes it.
struct LayoutRect {
    float x, y, width, height;
};

// Posted by the worker: lParam is a heap copy of one status record that the
// handler frees.
constexpr UINT WM_UPDATE_STATUS = WM_USER + 1;
// Posted by the worker when it has finished.
constexpr UINT WM_UPDATE_DONE = WM_USER + 2;


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

    // In a build with manifest keys: checks the signature of the version.ini
    // at `iniPath` and makes m_newIniPath the verified private copy (kept in
    // m_heldIni). True without keys (nothing is checked) or when verified;
    // false after the ERROR line "version.ini refused: ...".
    bool AuthenticateNewVersionIni(const std::wstring& iniPath);

    // Installation chores (see install_tasks.cpp).
    void CopyStagedUpdate(const std::wstring& src, const std::wstring& dst, bool restart);
    // The end of every copy mode, copied or refused: the launcher to start,
    // the "imcopy_ifsucc" point, and with `restart` the client.
    void EndCopyMode(bool ok, bool restart, const std::wstring& src, const std::wstring& dst,
                     const std::wstring& target);
    // Writes the new version.ini (the verified bytes and signature when
    // checked) into the installation, or the staging folder of a hidden run;
    // false when it could not be written.
    bool InstallNewVersionIni();
    // Deletes the files that the JSON list names inside `folder`, except
    // those ProtectedFiles keeps (`targetExe` is the client's file name).
    void DeleteUselessFiles(std::wstring folder, const std::wstring& uselessFilesJson, const std::wstring& targetExe);
    void UpdateFirewallRule(const std::wstring& iniPath, const std::wstring& programPath);
    bool RegisterUrlProtocol();
    bool UpdateDisplayVersion(const std::wstring& iniPath);
    void RefreshShortcut();

    // Ending the client and related processes (see process_control.cpp).
    void killRelatedExe();
    void CloseTargetClient(const std::wstring& exeName);
    // Folders whose processes this run may end: the installation, and the
    // staging folder in the copy mode.
    std::vector<std::wstring> ProcessFoldersOfRun() const;

    bool hidden() const { return m_hidden; }
    bool restartOnCrash() const { return m_restartOnCrash.load(); }

    // Asks the worker to stop (cancelling the engine), waits until it has
    // ended and forgets it; nothing when there is none. After a normal end
    // of the dialog the worker has finished its work and only returns.
    void StopWorker();

    // Worker side: turns one engine status record into a posted
    // WM_UPDATE_STATUS carrying a heap copy (the window thread frees it).
    static void OnEngineStatus(const FileUpdateStatus* status, void* userData);

    // Window-thread handlers, public so tests can drive them directly.
    LRESULT OnUpdateStatus(WPARAM wp, LPARAM lp);
    void OnCloseButton();
    const std::wstring& statusText() const { return m_statusText; }
    const std::wstring& updateNotes() const { return m_updateNotes; }

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
    // False when the repair of an interrupted copy at the start could not
    // finish or refused the journal it found: the run then changes nothing.
    bool m_installationRepaired = true;
    std::atomic<bool> m_restartOnCrash{true};  // read by the crash handler's thread
    std::wstring m_pluginDir;
    std::wstring m_uselessFiles;
    IVkAutoUpdater* m_updater = nullptr;
    // The new version.ini as the command line named it; m_newIniPath is the
    // verified private copy when the build checks signatures.
    std::wstring m_givenIniPath;
    std::unique_ptr<HeldVersionIni> m_heldIni;
    // The new version.ini was refused: the end sequence only restarts the client.
    bool m_iniRefused = false;

    // Window and worker fields.
    HICON m_hIcon = nullptr;
    ULONG_PTR m_gdiplusToken = 0;
    std::wstring m_statusText;
    LayoutRect m_statusRect{30, 324, 600, 17};
    RECT m_statusArea{30, 324, 600, 350};
    LayoutRect m_notesRect{90, 104, 452, 152};
    std::wstring m_updateNotes;
    HBITMAP m_scrollSkin = nullptr;
    // The window's DPI (96 = 100 %) and the notes font made for it.
    UINT m_dpi = 96;
    velisk::UniqueGdiObject m_notesFont;  // HFONT of the notes box
    // The window's size in pixels at 96 DPI.
    static constexpr int kWindowWidth = 630;
    static constexpr int kWindowHeight = 390;
    CMyProgressCtrl m_progress;
    CMyProgressCtrl m_progress2;
    CMyButton m_btnMin;
    CMyButton m_btnClose;
    CMyLink m_link;
    CMyButton m_btnStart;
    CEditEx m_notesEdit;

protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* msg) override;
    LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override;

private:
    static DWORD WINAPI UpdateThreadProc(LPVOID param);
    // The worker's whole job; a hidden run's under its download deadline.
    void DoUpdate();
    // Sends the statistics point "update_ifsucc" with the run's result.
    void SendUpdateOutcome(bool ok);
    void RunUpdate();
    void WaitForCaller();
    // Starts the client with the copy command of this hidden run. False
    // (ERROR logged) when it could not be started: nothing would ever copy
    // what the run stages.
    bool RelaunchClientForCopy();
    // Removes this hidden run's staging folder with everything in it.
    void RemoveStagingFolder();
    void OnUpdateDone();
    void RunEndSequence();
    // The launcher, hidden, by its full path, with -d and m_launcherDir.
    void StartLauncher();
    void LoadUpdateNotes();
    void ApplyLayout();
    // `value` pixels at 96 DPI in pixels at the window's DPI.
    int Scaled(int value) const;
    void UseNotesFontFor(UINT dpi);
    void PlaceNotesBox();
    // True when the notes need no scroll bar: at most 8 lines, and all of
    // them inside the box at the current font.
    bool NotesFitWithoutScrolling() const;
    void UpdateNotesScrolling();
    void OnDpiChanged(WPARAM wp, LPARAM lp);
    void OnPaint();
    void OnSize();
    void OnDestroy();
    void OnLButtonDown(LPARAM point);
    void OnLinkButton();

    velisk::UniqueKernelHandle m_workerThread;
    // The hidden run's download deadline while DoUpdate runs (worker thread
    // only; OnEngineStatus tells it when copying begins).
    DownloadDeadline* m_downloadDeadline = nullptr;
    std::atomic<bool> m_stopRequested{false};
    bool m_outcomeSent = false;  // worker thread only
    velisk::UniqueKernelHandle m_installLock;
};

// The notes box's painting: rectangles and quarter pies of radius r.
void FillRoundRect(Gdiplus::Graphics* graphics, const Gdiplus::Color& color, int x, int y, int width,
                   int height, int radius);
// Anti-aliased white fill and a 1-pixel frame of `color` with round corners.
void DrawRoundRect(Gdiplus::Graphics* graphics, const Gdiplus::Color& color, int x, int y, int width,
                   int height, int radius);

// The DPI of `window`'s monitor (GetDpiForWindow where the system has it,
// else the screen's LOGPIXELSY); 96 when neither answers.
UINT WindowDpi(HWND window);

// Progress percentage for `index` of `total`: divided first in double
// precision, truncated toward zero; 0 when total is 0.
int ProgressPercent(int index, int total);

// The notes text: the heading (with the version name when it has at least
// two characters) in front of the lines, each line followed by "\r\n";
// empty when there are no lines.
std::wstring ComposeUpdateNotes(const std::wstring& versionName, const std::vector<std::wstring>& lines);

// Parameter string handed to the client by a hidden run for a later copy:
// -copy "<updater>" "<installDir><stagingDir>" "<baseDir>" <pid> "<related>",
// each quoted value built by the common argument rules, so the client's
// CommandLineToArgvW gives back exactly these values (also a folder that
// ends with a backslash, and the related JSON text with its quotes).
std::wstring BuildCopyParameters(const std::wstring& updaterPath, const std::wstring& installDir,
                                 const std::wstring& stagingDir, DWORD pid, const std::wstring& relatedExes);

// Name of the per-installation mutex: the path elements of `installDir` as
// Boost.Filesystem's iterator yields them, each followed by "/" except the
// root directory ("D:\\Apps\\Client\\" gives "D://Apps/Client/./").
std::wstring InstallLockName(const std::wstring& installDir);

// The lock name as Windows can use it: backslashes (an installation on a UNC
// path) become "/", and a name of MAX_PATH characters or more becomes
// "VeliskUpdate-<64-bit hash>-<length>". Ordinary drive paths keep their name.
std::wstring UsableLockName(const std::wstring& lockName);

// True when the command line is a mode whose folder and file arguments are
// all absolute paths (copy mode: staging and installation folder; update
// mode: installation folder, new version.ini, launcher folder). Too few
// arguments, or an empty or relative one, give false: nothing is done.
bool HasUsableFolders(const velisk::ArgumentList& args);

// [update] target of `iniPath` (default "VeliskLive.exe", read into a buffer
// of `bufferChars`); empty, with a WARNING line, when it is not a plain file
// name (a path, a quote, a control character, a device name).
std::wstring ReadTargetExe(const std::wstring& iniPath, int bufferChars);

// Hidden-mode decision: canHide of the installed file, then hide and
// minHideVersion of the new file against the installed version.
bool DecideHiddenMode(const std::wstring& installedIni, const std::wstring& newIni);
