// Downloads one URL with HttpDownload and prints the time it took, measured
// inside the process (without the cost of starting it under Wine):
//   download_bench.exe URL SAVE_DIR [--secure] [--no-log] [--plain-winhttp]
// prints one line: ok=1 bytes=N wall_ms=W user_ms=U kernel_ms=K
// Logging is set up as in the updater (one glog file per severity under
// %TEMP%\VeliskUpdateLog); --no-log keeps glog silent. --plain-winhttp
// downloads with a bare synchronous WinHTTP loop instead (2 MiB reads, no
// time-out, no resume), to tell the cost of WinHTTP itself from the
// downloader's.
#include <windows.h>
#include <winhttp.h>

#include <glog/logging.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "diag/logging.h"
#include "net/http_download.h"
#include "velisk/handles.h"

namespace {

double FileTimeMs(const FILETIME& t) {
    ULARGE_INTEGER v;
    v.LowPart = t.dwLowDateTime;
    v.HighPart = t.dwHighDateTime;
    return static_cast<double>(v.QuadPart) / 10000.0;
}

void ProcessCpuMs(double* user, double* kernel) {
    FILETIME created, exited, k, u;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &k, &u);
    *user = FileTimeMs(u);
    *kernel = FileTimeMs(k);
}

// GET `url` with synchronous WinHTTP into saveDir\name.
bool PlainWinHttpDownload(const wchar_t* url, const wchar_t* saveDir, bool secure, wchar_t* localPath) {
    wchar_t host[256] = {};
    wchar_t path[1024] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = 255;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 1023;
    if (!::WinHttpCrackUrl(url, 0, 0, &parts)) return false;
    const wchar_t* name = std::wcsrchr(url, L'/');
    const std::wstring target = std::wstring(saveDir) + L"\\" + (name ? name + 1 : url);
    std::wcsncpy(localPath, target.c_str(), 255);

    velisk::UniqueInternetHandle session(
        ::WinHttpOpen(L"", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    velisk::UniqueInternetHandle connect(
        ::WinHttpConnect(session.get(), host, secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT, 0));
    velisk::UniqueInternetHandle request(::WinHttpOpenRequest(connect.get(), L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                                              WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                              secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request ||
        !::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !::WinHttpReceiveResponse(request.get(), nullptr)) {
        return false;
    }
    velisk::UniqueFileHandle file(
        ::CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return false;
    std::string buffer(0x200000, '\0');
    for (;;) {
        DWORD got = 0;
        DWORD written = 0;
        if (!::WinHttpReadData(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got)) return false;
        if (got == 0) return true;
        if (!::WriteFile(file.get(), buffer.data(), got, &written, nullptr)) return false;
    }
}

uint64_t FileSize(const wchar_t* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: download_bench URL SAVE_DIR [--secure] [--no-log]\n");
        return 2;
    }
    bool secure = false;
    bool log = true;
    bool plain = false;
    for (int i = 3; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--secure") == 0) secure = true;
        if (std::wcscmp(argv[i], L"--no-log") == 0) log = false;
        if (std::wcscmp(argv[i], L"--plain-winhttp") == 0) plain = true;
    }
    if (log) {
        InitLogging("download_bench", "download_bench");
    } else {
        google::InitGoogleLogging("download_bench");
        FLAGS_stderrthreshold = google::GLOG_FATAL;
        for (int s = google::GLOG_INFO; s <= google::GLOG_FATAL; ++s) google::SetLogDestination(s, "");
    }

    wchar_t localPath[256] = {};
    HttpDownloadRequest request = {};
    request.url = argv[1];
    request.saveDir = argv[2];
    request.localPath = localPath;
    request.timeout = 10000;
    request.secure = secure ? 1 : 0;

    double user0, kernel0, user1, kernel1;
    ProcessCpuMs(&user0, &kernel0);
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    const bool ok = plain ? PlainWinHttpDownload(argv[1], argv[2], secure, localPath) : HttpDownload(request);
    ::QueryPerformanceCounter(&end);
    ProcessCpuMs(&user1, &kernel1);
    google::ShutdownGoogleLogging();

    const double wallMs = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                          static_cast<double>(frequency.QuadPart);
    std::printf("ok=%d bytes=%llu wall_ms=%.1f user_ms=%.1f kernel_ms=%.1f\n", ok ? 1 : 0,
                static_cast<unsigned long long>(FileSize(localPath)), wallMs, user1 - user0, kernel1 - kernel0);
    return ok ? 0 : 1;
}
