#include <windows.h>

#include "app/update_app.h"

namespace {
CUpdateApp theApp;
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return theApp.Run(instance); }
