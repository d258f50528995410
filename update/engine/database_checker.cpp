// Implementation of database_checker.h. Log lines carry the unit name
// "database".
#include "engine/database_checker.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <new>
#include <utility>

#include "diag/text_format.h"
#include "diag/unit_log.h"

namespace {

// Width of the buffer a manifest name is read into; longer names are
// rejected anyway, the buffer only has to show that they are too long.
constexpr int kNameBufferChars = 1024;

std::wstring ReadText(const SqliteRow& row, int column, int bufferChars) {
    std::wstring buffer(static_cast<size_t>(bufferChars), L'\0');
    row.GetText(column, buffer.data(), bufferChars);
    buffer.resize(std::wcslen(buffer.c_str()));
    return buffer;
}

std::string DigestHex(const unsigned char* digest) {
    char hex[768];
    BytesToHex(digest, static_cast<int>(kFileDigestBytes), hex, sizeof(hex));
    return hex;
}

// A size column's value: nothing for NULL (or no such column), the value
// when it is an integer of at least `least`; false when it is neither.
bool ReadSize(const SqliteRow& row, int column, int64_t least, std::optional<uint64_t>& size) {
    size.reset();
    if (row.IsNull(column)) return true;
    const std::optional<int64_t> value = row.GetStoredInt64(column);
    if (!value || *value < least) return false;
    size = static_cast<uint64_t>(*value);
    return true;
}

// Why a FileVersion row cannot be used, or null when it can.
const char* RowDefect(const SqliteRow& row, int nameColumn, int sha1Column, const wchar_t* name,
                      int nameLength) {
    if (row.IsNull(nameColumn) || nameLength == 0) return "empty SectionName";
    if (nameLength > kMaxManifestNameChars) return "SectionName longer than 255 characters";
    if (static_cast<int>(std::wcslen(name)) != nameLength) return "NUL inside SectionName";
    if (row.IsNull(sha1Column)) return "SHA1 is NULL";
    if (row.GetBytes(sha1Column) != static_cast<int>(kFileDigestBytes)) return "SHA1 is not 20 bytes";
    return nullptr;
}

}  // namespace

DataBaseChecker::DataBaseChecker(const std::wstring& installDir) : m_installDir(installDir) {}

DataBaseChecker::~DataBaseChecker() = default;  // the connection closes itself

bool DataBaseChecker::OpenDatabase(const wchar_t* path) {
    m_connection.reset();
    m_connection = std::make_unique<SqliteConnection>(path != nullptr ? path : L"");
    const int result = m_connection->Open();
    if (result != 0) {
        DATABASE_LOG(WARNING) << "OpenDatabase fails ret=" << result << " path=" << WideToUtf8Log(m_connection->path());
    }
    return true;
}

void DataBaseChecker::OpenDatabaseBytes(const std::wstring& path, std::string bytes) {
    m_connection.reset();
    m_connection = std::make_unique<SqliteConnection>(path);
    const int result = m_connection->OpenBytes(std::move(bytes));
    if (result != 0) {
        DATABASE_LOG(WARNING) << "OpenDatabase fails ret=" << result << " path=" << WideToUtf8Log(path);
    }
}

bool DataBaseChecker::ReadFileRows() {
    m_fileList.clear();
    if (!m_connection) return true;
    SqliteQuery query(*m_connection, L"SELECT * FROM FileVersion");
    if (!query.FirstRow()) return true;  // no table, no rows or no database: an empty list
    const SqliteRow row = query.row();
    const int nameColumn = row.ColumnIndex(L"SectionName");
    const int sha1Column = row.ColumnIndex(L"SHA1");
    const int fileSizeColumn = row.ColumnIndex(L"FileSize");        // -1 in older releases
    const int archiveSizeColumn = row.ColumnIndex(L"ArchiveSize");  // the same
    do {
        wchar_t name[kNameBufferChars] = {};
        const int nameLength = row.GetText(nameColumn, name, kNameBufferChars);
        if (const char* defect = RowDefect(row, nameColumn, sha1Column, name, nameLength)) {
            DATABASE_LOG(ERROR) << "manifest row rejected: " << defect << " row=" << m_fileList.size() + 1
                       << " name=" << WideToUtf8Log(name);
            m_fileList.clear();
            return false;
        }
        FileEntry entry;
        if (!ReadSize(row, fileSizeColumn, 0, entry.fileBytes) ||
            !ReadSize(row, archiveSizeColumn, 1, entry.archiveBytes)) {
            DATABASE_LOG(ERROR) << "manifest row rejected: FileSize or ArchiveSize not a size row="
                                << m_fileList.size() + 1 << " name=" << WideToUtf8Log(name);
            m_fileList.clear();
            return false;
        }
        entry.name.assign(name, static_cast<size_t>(nameLength));
        row.GetBlob(sha1Column, entry.sha1, static_cast<int>(kFileDigestBytes));
        m_fileList.push_back(std::move(entry));
    } while (query.NextRow());
    if (!query.reachedEnd()) {
        // A read error part-way (a damaged file) must not pass for a
        // shorter version: a missing name would count as obsolete.
        DATABASE_LOG(ERROR) << "manifest read stopped by an error after rows=" << m_fileList.size();
        m_fileList.clear();
        return false;
    }
    return true;
}

