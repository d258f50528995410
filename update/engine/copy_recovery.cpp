#include "engine/copy_recovery.h"

#include <windows.h>

#include "diag/text_format.h"
#include "diag/unit_log.h"
#include "engine/file_copy.h"
#include "engine/manifest_names.h"
#include "engine/plain_paths.h"
#include "velisk/handles.h"

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

// Backup folders (and half-written backups) that a run left without a journal.
void RemoveLeftoverBackups(const std::wstring& installDir) {
    WIN32_FIND_DATAW entry = {};
    velisk::UniqueFindHandle find(::FindFirstFileW((installDir + L"*").c_str(), &entry));
    if (!find) return;
    do {
        const std::wstring name = entry.cFileName;
        const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool partial = !folder && name.size() > 8 && name.compare(name.size() - 8, 8, L".partial") == 0 &&
                             IsTickCountName(name.substr(0, name.size() - 8));
        if (!(folder && IsTickCountName(name)) && !partial) continue;
        const std::wstring path = installDir + name;
        const bool removed = RemoveTreeNoFollow(path);
        UPDATER_LOG(INFO) << "repaired interrupted copy: leftover backup " << WideToUtf8Log(path)
                          << (removed ? " removed" : " could not be removed");
    } while (::FindNextFileW(find.get(), &entry));
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

bool CommitCopyJournal(const std::wstring& installDir) {
    return AppendFileFlushed(CopyJournalPath(installDir), CopyJournalCommitRecord());
}

bool RemoveCopyJournal(const std::wstring& installDir) { return RemoveTreeNoFollow(CopyJournalPath(installDir)); }

bool RepairInterruptedCopy(const std::wstring& installFolder) {
    const std::wstring installDir = WithSeparator(installFolder);
    if (installDir.size() < 2) return true;
    const std::wstring journalPath = CopyJournalPath(installDir);
    if (::GetFileAttributesW(journalPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        RemoveLeftoverBackups(installDir);
        return true;
    }

    CopyJournal journal;
    std::string reason = "journal cannot be read";
    const std::optional<std::string> text = ReadFileLimited(journalPath, kMaxJournalBytes);
    if (text && ParseCopyJournal(*text, journal, reason)) {
        JournalRepair repair(installDir, journal);
        reason = repair.Refusal();
        if (reason.empty() && journal.committed) {
            RemoveBackup(installDir, journal.backupName);
            UPDATER_LOG(INFO) << "repaired interrupted copy: finished, new version kept, backup "
                              << WideToUtf8Log(repair.backupDir()) << " removed";
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
        UPDATER_LOG(WARNING) << "repaired interrupted copy: journal refused (" << reason
                             << "), installation left as it is";
    }
    if (!RemoveCopyJournal(installDir)) {
        UPDATER_LOG(ERROR) << "copy journal cannot be removed " << WideToUtf8Log(journalPath);
        return false;
    }
    RemoveLeftoverBackups(installDir);
    return true;
}
