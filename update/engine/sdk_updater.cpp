// The update pipeline: configuration of the engine and BeginUpdate with its
// steps (manifest archive, verification, downloads, copy, obsolete files).
#include <boost/filesystem.hpp>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <exception>
#include <iostream>
#include <new>
#include <optional>
#include <string>

#include "diag/catching_call.h"
#include "diag/text_format.h"
#include "diag/unit_log.h"
#include "engine/copy_recovery.h"
#include "engine/database_checker.h"
#include "engine/manifest_authentication.h"
#include "engine/manifest_keys.h"
#include "engine/manifest_names.h"
#include "engine/plain_paths.h"
#include "engine/sqlite_db.h"
#include "engine/sdk_updater.h"
#include "engine/version_ini.h"
#include "engine/zip_extract.h"
#include "net/http_download.h"

namespace fs = boost::filesystem;

namespace {

// Per-file inactivity time-out of the downloads, in milliseconds.
constexpr uint32_t kFileDownloadTimeoutMs = 10000;
// Failed attempts in a row without a new byte after which one pass (HTTPS,
// then plain HTTP) at a file gives up. The pauses between them (1 s doubling
// to 60 s) make about two minutes a pass, four for both, plus the attempts'
// own time-outs: a file that the server never delivers (a 404, a wrong
// download base) fails the run instead of retrying for ever.
constexpr uint32_t kFileAttemptsWithoutProgress = 8;
// The manifest archive lists no size of its own: it and the sizes its
// entries state are bounded at 256 MiB, checked before anything is unpacked.
constexpr uint32_t kMaxManifestArchiveBytes = 256u * 1024 * 1024;
// Buffer sizes of the version.ini values read here (characters with the NUL).
constexpr int kUrlChars = 255;

void IgnoreStatus(const FileUpdateStatus*, void*) {}

bool EndsWithSeparator(const std::wstring& text) {
    return !text.empty() && (text.back() == L'\\' || text.back() == L'/');
}

std::wstring FolderWithSeparator(const wchar_t* folder) {
    std::wstring text = folder != nullptr ? folder : L"";
    if (!text.empty() && !EndsWithSeparator(text)) text += L'\\';
    return text;
}

// Download base URLs from the new version.ini: [update] url + version + "/".
bool GetDownloadUrlListFromIniFile(const wchar_t* iniPath, std::vector<std::wstring>* list) {
    if (list == nullptr) return false;
    list->clear();
    const std::wstring path = iniPath != nullptr ? iniPath : L"";
    const std::wstring url = ReadIniString(path, L"update", L"url", L"", kUrlChars);
    const int version = ReadIniInt(path, L"update", L"version", 0);
    list->push_back(url + std::to_wstring(version) + L"/");
    return true;
}

// base + "/" (unless base ends with it) + name + ".zip"; the name is used as
// it is, so its "/" separate URL levels.
std::wstring BuildFileUrl(const std::wstring& base, const std::wstring& name) {
    std::wstring url = base;
    if (url.empty() || url.back() != L'/') url += L'/';
    return url + name + L".zip";
}

// HTTPS first; plain HTTP when that fails.
bool DownloadSecureFirst(HttpDownloadRequest request) {
    request.secure = 1;
    if (HttpDownload(request)) return true;
    request.secure = 0;
    return HttpDownload(request);
}

// What the downloader callbacks of one transfer work on.
struct DownloadTarget {
    SDKUpdater* engine;
    FileUpdateStatus* record;  // null for the manifest archive
};

}  // namespace

bool RemoveFolder(const std::wstring& path) {
    try {
        fs::remove_all(fs::path(path));
        return true;
    } catch (const std::exception& error) {
        std::cout << error.what() << std::endl;
        return false;
    }
}

FileUpdateStatus ClearedStatus(int32_t status, const std::wstring& fileName) {
    FileUpdateStatus record;
    std::memset(&record, 0, sizeof(record));
    const size_t length = std::min<size_t>(fileName.size(), 255);  // longer names are cut
    std::wmemcpy(record.fileName, fileName.data(), length);
    record.status = status;
    return record;
}

SDKUpdater::SDKUpdater() : m_statusCallback(&IgnoreStatus) {
    std::memset(&m_pluginOptions, 0, sizeof(m_pluginOptions));
    m_pluginContext.engine = this;
    m_pluginContext.options = &m_pluginOptions;
}

