// Delta updates: a changed file whose installed version the new manifest has
// a patch for is fetched as that patch and rebuilt in the download folder.
// Every failure falls back to the file's full archive (in the pipeline of
// sdk_updater.cpp); a patch is tried once per run and never blocks it.
#include <boost/filesystem.hpp>

#include <atomic>

#include "diag/text_format.h"
#include "diag/unit_log.h"
#include "engine/database_checker.h"
#include "engine/patch_apply.h"
#include "engine/sdk_updater.h"
#include "net/http_download.h"

namespace fs = boost::filesystem;

namespace {

// Inactivity time-out and attempts (in a row that add nothing) of one patch
// download per scheme: a cut transfer is resumed as long as it progresses,
// a patch the server does not have costs a few seconds at most.
constexpr uint32_t kPatchTimeoutMs = 10000;
constexpr uint32_t kPatchAttempts = 3;

// What the downloader callbacks of one patch work on.
struct PatchTransfer {
    SDKUpdater* engine;
    FileUpdateStatus* record;
    const std::atomic<bool>* cancel;
    uint64_t limit;           // the listed patch size
    uint64_t totalBefore;     // bytes of the files completely fetched before
    bool tooLarge = false;    // the server offered or sent more than `limit`
};

int IsPatchTransferStopped(void* userData) {
    const auto* transfer = static_cast<PatchTransfer*>(userData);
    return transfer->tooLarge || transfer->cancel->load() ? 1 : 0;
}

void OnPatchProgress(uint64_t done, uint64_t total, void* userData) {
    auto* transfer = static_cast<PatchTransfer*>(userData);
    if (total > transfer->limit || done > transfer->limit) transfer->tooLarge = true;
    FileUpdateStatus& record = *transfer->record;
    record.status = FUS_DOWNLOADING;
    record.fileSize = total;
    record.received = done;
    record.totalReceived = done + transfer->totalBefore;
    transfer->engine->NotifyStatus(record);
}

// base + "/" (unless base ends with it) + name + suffix.
std::wstring PatchUrl(const std::wstring& base, const std::wstring& name, const std::wstring& suffix) {
    std::wstring url = base;
    if (url.empty() || url.back() != L'/') url += L'/';
    return url + name + suffix;
}

uint64_t FileSizeOrZero(const std::wstring& path) {
    boost::system::error_code error;
    const uintmax_t size = fs::file_size(fs::path(path), error);
    return error ? 0 : static_cast<uint64_t>(size);
}

void RemoveQuietly(const std::wstring& path) {
    boost::system::error_code ignored;
    fs::remove(fs::path(path), ignored);
}

// Clears what a failed patch left in the record, so that the full
// archive's download reports from zero.
void ClearTransferFields(FileUpdateStatus& record) {
    record.fileSize = 0;
    record.received = 0;
    record.totalReceived = 0;
}

// Downloads a patch to `patchPath` (HTTPS, then plain HTTP unless the first
// pass was stopped). Returns why it cannot be used, or an empty text when it
// lies there complete with its listed size.
std::string FetchPatch(PatchTransfer& transfer, const std::wstring& url, const std::wstring& targetDir,
                       const std::wstring& patchPath) {
    UPDATER_LOG(INFO) << "downloading patch " << WideToUtf8Log(url);
    HttpDownloadRequest request = {};
    request.url = url.c_str();
    request.saveDir = targetDir.c_str();
    request.timeout = kPatchTimeoutMs;
    request.progress = &OnPatchProgress;
    request.cancel = &IsPatchTransferStopped;
    request.userData = &transfer;
    request.retry = 1;
    request.maxAttempts = kPatchAttempts;
    // Rows above the patch limit are never planned, so the size fits.
    request.maxBytes = static_cast<uint32_t>(transfer.limit);
    request.secure = 1;
    bool fetched = HttpDownload(request);
    if (!fetched && !IsPatchTransferStopped(&transfer)) {
        request.secure = 0;
        fetched = HttpDownload(request);
    }
    if (transfer.tooLarge) return "patch larger than its listed size";
    if (transfer.cancel->load()) return "cancelled";
    if (!fetched) return "patch not downloaded";
    if (FileSizeOrZero(patchPath) != transfer.limit) return "patch size differs from the listed size";
    return {};
}

}  // namespace

PatchPlan SDKUpdater::PlanFilePatches(const std::vector<std::wstring>& updateFiles) {
    const DataBaseChecker* checker = m_ownChecker;
    if (updateFiles.empty() || checker == nullptr || checker->connection() == nullptr) return {};
    const std::vector<FilePatchRow> rows = ReadFilePatchRows(*checker->connection());
    if (rows.empty()) return {};
    return PlanPatches(rows, updateFiles,
                       [checker](const std::wstring& name) { return checker->InstalledDigest(name); });
}

bool SDKUpdater::PatchInstalledFile(const std::wstring& base, const std::wstring& name, const FilePatchRow& patch,
                                    FileUpdateStatus& record) {
    if (FileSizeOrZero(m_installDir + name) > kMaxPatchedFileBytes) {
        UPDATER_LOG(WARNING) << kPatchNotUsed << WideToUtf8Log(name)
                             << " reason: installed file larger than the patch limit";
        return false;
    }
    const std::wstring suffix = PatchNameSuffix(patch);
    const std::wstring patchPath = m_downloadDir + name + suffix;
    PatchTransfer transfer{this, &record, &m_cancel, patch.patchSize, m_totalDownloaded};
    std::string reason = FetchPatch(transfer, PatchUrl(base, name, suffix),
                                    fs::path(m_downloadDir + name).parent_path().wstring(), patchPath);
    // The rebuilt file is held open like a downloaded one before its check,
    // so the bytes checked are the bytes the copy reads.
    if (reason.empty() &&
        ApplyZstdPatch(m_installDir + name, patchPath, m_downloadDir + name, patch.targetSize, reason)) {
        if (!m_heldFiles.Hold(name, m_downloadDir + name)) {
            reason = "patched file cannot be held open";
        } else if (!m_updateAlgorithm->VerifyDownloadedFile(name.c_str())) {
            reason = "patched file does not match the manifest";
        }
    }
    RemoveQuietly(patchPath);
    if (!reason.empty()) {
        UPDATER_LOG(WARNING) << kPatchNotUsed << WideToUtf8Log(name) << " reason: " << reason;
        m_heldFiles.Release(name);
        RemoveQuietly(m_downloadDir + name);
        ClearTransferFields(record);
        return false;
    }
    UPDATER_LOG(INFO) << "patched " << WideToUtf8Log(name) << " patch bytes=" << patch.patchSize;
    record.status = FUS_DOWNLOADSUCCESS;
    m_totalDownloaded += patch.patchSize;
    return true;
}
