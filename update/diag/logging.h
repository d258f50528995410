// Log files of the updater: one glog file per severity in
// %TEMP%\VeliskUpdateLog, named exactly <logName>_<severity>.log.
#pragma once

#include <string>

// Sets glog up once, on the main thread, before any other thread starts:
// creates the log folder (with missing parents), removes the previous run's
// file of each severity and points each severity at its file. File mode 0600.
// Failures of the folder or file operations are swallowed; the severities not
// yet set then keep glog's default destinations. Never stops the program.
void InitLogging(const char* programName, const char* logName);

// The log folder: GetTempPathW + "VeliskUpdateLog" (no trailing separator).
std::wstring LogFolderPath();

// The name under which glog, which opens files with the C runtime's narrow
// (ANSI code page) functions, reaches `folder`: the folder in the ANSI code
// page when every letter has an exact form there, else its short (8.3) name
// in that code page, else UTF-8 as the last resort.
std::string LogFolderForGlog(const std::wstring& folder);
