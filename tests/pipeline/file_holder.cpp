// Stand-in for a process that keeps an installed file open: opens the file
// named by its argument for reading and writing without sharing, then waits
// until it is ended. Exit code 2 when the file cannot be opened.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 1;
    HANDLE file = ::CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    ::Sleep(INFINITE);
    ::CloseHandle(file);
    return 0;
}
