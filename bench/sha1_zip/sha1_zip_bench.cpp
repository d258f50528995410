// Times the engine's file readers over a list of files (one Windows path per
// line, UTF-8) and prints "seconds=<wall> cpu=<user+kernel> bytes=<n> failures=<k>"
// (log lines off, as in a quiet run):
//
//   sha1_zip_bench hash    LIST          CalFileSHA1 over every file
//   sha1_zip_bench memhash LIST          Boost's SHA-1 over the same bytes, read
//                                        into memory first (reading untimed)
//   sha1_zip_bench cngmem  LIST          the same with the CNG SHA-1 that
//                                        CalFileSHA1 uses (its bound)
//   sha1_zip_bench unzip   LIST DEST     ExtractZip of every archive into DEST
#include <windows.h>

#include <glog/logging.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/file_sha1.h"
#include "engine/sha1_hasher.h"
#include "engine/zip_extract.h"
#include "velisk/handles.h"

namespace {

constexpr size_t kBlock = 4194304;
constexpr size_t kMemoryBatch = 512u * 1024 * 1024;  // bytes held in memory at once

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string ReadWhole(const std::wstring& path) {
    velisk::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size)) return {};
    std::string data(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < data.size()) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(data.size() - done < kBlock ? data.size() - done : kBlock);
        if (!::ReadFile(file.get(), data.data() + done, want, &got, nullptr) || got == 0) return {};
        done += got;
    }
    return data;
}

std::vector<std::wstring> ReadList(const std::wstring& listPath) {
    std::vector<std::wstring> paths;
    const std::string text = ReadWhole(listPath);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) paths.push_back(FromUtf8(line));
        start = end + 1;
    }
    return paths;
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 1e7;
}

double WallSeconds() {
    LARGE_INTEGER now{}, frequency{};
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Wall and CPU time accumulated over the timed sections.
struct Timing {
    double wall = 0;
    double cpu = 0;
};

template <typename Work>
void Timed(Timing& timing, Work work) {
    const double wall = WallSeconds();
    const double cpu = ProcessCpuSeconds();
    work();
    timing.wall += WallSeconds() - wall;
    timing.cpu += ProcessCpuSeconds() - cpu;
}

unsigned long long FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int Report(const Timing& timing, unsigned long long bytes, int failures) {
    std::printf("seconds=%.6f cpu=%.6f bytes=%llu failures=%d\n", timing.wall, timing.cpu, bytes, failures);
    return failures == 0 ? 0 : 1;
}

int HashFiles(const std::vector<std::wstring>& paths) {
    int failures = 0;
    Timing timing;
    Timed(timing, [&] {
        for (const auto& path : paths) {
            unsigned char digest[kFileDigestBytes];
            if (!CalFileSHA1(path, digest)) ++failures;
        }
    });
    unsigned long long bytes = 0;
    for (const auto& path : paths) bytes += FileSize(path);
    return Report(timing, bytes, failures);
}

int HashFromMemory(const std::vector<std::wstring>& paths, Sha1Hasher& hasher) {
    unsigned long long bytes = 0;
    int failures = 0;
    Timing timing;
    for (size_t next = 0; next < paths.size();) {
        std::vector<std::string> batch;  // read untimed, up to kMemoryBatch bytes
        size_t held = 0;
        while (next < paths.size() && (batch.empty() || held < kMemoryBatch)) {
            batch.push_back(ReadWhole(paths[next++]));
            held += batch.back().size();
        }
        Timed(timing, [&] {
            for (const auto& data : batch) {
                const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
                bool ok = hasher.Begin();
                for (size_t at = 0; ok && at < data.size(); at += kBlock) {
                    ok = hasher.Add(bytes + at, data.size() - at < kBlock ? data.size() - at : kBlock);
                }
                unsigned char digest[kFileDigestBytes];
                if (!ok || !hasher.Finish(digest)) ++failures;
            }
        });
        bytes += held;
    }
    return Report(timing, bytes, failures);
}

int Unzip(const std::vector<std::wstring>& archives, const std::wstring& dest) {
    int failures = 0;
    Timing timing;
    Timed(timing, [&] {
        for (const auto& archive : archives) {
            if (!ExtractZip(dest, archive)) ++failures;
        }
    });
    unsigned long long bytes = 0;
    for (const auto& archive : archives) bytes += FileSize(archive);
    return Report(timing, bytes, failures);
}

}  // namespace

int main() {
    // Log lines are off, as in a quiet run (and as in the pipeline benchmark).
    google::InitGoogleLogging("sha1_zip_bench");
    FLAGS_minloglevel = google::GLOG_FATAL;
    for (int severity = google::GLOG_INFO; severity <= google::GLOG_FATAL; ++severity) {
        google::SetLogDestination(severity, "");
    }
    const velisk::ArgumentList args(::GetCommandLineW());
    const std::wstring mode = args[1];
    const std::vector<std::wstring> paths = ReadList(args[2]);
    if (mode == L"hash") return HashFiles(paths);
    if (mode == L"memhash") return HashFromMemory(paths, *MakeBoostSha1Hasher());
    if (mode == L"cngmem") {
        const auto cng = MakeCngSha1Hasher();
        if (!cng) {
            std::fprintf(stderr, "CNG SHA-1 cannot be opened\n");
            return 1;
        }
        return HashFromMemory(paths, *cng);
    }
    if (mode == L"unzip" && args.count() > 3) return Unzip(paths, args[3]);
    std::fprintf(stderr, "usage: sha1_zip_bench hash|memhash|cngmem LIST | unzip LIST DEST\n");
    return 2;
}
