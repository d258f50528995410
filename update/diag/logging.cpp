#include "diag/logging.h"

#include <windows.h>

#include <boost/filesystem.hpp>
#include <glog/logging.h>

#include <cstdio>

#include "diag/text_format.h"
#include "diag/utf8.h"

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
        char folderUtf8[768];
        WideToUtf8(folder.c_str(), static_cast<int>(folder.size()), folderUtf8, sizeof(folderUtf8));
        for (int severity = google::GLOG_INFO; severity <= google::GLOG_FATAL; ++severity) {
            char baseName[768] = {};
            std::snprintf(baseName, sizeof(baseName), kFormats[severity], folderUtf8, logName);
            const std::string fileName = std::string(baseName) + ".log";
            const boost::filesystem::path file(DecodeUtf8(fileName.data(), fileName.size()));
            if (boost::filesystem::exists(file)) boost::filesystem::remove(file);
            google::SetLogDestination(severity, baseName);
        }
    } catch (...) {
        // Logging never stops the program; later severities keep glog's defaults.
    }
}
