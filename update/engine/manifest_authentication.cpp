#include "engine/manifest_authentication.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "diag/unit_log.h"
#include "engine/manifest_signature.h"
#include "engine/sqlite_db.h"
#include "engine/version_ini.h"
#include "velisk/handles.h"

const wchar_t kManifestSignatureSuffix[] = L".sig";

namespace {

// A manifest larger than this is refused before it is read into memory.
constexpr uint64_t kMaxManifestBytes = 256ull * 1024 * 1024;

// Reads a whole regular file of at most `limit` bytes; nothing when it is
// missing, unreadable or larger.
std::optional<std::string> ReadSmallFile(const std::wstring& path, uint64_t limit) {
    velisk::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 || static_cast<uint64_t>(size.QuadPart) > limit) {
        return std::nullopt;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(bytes.size() - done < (1u << 30) ? bytes.size() - done : (1u << 30));
        if (!::ReadFile(file.get(), bytes.data() + done, want, &got, nullptr) || got == 0) return std::nullopt;
        done += got;
    }
    return bytes;
}

// Every "ProgramVer" version of the manifest (normally one).
std::vector<int> ProgramVersions(const std::wstring& manifestPath) {
    std::vector<int> versions;
    SqliteConnection connection(manifestPath);
    if (connection.Open() != 0) return versions;
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

bool AuthenticateManifest(const std::wstring& manifestPath, const std::wstring& installedIniPath,
                          std::span<const ManifestPublicKey> keys) {
    LARGE_INTEGER start{};
    ::QueryPerformanceCounter(&start);
    const std::optional<std::string> manifest = ReadSmallFile(manifestPath, kMaxManifestBytes);
    if (!manifest) return Refuse("manifest missing, unreadable or too large");
    const std::optional<std::string> signature =
        ReadSmallFile(manifestPath + kManifestSignatureSuffix, kManifestSignatureBytes + 1);
    if (!signature) {
        const DWORD attributes = ::GetFileAttributesW((manifestPath + kManifestSignatureSuffix).c_str());
        return Refuse(attributes == INVALID_FILE_ATTRIBUTES ? "missing signature" : "unreadable signature");
    }

    const SignatureResult result = VerifyManifestSignature(*manifest, *signature, keys);
    LARGE_INTEGER end{};
    ::QueryPerformanceCounter(&end);
    if (result.check != SignatureCheck::kVerified) return Refuse(SignatureCheckText(result.check));

    const std::vector<int> versions = ProgramVersions(manifestPath);
    const int installed = ReadIniInt(installedIniPath, L"update", L"version", 0);
    if (versions.empty()) return Refuse("no ProgramVer row (version unknown)");
    for (const int version : versions) {
        if (version < installed) {
            return Refuse("older version " + std::to_string(version) + " than installed " + std::to_string(installed));
        }
    }
    UPDATER_LOG(INFO) << "manifest signature checked: key " << result.keyIndex + 1 << " of " << keys.size()
                      << ", " << manifest->size() << " bytes in " << static_cast<long long>(Microseconds(start, end))
                      << " us, version " << versions.back() << " (installed " << installed << ")";
    return true;
}
