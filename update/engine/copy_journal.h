// The journal of one copy into an installation: a small text file written
// and flushed before the first file is replaced, so that a run interrupted by
// a crash or a power cut can be undone (or finished) by the next run.
//
// Format (UTF-8, one record a line, "\n" after each):
//   Velisk copy journal 1
//   backup Update.backup.<tick count>  the backup folder, directly in the
//                                  installation (older runs wrote the bare
//                                  tick count; such journals are still read)
//   staging <update + tick count>  only for a copy into the hidden run's staging folder
//   files <count>
//   replace <size> <name>          a file that existed (size in bytes) and gets a backup
//   new <name>                     a file that did not exist before the copy
//   ...                            (exactly <count> file records, in copy order)
//   commit                         appended once every file is in place
// Names are relative to the installation ("/" or "\\" between levels) and
// include the staging folder when there is one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The journal's file name in the installation folder.
constexpr wchar_t kCopyJournalFileName[] = L"Update.copyjournal";

// Start of every backup folder name: a fixed prefix that the release tool
// refuses as the start of a top-level name, so that no folder of a release
// can ever be taken for a backup.
constexpr wchar_t kBackupFolderPrefix[] = L"Update.backup.";

struct CopyJournalFile {
    std::wstring name;   // relative to the installation
    bool existed = false;  // it was there before the copy, so it is backed up
    uint64_t size = 0;   // its size before the copy (when it existed)
};

struct CopyJournal {
    std::wstring backupName;   // the backup folder name (see IsBackupFolderName)
    std::wstring stagingName;  // empty, or the staging folder name
    std::vector<CopyJournalFile> files;
    bool committed = false;
};

// True when `name` is the decimal text of a 32-bit tick count (digits only,
// no leading zero, at most 4294967295).
bool IsTickCountName(const std::wstring& name);

// True when `name` is a backup folder name a journal may give:
// kBackupFolderPrefix + a tick-count name, or (journals of older runs) a bare
// tick-count name. Only the journal that names a folder makes it a backup.
bool IsBackupFolderName(const std::wstring& name);

// The backup folder name of a copy that starts at the tick count `ticks`.
std::wstring BackupFolderName(unsigned long ticks);

// True when `name` is the staging folder form: "update" + a tick-count name.
bool IsStagingFolderName(const std::wstring& name);

// The journal's text (without "commit"). Empty when a name cannot be written
// safely (see ParseCopyJournal).
std::string FormatCopyJournal(const CopyJournal& journal);

// The text appended when the copy is complete.
std::string CopyJournalCommitRecord();

// Reads journal text. False (with a reason) when it is not a complete
// journal or holds anything hostile: a backup or staging name not of its
// form, a file name that is not a contained manifest name (absolute, drive
// letter, "..", control characters), a count that does not match, or
// unknown records.
// When it is refused after the backup line, `journal.backupName` still holds
// that (valid) name, so the refused journal's backup can be kept aside.
bool ParseCopyJournal(const std::string& text, CopyJournal& journal, std::string& reason);
