#include "engine/version_ini_signature.h"

#include <windows.h>

#include <cstdint>
#include <optional>

#include "diag/unit_log.h"
#include "engine/manifest_signature.h"
#include "engine/plain_paths.h"

const wchar_t kVersionIniSignatureSuffix[] = L".sig";

namespace {

// A version.ini is a few KiB; release notes make it larger, never this large.
constexpr uint64_t kMaxVersionIniBytes = 1024 * 1024;
constexpr int kFolderAttempts = 16;

std::unique_ptr<HeldVersionIni> Refuse(const char* reason) {
    UPDATER_LOG(ERROR) << "version.ini refused: " << reason;
    return nullptr;
}

// Creates a folder of a new name in the user's temporary folder; empty when
// none can be made. A name that exists already is never reused, so nothing
// prepared by another process can be taken for this run's folder.
std::wstring CreatePrivateFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) return L"";
    LARGE_INTEGER counter{};
    for (int attempt = 0; attempt < kFolderAttempts; ++attempt) {
        ::QueryPerformanceCounter(&counter);
        const std::wstring folder = std::wstring(temp) + L"veliskVerified-" + std::to_wstring(::GetCurrentProcessId()) +
                                    L"-" + std::to_wstring(static_cast<unsigned long long>(counter.QuadPart) + attempt);
        if (::CreateDirectoryW(folder.c_str(), nullptr)) return folder;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) return L"";
    }
    return L"";
}

// Writes `bytes` to `path` and holds the file open for reading only, sharing
// reading only: nobody can then write, rename or delete it, and every reader
// of the path still gets in. Another process could change it between the
// write and the hold, so what the hold reads must be `bytes` exactly.
bool WriteAndHold(HeldFiles& held, const std::wstring& path, const std::string& bytes) {
    if (!WriteFileFlushed(path, bytes) || !held.Hold(path, path)) return false;
    const std::optional<std::string> reread = ReadOpenFileLimited(held.Find(path), bytes.size());
    return reread && *reread == bytes;
}

}  // namespace

std::unique_ptr<HeldVersionIni> HeldVersionIni::Create(const std::string& ini, const std::string& signature) {
    std::unique_ptr<HeldVersionIni> held(new HeldVersionIni());
    held->m_folder = CreatePrivateFolder();
    if (held->m_folder.empty()) {
        UPDATER_LOG(WARNING) << "private version.ini folder not made, error " << ::GetLastError();
        return nullptr;
    }
    held->m_iniPath = held->m_folder + L"\\version.ini";
    held->m_ini = ini;
    held->m_signature = signature;
    if (!WriteAndHold(held->m_held, held->m_iniPath, ini) ||
        !WriteAndHold(held->m_held, held->m_iniPath + kVersionIniSignatureSuffix, signature)) {
        UPDATER_LOG(WARNING) << "private version.ini not written, error " << ::GetLastError();
        return nullptr;
    }
    return held;
}

HeldVersionIni::~HeldVersionIni() {
    m_held.Clear();
    if (!m_folder.empty()) RemoveTreeNoFollow(m_folder);
}

bool HeldVersionIni::WriteCopiesTo(const std::wstring& folder) const {
    std::wstring base = folder;
    if (!base.empty() && base.back() != L'\\' && base.back() != L'/') base += L'\\';
    return WriteFileFlushed(base + L"version.ini", m_ini) &&
           WriteFileFlushed(base + L"version.ini" + kVersionIniSignatureSuffix, m_signature);
}

std::unique_ptr<HeldVersionIni> AuthenticateVersionIni(const std::wstring& iniPath,
                                                       std::span<const ManifestPublicKey> keys) {
    const std::optional<std::string> ini = ReadFileLimited(iniPath, kMaxVersionIniBytes);
    if (!ini) return Refuse("version.ini missing, unreadable or too large");
    const std::wstring signaturePath = iniPath + kVersionIniSignatureSuffix;
    const std::optional<std::string> signature = ReadFileLimited(signaturePath, kManifestSignatureBytes + 1);
    if (!signature) {
        const bool missing = ::GetFileAttributesW(signaturePath.c_str()) == INVALID_FILE_ATTRIBUTES;
        return Refuse(missing ? "missing signature" : "unreadable signature");
    }
    const SignatureResult result = VerifyManifestSignature(*ini, *signature, keys);
    if (result.check != SignatureCheck::kVerified) return Refuse(SignatureCheckText(result.check));
    std::unique_ptr<HeldVersionIni> held = HeldVersionIni::Create(*ini, *signature);
    if (!held) return Refuse("private copy not made");
    UPDATER_LOG(INFO) << "version.ini signature checked: key " << result.keyIndex + 1 << " of " << keys.size() << ", "
                      << ini->size() << " bytes";
    return held;
}