SDKUpdater::~SDKUpdater() {
    Shutdown();
    ReleaseAlgorithm();
}

IVkAutoUpdater* CreateAutoUpdater() { return new (std::nothrow) SDKUpdater(); }

void SDKUpdater::DeleteThis(unsigned int) { delete this; }

void SDKUpdater::SetNewDatabasePath(const wchar_t* path, const wchar_t*) {
    m_newDatabasePath = path != nullptr ? path : L"";
}

void SDKUpdater::SetDirectories(const wchar_t* downloadDir, const wchar_t* installDir,
                                const wchar_t* stagingSubDir) {
    m_downloadDir = FolderWithSeparator(downloadDir);
    m_installDir = FolderWithSeparator(installDir);
    if (stagingSubDir != nullptr) m_dstCopySubDir = FolderWithSeparator(stagingSubDir);
}

void SDKUpdater::CancelUpdate() { m_cancel.store(true); }

void SDKUpdater::SetStatusCallback(FileUpdateStatusCallback callback, void* userData) {
    m_statusCallback = callback != nullptr ? callback : &IgnoreStatus;
    m_callbackUserData = userData;
}

void SDKUpdater::Shutdown() {}

void SDKUpdater::AddExcludedFiles(const wchar_t* const* names, int count) {
    if (names == nullptr) return;
    for (int i = 0; i < count; ++i) {
        if (names[i] != nullptr) m_excludedFiles.emplace_back(names[i]);
    }
}

void SDKUpdater::SetUpdateAlgorithm(IVkUpdateAlgorithm* algorithm) {
    if (m_updateAlgorithm != nullptr && m_updateAlgorithm != algorithm) m_updateAlgorithm->Release();
    if (m_updateAlgorithm != algorithm) m_ownChecker = nullptr;
    m_updateAlgorithm = algorithm;
}

void SDKUpdater::SetPluginOptions(const PluginOptions* options) {
    if (options == nullptr) return;
    m_pluginDirText = options->pluginDir != nullptr ? options->pluginDir : L"";
    m_updateNotesText = options->updateNotes != nullptr ? options->updateNotes : L"";
    m_searchDirTexts.clear();
    m_searchDirPointers.clear();
    for (int i = 0; options->searchDirs != nullptr && i < options->searchDirCount; ++i) {
        m_searchDirTexts.emplace_back(options->searchDirs[i] != nullptr ? options->searchDirs[i] : L"");
    }
    for (const std::wstring& dir : m_searchDirTexts) m_searchDirPointers.push_back(dir.c_str());

    m_pluginOptions.pluginDir = m_pluginDirText.empty() ? nullptr : m_pluginDirText.c_str();
    m_pluginOptions.searchDirs = m_searchDirPointers.empty() ? nullptr : m_searchDirPointers.data();
    m_pluginOptions.searchDirCount = static_cast<int32_t>(m_searchDirPointers.size());
    m_pluginOptions.silent = options->silent;
    m_pluginOptions.updateNotes = m_updateNotesText.c_str();
    std::memset(m_pluginOptions.versionName, 0, sizeof(m_pluginOptions.versionName));
    const size_t nameLength = ::wcsnlen(options->versionName, 255);
    std::wmemcpy(m_pluginOptions.versionName, options->versionName, nameLength);
}

void SDKUpdater::NotifyStatus(const FileUpdateStatus& record) {
    m_statusCallback(&record, m_callbackUserData);
    for (const auto& entry : m_plugins) {
        const auto* instance = static_cast<const PluginInstance*>(entry.second.instance);
        if (instance->notify != nullptr) instance->notify(&record, instance->userData);
    }
}

void SDKUpdater::ReportPhase(int32_t status) { NotifyStatus(ClearedStatus(status, L"")); }

