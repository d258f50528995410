#include "app/skin_scrollbar.h"

// The skinned frame is not built yet: the window keeps its standard bar.
CSkinScrollWnd* AttachSkinScrollBars(HWND window, HBITMAP skin) { return nullptr; }

void DetachSkinScrollBars(HWND window) {}
