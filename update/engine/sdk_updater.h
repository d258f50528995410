// SDKUpdater: the update engine behind IVkAutoUpdater. One object per run of
// the updater; BeginUpdate brings an installation to the version that a
// manifest archive and a version.ini describe, reporting every step as a
// FileUpdateStatus record to the status callback and to loaded plug-ins.
//
// The members are split by concern over three source files:
//   sdk_updater.cpp    configuration and the BeginUpdate pipeline
//   install_copy.cpp   copy with backup and rollback, staged copy, obsolete files
//   update_plugins.cpp loading, notifying and unloading update plug-ins
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "engine/auto_updater.h"
#include "engine/copy_journal.h"
#include "engine/held_files.h"
#include "engine/manifest_keys.h"
#include "engine/manifest_names.h"
#include "engine/patch_plan.h"
#include "engine/update_plugin.h"
#include "engine/update_algorithm.h"
#include "engine/version_ini_signature.h"
#include "velisk/handles.h"

// One loaded plug-in.
class DataBaseChecker;
struct FileEntry;

struct PluginRecord {
    void* instance = nullptr;  // never null in the table
    HMODULE module = nullptr;
    AutoUpdateLoadPluginFunction loadFunction = nullptr;
    AutoUpdateUnloadPluginFunction unloadFunction = nullptr;  // may be null
    std::wstring path;
};

// The manifest of the new version, as a file name relative to the download
// folder and to the installation folder.
constexpr wchar_t kManifestFileName[] = L"ProgramConfig.zdb";
// Its detached signature beside it (kManifestFileName + kManifestSignatureSuffix).
constexpr wchar_t kManifestSignatureFileName[] = L"ProgramConfig.zdb.sig";

// A status record with every field zero but `status` and `fileName` (cut to
// 255 characters).
FileUpdateStatus ClearedStatus(int32_t status, const std::wstring& fileName);

// Deletes `path` with everything in it. False, with the error's message on
// the standard output, when that fails.
bool RemoveFolder(const std::wstring& path);

class SDKUpdater final : public IVkAutoUpdater {
public:
    SDKUpdater();
    ~SDKUpdater();
    SDKUpdater(const SDKUpdater&) = delete;
    SDKUpdater& operator=(const SDKUpdater&) = delete;

    // IVkAutoUpdater (see auto_updater.h for the contracts).
    void DeleteThis(unsigned int flags) override;
    void SetNewDatabasePath(const wchar_t* path, const wchar_t* unused) override;
    void SetDirectories(const wchar_t* downloadDir, const wchar_t* installDir,
                        const wchar_t* stagingSubDir) override;
    bool BeginUpdate(const wchar_t* databaseUrl, int removeDownloadDir, const wchar_t* iniPath) override;
    void CancelUpdate() override;
    void SetStatusCallback(FileUpdateStatusCallback callback, void* userData) override;
    void Shutdown() override;
    void AddExcludedFiles(const wchar_t* const* names, int count) override;
    void SetUpdateAlgorithm(IVkUpdateAlgorithm* algorithm) override;
    bool CopyFromFolder(const wchar_t* srcDir, const wchar_t* dstDir, int removeSource) override;
    void SetPluginOptions(const PluginOptions* options) override;
    bool ApplyStagedUpdate(const wchar_t* srcDir, const wchar_t* dstDir, int removeSource) override;

    // Result of CopyFileWithDirs.
    enum CopyStatus : int {
        kCopied = 0,
        kSourceMissing = 1,
        kFileSystemError = 2,  // message logged at ERROR
        kOtherError = 3,
    };

    // Copies every name (relative to m_downloadDir) into the installation
    // (m_installDir, or m_installDir + m_dstCopySubDir when staging), backing
    // up each replaced file first. Excluded names (and a second spelling of
    // a name already copied) are skipped. A destination held by another
    // process gets one retry after GetLockedFileInfo. After any failure
    // (FUS_COPYFAIL per file, later files still copied) every backed-up file
    // is restored and, when staging, the staging folder is removed. A copy
    // journal in the installation covers the whole copy, so that a crash
    // midway is repaired by the next run; a journal left by an earlier run
    // is repaired first. The backup folder is removed at the end unless a
    // file could not be restored from it (it is then kept with the journal
    // and its path logged). True when every copy that was not excluded
    // succeeded.
    bool CopyDirectory(const std::vector<std::wstring>& names);

    // Copies `source` over `destination`, creating the destination's missing
    // parent folders. Returns a CopyStatus; never throws.
    int CopyFileWithDirs(const std::wstring& source, const std::wstring& destination);

    // Deletes folder + name for every regular file among `names` (folders
    // and missing names are left alone; names that could leave `folder` are
    // never touched). Returns the number of files deleted.
    int DeleteOldFiles(const wchar_t* folder, const ManifestNameSet& names);