bool SDKUpdater::BeginUpdate(const wchar_t* databaseUrl, int removeDownloadDir, const wchar_t* iniPath) {
    std::string error;
    const bool ok = velisk::CallCatching([&] { return RunUpdate(databaseUrl, iniPath); }, false, &error);
    if (!error.empty()) UPDATER_LOG(ERROR) << "BeginUpdate crash " << error;
    UPDATER_LOG(INFO) << "success status " << ok;
    // The end steps run whatever the run or an earlier end step threw; an
    // exception here is logged and does not change the run's result.
    RunEndStep([&] { ReleaseAlgorithm(); });
    RunEndStep([&] {
        m_heldFiles.Clear();
        m_newManifestBytes.clear();
        if (removeDownloadDir) RemoveFolder(m_downloadDir);
    });
    RunEndStep([&] {
        if (ok) {
            ReportPhase(FUS_SUCCESS);
            UPDATER_LOG(INFO) << "Auto update success";
        } else {
            ReportPhase(FUS_FAIL);
            UPDATER_LOG(INFO) << "Auto update failed";
        }
    });
    RunEndStep([&] { UnloadPlugins(); });
    return ok;
}

bool SDKUpdater::ApplyStagedUpdate(const wchar_t* srcDir, const wchar_t* dstDir, int removeSource) {
    std::string error;
    const bool ok = velisk::CallCatching(
        [&] { return ApplyStagedUpdateSteps(srcDir, dstDir, removeSource); }, false, &error);
    if (!error.empty()) UPDATER_LOG(ERROR) << "ApplyStagedUpdate crash " << error;
    return ok;
}

template <typename Step>
void SDKUpdater::RunEndStep(Step&& step) {
    std::string error;
    velisk::CallCatching(
        [&] {
            step();
            return true;
        },
        false, &error);
    if (!error.empty()) UPDATER_LOG(ERROR) << "BeginUpdate end step crash " << error;
}

bool SDKUpdater::RunUpdate(const wchar_t* databaseUrl, const wchar_t* iniPath) {
    // Files are verified against a whole installation only: a copy cut off
    // earlier is repaired first (the client is closed by now), and a run
    // whose repair cannot finish stops before it downloads anything.
    if (!RepairInterruptedCopy(m_installDir)) return false;

    UPDATER_LOG(INFO) << "UpdateDatabaseFile";
    if (!UpdateDatabaseFile(databaseUrl, iniPath)) return false;

    EnsureAlgorithm();
    ManifestNameSet oldFiles;
    boost::system::error_code error;
    if (fs::is_regular_file(fs::path(m_installDir + kManifestFileName), error)) {
        m_updateAlgorithm->OpenDatabase((m_installDir + kManifestFileName).c_str());
        GetOldFileList(oldFiles);
    }
    OpenNewManifest();

    UPDATER_LOG(INFO) << "GetDownloadUrlListFromIniFile";
    std::vector<std::wstring> urls;
    GetDownloadUrlListFromIniFile(iniPath, &urls);

    UPDATER_LOG(INFO) << "GetAllFiles";
    std::vector<std::wstring> allFiles;
    if (!GetAllFiles(allFiles)) return false;
    for (const std::wstring& name : allFiles) {
        if (!IsContainedManifestName(name)) {
            UPDATER_LOG(ERROR) << "refused file name outside the installation: " << WideToUtf8Log(name);
            return false;
        }
    }

    // Plug-ins run code in this process: loaded only once the new manifest
    // has been checked and listed (with keys, only libraries it lists with
    // their digest, see LoadPlugins).
    UPDATER_LOG(INFO) << "LoadPlugins";
    LoadPlugins(m_pluginOptions.pluginDir);

    std::vector<std::wstring> updateFiles;
    const bool verifiedAll = VerifyInstalledFiles(allFiles, oldFiles, updateFiles);
    const PatchPlan patches = PlanFilePatches(updateFiles);
    bool ok = updateFiles.empty() ? verifiedAll : DownloadUpdateFiles(urls, updateFiles, patches);

    if (ok) {
        ReportPhase(FUS_COPYSTART);
        UPDATER_LOG(INFO) << "start CopyDirectory";
        // A staged manifest takes its signature along: the copy mode checks
        // both again before it installs anything.
        if (!m_dstCopySubDir.empty() && m_heldFiles.Find(kManifestSignatureFileName) != nullptr) {
            updateFiles.push_back(kManifestSignatureFileName);
        }
        updateFiles.push_back(kManifestFileName);  // the new manifest goes in last
        ok = CopyDirectory(updateFiles);
        UPDATER_LOG(INFO) << "CopyDirectory status " << ok;
        ReportPhase(FUS_COPYEND);
    }

    UPDATER_LOG(INFO) << "oldFiles size = " << oldFiles.size();
    if (ok && m_dstCopySubDir.empty()) DeleteOldFiles(m_installDir.c_str(), oldFiles);
    return ok;
}

