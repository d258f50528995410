#include "data_folder.h"

#include <shlobj.h>

#include <string>

#include "velisk/handles.h"

namespace vantor {

namespace {

constexpr const wchar_t* kSlotFileName = L"cache.ini";
constexpr const wchar_t* kSlotSection = L"CacheDir";
constexpr const wchar_t* kDefaultDataFolder = L"pelvar";
constexpr DWORD kSlotLockWaitMs = 5000;

// True when `pid` names a running process whose image name can be read. A
// process that has ended is gone even while some handle keeps its object.
bool ProcessIsAlive(DWORD pid) {
    velisk::UniqueKernelHandle process(
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process) return false;
    if (::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) return false;
    wchar_t image[MAX_PATH];
    DWORD size = MAX_PATH;
    return ::QueryFullProcessImageNameW(process.get(), 0, image, &size) != 0;
}

}  // namespace

std::wstring GetHostProgramName() {
    wchar_t path[MAX_PATH + 1] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path);
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.resize(dot);
    return name;
}

std::wstring PrepareHostFolder(const std::wstring& dataFolderName) {
    wchar_t appData[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, appData);
    std::wstring root(appData);
    root += L"\\";
    root += dataFolderName.empty() ? kDefaultDataFolder : dataFolderName;
    root += L"\\edge_cache\\edge";
    ::SHCreateDirectoryExW(nullptr, root.c_str(), nullptr);
    const std::wstring hostFolder = root + L"_" + GetHostProgramName();
    ::CreateDirectoryW(hostFolder.c_str(), nullptr);
    return hostFolder;
}

unsigned int ChooseSlot(const std::wstring& hostFolder, HANDLE mutex) {
    const std::wstring slotFile = hostFolder + L"\\" + kSlotFileName;
    const DWORD wait = ::WaitForSingleObject(mutex, kSlotLockWaitMs);
    const bool owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;

    const DWORD self = ::GetCurrentProcessId();
    unsigned int slot = 0;
    for (;; ++slot) {
        const std::wstring key = std::to_wstring(slot);
        const DWORD holder = ::GetPrivateProfileIntW(kSlotSection, key.c_str(), 0, slotFile.c_str());
        if (holder == 0 || holder == self || !ProcessIsAlive(holder)) break;
    }
    ::WritePrivateProfileStringW(kSlotSection, std::to_wstring(slot).c_str(), std::to_wstring(self).c_str(),
                                 slotFile.c_str());
    if (owned) ::ReleaseMutex(mutex);
    return slot;
}

std::wstring PrepareUserDataFolder(const std::wstring& hostFolder, unsigned int slot) {
    const std::wstring folder = hostFolder + L"\\cache" + std::to_wstring(slot);
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

}  // namespace vantor
