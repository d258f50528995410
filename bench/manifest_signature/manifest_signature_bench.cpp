// Times the manifest step's local parts for one signed manifest archive and
// prints "unpack_us=<best> check_us=<best> ok=<0|1>":
//
//   manifest_signature_bench ARCHIVE WORKDIR INSTALLED_INI REPEAT
//
// unpack: ExtractNamedFiles of the archive (the manifest and its signature)
// into WORKDIR; check: AuthenticateManifest of the unpacked manifest (reading
// both files, SHA-256, ECDSA verification with CNG, the version query).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>

#include "engine/manifest_authentication.h"
#include "engine/manifest_keys.h"
#include "engine/plain_paths.h"
#include "engine/sqlite_db.h"
#include "engine/zip_extract.h"

namespace {

double Now() {
    LARGE_INTEGER counter{}, frequency{};
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

}  // namespace

// The version that run.sh writes into every manifest it signs.
constexpr int kReleaseVersion = 2;

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: manifest_signature_bench ARCHIVE WORKDIR INSTALLED_INI REPEAT\n");
        return 2;
    }
    const std::wstring archive = argv[1];
    std::wstring work = argv[2];
    if (work.back() != L'\\') work += L'\\';
    const std::wstring ini = argv[3];
    const int repeat = std::wcstol(argv[4], nullptr, 10);
    double bestUnpack = 1e30, bestCheck = 1e30;
    bool ok = true;
    for (int i = 0; i < repeat; ++i) {
        ::DeleteFileW((work + L"ProgramConfig.zdb").c_str());
        ::DeleteFileW((work + L"ProgramConfig.zdb.sig").c_str());
        const double start = Now();
        ok = ExtractNamedFiles(work, archive, {L"ProgramConfig.zdb", L"ProgramConfig.zdb.sig"}) && ok;
        const double unpacked = Now();
        const std::optional<std::string> manifest = ReadFileLimited(work + L"ProgramConfig.zdb", kMaxDatabaseBytes);
        ok = manifest &&
             AuthenticateManifest(*manifest, work + L"ProgramConfig.zdb", ini, kReleaseVersion, TrustedManifestKeys()) &&
             ok;
        const double checked = Now();
        if (unpacked - start < bestUnpack) bestUnpack = unpacked - start;
        if (checked - unpacked < bestCheck) bestCheck = checked - unpacked;
    }
    std::printf("unpack_us=%.0f check_us=%.0f ok=%d\n", bestUnpack, bestCheck, ok ? 1 : 0);
    return ok ? 0 : 1;
}
