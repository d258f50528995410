// The check of a staged update before the copy mode moves it into the
// installation, in a build with keys. A hidden run staged files it had
// verified, but the folder then waits on disk until the client starts the
// copy, and the copy mode's command line may name any folder. So the staged
// version.ini and manifest are authenticated again, and every other staged
// file must be listed in that manifest with its digest. Each checked file is
// held open (reading only, writing and deleting denied) and the copy reads the
// handles, never the paths again.
#include <cstring>
#include <map>
#include <string>

#include "diag/text_format.h"
#include "diag/unit_log.h"
#include "engine/database_checker.h"
#include "engine/file_sha1.h"
#include "engine/manifest_authentication.h"
#include "engine/manifest_names.h"
#include "engine/sdk_updater.h"
#include "engine/version_ini.h"
#include "engine/version_ini_signature.h"

namespace {

constexpr wchar_t kVersionIniName[] = L"version.ini";

bool Refuse(const char* reason, const std::wstring& name) {
    UPDATER_LOG(ERROR) << "staged update refused: " << reason << WideToUtf8Log(name);
    return false;
}

}  // namespace

bool SDKUpdater::CheckStagedUpdate(const std::vector<std::wstring>& names, std::span<const ManifestPublicKey> keys) {
    m_stagedIni = AuthenticateVersionIni(m_downloadDir + kVersionIniName, keys);
    if (!m_stagedIni) return false;
    const int iniVersion = ReadIniInt(m_stagedIni->path(), L"update", L"version", 0);

    // The signature is held before it is read, so the copy installs the one
    // that was checked.
    m_newDatabasePath = m_downloadDir + kManifestFileName;
    m_heldFiles.Hold(kManifestSignatureFileName, m_downloadDir + kManifestSignatureFileName);
    if (!HoldNewManifest() || !AuthenticateManifest(m_newManifestBytes, m_newDatabasePath,
                                                    m_installDir + kVersionIniName, iniVersion, keys)) {
        return false;
    }
    EnsureAlgorithm();
    if (m_ownChecker == nullptr) return Refuse("no manifest checker of the engine's own", L"");
    OpenNewManifest();
    std::vector<std::wstring> listed;
    if (!GetAllFiles(listed)) return Refuse("the manifest lists no file", L"");
    ListedEntries entries;
    for (const FileEntry& entry : m_ownChecker->listedFiles()) entries.emplace(entry.name, &entry);
    for (const std::wstring& name : names) {
        if (!CheckStagedFile(name, entries)) return false;
    }
    UPDATER_LOG(INFO) << "staged update checked: " << names.size() << " files, version " << iniVersion;
    return true;
}

bool SDKUpdater::CheckStagedFile(const std::wstring& name, const ListedEntries& entries) {
    const std::wstring verifiedIni = m_stagedIni->path();
    const std::wstring iniSignature = std::wstring(kVersionIniName) + kVersionIniSignatureSuffix;
    // Files checked above: the copy installs exactly what was verified.
    const struct {
        std::wstring name;
        std::wstring heldPath;  // empty: held by the manifest check
    } checked[] = {{kVersionIniName, verifiedIni},
                   {iniSignature, verifiedIni + kVersionIniSignatureSuffix},
                   {kManifestFileName, L""},
                   {kManifestSignatureFileName, L""}};
    for (const auto& file : checked) {
        if (!SameManifestName(name, file.name)) continue;
        // Another spelling would be copied by path over the checked file.
        if (name != file.name) return Refuse("unexpected spelling: ", name);
        if (file.heldPath.empty()) return m_heldFiles.Find(name) != nullptr || Refuse("not held open: ", name);
        return m_heldFiles.Hold(name, file.heldPath) || Refuse("verified copy cannot be held open: ", name);
    }

    const auto entry = entries.find(name);
    if (entry == entries.end()) return Refuse("not listed in the manifest: ", name);
    if (!m_heldFiles.Hold(name, m_downloadDir + name)) return Refuse("cannot be held open: ", name);
    unsigned char digest[kFileDigestBytes] = {};
    // A file that cannot be hashed compares as 20 zero bytes, as in the check
    // of an installation.
    if (!CalOpenFileSHA1(m_heldFiles.Find(name), digest)) std::memset(digest, 0, sizeof(digest));
    if (std::memcmp(digest, entry->second->sha1, kFileDigestBytes) != 0) {
        return Refuse("digest differs from the manifest: ", name);
    }
    return true;
}
