// Whole-file copies for the install copy: one open of each file, one large
// buffer, no extra status queries. Failures are thrown as
// boost::filesystem::filesystem_error, whose message names the operation,
// the system error and both paths, like Boost's own copy.
#pragma once

#include <string>

// True when a file or folder exists at `path`. Errors other than "not there"
// (for example access denied on a parent folder) are thrown.
bool PathExistsForCopy(const std::wstring& path);

// Creates the parent folder of `path` with every missing level, unless a file
// or folder of that name already exists (then nothing is done).
void CreateParentFolders(const std::wstring& path);

// Copies the contents of `source` to `destination`, creating it or replacing
// what is there, with the source's attributes and last-write time (what the
// system's CopyFile keeps). A destination that is the source under another
// name is refused (sharing violation), never truncated. An existing
// destination is written over in place and cut to the source's length. The
// destination's contents are flushed to disk before it is closed: the copy
// journal moves on (a backup into place, the commit, the backup's removal)
// only over copies that a power cut cannot take back. When writing or
// flushing fails, the incomplete destination is deleted before the error is
// thrown.
void CopyFileOver(const std::wstring& source, const std::wstring& destination);
