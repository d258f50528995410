// Manifest databases written by tests with plain SQL through SQLite.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// The three tables every manifest has (FileVersion, ConfigServer, ProgramVersion).
extern const std::string kManifestTables;

// Writes the database at `path` by running `sql`; fails the current test
// when SQLite refuses it.
void WriteManifest(const std::wstring& path, const std::string& sql);

// A manifest that lists `names` (each with a zero digest) and no server.
void WriteManifestListing(const std::wstring& path, const std::vector<std::string>& names);

}  // namespace testing_support
