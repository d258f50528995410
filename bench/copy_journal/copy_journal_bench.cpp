// Times the engine's copy into an installation (journal, flushed backups,
// copy, removal of the backup) and prints "seconds=<wall> ok=<0|1> files=<n>":
//
//   copy_journal_bench DOWNLOAD INSTALL COUNT
//
// copies the files "f<i>.bin" (i from 0 to COUNT-1) of DOWNLOAD over those of
// INSTALL, as CopyDirectory does during an update. The engine's log lines go
// to files as in Update.exe (%TEMP%\VeliskUpdateLog\copy_bench_*.log): without
// a log file glog writes them to the console, which Wine does a character at
// a time, and that alone would take most of the time measured.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "diag/logging.h"
#include "engine/sdk_updater.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: copy_journal_bench DOWNLOAD INSTALL COUNT\n");
        return 2;
    }
    InitLogging("copy_journal_bench.exe", "copy_bench");
    std::vector<std::wstring> names;
    const long count = std::wcstol(argv[3], nullptr, 10);
    for (long i = 0; i < count; ++i) names.push_back(L"f" + std::to_wstring(i) + L".bin");
    SDKUpdater engine;
    engine.SetDirectories(argv[1], argv[2], nullptr);
    LARGE_INTEGER frequency = {}, start = {}, end = {};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    const bool ok = engine.CopyDirectory(names);
    ::QueryPerformanceCounter(&end);
    std::printf("seconds=%.6f ok=%d files=%zu\n",
                static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart), ok ? 1 : 0,
                names.size());
    return ok ? 0 : 1;
}
