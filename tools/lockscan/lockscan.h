// Lockscan.dll: finds the processes that hold a file open and, when asked,
// frees the file by asking them to close and, failing that, ending them.
// The updater imports it at load time (import library from lockscan.def).
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Room the caller gives for process ids (no capacity is passed).
#define LOCKSCAN_MAX_PROCESS_IDS 1024

// Lists the processes that hold the file `path` open (Restart Manager) and
// writes at most LOCKSCAN_MAX_PROCESS_IDS of their ids into `processIds` and
// their number into `*count` (0 when none was found).
//   askToClose    non-zero: every top-level window of each holder gets
//                 WM_CLOSE, then the call waits up to `waitMs` for the
//                 holders to end.
//   endProcesses  non-zero: holders still running after that are ended
//                 (TerminateProcess), with a further wait of up to `waitMs`.
//   waitMs        the longest each wait lasts, in milliseconds (<= 0: none).
// The calling process and processes that the Restart Manager reports as
// critical are listed but never asked to close or ended. A reported process
// whose id has since been reused (its start time differs) is left alone.
// Returns non-zero when the file can now be opened for writing without
// sharing, so another copy is worth trying; 0 otherwise, and 0 when `path`,
// `processIds` or `count` is null. The updater passes 1, 1, 10000.
int __cdecl GetLockedFileInfo(const wchar_t* path, DWORD* processIds, int* count, int askToClose,
                              int endProcesses, int waitMs);

#ifdef __cplusplus
}
#endif
