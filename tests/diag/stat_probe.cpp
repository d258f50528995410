// Sends one statistics point from a fresh process, so a test controls whether
// and how the run's context was loaded first.
//
//   stat_probe.exe --result FILE --name POINT [--installed INI] [--new INI]
//                  [--string KEY=VALUE]... [--int KEY=VALUE]...
//
// LoadStatContext runs only when --installed or --new is given (the other
// path is then null). FILE receives "load=<0|1|->" and "send=<0|1>" lines.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "diag/statistics.h"
#include "diag/utf8.h"

int wmain(int argc, wchar_t** argv) {
    std::wstring result, name, installed, fresh;
    std::vector<std::pair<std::wstring, std::wstring>> strings, ints;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring option = argv[i];
        const std::wstring value = argv[i + 1];
        const size_t eq = value.find(L'=');
        if (option == L"--result") result = value;
        if (option == L"--name") name = value;
        if (option == L"--installed") installed = value;
        if (option == L"--new") fresh = value;
        if (option == L"--string" && eq != std::wstring::npos) strings.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        if (option == L"--int" && eq != std::wstring::npos) ints.emplace_back(value.substr(0, eq), value.substr(eq + 1));
    }
    char load = '-';
    if (!installed.empty() || !fresh.empty()) {
        const bool loaded =
            LoadStatContext(installed.empty() ? nullptr : installed.c_str(), fresh.empty() ? nullptr : fresh.c_str());
        load = loaded ? '1' : '0';
    }
    StatPoint point(EncodeUtf8(name).c_str());
    for (const auto& [key, value] : strings) point.AddString(EncodeUtf8(key).c_str(), value);
    for (const auto& [key, value] : ints) point.AddInt(EncodeUtf8(key).c_str(), std::wcstol(value.c_str(), nullptr, 10));
    const bool sent = point.Send();

    FILE* out = _wfopen(result.c_str(), L"wb");
    if (out == nullptr) return 2;
    std::fprintf(out, "load=%c\nsend=%d\n", load, sent ? 1 : 0);
    std::fclose(out);
    return 0;
}
