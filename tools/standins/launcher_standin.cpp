// Stand-in for the client's launcher (zuZavozeVororiz.exe): records how it
// was started and exits.
#include <windows.h>

#include "standin_record.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return standin::AppendStartRecord() ? 0 : 1;
}
