// Skinned scroll bars for a window (the notes edit): a frame takes the
// window's place and draws its scroll bars from a skin bitmap of 9 x 3
// square cells.
#pragma once

#include <windows.h>

class CSkinScrollWnd;

// Wraps `window` in a skinned scroll frame drawn from `skin`. Returns the
// frame (it deletes itself when the window is destroyed), or null.
CSkinScrollWnd* AttachSkinScrollBars(HWND window, HBITMAP skin);

// Undoes AttachSkinScrollBars for `window`; does nothing when not attached.
void DetachSkinScrollBars(HWND window);
