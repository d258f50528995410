// Sets up logging and crash reporting the way the updater's start does, from
// a fresh process, and ends: the log lines and the stand-in library's record
// tell what StartCrashReporter did.
//
//   crash_probe.exe --program DIR --install DIR [--null-name] [--null-version]
//                   [--null-info] [--crash]
//
// DIR of --program becomes the current folder (the updater's own folder);
// --install is the client's folder ("" for none). The logs go to
// %TEMP%\VeliskUpdateLog. --crash then faults in FaultAfterStart, a function
// of this program, so the crash report path runs for a known code address.
#include <windows.h>

#include <glog/logging.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "diag/crash_reporter.h"
#include "diag/logging.h"

namespace {

int* volatile g_nowhere = nullptr;

// Writes through a null pointer read from a volatile, so the compiler keeps
// the faulting store inside this function.
__attribute__((noinline)) void FaultAfterStart() { *g_nowhere = 1; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring program, install;
    bool nullName = false, nullVersion = false, nullInfo = false, crash = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--program" && i + 1 < argc) program = argv[++i];
        else if (arg == L"--install" && i + 1 < argc) install = argv[++i];
        else if (arg == L"--null-name") nullName = true;
        else if (arg == L"--null-version") nullVersion = true;
        else if (arg == L"--null-info") nullInfo = true;
        else if (arg == L"--crash") crash = true;
    }
    InitLogging("crash_probe.exe", "update");
    ::SetCurrentDirectoryW(program.c_str());

    static RestartInfo info;
    std::memset(&info, 0, sizeof(info));
    if (!install.empty()) {
        if (install.back() != L'\\') install += L'\\';
        std::wcsncpy(info.installDir, install.c_str(), 254);
    }
    std::wcscpy(info.targetExe, L"VeliskLive.exe");
    StartCrashReporter(nullName ? nullptr : L"Velisk\x5BA2\x6237\x7AEF\x66F4\x65B0\x7A0B\x5E8F",
                       nullVersion ? nullptr : L"2.1.0.6", nullInfo ? nullptr : &info);
    if (crash) FaultAfterStart();
    google::ShutdownGoogleLogging();
    return 0;
}