bool SDKUpdater::UpdateDatabaseFile(const wchar_t* databaseUrl, const wchar_t* iniPath) {
    if (databaseUrl == nullptr) return false;
    wchar_t localPath[256] = {};
    DownloadTarget target{this, nullptr};
    HttpDownloadRequest request = {};
    request.url = databaseUrl;
    request.saveDir = m_downloadDir.c_str();
    request.localPath = localPath;
    request.cancel = &SDKUpdater::IsCancelled;
    request.userData = &target;
    request.maxBytes = kMaxManifestArchiveBytes;
    if (!DownloadSecureFirst(request)) return false;
    const std::span<const ManifestPublicKey> keys = TrustedManifestKeys();
    if (keys.empty()) {  // no key built in: nothing is checked
        return ExtractZip(m_downloadDir, localPath, kMaxManifestArchiveBytes) && HoldNewManifest();
    }

    // With keys, the archive may hold only the manifest and its signature,
    // and neither may be left over from an earlier run.
    const std::wstring signaturePath = m_newDatabasePath + kManifestSignatureSuffix;
    boost::system::error_code ignored;
    fs::remove(fs::path(m_newDatabasePath), ignored);
    fs::remove(fs::path(signaturePath), ignored);
    const std::wstring manifestName = fs::path(m_newDatabasePath).filename().wstring();
    if (!ExtractNamedFiles(m_downloadDir, localPath, {manifestName, manifestName + kManifestSignatureSuffix},
                           kMaxManifestArchiveBytes)) {
        UPDATER_LOG(ERROR) << "manifest refused: archive not unpacked "
                              "(it may hold only the manifest and its signature)";
        return false;
    }
    // Held before it is read, so that a staged copy is the one checked.
    if (!m_heldFiles.Hold(kManifestSignatureFileName, signaturePath)) {
        const bool missing = ::GetFileAttributesW(signaturePath.c_str()) == INVALID_FILE_ATTRIBUTES;
        UPDATER_LOG(ERROR) << "manifest refused: " << (missing ? "missing signature" : "signature cannot be held open");
        return false;
    }
    if (!HoldNewManifest()) return false;
    // The manifest must be the release that the (signed) version.ini names.
    const int iniVersion = ReadIniInt(iniPath != nullptr ? iniPath : L"", L"update", L"version", 0);
    return AuthenticateManifest(m_newManifestBytes, m_newDatabasePath, m_installDir + L"version.ini", iniVersion,
                                keys);
}

bool SDKUpdater::HoldNewManifest() {
    // Held from before it is read until it has been copied: the bytes read
    // here are the ones checked, opened and installed.
    m_newManifestBytes.clear();
    if (!m_heldFiles.Hold(kManifestFileName, m_newDatabasePath)) {
        UPDATER_LOG(ERROR) << "new manifest cannot be held open " << WideToUtf8Log(m_newDatabasePath)
                           << " error " << ::GetLastError();
        return false;
    }
    std::optional<std::string> bytes = ReadOpenFileLimited(m_heldFiles.Find(kManifestFileName), kMaxDatabaseBytes);
    if (!bytes) {
        UPDATER_LOG(ERROR) << "new manifest unreadable or larger than " << kMaxDatabaseBytes << " bytes";
        return false;
    }
    m_newManifestBytes = std::move(*bytes);
    return true;
}

void SDKUpdater::OpenNewManifest() {
    if (m_ownChecker != nullptr && m_ownChecker == m_updateAlgorithm) {
        m_ownChecker->OpenDatabaseBytes(m_newDatabasePath, m_newManifestBytes);
    } else {
        m_updateAlgorithm->OpenDatabase(m_newDatabasePath.c_str());
    }
}

void SDKUpdater::EnsureAlgorithm() {
    if (m_updateAlgorithm != nullptr) return;
    m_ownChecker = new DataBaseChecker(m_installDir);
    m_ownChecker->SetHeldFiles(&m_heldFiles);
    m_updateAlgorithm = m_ownChecker;
    m_updateAlgorithm->SetDownloadDir(m_downloadDir.c_str());
}

