// The manifest checker: IVkUpdateAlgorithm over a ProgramConfig.zdb file.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/file_sha1.h"
#include "engine/held_files.h"
#include "engine/sqlite_db.h"
#include "engine/update_algorithm.h"

// One row of the manifest's FileVersion table.
struct FileEntry {
    std::wstring name;                           // relative path, "/" between levels
    unsigned char sha1[kFileDigestBytes] = {};   // digest in the manifest layout
    // FileSize and ArchiveSize, when the manifest has the column and a value
    // in it (a release made before they existed has neither).
    std::optional<uint64_t> fileBytes;
    std::optional<uint64_t> archiveBytes;
};

// Longest manifest name accepted: the width of a ManifestNameSlot minus the NUL.
constexpr int kMaxManifestNameChars = 255;

class DataBaseChecker final : public IVkUpdateAlgorithm {
public:
    // `installDir` is the installation folder, ending with "\\".
    // No database is opened yet.
    explicit DataBaseChecker(const std::wstring& installDir);
    ~DataBaseChecker();

    void DeleteThis(unsigned int flags) override;
    bool OpenDatabase(const wchar_t* path) override;
    // Also rebuilds the name lookup that CheckFile and VerifyDownloadedFile
    // answer from. A row whose SectionName is NULL, empty or longer than
    // kMaxManifestNameChars, or whose SHA1 is not exactly 20 bytes, or
    // whose FileSize or ArchiveSize is anything but NULL or an integer (at
    // least 0, and at least 1 for ArchiveSize), makes the whole manifest
    // untrusted: count 0, empty lookup, ERROR logged.
    bool GetFileList(ManifestNameSlot** names, int* count) override;
    void FreeFileList(ManifestNameSlot* names) override;
    // The version comes from ProgramVersion's "ProgramVer" row (the last one
    // when there are several), -1 without one. Long server texts are cut to
    // the slot.
    bool GetServerList(ServerUrlSlot** servers, int* count) override;
    void FreeServerList(ServerUrlSlot* servers) override;
    // May throw boost::filesystem::filesystem_error when the name names a
    // folder (see CalFileSHA1).
    bool CheckFile(const wchar_t* name) override;
    void Release() override;
    // May throw like CheckFile.
    bool VerifyDownloadedFile(const wchar_t* name) override;
    void SetDownloadDir(const wchar_t* dir) override;
    // The sizes that the last GetFileList gives for `name`: the file's bytes
    // and its archive's bytes. Each size the manifest lists is written, an
    // unlisted one is left alone; false when it lists neither (a manifest of
    // an older release has no sizes). Not part of IVkUpdateAlgorithm, whose
    // slots outside checkers implement as they stand.
    bool GetListedSizes(const wchar_t* name, uint64_t* fileBytes, uint64_t* archiveBytes);

    // Makes `bytes` (a manifest already read and checked) the current
    // manifest, as OpenDatabase does for a file; `path` only names it in
    // log lines. The bytes are never read again from any file.
    void OpenDatabaseBytes(const std::wstring& path, std::string bytes);
    // Downloaded files held open since before their check: a name held there
    // is verified by hashing its handle instead of its path. Null (the
    // default) hashes by path. The set must outlive its use here.
    void SetHeldFiles(const HeldFiles* held) { m_heldFiles = held; }

    // True when the file at folder + entry.name is missing or its digest
    // differs from entry.sha1. A file that cannot be hashed (for example an
    // empty one) is compared as 20 zero bytes. `folder` ends with "\\".
    bool IsNeedUpdate(const FileEntry& entry, const std::wstring& folder) const;

    // The digest that the last CheckFile of `name` computed of the installed
    // file when it differed from the listed one; null when CheckFile found the
    // file up to date or computed none (missing, empty or unreadable file).
    const unsigned char* InstalledDigest(const std::wstring& name) const;

    // The rows of the last GetFileList (none when it found the manifest untrusted).
    const std::vector<FileEntry>& listedFiles() const { return m_fileList; }

    // The open connection (the manifest of the last OpenDatabase), or null.
    const SqliteConnection* connection() const { return m_connection.get(); }

private:
    // IsNeedUpdate that also hands out the digest it computed; `hashed` tells
    // whether one was.
    bool CompareWithFile(const FileEntry& entry, const std::wstring& folder,
                         unsigned char* digest, bool& hashed) const;

    // Reads every FileVersion row into m_fileList; false when a row is
    // malformed (m_fileList is then empty).
    bool ReadFileRows();

    std::unique_ptr<SqliteConnection> m_connection;
    std::vector<FileEntry> m_fileList;
    std::wstring m_installDir;
    std::map<std::wstring, FileEntry> m_fileTable;
    std::wstring m_downloadDir;
    std::map<std::wstring, std::array<unsigned char, kFileDigestBytes>> m_installedDigests;
    const HeldFiles* m_heldFiles = nullptr;
};
