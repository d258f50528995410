// GDI drawing from the scroll-bar skin: whole cells and cell strips tiled
// along a bar's axis.
#pragma once

#include <windows.h>

#include "app/skin/scroll_geometry.h"
#include "velisk/handles.h"

// Size of one skin cell: width = bitmap width / 9, height = bitmap height / 3.
struct SkinCellSize {
    int width = 0;
    int height = 0;
};

// The cell size of `skin`; {0, 0} when it is not a usable bitmap.
SkinCellSize MeasureSkin(HBITMAP skin);

// Draws parts of `skin` onto `target` for the duration of one paint. The skin
// is selected into a memory device context that the painter releases.
class SkinPainter {
public:
    SkinPainter(HDC target, HBITMAP skin);
    ~SkinPainter();
    SkinPainter(const SkinPainter&) = delete;
    SkinPainter& operator=(const SkinPainter&) = delete;

    // False when the skin could not be selected (nothing is drawn then).
    bool ready() const { return m_old != nullptr; }

    // Copies `cell` into `rect`, stretched when the sizes differ.
    void DrawCell(const RECT& rect, SkinCell cell);

    // Fills `length` pixels along a bar's axis from `start` (the bar is
    // `thickness` pixels across; vertical bars run along y) with the strip
    // [from, from + span) of `cell` along the axis, repeated; across the axis
    // the cell is stretched to the thickness.
    void Tile(bool vertical, int thickness, int start, int length, SkinCell cell, int from, int span);

    SkinCellSize cellSize() const { return m_size; }

private:
    void Copy(int x, int y, int w, int h, int sx, int sy, int sw, int sh);

    HDC m_target;
    SkinCellSize m_size;
    velisk::UniqueMemoryDc m_dc;
    HGDIOBJ m_old = nullptr;
};
