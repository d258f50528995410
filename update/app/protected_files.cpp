#include "app/protected_files.h"

#include <windows.h>

#include "app/path_identity.h"
#include "app/program_start.h"
#include "engine/database_checker.h"
#include "engine/manifest_names.h"

namespace {

// Every name that the manifest at `path` lists; false when it lists none.
bool ReadManifestNames(const std::wstring& installDir, const std::wstring& path, std::vector<std::wstring>& names) {
    auto* checker = new DataBaseChecker(installDir);
    checker->OpenDatabase(path.c_str());
    ManifestNameSlot* slots = nullptr;
    int count = 0;
    checker->GetFileList(&slots, &count);
    if (count > 0 && slots != nullptr) {
        names.assign(slots, slots + count);
        checker->FreeFileList(slots);
    }
    checker->Release();
    return !names.empty();
}

}  // namespace

ProtectedFiles::ProtectedFiles(const std::wstring& installDir, const std::wstring& targetExe)
    : m_installDir(WithTrailingSeparator(installDir)) {
    std::vector<std::wstring> names;
    m_manifestRead = ReadManifestNames(m_installDir, m_installDir + L"ProgramConfig.zdb", names);
    // Listed names are compared by name below the installation, so a large
    // manifest costs no file-system look-up per name.
    m_listed.insert(names.begin(), names.end());
    m_canonicalInstallDir = WithTrailingSeparator(CanonicalPath(m_installDir));
    for (const wchar_t* name : {L"ProgramConfig.zdb", L"ProgramConfig.zdb.sig"}) Add(m_installDir + name, "the manifest");
    for (const wchar_t* name : {L"version.ini", L"version.ini.sig"}) Add(m_installDir + name, "version.ini");
    Add(m_installDir + L"zuZavozeVororiz.exe", "the launcher");
    if (!targetExe.empty()) Add(m_installDir + targetExe, "the client");
    const std::wstring updater = UpdateProgramPath();
    const std::wstring updaterDir = UpdateProgramFolder();
    if (!updater.empty()) Add(updater, "a file of the updater");
    if (!updaterDir.empty()) {
        for (const wchar_t* name : {L"Update.exe", L"Haltrix.exe", L"Lockscan.dll"}) {
            Add(updaterDir + L"\\" + name, "a file of the updater");
        }
    }
}

void ProtectedFiles::Add(const std::wstring& path, const char* reason) {
    const std::wstring canonical = CanonicalPath(path);
    if (!canonical.empty()) m_kept.emplace_back(canonical, reason);
}

const char* ProtectedFiles::ReasonToKeep(const std::wstring& name) const {
    const std::wstring candidate = CanonicalPath(m_installDir + WithBackslashes(name));
    if (candidate.empty()) return "unresolvable name";
    const size_t base = m_canonicalInstallDir.size();
    if (candidate.size() > base &&
        ::CompareStringOrdinal(candidate.c_str(), static_cast<int>(base), m_canonicalInstallDir.c_str(),
                               static_cast<int>(base), TRUE) == CSTR_EQUAL &&
        m_listed.count(candidate.substr(base)) != 0) {
        return "listed by the manifest";
    }
    for (const auto& kept : m_kept) {
        if (::CompareStringOrdinal(candidate.c_str(), static_cast<int>(candidate.size()), kept.first.c_str(),
                                   static_cast<int>(kept.first.size()), TRUE) == CSTR_EQUAL) {
            return kept.second;
        }
    }
    return nullptr;
}
