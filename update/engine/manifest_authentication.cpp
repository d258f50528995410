#include "engine/manifest_authentication.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "diag/unit_log.h"
#include "engine/manifest_signature.h"
#include "engine/plain_paths.h"
#include "engine/sqlite_db.h"
#include "engine/version_ini.h"

const wchar_t kManifestSignatureSuffix[] = L".sig";

namespace {

// Every "ProgramVer" version of the manifest (normally one).
std::vector<int> ProgramVersions(const std::string& manifest, const std::wstring& manifestPath) {
    std::vector<int> versions;
    SqliteConnection connection(manifestPath);
    if (connection.OpenBytes(manifest) != 0) return versions;
    SqliteQuery query(connection, L"SELECT Version FROM ProgramVersion WHERE SectionName = 'ProgramVer'");
    for (bool row = query.FirstRow(); row; row = query.NextRow()) versions.push_back(query.row().GetInt(0));
    query.Finish();
    connection.Close();
    return versions;
}

bool Refuse(const std::string& reason) {
    UPDATER_LOG(ERROR) << "manifest refused: " << reason;
    return false;
}

double Microseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart > 0 ? (to.QuadPart - from.QuadPart) * 1e6 / frequency.QuadPart : 0.0;
}

}  // namespace

bool AuthenticateManifest(const std::string& manifest, const std::wstring& manifestPath,
                          const std::wstring& installedIniPath, int iniVersion,
                          std::span<const ManifestPublicKey> keys) {
    LARGE_INTEGER start{};
    ::QueryPerformanceCounter(&start);
    const std::optional<std::string> signature =
        ReadFileLimited(manifestPath + kManifestSignatureSuffix, kManifestSignatureBytes + 1);
    if (!signature) {
        const DWORD attributes = ::GetFileAttributesW((manifestPath + kManifestSignatureSuffix).c_str());
        return Refuse(attributes == INVALID_FILE_ATTRIBUTES ? "missing signature" : "unreadable signature");
    }

    const SignatureResult result = VerifyManifestSignature(manifest, *signature, keys);
    LARGE_INTEGER end{};
    ::QueryPerformanceCounter(&end);
    if (result.check != SignatureCheck::kVerified) return Refuse(SignatureCheckText(result.check));

    const std::vector<int> versions = ProgramVersions(manifest, manifestPath);
    const int installed = ReadIniInt(installedIniPath, L"update", L"version", 0);
    if (versions.empty()) return Refuse("no ProgramVer row (version unknown)");
    for (const int version : versions) {
        if (version < installed) {
            return Refuse("older version " + std::to_string(version) + " than installed " + std::to_string(installed));
        }
        if (version != iniVersion) return Refuse("version differs from version.ini");
    }
    UPDATER_LOG(INFO) << "manifest signature checked: key " << result.keyIndex + 1 << " of " << keys.size()
                      << ", " << manifest.size() << " bytes in " << static_cast<long long>(Microseconds(start, end))
                      << " us, version " << versions.back() << " (installed " << installed << ")";
    return true;
}
