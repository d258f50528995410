// Whole-file copies for the install copy: one open of each file, one large
// buffer, no extra status queries. Failures are thrown as
// boost::filesystem::filesystem_error, whose message names the operation,
// the system error and both paths, like Boost's own copy.
#pragma once

#include <windows.h>

#include <string>

// Creates the parent folder of `path` with every missing level, unless a file
// or folder of that name already exists (then nothing is done).
void CreateParentFolders(const std::wstring& path);

// What CopyFileOver found at the source.
enum class CopySource { kCopied, kMissing };

// Copies the contents of `source` to `destination`, creating it (and its
// missing parent folders) or replacing what is there, with the source's
// attributes and last-write time (what the system's CopyFile keeps).
// kMissing, with nothing done, when no file or folder is at `source`; a
// folder there fails like any source that cannot be read. A destination
// that is the source under another name is refused (sharing violation),
// never truncated. An existing destination is written over in place and cut
// to the source's length. The destination's contents are flushed to disk
// before it is closed: the copy journal moves on (a backup into place, the
// commit, the backup's removal) only over copies that a power cut cannot
// take back. When writing or flushing fails, the incomplete destination is
// deleted before the error is thrown.
//
// The common case costs one open of each file and no status query (under
// Wine every query by path is a slow look-up); folders are made only when
// the open says they are missing.
CopySource CopyFileOver(const std::wstring& source, const std::wstring& destination);

// The same copy from the file already open as `in` (read from its start;
// `source` only names it in errors): what is copied is the file behind the
// handle, whatever its path names by now.
void CopyOpenFileOver(HANDLE in, const std::wstring& source, const std::wstring& destination);

// Moves the file `from` to `to`, replacing a file there, written through to
// disk, creating the missing parent folders of `to` when the first try says
// they are missing. False (with the system's last error) on failure.
bool MoveFileCreatingFolders(const std::wstring& from, const std::wstring& to);
