#include "registry_values.h"

#include <windows.h>

#include <vector>

#include "velisk/handles.h"

namespace pellix {

namespace {

const wchar_t kAppPathsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\NymUninstaller.exe";

}  // namespace

std::wstring ReadLauncherPath() {
    velisk::UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAppPathsKey, 0, KEY_READ | KEY_WOW64_32KEY, key.receive()) !=
        ERROR_SUCCESS) {
        return {};
    }
    // First the size, then the data into a zeroed buffer with room for a
    // terminating NUL the stored value may lack. A value that grows between
    // the two calls is asked for again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD size = 0;
        if (::RegQueryValueExW(key.get(), L"Launcher", nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
            return {};
        }
        std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
        DWORD got = size;
        const LSTATUS status = ::RegQueryValueExW(key.get(), L"Launcher", nullptr, nullptr,
                                                  reinterpret_cast<BYTE*>(buffer.data()), &got);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) return {};
        return std::wstring(buffer.data());
    }
    return {};
}

bool ReadMenuSwitch() {
    velisk::UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kAppPathsKey, 0, KEY_READ, key.receive()) != ERROR_SUCCESS) {
        return false;
    }
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (::RegQueryValueExW(key.get(), L"rmenu", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    return value != 0;
}

}  // namespace pellix
