#include "app/skin/painter.h"

#include <algorithm>

SkinCellSize MeasureSkin(HBITMAP skin) {
    BITMAP info = {};
    if (skin == nullptr || ::GetObjectW(skin, sizeof(info), &info) != sizeof(info)) return {};
    return {info.bmWidth / 9, std::abs(info.bmHeight) / 3};
}

SkinPainter::SkinPainter(HDC target, HBITMAP skin) : m_target(target), m_size(MeasureSkin(skin)) {
    if (m_size.width <= 0 || m_size.height <= 0) return;
    m_dc.reset(::CreateCompatibleDC(target));
    if (!m_dc) return;
    m_old = ::SelectObject(m_dc.get(), skin);
    if (m_old == HGDI_ERROR) m_old = nullptr;
    ::SetStretchBltMode(m_target, COLORONCOLOR);
}

SkinPainter::~SkinPainter() {
    if (m_old != nullptr) ::SelectObject(m_dc.get(), m_old);
}

void SkinPainter::Copy(int x, int y, int w, int h, int sx, int sy, int sw, int sh) {
    if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0) return;
    if (w == sw && h == sh) {
        ::BitBlt(m_target, x, y, w, h, m_dc.get(), sx, sy, SRCCOPY);
    } else {
        ::StretchBlt(m_target, x, y, w, h, m_dc.get(), sx, sy, sw, sh, SRCCOPY);
    }
}

void SkinPainter::DrawCell(const RECT& rect, SkinCell cell) {
    if (!ready()) return;
    Copy(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, cell.column * m_size.width,
         cell.row * m_size.height, m_size.width, m_size.height);
}

void SkinPainter::Tile(bool vertical, int thickness, int start, int length, SkinCell cell, int from, int span) {
    if (!ready() || span <= 0) return;
    const int cellX = cell.column * m_size.width;
    const int cellY = cell.row * m_size.height;
    for (int done = 0; done < length; done += span) {
        const int piece = std::min(span, length - done);
        if (vertical) {
            Copy(0, start + done, thickness, piece, cellX, cellY + from, m_size.width, piece);
        } else {
            Copy(start + done, 0, piece, thickness, cellX + from, cellY, piece, m_size.height);
        }
    }
}