    // Fills `obsolete` with the names that `installedManifest` lists and
    // `newManifest` does not. False (with "local zdb fail" or "new zdb fail"
    // logged) when either manifest lists no files; `obsolete` is then not to
    // be used. Leaves m_updateAlgorithm empty on every path.
    bool ComputeObsoleteFiles(const std::wstring& newManifest, const std::wstring& installedManifest,
                              ManifestNameSet& obsolete);

    // Appends every regular file below `folder` (depth first, in the file
    // system's order) as its path with the first root.size() + 1 characters
    // removed. False, with the error sent to the debugger output, when a
    // folder cannot be listed.
    static bool ListFilesRecursively(const std::wstring& folder, std::vector<std::wstring>& list,
                                     const std::wstring& root);

    // Logs the executable names of the `count` process ids in `pids`.
    static void LogLockingProcesses(const DWORD* pids, int count);

    // Loads every plug-in library of `folder` that accepts (hidden runs only).
    // With manifest keys built in, `folder` must lie inside the installation
    // and a library loads only when the current manifest lists it with the
    // digest it has; it is held open against writing from the check until
    // it is loaded. Returns the number of loaded plug-ins.
    int LoadPlugins(const wchar_t* folder);
    // Opens the plug-in library `path` (manifest name `manifestFolder` + "/" +
    // `fileName`) sharing reading only, and keeps it open when the current
    // manifest lists it with the digest it has; empty after a WARNING line
    // otherwise.
    velisk::UniqueFileHandle HoldListedPlugin(const std::wstring& manifestFolder, const std::wstring& fileName,
                                              const std::wstring& path);
    // Calls each plug-in's unload export and empties the table; the libraries
    // stay loaded.
    void UnloadPlugins();

    // Sends `record` to the status callback, then to every plug-in in table
    // order.
    void NotifyStatus(const FileUpdateStatus& record);

private:
    // The steps of BeginUpdate.
    bool RunUpdate(const wchar_t* databaseUrl, const wchar_t* iniPath);
    // Runs one end step of BeginUpdate; what it throws is logged, not passed.
    template <typename Step>
    void RunEndStep(Step&& step);
    // The steps of ApplyStagedUpdate.
    bool ApplyStagedUpdateSteps(const wchar_t* srcDir, const wchar_t* dstDir, int removeSource);
    // The names of every file below `srcDir`, relative to it; false when the
    // folder cannot be walked.
    static bool ListFolderFiles(const wchar_t* srcDir, std::vector<std::wstring>& names);
    // With keys: the staged version.ini (in the download folder, which the
    // copy mode sets to the staging folder) and the staged manifest are
    // authenticated again, the manifest against the installed version and
    // the version.ini's version, and every other file of `names` must be
    // listed in the manifest with its digest. Every file is held open from
    // its check to the end of the copy. False after one ERROR line
    // ("version.ini refused: ", "manifest refused: " or "staged update
    // refused: " + reason and name).
    bool CheckStagedUpdate(const std::vector<std::wstring>& names, std::span<const ManifestPublicKey> keys);
    // The new manifest's rows by name, "/" and "\\" alike, ignoring case.
    using ListedEntries = std::map<std::wstring, const FileEntry*, ManifestNameLess>;
    bool CheckStagedFile(const std::wstring& name, const ListedEntries& entries);
    // Lets go of what a copy mode held: files, manifest bytes, version.ini.
    void ReleaseStagedUpdate();
    // Downloads and unpacks the manifest archive; with keys, authenticates the
    // manifest against the version of the new version.ini at `iniPath`.
    bool UpdateDatabaseFile(const wchar_t* databaseUrl, const wchar_t* iniPath);
    // Holds the unpacked new manifest open and reads its bytes once; false
    // (ERROR logged) when it cannot be held or read.
    bool HoldNewManifest();
    // Makes the new manifest the algorithm's current one: from the bytes read
    // by HoldNewManifest when the algorithm is the engine's own checker, by
    // path otherwise.
    void OpenNewManifest();
    void EnsureAlgorithm();
    void GetOldFileList(ManifestNameSet& oldFiles);
    bool GetAllFiles(std::vector<std::wstring>& allFiles);
    bool VerifyInstalledFiles(const std::vector<std::wstring>& allFiles, ManifestNameSet& oldFiles,
                              std::vector<std::wstring>& updateFiles);
    bool DownloadUpdateFiles(const std::vector<std::wstring>& urls, const std::vector<std::wstring>& updateFiles,
                             const PatchPlan& patches);
    // The patches of the new manifest's FilePatch table whose base is the
    // installed version of a file of `updateFiles` (none when the engine
    // uses a checker given through SetUpdateAlgorithm).
    PatchPlan PlanFilePatches(const std::vector<std::wstring>& updateFiles);
    // Fetches the patch of `name` from `base` (resumable, at most
    // patch.patchSize bytes), applies it to the installed file into the
    // download folder and checks the result like a downloaded file, reporting
    // progress on `record`. False, with one WARNING naming the file and the
    // reason, when any of that fails; the caller then takes the full archive.
    bool PatchInstalledFile(const std::wstring& base, const std::wstring& name, const FilePatchRow& patch,
                            FileUpdateStatus& record);
    // How large one file and its archive may be: the manifest's sizes, or
    // the fixed bounds for a release that lists none.
    struct ListedBounds {
        uint64_t fileBytes = UINT64_MAX;
        uint64_t archiveBytes = UINT64_MAX;
    };
    ListedBounds BoundsOf(const std::wstring& name) const;
    bool DownloadOneFile(std::wstring& base, const std::vector<std::wstring>& urls, const std::wstring& name,
                         const ListedBounds& bounds, FileUpdateStatus& record);
    bool DownloadFile(const std::wstring& url, const std::wstring& targetDir, const ListedBounds& bounds,
                      FileUpdateStatus& record);
    bool UnzipDownloadFile(const std::wstring& name, const ListedBounds& bounds);
    void ReleaseAlgorithm();
    void ReportPhase(int32_t status);