bool DataBaseChecker::GetFileList(ManifestNameSlot** names, int* count) {
    ReadFileRows();
    m_fileTable.clear();
    int listed = static_cast<int>(m_fileList.size());
    ManifestNameSlot* slots = nullptr;
    if (listed > 0 && names != nullptr) {
        slots = new (std::nothrow) ManifestNameSlot[static_cast<size_t>(listed)];
        if (slots == nullptr) {
            DATABASE_LOG(ERROR) << "GetFileList out of memory rows=" << listed;
            m_fileList.clear();
            listed = 0;
        }
    }
    for (int i = 0; i < listed; ++i) {
        const FileEntry& entry = m_fileList[static_cast<size_t>(i)];
        if (slots != nullptr) {
            std::wmemset(slots[i], 0, 256);
            std::wmemcpy(slots[i], entry.name.c_str(), entry.name.size());  // at most 255
        }
        m_fileTable.emplace(entry.name, entry);  // the first row of a name wins
    }
    if (count != nullptr) *count = listed;
    if (slots != nullptr) *names = slots;
    return listed > 0;
}

void DataBaseChecker::FreeFileList(ManifestNameSlot* names) { delete[] names; }

bool DataBaseChecker::GetServerList(ServerUrlSlot** servers, int* count) {
    std::vector<std::wstring> bases;
    int version = -1;
    if (m_connection) {
        SqliteQuery serverQuery(*m_connection, L"SELECT SectionName FROM ConfigServer");
        for (bool row = serverQuery.FirstRow(); row; row = serverQuery.NextRow()) {
            bases.push_back(ReadText(serverQuery.row(), 0, kNameBufferChars));
        }
        SqliteQuery versionQuery(*m_connection,
                                 L"SELECT Version FROM ProgramVersion WHERE SectionName = 'ProgramVer'");
        for (bool row = versionQuery.FirstRow(); row; row = versionQuery.NextRow()) {
            version = versionQuery.row().GetInt(0);
        }
    }
    int listed = static_cast<int>(bases.size());
    ServerUrlSlot* slots = nullptr;
    if (listed > 0 && servers != nullptr) {
        slots = new (std::nothrow) ServerUrlSlot[static_cast<size_t>(listed)];
        if (slots == nullptr) listed = 0;
    }
    for (int i = 0; i < listed && slots != nullptr; ++i) {
        std::wstring url = bases[static_cast<size_t>(i)];
        if (url.empty() || url.back() != L'/') url += L'/';
        url += std::to_wstring(version) + L"/";
        const size_t kept = url.size() < 257 ? url.size() : 257;
        std::wmemset(slots[i], 0, 258);
        std::wmemcpy(slots[i], url.c_str(), kept);
    }
    if (count != nullptr) *count = listed;
    if (slots != nullptr) *servers = slots;
    return listed > 0;
}

void DataBaseChecker::FreeServerList(ServerUrlSlot* servers) { delete[] servers; }

bool DataBaseChecker::CheckFile(const wchar_t* name) {
    const auto it = m_fileTable.find(name != nullptr ? name : L"");
    if (it == m_fileTable.end()) {
        DATABASE_LOG(INFO) << "no find in m_fileTable";
        return true;
    }
    return IsNeedUpdate(it->second, m_installDir);
}

void DataBaseChecker::Release() { delete this; }

void DataBaseChecker::DeleteThis(unsigned int) { delete this; }

bool DataBaseChecker::VerifyDownloadedFile(const wchar_t* name) {
    const auto it = m_fileTable.find(name != nullptr ? name : L"");
    if (it == m_fileTable.end()) return true;
    const HANDLE held = m_heldFiles != nullptr ? m_heldFiles->Find(it->first) : nullptr;
    if (held == nullptr) return !IsNeedUpdate(it->second, m_downloadDir);
    DATABASE_LOG(INFO) << "IsNeedUpdate: " << WideToUtf8Log(m_downloadDir + it->first) << " (held open)";
    unsigned char digest[kFileDigestBytes] = {};
    const bool hashed = CalOpenFileSHA1(held, digest);
    DATABASE_LOG(INFO) << "CalFileSHA1 ret: " << (hashed ? 1 : 0);
    if (std::memcmp(it->second.sha1, digest, kFileDigestBytes) != 0) {
        DATABASE_LOG(INFO) << "file->sha1 = " << DigestHex(it->second.sha1);
        DATABASE_LOG(INFO) << "dstSha1 = " << DigestHex(digest);
        return false;
    }
    return true;
}

void DataBaseChecker::SetDownloadDir(const wchar_t* dir) { m_downloadDir = dir != nullptr ? dir : L""; }

bool DataBaseChecker::GetListedSizes(const wchar_t* name, uint64_t* fileBytes, uint64_t* archiveBytes) {
    const auto it = m_fileTable.find(name != nullptr ? name : L"");
    if (it == m_fileTable.end()) return false;
    const FileEntry& entry = it->second;
    if (entry.fileBytes && fileBytes != nullptr) *fileBytes = *entry.fileBytes;
    if (entry.archiveBytes && archiveBytes != nullptr) *archiveBytes = *entry.archiveBytes;
    return entry.fileBytes || entry.archiveBytes;
}

bool DataBaseChecker::IsNeedUpdate(const FileEntry& entry, const std::wstring& folder) const {
    const std::wstring path = folder + entry.name;
    DATABASE_LOG(INFO) << "IsNeedUpdate: " << WideToUtf8Log(path);
    // One attribute query: opening the file only to learn that it exists
    // would double the cost of checking a large installation.
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        DATABASE_LOG(INFO) << "no exists ";
        return true;
    }
    unsigned char digest[kFileDigestBytes] = {};
    const bool hashed = CalFileSHA1(path, digest);
    DATABASE_LOG(INFO) << "CalFileSHA1 ret: " << (hashed ? 1 : 0);
    if (std::memcmp(entry.sha1, digest, kFileDigestBytes) != 0) {
        DATABASE_LOG(INFO) << "file->sha1 = " << DigestHex(entry.sha1);
        DATABASE_LOG(INFO) << "dstSha1 = " << DigestHex(digest);
        return true;
    }
    return false;
}
