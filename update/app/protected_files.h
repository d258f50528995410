// The files of an installation that no version.ini may have deleted: what
// the installed manifest lists, the manifest and version.ini with their
// signatures, the client, its launcher and the updater's own files.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/manifest_names.h"

class ProtectedFiles {
public:
    // `installDir` is the installation (a trailing separator is optional),
    // `targetExe` the client's file name (may be empty). The manifest names
    // are read from the installation's ProgramConfig.zdb.
    ProtectedFiles(const std::wstring& installDir, const std::wstring& targetExe);

    // False when the installation's manifest could not be read: nothing can
    // then be told apart from a file of the version, and callers delete nothing.
    bool manifestRead() const { return m_manifestRead; }

    // Why the file `name` (relative to the installation) must stay, or null
    // when it may be deleted.
    const char* ReasonToKeep(const std::wstring& name) const;

private:
    void Add(const std::wstring& path, const char* reason);

    std::wstring m_installDir;
    std::wstring m_canonicalInstallDir;  // with a trailing separator
    bool m_manifestRead = false;
    ManifestNameSet m_listed;  // the installed manifest's names
    std::vector<std::pair<std::wstring, const char*>> m_kept;  // canonical path, reason
};
