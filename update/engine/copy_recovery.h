// The copy journal on disk: written before a copy with backup starts,
// committed when every file is in place, removed after the backup folder;
// and the repair that the next run performs when a journal was left behind
// by a copy that was interrupted (a crash, a power cut, a killed process).
#pragma once

#include <string>

#include "engine/copy_journal.h"

// The journal's path in `installDir` (which ends with a separator).
std::wstring CopyJournalPath(const std::wstring& installDir);

// Writes and flushes the journal, then creates its (empty) backup folder.
// False when either cannot be made; nothing of it is left then, and the copy
// must not start.
bool BeginCopyJournal(const std::wstring& installDir, const CopyJournal& journal);

// Marks the journal complete (every file is in place); flushed. False on failure.
bool CommitCopyJournal(const std::wstring& installDir);

// After a complete copy that replaced the installed manifest itself (not into
// a staging folder): deletes the plain files that the old manifest, kept in
// the journal's backup folder, lists and the new installed one does not (no
// folder, nothing through a link). Done before the backup is removed, so that
// a run cut off meanwhile leaves a committed journal whose repair can do it
// again. Returns the number of files deleted (0 for any other copy).
int DeleteObsoleteFilesOfCopy(const std::wstring& installDir, const CopyJournal& journal);

// Deletes the journal. False when it is still there.
bool RemoveCopyJournal(const std::wstring& installDir);

// Acts on what an interrupted copy left in `installDir` (ends with a
// separator), before anything else touches the installation:
//  - an unfinished journal: every backed-up file is restored from the backup
//    folder, files the copy created new are deleted, the staging folder it
//    named is removed, then the backup folder and the journal;
//  - a committed journal: the new version is kept; when the copy replaced
//    the installed manifest (not into a staging folder), the files that the
//    old manifest (in the backup) lists and the new one does not are deleted,
//    as the interrupted run would have done; then the backup folder and the
//    journal are removed;
//  - a journal that is damaged, hostile, or whose backup folder is gone or
//    does not match it: the installation is not touched, the journal and its
//    backup are kept aside (renamed with ".refused-<tick count>"), one ERROR
//    line is logged and the result is false, so the run stops;
//  - no journal: nothing is removed (a folder is a backup only because a
//    journal names it).
// Logs one line "repaired interrupted copy: " saying what was done. Nothing
// outside the installation is read or written, and no link is followed.
// Returns true when no journal is left; false when a file could not be
// restored (the journal and the backup folder are then kept and logged) or
// the journal was refused.
bool RepairInterruptedCopy(const std::wstring& installDir);
