#include "pellix/app_paths_values.h"

#include "velisk/handles.h"

namespace pellix_test {

namespace {

const wchar_t kKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\NymUninstaller.exe";

}  // namespace

AppPathsValues::AppPathsValues()
    : m_launcher{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"Launcher"},
      m_menu{HKEY_CURRENT_USER, 0, L"rmenu"} {
    for (Slot* slot : {&m_launcher, &m_menu}) {
        Record(*slot);
        RemoveValue(*slot);
    }
}

AppPathsValues::~AppPathsValues() {
    for (const Slot* slot : {&m_launcher, &m_menu}) Restore(*slot);
}

void AppPathsValues::Record(Slot& slot) {
    velisk::UniqueRegKey key;
    slot.keyExisted = ::RegOpenKeyExW(slot.root, kKey, 0, KEY_READ | slot.view, key.receive()) == ERROR_SUCCESS;
    if (!slot.keyExisted) return;
    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), slot.value, nullptr, &slot.type, nullptr, &size) != ERROR_SUCCESS) return;
    slot.data.resize(size);
    slot.valueExisted = ::RegQueryValueExW(key.get(), slot.value, nullptr, &slot.type, slot.data.data(),
                                           &size) == ERROR_SUCCESS;
    slot.data.resize(size);
}

void AppPathsValues::Restore(const Slot& slot) {
    if (slot.valueExisted) {
        Write(slot, slot.type, slot.data.data(), static_cast<DWORD>(slot.data.size()));
        return;
    }
    RemoveValue(slot);
    if (!slot.keyExisted) ::RegDeleteKeyExW(slot.root, kKey, slot.view, 0);
}

void AppPathsValues::RemoveValue(const Slot& slot) {
    velisk::UniqueRegKey key;
    if (::RegOpenKeyExW(slot.root, kKey, 0, KEY_SET_VALUE | slot.view, key.receive()) == ERROR_SUCCESS) {
        ::RegDeleteValueW(key.get(), slot.value);
    }
}

bool AppPathsValues::Write(const Slot& slot, DWORD type, const BYTE* data, DWORD size) {
    velisk::UniqueRegKey key;
    if (::RegCreateKeyExW(slot.root, kKey, 0, nullptr, 0, KEY_SET_VALUE | slot.view, nullptr, key.receive(),
                          nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return ::RegSetValueExW(key.get(), slot.value, 0, type, data, size) == ERROR_SUCCESS;
}

bool AppPathsValues::SetLauncher(const std::wstring& path) {
    return Write(m_launcher, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                 static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
}

bool AppPathsValues::SetMenuSwitch(DWORD type, const std::vector<BYTE>& data) {
    return Write(m_menu, type, data.data(), static_cast<DWORD>(data.size()));
}

bool AppPathsValues::SetMenuSwitch(DWORD value) {
    return Write(m_menu, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

void AppPathsValues::RemoveMenuKey() {
    RemoveValue(m_menu);
    ::RegDeleteKeyExW(m_menu.root, kKey, m_menu.view, 0);
}

}  // namespace pellix_test
