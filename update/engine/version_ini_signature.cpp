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

// Writes `bytes` to the new file `path`, then holds it open for reading with
// only reading shared, so nobody can write, rename or delete it while every
// reader of the path still gets in. Between the write and the hold another
// process could change it, so what the hold reads must be `bytes` exactly.
velisk::UniqueFileHandle WriteHeldFile(const std::wstring& path, const std::string& bytes) {
    {
        velisk::UniqueFileHandle file(
            ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file || !::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written != bytes.size() || !::FlushFileBuffers(file.get())) {
            return velisk::UniqueFileHandle();
        }
    }
    velisk::UniqueFileHandle held(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held) return held;
    const std::optional<std::string> reread = ReadOpenFileLimited(held.get(), bytes.size());
    if (!reread || *reread != bytes) return velisk::UniqueFileHandle();
    return held;
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
    held->m_iniFile = WriteHeldFile(held->m_iniPath, ini);
    held->m_signatureFile = WriteHeldFile(held->m_iniPath + kVersionIniSignatureSuffix, signature);
    if (!held->m_iniFile || !held->m_signatureFile) {
        UPDATER_LOG(WARNING) << "private version.ini not written, error " << ::GetLastError();
        return nullptr;
    }
    return held;
}

HeldVersionIni::~HeldVersionIni() {
    m_iniFile.reset();
    m_signatureFile.reset();
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
