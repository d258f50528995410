// The uninstaller's App Paths values in the real registry of the test prefix:
// "Launcher" (HKEY_LOCAL_MACHINE, 32-bit view) and "rmenu" (HKEY_CURRENT_USER).
// Tests set them; the object removes both keys before and after the test.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace pellix_test {

class AppPathsValues {
public:
    AppPathsValues() { RemoveAll(); }
    ~AppPathsValues() { RemoveAll(); }
    AppPathsValues(const AppPathsValues&) = delete;
    AppPathsValues& operator=(const AppPathsValues&) = delete;

    // Writes "Launcher" as REG_SZ where the module reads it. False on failure.
    bool SetLauncher(const std::wstring& path);

    // Writes "rmenu" with any type and raw data, or as a REG_DWORD number.
    // False on failure.
    bool SetMenuSwitch(DWORD type, const std::vector<BYTE>& data);
    bool SetMenuSwitch(DWORD value);

    // Removes the key of "rmenu".
    void RemoveMenuKey();

private:
    static void RemoveAll();
};

}  // namespace pellix_test
