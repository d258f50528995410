// Shared by the stand-ins of outside programs: appends one line describing
// how this process was started to "<own exe path>.record", so tests can read
// back which program was started, from where and with which command line.
#pragma once

#include <windows.h>

#include <string>

namespace standin {

// Appends "pid=<id>\tcwd=<folder>\tcmd=<command line>\r\n" (UTF-8) to the
// record file beside the executable. Returns false when it cannot write.
bool AppendStartRecord();

}  // namespace standin
