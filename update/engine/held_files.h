// Downloaded files held open from the moment they are checked until they
// have been copied into the installation. Each is open for reading with
// writing and deleting denied to every process, so nothing can change,
// rename, delete or replace the file between its check and its copy (not even
// a process of the same user while the updater runs elevated); the check
// hashes and the copy reads the handle itself, never the path again.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "velisk/handles.h"

class HeldFiles {
public:
    // Opens the file at `path` as described above and keeps it under `name`
    // (an earlier hold of that name is let go). False, holding nothing under
    // `name`, when it cannot be opened so: missing, or open elsewhere for
    // writing or deleting.
    bool Hold(const std::wstring& name, const std::wstring& path);
    // The handle held under `name` (exact comparison), or null.
    HANDLE Find(const std::wstring& name) const;
    // Lets the file held under `name` go (nothing when none is).
    void Release(const std::wstring& name) { m_files.erase(name); }
    // Lets every file go (before the download folder is removed).
    void Clear() { m_files.clear(); }

private:
    std::map<std::wstring, velisk::UniqueFileHandle> m_files;
};
