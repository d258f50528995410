// Copy into the installation with backup and rollback, the staged copy of
// the copy mode, and the removal of obsolete files.
#include <windows.h>
#include <tlhelp32.h>

#include <boost/exception/exception.hpp>
#include <boost/filesystem.hpp>

#include <exception>
#include <utility>

#include "diag/text_format.h"
#include "diag/unit_log.h"
#include "engine/copy_recovery.h"
#include "engine/database_checker.h"
#include "engine/file_copy.h"
#include "engine/manifest_keys.h"
#include "engine/manifest_names.h"
#include "engine/plain_paths.h"
#include "engine/sdk_updater.h"
#include "lockscan.h"
#include "velisk/handles.h"

namespace fs = boost::filesystem;

namespace {

// What GetLockedFileInfo is asked to do: ask the holders to close, end
// those that do not, and wait at most this long for each.
constexpr int kAskHoldersToClose = 1;
constexpr int kEndHolders = 1;
constexpr int kHolderWaitMs = 10000;

bool IsCopyError(int status) { return status == SDKUpdater::kFileSystemError || status == SDKUpdater::kOtherError; }

// A backup that leaves the destination safe to overwrite: it was copied, or
// there was nothing to back up.
bool BackupDone(int backupStatus) {
    return backupStatus == SDKUpdater::kCopied || backupStatus == SDKUpdater::kSourceMissing;
}

// One call of Lockscan.dll for a destination that another process holds.
struct LockedFileQuery {
    DWORD processIds[LOCKSCAN_MAX_PROCESS_IDS] = {};
    int count = 0;
    bool retry = false;

    explicit LockedFileQuery(const std::wstring& path) {
        retry = GetLockedFileInfo(path.c_str(), processIds, &count, kAskHoldersToClose, kEndHolders,
                                  kHolderWaitMs) != 0;
        // Another build of the library might report more ids than fit.
        if (count > LOCKSCAN_MAX_PROCESS_IDS) count = LOCKSCAN_MAX_PROCESS_IDS;
    }
};

}  // namespace

namespace {

// Runs one copy; its errors become a CopyStatus.
template <typename Copy>
int CopyStatusOf(Copy&& copy) {
    try {
        return copy() == CopySource::kCopied ? SDKUpdater::kCopied : SDKUpdater::kSourceMissing;
    } catch (const std::exception& error) {
        UPDATER_LOG(ERROR) << error.what();
        return SDKUpdater::kFileSystemError;
    } catch (const boost::exception&) {
        return SDKUpdater::kOtherError;
    }
}

}  // namespace

int SDKUpdater::CopyFileWithDirs(const std::wstring& source, const std::wstring& destination) {
    return CopyStatusOf([&] { return CopyFileOver(source, destination); });
}

int SDKUpdater::CopySourceFile(const std::wstring& name, const std::wstring& destination) {
    const std::wstring source = m_downloadDir + name;
    const HANDLE held = m_heldFiles.Find(name);
    if (held == nullptr) return CopyFileWithDirs(source, destination);
    return CopyStatusOf([&] {
        CopyOpenFileOver(held, source, destination);
        return CopySource::kCopied;
    });
}

bool SDKUpdater::IsExcluded(const std::wstring& name) const {
    for (const std::wstring& excluded : m_excludedFiles) {
        if (SameManifestName(excluded, name)) return true;
    }
    return false;
}

int SDKUpdater::BackUpFile(const std::wstring& destination, const std::wstring& backup, const std::wstring& partial) {
    // The backup is written under a temporary name (the copy flushes it) and
    // only then moved to its place: a backup under its own name is always
    // complete, which is what a repair after a crash relies on.
    const int status = CopyFileWithDirs(destination, partial);
    if (status != kCopied) {
        if (status != kSourceMissing) ::DeleteFileW(partial.c_str());
        return status;
    }
    if (!MoveFileCreatingFolders(partial, backup)) {
        UPDATER_LOG(ERROR) << "backup not completed " << WideToUtf8Log(backup) << " error " << ::GetLastError();
        RemoveTreeNoFollow(partial);
        return kFileSystemError;
    }
    return kCopied;
}

