// Implementation of patch_plan.h. Log lines carry the unit name "updater".
#include "engine/patch_plan.h"

#include <cstring>
#include <cwchar>
#include <optional>
#include <set>

#include "diag/text_format.h"
#include "diag/unit_log.h"
#include "engine/patch_apply.h"

namespace {

constexpr int kNameBufferChars = 1024;
constexpr int kMaxNameChars = 255;

// A positive integer column, or 0 when the value is anything else.
uint64_t PositiveSize(const SqliteRow& row, int column) {
    const std::optional<int64_t> value = row.GetStoredInt64(column);
    return value && *value > 0 ? static_cast<uint64_t>(*value) : 0;
}

// Why a row cannot be used, or null when it can.
const char* RowDefect(const SqliteRow& row, int shaColumn, const FilePatchRow& patch, int nameLength) {
    if (nameLength <= 0 || nameLength > kMaxNameChars || std::wcslen(patch.name.c_str()) != patch.name.size()) {
        return "bad SectionName";
    }
    if (row.IsNull(shaColumn) || row.GetBytes(shaColumn) != static_cast<int>(kFileDigestBytes)) {
        return "FromSHA1 is not 20 bytes";
    }
    if (patch.patchSize == 0 || patch.targetSize == 0 || patch.archiveSize == 0) return "size not a positive integer";
    // The download of a patch takes a 32-bit size: both stay under the limit.
    if (patch.targetSize > kMaxPatchedFileBytes || patch.patchSize > kMaxPatchedFileBytes) {
        return "result above the patch limit";
    }
    if (patch.patchSize >= patch.archiveSize) return "patch not smaller than the archive";
    return nullptr;
}

}  // namespace

const char kPatchNotUsed[] = "patch not used, taking the full archive: ";

std::vector<FilePatchRow> ReadFilePatchRows(const SqliteConnection& connection) {
    std::vector<FilePatchRow> rows;
    SqliteQuery query(connection, L"SELECT SectionName, FromSHA1, PatchSize, TargetSize, ArchiveSize FROM FilePatch");
    for (bool more = query.FirstRow(); more; more = query.NextRow()) {
        const SqliteRow row = query.row();
        FilePatchRow patch;
        wchar_t name[kNameBufferChars] = {};
        const int nameLength = row.IsNull(0) ? 0 : row.GetText(0, name, kNameBufferChars);
        patch.name.assign(name, static_cast<size_t>(nameLength > 0 && nameLength < kNameBufferChars ? nameLength : 0));
        patch.patchSize = PositiveSize(row, 2);
        patch.targetSize = PositiveSize(row, 3);
        patch.archiveSize = PositiveSize(row, 4);
        if (const char* defect = RowDefect(row, 1, patch, nameLength)) {
            UPDATER_LOG(WARNING) << "patch row ignored: " << defect << " name=" << WideToUtf8Log(patch.name);
            continue;
        }
        row.GetBlob(1, patch.fromSha1, static_cast<int>(kFileDigestBytes));
        rows.push_back(std::move(patch));
    }
    return rows;
}

PatchPlan PlanPatches(const std::vector<FilePatchRow>& rows, const std::vector<std::wstring>& updateFiles,
                      const InstalledDigestLookup& installedDigest) {
    const std::set<std::wstring> wanted(updateFiles.begin(), updateFiles.end());
    PatchPlan plan;
    std::set<std::wstring> unmatched;
    uint64_t patchBytes = 0;
    uint64_t archiveBytes = 0;
    for (const FilePatchRow& row : rows) {
        if (wanted.count(row.name) == 0 || plan.count(row.name) != 0) continue;
        const unsigned char* digest = installedDigest(row.name);
        if (digest == nullptr || std::memcmp(digest, row.fromSha1, kFileDigestBytes) != 0) {
            unmatched.insert(row.name);
            continue;
        }
        plan.emplace(row.name, row);
        unmatched.erase(row.name);
        patchBytes += row.patchSize;
        archiveBytes += row.archiveSize;
    }
    for (const std::wstring& name : unmatched) {
        if (plan.count(name) != 0) continue;
        UPDATER_LOG(WARNING) << kPatchNotUsed << WideToUtf8Log(name) << " reason: installed file is no patch's base";
    }
    if (patchBytes > archiveBytes) {
        UPDATER_LOG(INFO) << "patches larger than the full archives, taking the archives: patch bytes=" << patchBytes
                          << " archive bytes=" << archiveBytes;
        plan.clear();
    }
    UPDATER_LOG(INFO) << "patches planned: " << plan.size() << " patch bytes=" << patchBytes;
    return plan;
}

std::wstring PatchNameSuffix(const FilePatchRow& row) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring suffix = L".";
    for (unsigned char byte : row.fromSha1) {
        suffix += kDigits[byte >> 4];
        suffix += kDigits[byte & 0xF];
    }
    return suffix + L".zst";
}
