// minizip file functions that take wide-string paths, so archives in folders
// with names outside the ANSI code page can be opened.
#pragma once

#include <ioapi.h>

// Fills `table` for unzOpen2. The "file name" that minizip hands to the open
// function must then be a pointer to a NUL-terminated wide string, passed
// through unzOpen2's narrow path argument. Files are opened shared with
// every other opener.
void FillWideFileFunctions(zlib_filefunc_def* table);