int SDKUpdater::CopyWithBackup(const std::wstring& name, const std::wstring& backupDir, int& backupStatus) {
    const std::wstring backup = backupDir + L"\\" + name;
    const std::wstring partial = backupDir + L".partial";
    const std::wstring destination = m_installDir + m_dstCopySubDir + name;
    const std::wstring source = m_downloadDir + name;

    backupStatus = BackUpFile(destination, backup, partial);
    UPDATER_LOG(INFO) << "back-up from " << WideToUtf8Log(destination);
    UPDATER_LOG(INFO) << "to " << WideToUtf8Log(backup);
    UPDATER_LOG(INFO) << "return status is " << backupStatus;

    // A file that exists but could not be backed up is not overwritten: a
    // rollback could not bring it back.
    int status = BackupDone(backupStatus) ? CopySourceFile(name, destination) : backupStatus;
    UPDATER_LOG(INFO) << "overlap from " << WideToUtf8Log(source);
    UPDATER_LOG(INFO) << "to " << WideToUtf8Log(destination);
    UPDATER_LOG(INFO) << "return status is " << status;

    int attempts = 0;
    if (IsCopyError(status)) {
        LockedFileQuery lock(destination);
        if (lock.retry) {
            attempts = 1;
            if (!BackupDone(backupStatus)) {
                backupStatus = BackUpFile(destination, backup, partial);
                UPDATER_LOG(INFO) << "back-up again, return status is " << backupStatus;
            }
            status = BackupDone(backupStatus) ? CopySourceFile(name, destination) : backupStatus;
            LogLockingProcesses(lock.processIds, lock.count);
        } else {
            UPDATER_LOG(INFO) << 1 << "th attempt fail";
        }
        UPDATER_LOG(INFO) << "attemp count " << attempts << ", in finally return status is " << status;
    }
    return status;
}

bool SDKUpdater::RestoreBackup(const std::wstring& backup, const std::wstring& destination) {
    int status = CopyFileWithDirs(backup, destination);
    UPDATER_LOG(INFO) << "rollback from " << WideToUtf8Log(backup);
    UPDATER_LOG(INFO) << "to " << WideToUtf8Log(destination);
    UPDATER_LOG(INFO) << "return status is " << status;
    if (!IsCopyError(status)) return status == kCopied;
    int attempts = 0;
    LockedFileQuery lock(destination);
    if (lock.retry) {
        attempts = 1;
        status = CopyFileWithDirs(backup, destination);
        LogLockingProcesses(lock.processIds, lock.count);
    } else {
        UPDATER_LOG(INFO) << 1 << "th attempt fail";
    }
    UPDATER_LOG(INFO) << "attemp count " << attempts << ", in finally return status is " << status;
    return status == kCopied;
}

bool SDKUpdater::IsSkippedOnCopy(const std::wstring& name, ManifestNameSet& seen) const {
    // A name met twice (as Windows compares names) is copied once: a second
    // backup would be taken of the file already replaced.
    return IsExcluded(name) || !seen.insert(name).second;
}

CopyJournal SDKUpdater::PlanCopyJournal(const std::vector<std::wstring>& names, const std::wstring& backupName) const {
    CopyJournal journal;
    journal.backupName = backupName;
    std::wstring staging = m_dstCopySubDir;
    while (!staging.empty() && (staging.back() == L'\\' || staging.back() == L'/')) staging.pop_back();
    if (IsStagingFolderName(staging)) journal.stagingName = staging;
    ManifestNameSet seen;
    for (const std::wstring& name : names) {
        if (IsSkippedOnCopy(name, seen)) continue;
        CopyJournalFile file;
        file.name = m_dstCopySubDir + name;
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (::GetFileAttributesExW((m_installDir + file.name).c_str(), GetFileExInfoStandard, &data)) {
            file.existed = true;
            file.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        }
        journal.files.push_back(file);
    }
    return journal;
}

bool SDKUpdater::CopyEachFile(const std::vector<std::wstring>& names, const std::wstring& backupDir,
                              std::vector<std::pair<std::wstring, std::wstring>>& rollback) {
    bool ok = true;
    ManifestNameSet seen;
    for (const std::wstring& name : names) {
        UPDATER_LOG(INFO) << "start copy file " << WideToUtf8Log(name);
        if (IsExcluded(name)) {
            UPDATER_LOG(INFO) << "File excluded On Copy!!!";
            continue;
        }
        if (IsSkippedOnCopy(name, seen)) {
            UPDATER_LOG(INFO) << "same file named twice, copied once";
            continue;
        }
        int backupStatus = kSourceMissing;
        const int status = CopyWithBackup(name, backupDir, backupStatus);
        if (status != kCopied) {
            ok = false;
            NotifyStatus(ClearedStatus(FUS_COPYFAIL, name));
        }
        if (backupStatus == kCopied) {
            rollback.emplace_back(backupDir + L"\\" + name, m_installDir + m_dstCopySubDir + name);
        }
    }
    return ok;
}

