// File-system steps that never follow a link: checks that a path below a
// folder leads through real folders only, and removal of a folder tree that
// removes links themselves instead of what they point to; and whole small
// files read and written (flushed) in one step.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

// True when every level of `folder` + "\\" + `relative` that exists is a
// real file or folder, not a reparse point (symbolic link, junction, mount
// point), so nothing done at that path can reach outside `folder`. Levels
// that do not exist are fine. `folder` itself is not looked at.
bool IsPlainPathBelow(const std::wstring& folder, const std::wstring& relative);

// Deletes `path` (a file or a folder with everything in it). A reparse point
// met on the way is deleted as a link; what it points to is never entered.
// Read-only files are deleted too. True when nothing is left at `path`.
bool RemoveTreeNoFollow(const std::wstring& path);

// The whole contents of the file `path` when it can be opened and read and
// holds at most `limit` bytes; nothing otherwise.
std::optional<std::string> ReadFileLimited(const std::wstring& path, uint64_t limit);

// The whole contents of the open file `file` (read from its start) when it
// holds at most `limit` bytes; nothing otherwise.
std::optional<std::string> ReadOpenFileLimited(HANDLE file, uint64_t limit);

// Writes `bytes` to a new file at `path` (replacing an older one) and flushes
// it to the disk before closing. False when any step fails; a file that was
// not completely written is deleted again.
bool WriteFileFlushed(const std::wstring& path, const std::string& bytes);

// Appends `bytes` to the existing file `path` and flushes it. False on failure.
bool AppendFileFlushed(const std::wstring& path, const std::string& bytes);
