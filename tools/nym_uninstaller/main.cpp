// Stand-in for the uninstaller application. Each start appends one line to
// "NymUninstaller.calls.txt" beside the program: the parameters of its command
// line (everything after the program's own name), as UTF-8, ending in "\n".
// The whole line goes out in one append, so starts that overlap each leave
// their own complete line. Exit code 0 when the line was written, 1 otherwise.
#include <windows.h>

#include <string>

#include "velisk/handles.h"

namespace {

// The command line without its first token (the program name, quoted or not)
// and the blanks after it.
const wchar_t* SkipProgramName(const wchar_t* commandLine) {
    const wchar_t* p = commandLine;
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p != L'"') ++p;
        if (*p == L'"') ++p;
    } else {
        while (*p != L'\0' && *p != L' ' && *p != L'\t') ++p;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

std::wstring RecordPath() {
    std::wstring self(32768, L'\0');
    const DWORD n = ::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    self.resize(n);
    const size_t cut = self.find_last_of(L"\\/");
    return (cut == std::wstring::npos ? std::wstring() : self.substr(0, cut + 1)) + L"NymUninstaller.calls.txt";
}

std::string ToUtf8(const wchar_t* text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(static_cast<size_t>(n - 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const std::string line = ToUtf8(SkipProgramName(::GetCommandLineW())) + "\n";
    velisk::UniqueFileHandle file(::CreateFileW(RecordPath().c_str(), FILE_APPEND_DATA,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 1;
    DWORD written = 0;
    const bool ok = ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                    written == line.size();
    return ok ? 0 : 1;
}
