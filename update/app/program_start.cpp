// Program starts by full path.
#include "app/program_start.h"

#include <vector>

#include "diag/command_line_quote.h"
#include "diag/text_format.h"
#include "diag/unit_log.h"
#include "velisk/handles.h"

namespace {

constexpr DWORD kLongPathChars = 32768;

}  // namespace

std::wstring UpdateProgramPath() {
    std::vector<wchar_t> path(kLongPathChars, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), kLongPathChars);
    if (length == 0 || length >= kLongPathChars) return L"";
    return std::wstring(path.data(), length);
}

std::wstring UpdateProgramFolder() {
    std::wstring folder = UpdateProgramPath();
    const size_t cut = folder.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return L"";
    folder.resize(cut);
    return folder;
}

std::wstring SystemProgramPath(const wchar_t* exeName) {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return L"";
    std::wstring path(folder, length);
    if (path.back() != L'\\') path += L'\\';
    return path + exeName;
}

bool StartHiddenProgram(const std::wstring& exePath, const std::wstring& arguments, const HiddenStart& how) {
    std::wstring commandLine = QuoteArgument(exePath);
    if (!arguments.empty()) commandLine += L" " + arguments;
    if (exePath.empty() || commandLine.size() > how.maxCommandChars) {
        UPDATEDLG_LOG(WARNING) << "program not started, command line too long or no program: " << WideToUtf8Log(exePath);
        return false;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | (how.noStandardHandles ? STARTF_USESTDHANDLES : 0);
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
        UPDATEDLG_LOG(WARNING) << "program not started, error " << ::GetLastError() << ": " << WideToUtf8Log(exePath);
        return false;
    }
    velisk::UniqueKernelHandle process(info.hProcess);
    velisk::UniqueKernelHandle thread(info.hThread);
    UPDATEDLG_LOG(INFO) << "started: " << WideToUtf8Log(commandLine);
    if (how.waitMs != 0) ::WaitForSingleObject(process.get(), how.waitMs);
    return true;
}
