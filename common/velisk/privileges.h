// Turning on a privilege of the process's own token.
#pragma once

#include <windows.h>

#include "velisk/handles.h"

namespace velisk {

// Enables `privilegeName` (e.g. L"SeDebugPrivilege") in this process's token.
// False when the token cannot be adjusted or the account does not hold the
// privilege (AdjustTokenPrivileges then reports ERROR_NOT_ALL_ASSIGNED).
inline bool EnableProcessPrivilege(const wchar_t* privilegeName) {
    UniqueKernelHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.receive())) {
        return false;
    }
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::LookupPrivilegeValueW(nullptr, privilegeName, &privileges.Privileges[0].Luid)) return false;
    if (!::AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(privileges), nullptr, nullptr)) {
        return false;
    }
    return ::GetLastError() == ERROR_SUCCESS;
}

}  // namespace velisk
