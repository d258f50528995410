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

// Deletes the journal. False when it is still there.
bool RemoveCopyJournal(const std::wstring& installDir);

// Acts on what an interrupted copy left in `installDir` (ends with a
// separator), before anything else touches the installation:
//  - an unfinished journal: every backed-up file is restored from the backup
//    folder, files the copy created new are deleted, the staging folder it
//    named is removed, then the backup folder and the journal;
//  - a committed journal: the backup folder and the journal are removed, the
//    installation (the new version) is left as it is;
//  - a journal that is damaged, hostile, or whose backup folder is gone or
//    does not match it: logged and deleted, the installation is not touched;
//  - backup folders of the tick-count form directly in the installation with
//    no journal (older runs): removed.
// Logs one line "repaired interrupted copy: " saying what was done. Nothing
// outside the installation is read or written, and no link is followed.
// Returns true when no journal is left; false when a file could not be
// restored (the journal and the backup folder are then kept and logged).
bool RepairInterruptedCopy(const std::wstring& installDir);
