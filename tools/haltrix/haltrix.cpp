// Haltrix.exe: ends the processes whose ids it is given and exits.
//
//   Haltrix.exe --pids "[1204,88]"
//
// The updater starts it elevated for the processes it could not end itself.
// The exit code is the number of listed processes it could not end either.
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "velisk/handles.h"
#include "velisk/privileges.h"

namespace {

// Parses "[1204,88]" (blanks allowed) into ids; non-numbers are skipped.
std::vector<DWORD> ParseIdList(const wchar_t* text) {
    std::vector<DWORD> ids;
    const wchar_t* p = text;
    while (*p != L'\0') {
        if (*p >= L'0' && *p <= L'9') {
            wchar_t* end = nullptr;
            ids.push_back(static_cast<DWORD>(std::wcstoul(p, &end, 10)));
            p = end;
        } else {
            ++p;
        }
    }
    return ids;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Elevated, this also opens processes of other accounts and services.
    velisk::EnableProcessPrivilege(L"SeDebugPrivilege");
    velisk::ArgumentList args(::GetCommandLineW());
    int failures = 0;
    for (int i = 1; i + 1 < args.count(); ++i) {
        if (std::wcscmp(args[i], L"--pids") != 0) continue;
        for (DWORD pid : ParseIdList(args[i + 1])) {
            velisk::UniqueKernelHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
            if (process && ::TerminateProcess(process.get(), 0)) {
                ::WaitForSingleObject(process.get(), 5000);
            } else {
                ++failures;
            }
        }
    }
    return failures;
}
