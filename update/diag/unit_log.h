// Log lines name the source unit they belong to, not the file that writes
// them: every file of the engine logs as "updater", the dialog with its
// worker, chores and process control as "UpdateDlg", and so on. Logs then
// read the same whatever the project's file layout, and each line still
// carries the real line number of the statement that wrote it.
#pragma once

#include <glog/logging.h>

// The unit names as they appear in a line's prefix ("<unit>.cpp:<line>]").
namespace log_unit {
inline constexpr char kUpdater[] = "updater.cpp";
inline constexpr char kUpdateDlg[] = "UpdateDlg.cpp";
inline constexpr char kHttpDownload[] = "httpdownload.cpp";
inline constexpr char kFileSha1[] = "FileSHA1.cpp";
inline constexpr char kCrashReporter[] = "CrashReporter.cpp";
inline constexpr char kDatabase[] = "database.cpp";
}  // namespace log_unit

// A glog stream whose line names `unit` (one of log_unit's names) as its
// source file, for the severities INFO, WARNING and ERROR.
#define VELISK_UNIT_LOG(unit, severity) \
    google::LogMessage(::log_unit::unit, __LINE__, google::GLOG_##severity).stream()

#define UPDATER_LOG(severity) VELISK_UNIT_LOG(kUpdater, severity)
#define UPDATEDLG_LOG(severity) VELISK_UNIT_LOG(kUpdateDlg, severity)
#define HTTPDOWNLOAD_LOG(severity) VELISK_UNIT_LOG(kHttpDownload, severity)
#define FILESHA1_LOG(severity) VELISK_UNIT_LOG(kFileSha1, severity)
#define CRASHREPORTER_LOG(severity) VELISK_UNIT_LOG(kCrashReporter, severity)
#define DATABASE_LOG(severity) VELISK_UNIT_LOG(kDatabase, severity)
