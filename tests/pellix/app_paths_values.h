// The uninstaller's App Paths values in the real registry: "Launcher"
// (HKEY_LOCAL_MACHINE) and "rmenu" (HKEY_CURRENT_USER). Tests set them, and
// the object puts back what it found when it goes away.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace pellix_test {

class AppPathsValues {
public:
    // Records the current state of both values (and of their keys), then
    // removes both values so every test starts from "nothing registered".
    AppPathsValues();
    // Puts back the recorded values and removes keys that did not exist.
    ~AppPathsValues();
    AppPathsValues(const AppPathsValues&) = delete;
    AppPathsValues& operator=(const AppPathsValues&) = delete;

    // Writes "Launcher" as REG_SZ into the 32-bit view, where the module
    // reads it. False on failure.
    bool SetLauncher(const std::wstring& path);

    // Writes "rmenu" with any type and raw data. False on failure.
    bool SetMenuSwitch(DWORD type, const std::vector<BYTE>& data);
    bool SetMenuSwitch(DWORD value);

    // Removes "rmenu" and its key.
    void RemoveMenuKey();

private:
    struct Slot {
        HKEY root;
        REGSAM view;
        const wchar_t* value;
        bool keyExisted = false;
        bool valueExisted = false;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    static void Record(Slot& slot);
    static void Restore(const Slot& slot);
    static void RemoveValue(const Slot& slot);
    static bool Write(const Slot& slot, DWORD type, const BYTE* data, DWORD size);

    Slot m_launcher;
    Slot m_menu;
};

}  // namespace pellix_test
