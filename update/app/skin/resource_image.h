// GDI+ images from this program's resources.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

// Loads the resource `id` of `type` (for example L"PNG") from this module as
// a GDI+ image. The image owns a stream over a copy of the resource bytes, so
// it stays valid on its own; delete it when done. False when the resource is
// missing or cannot be decoded (*image is then null).
bool LoadImageFromResource(UINT id, const wchar_t* type, Gdiplus::Image** image);
