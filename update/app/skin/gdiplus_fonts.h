// GDI+ fonts that always draw: a face this system lacks is replaced.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>

// A GDI+ font of `face`, `pixels` high, in `style` (Gdiplus::FontStyle
// flags). Where this system lacks the face, the face of the font selected
// into `dc` at that size and style takes its place, so text always shows.
std::unique_ptr<Gdiplus::Font> MakeFont(HDC dc, const wchar_t* face, float pixels, INT style);
