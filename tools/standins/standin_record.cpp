#include "standin_record.h"

#include <string>

#include "velisk/handles.h"
#include "velisk/wide_text.h"

namespace standin {

bool AppendStartRecord() {
    wchar_t exe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    wchar_t cwd[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, cwd);
    const std::string line = "pid=" + std::to_string(::GetCurrentProcessId()) + "\tcwd=" + velisk::ToUtf8(cwd) +
                             "\tcmd=" + velisk::ToUtf8(::GetCommandLineW()) + "\r\n";
    const std::wstring recordPath = std::wstring(exe) + L".record";
    // Several starts may race: open for append, shared, and retry briefly.
    for (int attempt = 0; attempt < 50; ++attempt) {
        velisk::UniqueFileHandle file(::CreateFileW(recordPath.c_str(), FILE_APPEND_DATA,
                                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            DWORD written = 0;
            return ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                   written == line.size();
        }
        ::Sleep(20);
    }
    return false;
}

}  // namespace standin