    // Copies the downloaded file `name` over `destination`: from the handle
    // held since its check when there is one, by path otherwise. A CopyStatus.
    int CopySourceFile(const std::wstring& name, const std::wstring& destination);
    // Copies one name of CopyDirectory: backup, copy, locked-file retry.
    // Returns the copy status; `backupStatus` receives the backup's.
    int CopyWithBackup(const std::wstring& name, const std::wstring& backupDir, int& backupStatus);
    // Backs `destination` up to `backup` through the temporary file
    // `partial` (flushed, then moved into place). Returns a CopyStatus.
    int BackUpFile(const std::wstring& destination, const std::wstring& backup, const std::wstring& partial);
    // Restores one backed-up file, with the same locked-file retry; true
    // when it is back.
    bool RestoreBackup(const std::wstring& backup, const std::wstring& destination);
    // True for a name that the copy skips: excluded, or already in `seen`
    // (which it joins otherwise).
    bool IsSkippedOnCopy(const std::wstring& name, ManifestNameSet& seen) const;
    // The journal of copying `names` with the backup folder `backupName`.
    CopyJournal PlanCopyJournal(const std::vector<std::wstring>& names, const std::wstring& backupName) const;
    // The copy loop of CopyDirectory; fills the rollback list.
    bool CopyEachFile(const std::vector<std::wstring>& names, const std::wstring& backupDir,
                      std::vector<std::pair<std::wstring, std::wstring>>& rollback);
    // Ends the journal and the backup folder after the copy (and rollback);
    // a complete copy of the installed manifest also deletes the old
    // version's obsolete files first (DeleteObsoleteFilesOfCopy).
    void EndCopyJournal(bool copied, bool backupStillNeeded, const CopyJournal& journal);
    // Asks Lockscan.dll to free `destination`; true when a retry is worth it.
    static bool FreeLockedFile(const std::wstring& destination);
    bool IsExcluded(const std::wstring& name) const;

    // Downloader callbacks (userData is a DownloadProgressTarget or the engine).
    static int IsCancelled(void* userData);
    static void OnDownloadProgress(uint64_t done, uint64_t total, void* userData);

    std::map<std::wstring, PluginRecord> m_plugins;
    IVkUpdateAlgorithm* m_updateAlgorithm = nullptr;
    // m_updateAlgorithm when the engine created it itself, otherwise null.
    DataBaseChecker* m_ownChecker = nullptr;
    // The downloaded files (and the new manifest) checked in this run, held
    // open until the end of the run; the copy reads these handles.
    HeldFiles m_heldFiles;
    // The new manifest's bytes as read (and, with keys, checked) once.
    std::string m_newManifestBytes;
    // The staged version.ini checked by the copy mode, held until it ends.
    std::unique_ptr<HeldVersionIni> m_stagedIni;
    std::wstring m_downloadDir;
    std::wstring m_installDir;
    std::wstring m_dstCopySubDir;
    FileUpdateStatusCallback m_statusCallback;
    void* m_callbackUserData = nullptr;
    // Written by CancelUpdate on any thread, read by the worker; once set,
    // never cleared.
    std::atomic<bool> m_cancel{false};
    std::vector<std::wstring> m_excludedFiles;
    std::wstring m_newDatabasePath;
    uint64_t m_totalDownloaded = 0;
    PluginOptions m_pluginOptions;

    // Storage behind the pointers of m_pluginOptions.
    std::wstring m_pluginDirText;
    std::wstring m_updateNotesText;
    std::vector<std::wstring> m_searchDirTexts;
    std::vector<const wchar_t*> m_searchDirPointers;
    // Handed to plug-ins; lives as long as the engine.
    PluginContext m_pluginContext;
};
