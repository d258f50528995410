// Loads one library from a fresh process and reports which files ended up
// loaded, so each test starts with nothing of the fixtures in the process.
//
//   loader_probe.exe --result FILE [--cwd DIR] [--preload NAME] [--plain]
//                    [--no-call] [--folder DIR]... PATH
//
// --cwd sets the current folder first; --preload loads NAME with LoadLibraryW
// first; --plain loads PATH with LoadLibraryW instead of
// LoadLibraryWithDependencies; --folder (repeatable) uses the form with search
// folders; --no-call leaves the marker functions uncalled (for images whose
// code cannot run). FILE receives UTF-8 lines:
//   handle=<0|1>
//   marker=<answer of the first fixture marker function found, or ->
//   <module name>=<full path of that loaded module, or empty>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "diag/library_loader.h"
#include "diag/utf8.h"

namespace {

constexpr const char* kMarkers[] = {"LoaderChainMarker", "LoaderTopMarker", "LoaderDepMarker", "LoaderCycleA",
                                    "LoaderCycleB"};
constexpr const wchar_t* kModules[] = {L"loader_dep.dll", L"loader_top.dll", L"loader_chain.dll",
                                       L"loader_cycle_a.dll", L"loader_cycle_b.dll"};

std::string ModulePath(const wchar_t* name) {
    HMODULE module = ::GetModuleHandleW(name);
    if (module == nullptr) return {};
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(module, path, MAX_PATH);
    return EncodeUtf8(path);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring result, cwd, preload, path;
    bool plain = false;
    bool call = true;
    std::vector<std::wstring> folders;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--result" && hasValue) {
            result = argv[++i];
        } else if (arg == L"--cwd" && hasValue) {
            cwd = argv[++i];
        } else if (arg == L"--preload" && hasValue) {
            preload = argv[++i];
        } else if (arg == L"--folder" && hasValue) {
            folders.push_back(argv[++i]);
        } else if (arg == L"--plain") {
            plain = true;
        } else if (arg == L"--no-call") {
            call = false;
        } else {
            path = arg;
        }
    }
    if (!cwd.empty()) ::SetCurrentDirectoryW(cwd.c_str());
    if (!preload.empty()) ::LoadLibraryW(preload.c_str());

    HMODULE module;
    if (plain) {
        module = ::LoadLibraryW(path.c_str());
    } else if (!folders.empty()) {
        std::vector<const wchar_t*> list;
        for (const auto& f : folders) list.push_back(f.c_str());
        module = LoadLibraryWithDependencies(path.c_str(), list.data(), static_cast<int>(list.size()));
    } else {
        module = LoadLibraryWithDependencies(path.c_str());
    }

    std::string marker = "-";
    for (const char* name : kMarkers) {
        auto fn = module && call ? reinterpret_cast<int (*)()>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
                         : nullptr;
        if (fn != nullptr) {
            marker = std::to_string(fn());
            break;
        }
    }
    FILE* out = _wfopen(result.c_str(), L"wb");
    if (out == nullptr) return 2;
    std::fprintf(out, "handle=%d\nmarker=%s\n", module ? 1 : 0, marker.c_str());
    for (const wchar_t* name : kModules) {
        std::fprintf(out, "%s=%s\n", EncodeUtf8(name).c_str(), ModulePath(name).c_str());
    }
    std::fclose(out);
    return 0;
}
