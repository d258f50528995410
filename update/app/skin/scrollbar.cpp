#include "app/skin/scrollbar.h"

#include <windowsx.h>

#include <algorithm>

#include "app/skin/painter.h"
#include "velisk/handles.h"

namespace {

constexpr int kThumbEnd = 3;  // pixels at each end of the thumb taken unscaled from the cell

bool IsArrow(int part) { return part == kScrollPartLineUp || part == kScrollPartLineDown; }

}  // namespace

CSkinScrollBar::CSkinScrollBar() {
    m_info.cbSize = sizeof(m_info);
    m_info.nTrackPos = -1;
}

bool CSkinScrollBar::Attach(UINT id, fw::CWnd* parent, HBITMAP skin) {
    if (!SubclassDlgItem(id, parent)) return false;
    SetSkin(skin);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    m_length = IsVertical() ? client.bottom : client.right;
    return true;
}

void CSkinScrollBar::SetSkin(HBITMAP skin) {
    m_skin = skin;
    const SkinCellSize size = MeasureSkin(skin);
    if (size.width > 0 && size.height > 0) {
        m_cell = size.width;
        m_cellHeight = size.height;
    }
}

bool CSkinScrollBar::IsVertical() const { return (GetStyle() & SBS_VERT) != 0; }

ScrollBarMetrics CSkinScrollBar::Metrics() const {
    return ComputeScrollBarMetrics(m_length, m_cell, m_info, m_dragging);
}

int CSkinScrollBar::AxisCoord(LPARAM point) const {
    return IsVertical() ? GET_Y_LPARAM(point) : GET_X_LPARAM(point);
}

LRESULT CSkinScrollBar::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case SBM_SETSCROLLINFO:
            return OnSetScrollInfo(static_cast<BOOL>(wp), reinterpret_cast<const SCROLLINFO*>(lp));
        case SBM_GETSCROLLINFO:
            return OnGetScrollInfo(reinterpret_cast<SCROLLINFO*>(lp));
        case WM_SIZE:
            m_length = IsVertical() ? HIWORD(lp) : LOWORD(lp);
            return 0;
        case WM_PAINT:
            Paint(fw::CPaintDC(m_hWnd));
            return 0;
        case WM_PRINTCLIENT:
            Paint(reinterpret_cast<HDC>(wp));
            return 0;
        case WM_ERASEBKGND:
            return TRUE;  // painting covers the whole bar
        case WM_ENABLE:
            // The system bar would draw its own look here.
            Invalidate(FALSE);
            return 0;
        case WM_LBUTTONDOWN:
            OnLButtonDown(lp);
            return 0;
        case WM_LBUTTONDBLCLK:
            return 0;
        case WM_MOUSEMOVE:
            OnMouseMove(lp);
            return 0;
        case WM_LBUTTONUP:
            OnLButtonUp();
            return 0;
        case WM_CAPTURECHANGED:
            // Losing the mouse ends a press or drag as a release would.
            if (reinterpret_cast<HWND>(lp) != m_hWnd) OnLButtonUp();
            return 0;
        case WM_TIMER:
            if (wp == kFirstRepeatTimer || wp == kRepeatTimer) {
                OnTimer(wp);
                return 0;
            }
            break;
        case WM_MOUSELEAVE:
            OnMouseLeave();
            return 0;
        default:
            break;
    }
    return DefSubclassProc(msg, wp, lp);
}

LRESULT CSkinScrollBar::OnSetScrollInfo(BOOL redraw, const SCROLLINFO* info) {
    if (info == nullptr) return m_info.nPos;
    if (info->fMask & SIF_RANGE) {
        m_info.nMin = info->nMin;
        m_info.nMax = info->nMax;
    }
    if (info->fMask & SIF_PAGE) m_info.nPage = info->nPage;
    if (info->fMask & SIF_POS) m_info.nPos = info->nPos;
    if (info->fMask & SIF_TRACKPOS) m_info.nTrackPos = info->nTrackPos;
    if (redraw) RedrawNow();
    return m_info.nPos;
}

