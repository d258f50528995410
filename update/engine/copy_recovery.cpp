#include "engine/copy_recovery.h"

#include <windows.h>

#include <vector>

#include "diag/text_format.h"
#include "diag/unit_log.h"
#include "engine/database_checker.h"
#include "engine/file_copy.h"
#include "engine/manifest_names.h"
#include "engine/plain_paths.h"
#include "engine/sdk_updater.h"

namespace {

// A journal larger than this is not one that this program wrote.
constexpr uint64_t kMaxJournalBytes = 64ull << 20;

std::wstring WithSeparator(const std::wstring& folder) {
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') return folder + L"\\";
    return folder;
}

bool IsPlainFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Size of a plain file; false when there is none at `path`.
bool PlainFileSize(const std::wstring& path, uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

// Copies a backup back over its destination, flushed to disk before the
// journal and the backup are removed.
bool RestoreFile(const std::wstring& backup, const std::wstring& destination) {
    const DWORD attributes = ::GetFileAttributesW(destination.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        ::SetFileAttributesW(destination.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    try {
        return CopyFileOver(backup, destination) == CopySource::kCopied;
    } catch (const std::exception& error) {
        UPDATER_LOG(ERROR) << error.what();
        return false;
    }
}

// What one repair found and did.
struct RepairCounts {
    int restored = 0;
    int removed = 0;
    int failed = 0;
};

class JournalRepair {
public:
    JournalRepair(const std::wstring& installDir, const CopyJournal& journal)
        : m_installDir(installDir), m_journal(journal), m_backupDir(installDir + journal.backupName) {}

    // Why the installation must not be touched by this journal; empty when
    // it may be.
    std::string Refusal() const {
        // A committed copy needs no backup any more: it may be gone already.
        if (!m_journal.committed && !IsPlainFolder(m_backupDir)) return "backup folder missing";
        for (const CopyJournalFile& file : m_journal.files) {
            if (!IsPlainPathBelow(m_installDir, file.name) || !IsPlainPathBelow(m_backupDir, file.name)) {
                return "a linked folder on the way to " + WideToUtf8Log(file.name);
            }
            uint64_t size = 0;
            if (file.existed && !m_journal.committed && PlainFileSize(Backup(file), size) && size != file.size) {
                return "damaged backup of " + WideToUtf8Log(file.name);
            }
        }
        if (!m_journal.stagingName.empty() && !IsPlainPathBelow(m_installDir, m_journal.stagingName)) {
            return "linked staging folder";
        }
        return std::string();
    }

    // Brings every file back to its state before the copy.
    RepairCounts RollBack() const {
        RepairCounts counts;
        for (const CopyJournalFile& file : m_journal.files) {
            const std::wstring destination = m_installDir + WithBackslashes(file.name);
            uint64_t size = 0;
            if (file.existed) {
                // No backup: the copy never reached this file, so it is intact.
                if (!PlainFileSize(Backup(file), size)) continue;
                if (RestoreFile(Backup(file), destination)) {
                    ++counts.restored;
                } else {
                    ++counts.failed;
                    UPDATER_LOG(ERROR) << "restore fail " << WideToUtf8Log(destination);
                }
            } else if (PlainFileSize(destination, size)) {
                // Only a file: a folder at that name was not made by the copy.
                if (RemoveTreeNoFollow(destination)) {
                    ++counts.removed;
                } else {
                    ++counts.failed;
                    UPDATER_LOG(ERROR) << "remove fail " << WideToUtf8Log(destination);
                }
            }
        }
        if (!m_journal.stagingName.empty() && !RemoveTreeNoFollow(m_installDir + m_journal.stagingName)) {
            ++counts.failed;
        }
        return counts;
    }

    const std::wstring& backupDir() const { return m_backupDir; }

private:
    std::wstring Backup(const CopyJournalFile& file) const { return m_backupDir + L"\\" + WithBackslashes(file.name); }

    const std::wstring& m_installDir;
    const CopyJournal& m_journal;
    const std::wstring m_backupDir;
};

// Removes the backup folder and the half-written backup file of a journal.
void RemoveBackup(const std::wstring& installDir, const std::wstring& backupName) {
    RemoveTreeNoFollow(installDir + backupName);
    RemoveTreeNoFollow(installDir + backupName + L".partial");
}

// Renames `name` in `installDir` to `name` + `suffix` when it is there; the
// new name, or an empty text when nothing was there or it could not be moved.
std::wstring MoveAside(const std::wstring& installDir, const std::wstring& name, const std::wstring& suffix) {
    const std::wstring from = installDir + name;
    if (name.empty() || ::GetFileAttributesW(from.c_str()) == INVALID_FILE_ATTRIBUTES) return std::wstring();
    if (!::MoveFileExW(from.c_str(), (from + suffix).c_str(), 0)) return std::wstring();
    return name + suffix;
}

// Keeps a refused journal and whatever backup it names aside, under names
// that no later run takes for a journal or a backup, so that nothing of it
// is lost and someone can look at it. Returns what was kept, for the log.
std::string KeepRefusedJournalAside(const std::wstring& installDir, const std::wstring& backupName) {
    const std::wstring suffix = L".refused-" + std::to_wstring(::GetTickCount());
    std::string kept;
    for (const std::wstring& name :
         {std::wstring(kCopyJournalFileName), backupName, backupName.empty() ? backupName : backupName + L".partial"}) {
        const std::wstring moved = MoveAside(installDir, name, suffix);
        if (!moved.empty()) kept += (kept.empty() ? "" : ", ") + WideToUtf8Log(moved);
    }
    return kept.empty() ? std::string("nothing could be moved") : kept;
}

// Every name that the manifest at `path` lists (none when it lists nothing
// or cannot be read).
std::vector<std::wstring> ManifestFileNames(DataBaseChecker& checker, const std::wstring& path) {
    checker.OpenDatabase(path.c_str());
    ManifestNameSlot* names = nullptr;
    int count = 0;
    checker.GetFileList(&names, &count);
    if (count < 1 || names == nullptr) return {};
    std::vector<std::wstring> list(names, names + count);
    checker.FreeFileList(names);
    return list;
}

// The names the old manifest (kept in the backup) lists and the installed
// new one does not: what the interrupted run would have deleted after its
// copy. Empty when either manifest lists nothing.
ManifestNameSet ObsoleteFilesOfCommittedCopy(const std::wstring& installDir, const std::wstring& backupDir) {
    DataBaseChecker checker(installDir);
    const std::vector<std::wstring> oldNames = ManifestFileNames(checker, backupDir + L"\\" + kManifestFileName);
    const std::vector<std::wstring> newNames = ManifestFileNames(checker, installDir + kManifestFileName);
    ManifestNameSet obsolete;
    if (oldNames.empty() || newNames.empty()) return obsolete;
    for (const std::wstring& name : oldNames) {
        if (IsContainedManifestName(name)) obsolete.insert(name);
    }
    for (const std::wstring& name : newNames) obsolete.erase(name);
    return obsolete;
}

// Deletes the plain files among `names` (never through a link, never a
// folder). Returns how many were deleted.
int DeleteObsoleteFiles(const std::wstring& installDir, const ManifestNameSet& names) {
    int deleted = 0;
    for (const std::wstring& name : names) {
        uint64_t size = 0;
        const std::wstring path = installDir + WithBackslashes(name);
        if (!IsPlainPathBelow(installDir, name) || !PlainFileSize(path, size)) continue;
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (::DeleteFileW(path.c_str())) {
            ++deleted;
        } else {
            UPDATER_LOG(WARNING) << "repaired interrupted copy: obsolete file not deleted " << WideToUtf8Log(path);
        }
    }
    return deleted;
}

// True when the journal's copy replaced the installed manifest itself (not
// in a staging folder) and its backup of it is whole: the copy was one
// whose run deletes the old version's obsolete files.
bool ReplacedInstalledManifest(const CopyJournal& journal, const std::wstring& backupDir) {
    if (!journal.stagingName.empty()) return false;
    for (const CopyJournalFile& file : journal.files) {
        uint64_t size = 0;
        if (file.existed && SameManifestName(file.name, kManifestFileName)) {
            return PlainFileSize(backupDir + L"\\" + kManifestFileName, size) && size == file.size;
        }
    }
    return false;
}

}  // namespace

std::wstring CopyJournalPath(const std::wstring& installDir) { return WithSeparator(installDir) + kCopyJournalFileName; }

bool BeginCopyJournal(const std::wstring& installDir, const CopyJournal& journal) {
    const std::string text = FormatCopyJournal(journal);
    if (text.empty()) return false;
    const std::wstring path = CopyJournalPath(installDir);
    if (!WriteFileFlushed(path, text)) return false;
    if (!::CreateDirectoryW((WithSeparator(installDir) + journal.backupName).c_str(), nullptr)) {
        ::DeleteFileW(path.c_str());
        return false;
    }
    return true;
}

int DeleteObsoleteFilesOfCopy(const std::wstring& installFolder, const CopyJournal& journal) {
    const std::wstring installDir = WithSeparator(installFolder);
    const std::wstring backupDir = installDir + journal.backupName;
    if (!ReplacedInstalledManifest(journal, backupDir)) return 0;
    return DeleteObsoleteFiles(installDir, ObsoleteFilesOfCommittedCopy(installDir, backupDir));
}

bool CommitCopyJournal(const std::wstring& installDir) {
    return AppendFileFlushed(CopyJournalPath(installDir), CopyJournalCommitRecord());
}

bool RemoveCopyJournal(const std::wstring& installDir) { return RemoveTreeNoFollow(CopyJournalPath(installDir)); }

bool RepairInterruptedCopy(const std::wstring& installFolder) {
    const std::wstring installDir = WithSeparator(installFolder);
    if (installDir.size() < 2) return true;
    const std::wstring journalPath = CopyJournalPath(installDir);
    // Without a journal nothing here was made by a copy: nothing is removed.
    if (::GetFileAttributesW(journalPath.c_str()) == INVALID_FILE_ATTRIBUTES) return true;

    CopyJournal journal;
    std::string reason = "journal cannot be read";
    const std::optional<std::string> text = ReadFileLimited(journalPath, kMaxJournalBytes);
    if (text && ParseCopyJournal(*text, journal, reason)) {
        JournalRepair repair(installDir, journal);
        reason = repair.Refusal();
        if (reason.empty() && journal.committed) {
            const int deleted = DeleteObsoleteFilesOfCopy(installDir, journal);
            RemoveBackup(installDir, journal.backupName);
            UPDATER_LOG(INFO) << "repaired interrupted copy: finished, new version kept, obsolete files deleted "
                              << deleted << ", backup " << WideToUtf8Log(repair.backupDir()) << " removed";
        } else if (reason.empty()) {
            const RepairCounts counts = repair.RollBack();
            if (counts.failed > 0) {
                UPDATER_LOG(ERROR) << "repaired interrupted copy: incomplete, " << counts.failed
                                   << " files not restored, journal and backup folder kept "
                                   << WideToUtf8Log(repair.backupDir());
                return false;
            }
            RemoveBackup(installDir, journal.backupName);
            UPDATER_LOG(INFO) << "repaired interrupted copy: rolled back, restored " << counts.restored
                              << ", removed " << counts.removed << ", backup " << WideToUtf8Log(repair.backupDir())
                              << " removed";
        }
    }
    if (!reason.empty()) {
        // Nothing of a journal that cannot be trusted is acted on or thrown
        // away: the installation is left as it is, the journal and its backup
        // are kept aside, and this run goes no further.
        UPDATER_LOG(ERROR) << "repaired interrupted copy: journal refused (" << reason
                           << "), installation left as it is, kept aside: "
                           << KeepRefusedJournalAside(installDir, journal.backupName);
        return false;
    }
    if (!RemoveCopyJournal(installDir)) {
        UPDATER_LOG(ERROR) << "copy journal cannot be removed " << WideToUtf8Log(journalPath);
        return false;
    }
    return true;
}