void SDKUpdater::ReleaseAlgorithm() {
    if (m_updateAlgorithm == nullptr) return;
    // Forgotten before the call: a Release that throws must not be followed
    // by a second one (from the destructor or the next run).
    IVkUpdateAlgorithm* algorithm = m_updateAlgorithm;
    m_updateAlgorithm = nullptr;
    m_ownChecker = nullptr;
    algorithm->Release();
}

void SDKUpdater::GetOldFileList(ManifestNameSet& oldFiles) {
    ManifestNameSlot* names = nullptr;
    int count = 0;
    m_updateAlgorithm->GetFileList(&names, &count);
    if (count < 1 || names == nullptr) return;
    for (int i = 0; i < count; ++i) {
        const std::wstring name = names[i];
        if (IsContainedManifestName(name)) {
            oldFiles.insert(name);
        } else {
            UPDATER_LOG(WARNING) << "installed manifest name outside the installation kept: "
                                 << WideToUtf8Log(name);
        }
    }
    m_updateAlgorithm->FreeFileList(names);
}

bool SDKUpdater::GetAllFiles(std::vector<std::wstring>& allFiles) {
    ManifestNameSlot* names = nullptr;
    int count = 0;
    m_updateAlgorithm->GetFileList(&names, &count);
    if (count < 1 || names == nullptr) return false;
    allFiles.assign(names, names + count);
    m_updateAlgorithm->FreeFileList(names);
    return true;
}

bool SDKUpdater::VerifyInstalledFiles(const std::vector<std::wstring>& allFiles, ManifestNameSet& oldFiles,
                                      std::vector<std::wstring>& updateFiles) {
    UPDATER_LOG(INFO) << "FUS_VERIFYFILE starts ...";
    size_t verified = 0;
    for (; verified < allFiles.size() && !m_cancel.load(); ++verified) {
        const std::wstring& name = allFiles[verified];
        UPDATER_LOG(INFO) << "verifying " << WideToUtf8Log(name);
        oldFiles.erase(name);
        FileUpdateStatus record = ClearedStatus(FUS_VERIFYFILE, name);
        record.total = static_cast<int32_t>(allFiles.size());
        record.index = static_cast<int32_t>(verified + 1);
        NotifyStatus(record);
        if (m_updateAlgorithm->CheckFile(name.c_str())) {
            UPDATER_LOG(INFO) << "need to updated";
            updateFiles.push_back(name);
        }
    }
    UPDATER_LOG(INFO) << "FUS_VERIFYFILE over, the file number need to be updated: " << updateFiles.size();
    return verified == allFiles.size();
}

bool SDKUpdater::DownloadUpdateFiles(const std::vector<std::wstring>& urls,
                                     const std::vector<std::wstring>& updateFiles, const PatchPlan& patches) {
    std::wstring base = urls.empty() ? std::wstring() : urls.front();
    size_t downloaded = 0;
    bool ok = false;
    UPDATER_LOG(INFO) << "begin download file ...";
    for (const std::wstring& name : updateFiles) {
        if (m_cancel.load()) break;
        FileUpdateStatus record = ClearedStatus(FUS_DOWNLOADSTART, name);
        record.total = static_cast<int32_t>(updateFiles.size());
        record.index = static_cast<int32_t>(downloaded);
        NotifyStatus(record);

        const auto patch = patches.find(name);
        if (patch != patches.end() && PatchInstalledFile(base, name, patch->second, record)) {
            ok = true;
            ++downloaded;
            NotifyStatus(record);
            continue;
        }
        const ListedBounds bounds = BoundsOf(name);
        ok = DownloadOneFile(base, urls, name, bounds, record);
        if (ok) {
            record.status = FUS_DOWNLOADSUCCESS;
            ++downloaded;
            m_totalDownloaded += record.fileSize;
            if (!UnzipDownloadFile(name, bounds)) {
                UPDATER_LOG(INFO) << "UnzipDownloadFile fails ";
                ok = false;
            } else if (!m_heldFiles.Hold(name, m_downloadDir + name)) {
                // Open elsewhere for writing: not a file this run can vouch for.
                UPDATER_LOG(WARNING) << "downloaded file cannot be held open " << WideToUtf8Log(name) << " error "
                                     << ::GetLastError();
                ok = false;
            }
            if (!m_updateAlgorithm->VerifyDownloadedFile(name.c_str())) {
                ok = false;
                record.status = FUS_VERIFYFAIL;
            }
            UPDATER_LOG(INFO) << "download success, start verifying the downloaded file, status " << ok;
        } else {
            record.status = FUS_DOWNLOADFAIL;
        }
        NotifyStatus(record);
        if (!ok) break;
    }
    if (ok && downloaded != updateFiles.size()) {
        UPDATER_LOG(INFO) << "download all files success numDownloadedFiles=" << downloaded
                          << "  updateFiles.size()=" << updateFiles.size();
        ok = false;
    }
    return ok;
}