LRESULT CSkinScrollBar::OnGetScrollInfo(SCROLLINFO* info) const {
    if (info == nullptr) return FALSE;
    if (info->fMask & SIF_RANGE) {
        info->nMin = m_info.nMin;
        info->nMax = m_info.nMax;
    }
    if (info->fMask & SIF_PAGE) info->nPage = m_info.nPage;
    if (info->fMask & SIF_POS) info->nPos = m_info.nPos;
    if (info->fMask & SIF_TRACKPOS) info->nTrackPos = m_info.nTrackPos;
    return TRUE;
}

void CSkinScrollBar::OnLButtonDown(LPARAM point) {
    ::SetCapture(m_hWnd);
    const ScrollBarMetrics metrics = Metrics();
    const int coord = AxisCoord(point);
    const int part = ScrollHitTest(metrics, coord);
    m_hotPart = kScrollPartNone;
    if (part == kScrollPartThumb) {
        m_dragging = true;
        m_dragStart = {GET_X_LPARAM(point), GET_Y_LPARAM(point)};
        m_dragStartPos = m_info.nPos;
        m_info.nTrackPos = m_info.nPos;
        RedrawNow();
        return;
    }
    m_pressedPart = part;
    m_pointerOutside = false;
    m_pointerCoord = coord;
    SendScroll(part, 0);
    ::SetTimer(m_hWnd, kFirstRepeatTimer, kFirstRepeatMs, nullptr);
    m_repeating = true;
    RedrawNow();
}

void CSkinScrollBar::OnMouseMove(LPARAM point) {
    const int coord = AxisCoord(point);
    if (m_dragging) {
        const ScrollBarMetrics metrics = Metrics();
        const int delta = IsVertical() ? GET_Y_LPARAM(point) - m_dragStart.y : GET_X_LPARAM(point) - m_dragStart.x;
        const int pos = ScrollDragPosition(m_info, m_dragStartPos, delta, metrics.track, metrics.thumb);
        if (pos != m_info.nTrackPos) {
            m_info.nTrackPos = pos;
            RedrawNow();
            SendScroll(SB_THUMBTRACK, pos);
        }
        return;
    }
    if (m_pressedPart != kScrollPartNone) {
        m_pointerCoord = coord;
        const bool outside = ScrollHitTest(Metrics(), coord) != m_pressedPart;
        if (outside != m_pointerOutside) {
            m_pointerOutside = outside;
            if (IsArrow(m_pressedPart)) RedrawNow();
        }
        return;
    }
    if (!m_trackingLeave) {
        TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, m_hWnd, 0};
        m_trackingLeave = ::TrackMouseEvent(&track) != FALSE;
    }
    const int hot = ScrollHitTest(Metrics(), coord);
    if (hot != m_hotPart) {
        m_hotPart = hot;
        RedrawNow();
    }
}

void CSkinScrollBar::OnLButtonUp() {
    if (m_dragging) {
        m_dragging = false;
        const int pos = m_info.nTrackPos;
        SendScroll(SB_THUMBPOSITION, pos);
        m_info.nTrackPos = -1;
        RedrawNow();
    } else if (m_pressedPart != kScrollPartNone) {
        EndPress();
        RedrawNow();
    }
    if (::GetCapture() == m_hWnd) ::ReleaseCapture();
}

void CSkinScrollBar::EndPress() {
    ::KillTimer(m_hWnd, kFirstRepeatTimer);
    ::KillTimer(m_hWnd, kRepeatTimer);
    m_repeating = false;
    m_pressedPart = kScrollPartNone;
    m_pointerOutside = false;
}

void CSkinScrollBar::OnTimer(UINT_PTR id) {
    if (m_pressedPart == kScrollPartNone) {
        EndPress();
        return;
    }
    if (id == kFirstRepeatTimer) {
        ::KillTimer(m_hWnd, kFirstRepeatTimer);
        ::SetTimer(m_hWnd, kRepeatTimer, kRepeatMs, nullptr);
    }
    RepeatPressedPart();
}

void CSkinScrollBar::RepeatPressedPart() {
    if (m_pointerOutside) return;
    switch (m_pressedPart) {
        case kScrollPartLineUp:
            if (m_info.nPos <= m_info.nMin) return;
            break;
        case kScrollPartLineDown:
            if (m_info.nPos >= MaxScrollPosition(m_info)) return;
            break;
        default:
            // Paging stops once the thumb has reached the pointer.
            if (ScrollHitTest(Metrics(), m_pointerCoord) != m_pressedPart) return;
            break;
    }
    SendScroll(m_pressedPart, 0);
}