void SDKUpdater::EndCopyJournal(bool copied, bool backupStillNeeded, const CopyJournal& journal) {
    const std::wstring backupDir = m_installDir + journal.backupName;
    if (backupStillNeeded) {
        // The backup holds the only copy of a file that could not be restored:
        // keep it, and the journal, so the next start restores it.
        UPDATER_LOG(ERROR) << "rollback incomplete, backup folder kept " << WideToUtf8Log(backupDir);
        return;
    }
    // After a complete copy the journal is marked first, so that a crash
    // while the backup is being removed keeps the new version. Without the
    // mark the journal goes first: a backup folder alone is only removed.
    const bool committed = copied && CommitCopyJournal(m_installDir);
    if (!committed) RemoveCopyJournal(m_installDir);
    // The old version's obsolete files go while the old manifest is still
    // in the backup: a run cut off from here on is finished by the next one.
    if (committed) {
        UPDATER_LOG(INFO) << "obsolete files deleted with the commit: " << DeleteObsoleteFilesOfCopy(m_installDir, journal);
    }
    const bool removed = RemoveTreeNoFollow(backupDir) && RemoveTreeNoFollow(backupDir + L".partial");
    if (!committed) return;
    if (removed) {
        RemoveCopyJournal(m_installDir);
    } else {
        // The committed journal stays, so the next start removes the rest.
        UPDATER_LOG(WARNING) << "backup folder not removed, journal kept " << WideToUtf8Log(backupDir);
    }
}

bool SDKUpdater::CopyDirectory(const std::vector<std::wstring>& names) {
    UPDATER_LOG(INFO) << "files size = " << names.size();
    UPDATER_LOG(INFO) << "m_dstCopySubDir = " << WideToUtf8Log(m_dstCopySubDir);
    if (!RepairInterruptedCopy(m_installDir)) {
        UPDATER_LOG(ERROR) << "copy refused: an interrupted copy is not repaired";
        return false;
    }
    const std::wstring backupName = BackupFolderName(::GetTickCount());
    const std::wstring backupDir = m_installDir + backupName;
    const CopyJournal journal = PlanCopyJournal(names, backupName);
    bool ok = BeginCopyJournal(m_installDir, journal);
    if (!ok) UPDATER_LOG(ERROR) << "copy journal cannot be written " << WideToUtf8Log(CopyJournalPath(m_installDir));

    bool backupStillNeeded = false;
    if (ok) {
        std::vector<std::pair<std::wstring, std::wstring>> rollback;  // (backup, destination)
        ok = CopyEachFile(names, backupDir, rollback);
        if (!ok) {
            UPDATER_LOG(INFO) << "copy fail, start to roll back ...";
            for (const auto& [backup, destination] : rollback) {
                if (!RestoreBackup(backup, destination)) backupStillNeeded = true;
            }
        }
        EndCopyJournal(ok, backupStillNeeded, journal);
    }
    if (!ok && !m_dstCopySubDir.empty()) {
        UPDATER_LOG(INFO) << "delete the folder " << WideToUtf8Log(m_installDir + m_dstCopySubDir);
        RemoveFolder(m_installDir + m_dstCopySubDir);
    }
    return ok;
}

void SDKUpdater::LogLockingProcesses(const DWORD* pids, int count) {
    UPDATER_LOG(INFO) << "exe list as follows:";
    if (pids == nullptr || count < 1) return;
    velisk::UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) {
        snapshot.release();
        return;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        for (int i = 0; i < count; ++i) {
            if (pids[i] == entry.th32ProcessID) {
                UPDATER_LOG(INFO) << "exe name: " << WideToUtf8Log(entry.szExeFile);
                break;
            }
        }
    }
}

int SDKUpdater::DeleteOldFiles(const wchar_t* folder, const ManifestNameSet& names) {
    UPDATER_LOG(INFO) << "will delete " << names.size() << " old files";
    if (folder == nullptr || std::wstring(folder).size() < 2) return 0;
    std::wstring base = folder;
    if (base.back() != L'\\' && base.back() != L'/') base += L'\\';
    int deleted = 0;
    for (const std::wstring& name : names) {
        const std::wstring path = base + name;
        UPDATER_LOG(INFO) << "delete file " << WideToUtf8Log(path);
        if (!IsContainedManifestName(name)) {
            UPDATER_LOG(WARNING) << "name outside the folder kept";
            continue;
        }
        try {
            if (fs::is_regular_file(fs::path(path)) && fs::remove(fs::path(path))) {
                UPDATER_LOG(INFO) << "delete file success";
                ++deleted;
            }
        } catch (const std::exception&) {
            UPDATER_LOG(ERROR) << "delete file fail" << WideToUtf8Log(path);
        }
    }
    UPDATER_LOG(INFO) << "delete " << deleted << " old files in fact";
    return deleted;
}

