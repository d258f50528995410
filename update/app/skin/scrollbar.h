// One skinned scroll bar: a scroll-bar control that draws itself from a skin
// bitmap of 9 x 3 square cells and handles the mouse itself (arrows with
// auto-repeat, page clicks, thumb drag, hover). It keeps its own scroll
// information and reports every action to its parent as WM_VSCROLL or
// WM_HSCROLL with the bar's window as lParam.
#pragma once

#include <windows.h>

#include "app/framework/wnd.h"
#include "app/skin/scroll_geometry.h"

class CSkinScrollBar : public fw::CWnd {
public:
    // Timers: the first auto-repeat delay and the repeat itself.
    static constexpr UINT_PTR kFirstRepeatTimer = 200;
    static constexpr UINT kFirstRepeatMs = 500;
    static constexpr UINT_PTR kRepeatTimer = 100;
    static constexpr UINT kRepeatMs = 100;

    CSkinScrollBar();

    // Binds the scroll-bar control `id` of `parent` and gives it `skin` (not
    // owned; it must outlive the bar). False when the control cannot be bound.
    bool Attach(UINT id, fw::CWnd* parent, HBITMAP skin);

    // Sets the skin bitmap (9 x 3 cells; cell size = width / 9); not owned.
    void SetSkin(HBITMAP skin);

    // Orientation from the window style: SBS_VERT is vertical.
    bool IsVertical() const;
    // True while the thumb is being dragged.
    bool IsDragging() const { return m_dragging; }
    int cellSize() const { return m_cell; }
    // The stored scroll information (nTrackPos is -1 when no drag is under way).
    const SCROLLINFO& scrollInfo() const { return m_info; }
    // The current layout along the axis.
    ScrollBarMetrics Metrics() const;

    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    int AxisCoord(LPARAM point) const;
    LRESULT OnSetScrollInfo(BOOL redraw, const SCROLLINFO* info);
    LRESULT OnGetScrollInfo(SCROLLINFO* info) const;
    void OnLButtonDown(LPARAM point);
    void OnMouseMove(LPARAM point);
    void OnLButtonUp();
    void OnTimer(UINT_PTR id);
    void OnMouseLeave();
    void EndPress();
    void RepeatPressedPart();
    void SendScroll(int code, int pos);
    int RowOf(int part) const;
    void Paint(HDC dc);
    void RedrawNow();

    HBITMAP m_skin = nullptr;
    int m_cell = 16;        // skin width / 9
    int m_cellHeight = 16;  // skin height / 3
    int m_length = 0;       // along the axis, set on WM_SIZE
    SCROLLINFO m_info{};
    bool m_dragging = false;
    POINT m_dragStart{};
    int m_dragStartPos = 0;
    int m_pressedPart = kScrollPartNone;
    bool m_repeating = false;
    int m_hotPart = kScrollPartNone;
    bool m_pointerOutside = false;
    bool m_trackingLeave = false;
    int m_pointerCoord = 0;  // last pointer position along the axis while pressed
};
