#include "diag/logging.h"

#include <windows.h>

#include <boost/filesystem.hpp>
#include <glog/logging.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "diag/text_format.h"
#include "diag/utf8.h"

namespace {

// `text` in the narrow (ANSI) code page, or empty when some character has no
// exact form there.
std::string ToAnsiExactly(const std::wstring& text) {
    if (text.empty()) return {};
    BOOL lossy = FALSE;
    const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, &lossy);
    if (size <= 0 || lossy) return {};
    std::string narrow(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), static_cast<int>(text.size()), narrow.data(),
                          size, nullptr, &lossy);
    return lossy ? std::string() : narrow;
}

}  // namespace

std::string LogFolderForGlog(const std::wstring& folder) {
    // glog opens its files with the C runtime's narrow functions, which read
    // a name in the ANSI code page: a UTF-8 name with Chinese letters would
    // name some other file. The folder is handed over in that code page, or
    // as its short (8.3) form when its letters have none there.
    std::string narrow = ToAnsiExactly(folder);
    if (!narrow.empty()) return narrow;
    wchar_t shortPath[768] = {};
    const DWORD length = ::GetShortPathNameW(folder.c_str(), shortPath, 768);
    if (length > 0 && length < 768) {
        narrow = ToAnsiExactly(std::wstring(shortPath, length));
        if (!narrow.empty()) return narrow;
    }
    char utf8[768];
    WideToUtf8(folder.c_str(), static_cast<int>(folder.size()), utf8, sizeof(utf8));
    return utf8;
}

std::wstring LogFolderPath() {
    wchar_t temp[768] = {};
    ::GetTempPathW(768, temp);
    return std::wstring(temp) + L"VeliskUpdateLog";
}

void InitLogging(const char* programName, const char* logName) {
    const std::wstring folder = LogFolderPath();
    google::InitGoogleLogging(programName);
    FLAGS_logfile_mode = 0600;
    google::SetLogFilenameExtension(".log");

    static const char* const kFormats[] = {"%s\\%s_info", "%s\\%s_warning", "%s\\%s_error",
                                           "%s\\%s_fatal"};
    try {
        if (!boost::filesystem::exists(boost::filesystem::path(folder))) {
            boost::filesystem::create_directories(boost::filesystem::path(folder));
        }
        const std::string glogFolder = LogFolderForGlog(folder);
        static const wchar_t* const kSuffixes[] = {L"_info.log", L"_warning.log", L"_error.log", L"_fatal.log"};
        const std::wstring wideLogName = DecodeUtf8(logName, std::strlen(logName));
        for (int severity = google::GLOG_INFO; severity <= google::GLOG_FATAL; ++severity) {
            char baseName[768] = {};
            std::snprintf(baseName, sizeof(baseName), kFormats[severity], glogFolder.c_str(), logName);
            const boost::filesystem::path file(folder + L"\\" + wideLogName + kSuffixes[severity]);
            if (boost::filesystem::exists(file)) boost::filesystem::remove(file);
            google::SetLogDestination(severity, baseName);
        }
    } catch (...) {
        // Logging never stops the program; later severities keep glog's defaults.
    }
}