void CSkinScrollBar::OnMouseLeave() {
    m_trackingLeave = false;
    if (m_hotPart != kScrollPartNone) {
        m_hotPart = kScrollPartNone;
        RedrawNow();
    }
}

void CSkinScrollBar::SendScroll(int code, int pos) {
    ::SendMessageW(::GetParent(m_hWnd), IsVertical() ? WM_VSCROLL : WM_HSCROLL,
                   MAKEWPARAM(static_cast<WORD>(code), static_cast<WORD>(pos)), reinterpret_cast<LPARAM>(m_hWnd));
}

int CSkinScrollBar::RowOf(int part) const {
    if (part == kScrollPartThumb) {
        if (m_dragging) return kSkinRowPressed;
        return m_hotPart == kScrollPartThumb && m_pressedPart == kScrollPartNone ? kSkinRowHover : kSkinRowNormal;
    }
    if (!IsArrow(part)) return kSkinRowNormal;
    if (part == m_pressedPart) return m_pointerOutside ? kSkinRowNormal : kSkinRowPressed;
    if (part == m_hotPart && m_pressedPart == kScrollPartNone && !m_dragging) return kSkinRowHover;
    return kSkinRowNormal;
}

void CSkinScrollBar::RedrawNow() {
    if (m_hWnd == nullptr) return;
    HDC dc = ::GetDC(m_hWnd);
    if (dc == nullptr) return;
    Paint(dc);
    ::ReleaseDC(m_hWnd, dc);
}

void CSkinScrollBar::Paint(HDC dc) {
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    if (client.right <= 0 || client.bottom <= 0) return;
    // Drawn off-screen and copied in one go, so a redraw does not flicker.
    velisk::UniqueMemoryDc buffer(::CreateCompatibleDC(dc));
    velisk::UniqueGdiObject bitmap(::CreateCompatibleBitmap(dc, client.right, client.bottom));
    if (!buffer || !bitmap) return;
    HGDIOBJ oldBitmap = ::SelectObject(buffer.get(), bitmap.get());
    {
        SkinPainter painter(buffer.get(), m_skin);
        const bool vertical = IsVertical();
        const bool horizontal = !vertical;
        const int thickness = vertical ? client.right : client.bottom;
        const int along = vertical ? m_cellHeight : m_cell;  // cell pixels along the axis
        const ScrollBarMetrics m = Metrics();
        auto span = [&](int start, int length) {
            return vertical ? RECT{0, start, thickness, start + length} : RECT{start, 0, start + length, thickness};
        };
        // Arrows.
        painter.DrawCell(span(0, m.arrow),
                         ScrollSkinCell(kScrollPartLineUp, RowOf(kScrollPartLineUp), horizontal));
        const int secondArrow = m.arrow + m.track;
        painter.DrawCell(span(secondArrow, m.length - secondArrow),
                         ScrollSkinCell(kScrollPartLineDown, RowOf(kScrollPartLineDown), horizontal));
        // Track before and after the thumb.
        const SkinCell track = ScrollSkinCell(kScrollPartPageUp, kSkinRowNormal, horizontal);
        const int thumbStart = m.arrow + m.thumbOffset;
        painter.Tile(vertical, thickness, m.arrow, m.thumbOffset, track, 0, along);
        painter.Tile(vertical, thickness, thumbStart + m.thumb, secondArrow - thumbStart - m.thumb, track, 0, along);
        // Thumb: both ends from the cell's ends, the middle tiled.
        if (m.thumb > 0) {
            const SkinCell thumb = ScrollSkinCell(kScrollPartThumb, RowOf(kScrollPartThumb), horizontal);
            const int end = std::min(kThumbEnd, m.thumb / 2);
            painter.Tile(vertical, thickness, thumbStart, end, thumb, 0, end);
            painter.Tile(vertical, thickness, thumbStart + end, m.thumb - 2 * end, thumb, end, along - 2 * end);
            painter.Tile(vertical, thickness, thumbStart + m.thumb - end, end, thumb, along - end, end);
        }
    }
    ::BitBlt(dc, 0, 0, client.right, client.bottom, buffer.get(), 0, 0, SRCCOPY);
    ::SelectObject(buffer.get(), oldBitmap);
}
