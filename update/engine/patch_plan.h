// Which changed files are fetched as patches against their installed version
// instead of as full archives: the manifest's FilePatch table, matched with
// the digests of the installed files.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/file_sha1.h"
#include "engine/sqlite_db.h"

// One usable row of FilePatch(SectionName, FromSHA1, PatchSize, TargetSize,
// ArchiveSize): a patch that turns the file whose digest is `fromSha1` into
// the listed version of `name`.
struct FilePatchRow {
    std::wstring name;
    unsigned char fromSha1[kFileDigestBytes] = {};  // manifest layout, like FileVersion.SHA1
    uint64_t patchSize = 0;    // bytes of the .zst file
    uint64_t targetSize = 0;   // bytes of the patched result
    uint64_t archiveSize = 0;  // bytes of the file's full archive
};

// Patches chosen for one run, by file name.
using PatchPlan = std::map<std::wstring, FilePatchRow>;

// Gives the digest of the installed file `name` as the verification computed
// it, or null when none was computed.
using InstalledDigestLookup = std::function<const unsigned char*(const std::wstring& name)>;

// Label of the one WARNING line that says why a file is taken from its full
// archive although the manifest lists patches for it; the file's name and
// " reason: " with the reason follow.
extern const char kPatchNotUsed[];

// Reads the FilePatch table of the manifest open on `connection`. A missing
// table gives no rows. Rows with a NULL or empty name, a FromSHA1 that is not
// 20 bytes, or sizes that are not positive integers (or a result above the
// patch limit, or a patch not smaller than its archive) are left out with a
// WARNING.
std::vector<FilePatchRow> ReadFilePatchRows(const SqliteConnection& connection);

// For each name of `updateFiles`, the row whose name and FromSHA1 match the
// installed file's digest (the first such row); a file with rows of which
// none matches gets the WARNING line kPatchNotUsed. When the chosen patches
// add up to more bytes than the full archives of the same files, none is
// chosen.
PatchPlan PlanPatches(const std::vector<FilePatchRow>& rows, const std::vector<std::wstring>& updateFiles,
                      const InstalledDigestLookup& installedDigest);

// What follows the file's name in its patch URL and file name:
// "." + the 40 lower-case hex digits of FromSHA1 (in stored order) + ".zst".
std::wstring PatchNameSuffix(const FilePatchRow& row);