SDKUpdater::ListedBounds SDKUpdater::BoundsOf(const std::wstring& name) const {
    ListedBounds bounds;
    // An outside checker lists no sizes: the fixed bounds apply.
    if (m_ownChecker != nullptr) m_ownChecker->GetListedSizes(name.c_str(), &bounds.fileBytes, &bounds.archiveBytes);
    bounds.fileBytes = std::min(bounds.fileBytes, kDefaultMaxUnpackBytes);
    bounds.archiveBytes = std::min<uint64_t>(bounds.archiveBytes, kDefaultMaxDownloadBytes);
    return bounds;
}

bool SDKUpdater::DownloadOneFile(std::wstring& base, const std::vector<std::wstring>& urls,
                                 const std::wstring& name, const ListedBounds& bounds, FileUpdateStatus& record) {
    const std::wstring url = BuildFileUrl(base, name);
    const std::wstring targetDir = fs::path(m_downloadDir + name).parent_path().wstring();
    UPDATER_LOG(INFO) << "downloading " << WideToUtf8Log(name);
    bool ok = DownloadFile(url, targetDir, bounds, record);
    UPDATER_LOG(INFO) << "download status " << ok;
    if (ok) return true;
    UPDATER_LOG(ERROR) << "download fail from " << WideToUtf8Log(url);
    for (const std::wstring& other : urls) {
        if (other == base) continue;
        if (DownloadFile(BuildFileUrl(other, name), targetDir, bounds, record)) {
            base = other;
            return true;
        }
    }
    return false;
}

bool SDKUpdater::DownloadFile(const std::wstring& url, const std::wstring& targetDir, const ListedBounds& bounds,
                              FileUpdateStatus& record) {
    DownloadTarget target{this, &record};
    HttpDownloadRequest request = {};
    request.url = url.c_str();
    request.saveDir = targetDir.c_str();
    request.timeout = kFileDownloadTimeoutMs;
    request.progress = &SDKUpdater::OnDownloadProgress;
    request.cancel = &SDKUpdater::IsCancelled;
    request.userData = &target;
    request.retry = 1;
    request.maxAttempts = kFileAttemptsWithoutProgress;
    request.maxBytes = static_cast<uint32_t>(bounds.archiveBytes);
    return DownloadSecureFirst(request);
}

// The archive must hold the file under its bare name and nothing else, so
// that it can never overwrite another file of the download folder (a file
// verified earlier, or the open manifest), and unpack to no more than the
// file's listed size.
bool SDKUpdater::UnzipDownloadFile(const std::wstring& name, const ListedBounds& bounds) {
    const fs::path file(m_downloadDir + name);
    return ExtractNamedFiles(file.parent_path().wstring(), m_downloadDir + name + L".zip",
                             {file.filename().wstring()}, bounds.fileBytes);
}

int SDKUpdater::IsCancelled(void* userData) {
    return static_cast<DownloadTarget*>(userData)->engine->m_cancel.load() ? 1 : 0;
}

void SDKUpdater::OnDownloadProgress(uint64_t done, uint64_t total, void* userData) {
    auto* target = static_cast<DownloadTarget*>(userData);
    if (target->record == nullptr) return;
    FileUpdateStatus& record = *target->record;
    record.status = FUS_DOWNLOADING;
    record.fileSize = total;
    record.received = done;
    record.totalReceived = done + target->engine->m_totalDownloaded;
    target->engine->NotifyStatus(record);
}
