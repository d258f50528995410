#include "pellix/app_paths_values.h"

#include "velisk/handles.h"

namespace pellix_test {

namespace {

const wchar_t kKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\NymUninstaller.exe";

bool Write(HKEY root, REGSAM view, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) {
    velisk::UniqueRegKey key;
    return ::RegCreateKeyExW(root, kKey, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, key.receive(), nullptr) ==
               ERROR_SUCCESS &&
           ::RegSetValueExW(key.get(), name, 0, type, data, size) == ERROR_SUCCESS;
}

}  // namespace

bool AppPathsValues::SetLauncher(const std::wstring& path) {
    return Write(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"Launcher", REG_SZ,
                 reinterpret_cast<const BYTE*>(path.c_str()), static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
}

bool AppPathsValues::SetMenuSwitch(DWORD type, const std::vector<BYTE>& data) {
    return Write(HKEY_CURRENT_USER, 0, L"rmenu", type, data.data(), static_cast<DWORD>(data.size()));
}

bool AppPathsValues::SetMenuSwitch(DWORD value) {
    return Write(HKEY_CURRENT_USER, 0, L"rmenu", REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

void AppPathsValues::RemoveMenuKey() { ::RegDeleteKeyExW(HKEY_CURRENT_USER, kKey, 0, 0); }

void AppPathsValues::RemoveAll() {
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_32KEY, 0);
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY, 0);
    ::RegDeleteKeyExW(HKEY_CURRENT_USER, kKey, 0, 0);
}

}  // namespace pellix_test