bool SDKUpdater::ListFilesRecursively(const std::wstring& folder, std::vector<std::wstring>& list,
                                      const std::wstring& root) {
    try {
        for (fs::directory_iterator it{fs::path(folder)}, end; it != end; ++it) {
            const fs::file_status status = it->symlink_status();
            if (fs::is_regular_file(status)) {
                list.push_back(it->path().wstring().substr(root.size() + 1));
            } else if (fs::is_directory(status)) {
                // Only real folders are walked, so a link cannot make a loop.
                if (!ListFilesRecursively(it->path().wstring(), list, root)) return false;
            }
        }
        return true;
    } catch (const std::exception& error) {
        ::OutputDebugStringA(error.what());
        return false;
    }
}

bool SDKUpdater::ListFolderFiles(const wchar_t* srcDir, std::vector<std::wstring>& names) {
    // Relative names are cut after the root and one separator, so the root
    // is taken without its trailing separators.
    std::wstring root = srcDir;
    while (root.size() > 1 && (root.back() == L'\\' || root.back() == L'/')) root.pop_back();
    return ListFilesRecursively(srcDir, names, root);
}

bool SDKUpdater::CopyFromFolder(const wchar_t* srcDir, const wchar_t* dstDir, int removeSource) {
    if (srcDir == nullptr || dstDir == nullptr || *srcDir == L'\0' || *dstDir == L'\0') return false;
    SetDirectories(srcDir, dstDir, nullptr);
    std::vector<std::wstring> list;
    if (!ListFolderFiles(srcDir, list)) return false;
    const bool ok = CopyDirectory(list);
    if (removeSource) RemoveFolder(srcDir);
    return ok;
}

bool SDKUpdater::ApplyStagedUpdateSteps(const wchar_t* srcDir, const wchar_t* dstDir, int removeSource) {
    if (srcDir == nullptr || dstDir == nullptr || *srcDir == L'\0' || *dstDir == L'\0') return false;
    SetDirectories(srcDir, dstDir, nullptr);
    // One listing: what is checked is what is copied, and a file added to
    // the folder after the check is left where it is.
    std::vector<std::wstring> names;
    bool ok = ListFolderFiles(srcDir, names);
    const std::span<const ManifestPublicKey> keys = TrustedManifestKeys();
    if (ok && !keys.empty()) ok = CheckStagedUpdate(names, keys);
    ManifestNameSet obsolete;
    const bool obsoleteKnown = ok && ComputeObsoleteFiles(m_downloadDir + kManifestFileName,
                                                          m_installDir + kManifestFileName, obsolete);
    if (ok) ok = CopyDirectory(names);
    ReleaseStagedUpdate();  // the holds would keep the folder from being removed
    if (removeSource) RemoveFolder(srcDir);
    if (ok && obsoleteKnown) DeleteOldFiles(dstDir, obsolete);
    return ok;
}

void SDKUpdater::ReleaseStagedUpdate() {
    ReleaseAlgorithm();
    m_heldFiles.Clear();
    m_newManifestBytes.clear();
    m_stagedIni.reset();
}

bool SDKUpdater::ComputeObsoleteFiles(const std::wstring& newManifest, const std::wstring& installedManifest,
                                      ManifestNameSet& obsolete) {
    obsolete.clear();
    EnsureAlgorithm();
    m_updateAlgorithm->OpenDatabase(installedManifest.c_str());
    GetOldFileList(obsolete);
    if (obsolete.empty()) {
        UPDATER_LOG(ERROR) << "local zdb fail";
        ReleaseAlgorithm();
        return false;
    }
    UPDATER_LOG(INFO) << "files size = " << obsolete.size();
    // The bytes the staged check read, when it ran; the file otherwise.
    if (m_newManifestBytes.empty()) {
        m_updateAlgorithm->OpenDatabase(newManifest.c_str());
    } else {
        OpenNewManifest();
    }
    std::vector<std::wstring> newFiles;
    if (!GetAllFiles(newFiles)) {
        UPDATER_LOG(ERROR) << "new zdb fail";
        ReleaseAlgorithm();
        return false;
    }
    UPDATER_LOG(INFO) << "new files size = " << newFiles.size();
    for (const std::wstring& name : newFiles) obsolete.erase(name);
    ReleaseAlgorithm();
    return true;
}
