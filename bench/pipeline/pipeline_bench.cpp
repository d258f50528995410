// Times one whole BeginUpdate and its phases, and prints one line of
// key=value pairs:
//
//   pipeline_bench INSTALL_DIR DOWNLOAD_DIR MANIFEST_URL NEW_INI
//
//   ok=<0|1> total_ms manifest_ms verify_ms download_ms copy_ms finish_ms
//   files_verified files_downloaded bytes_downloaded peak_working_set peak_private
//
// Phases are cut at the first report of each: manifest = start to the first
// FUS_VERIFYFILE, verify = to the first FUS_DOWNLOADSTART (or FUS_COPYSTART),
// download = to FUS_COPYSTART (downloads, unpacking and checks), copy = to
// FUS_COPYEND, finish = obsolete files, removal of the download folder and the
// final report. Log lines are off, as in a quiet run.
#include <windows.h>
#include <psapi.h>

#include <glog/logging.h>

#include <cstdio>
#include <memory>

#include "engine/auto_updater.h"

namespace {

struct PhaseClock {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER start{};
    double firstVerify = -1, firstDownload = -1, copyStart = -1, copyEnd = -1;
    int verified = 0, downloaded = 0;
    uint64_t bytes = 0;

    double Now() const {
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    }

    static void OnStatus(const FileUpdateStatus* r, void* self) {
        auto* clock = static_cast<PhaseClock*>(self);
        const double now = clock->Now();
        switch (r->status) {
        case FUS_VERIFYFILE:
            if (clock->firstVerify < 0) clock->firstVerify = now;
            ++clock->verified;
            break;
        case FUS_DOWNLOADSTART:
            if (clock->firstDownload < 0) clock->firstDownload = now;
            break;
        case FUS_DOWNLOADSUCCESS:
            ++clock->downloaded;
            clock->bytes = r->totalReceived;
            break;
        case FUS_COPYSTART: clock->copyStart = now; break;
        case FUS_COPYEND: clock->copyEnd = now; break;
        default: break;
        }
    }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: pipeline_bench INSTALL_DIR DOWNLOAD_DIR MANIFEST_URL NEW_INI\n");
        return 2;
    }
    google::InitGoogleLogging("pipeline_bench");
    FLAGS_minloglevel = google::GLOG_FATAL;
    for (int severity = google::GLOG_INFO; severity <= google::GLOG_FATAL; ++severity) {
        google::SetLogDestination(severity, "");
    }

    PhaseClock clock;
    AutoUpdaterPtr engine(CreateAutoUpdater());
    engine->SetStatusCallback(&PhaseClock::OnStatus, &clock);
    const std::wstring downloadDir = argv[2];
    engine->SetNewDatabasePath((downloadDir + L"\\ProgramConfig.zdb").c_str(), L"");
    engine->SetDirectories(downloadDir.c_str(), argv[1], L"");

    ::QueryPerformanceFrequency(&clock.frequency);
    ::QueryPerformanceCounter(&clock.start);
    const bool ok = engine->BeginUpdate(argv[3], 1, argv[4]);
    const double total = clock.Now();

    const double verifyEnd = clock.firstDownload >= 0 ? clock.firstDownload : clock.copyStart;
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory));
    std::printf("ok=%d total_ms=%.0f manifest_ms=%.0f verify_ms=%.0f download_ms=%.0f copy_ms=%.0f finish_ms=%.0f "
                "files_verified=%d files_downloaded=%d bytes_downloaded=%llu peak_working_set=%llu "
                "peak_private=%llu\n",
                ok ? 1 : 0, total, clock.firstVerify, verifyEnd - clock.firstVerify,
                clock.firstDownload >= 0 ? clock.copyStart - clock.firstDownload : 0.0, clock.copyEnd - clock.copyStart,
                total - clock.copyEnd, clock.verified, clock.downloaded, static_cast<unsigned long long>(clock.bytes),
                static_cast<unsigned long long>(memory.PeakWorkingSetSize),
                static_cast<unsigned long long>(memory.PeakPagefileUsage));
    return ok ? 0 : 1;
}
