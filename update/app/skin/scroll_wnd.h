// Skinned scroll bars for an existing window (the notes edit). A frame takes
// the window's place; inside it an inner "LIMIT" window clips the window's
// own scroll bars away, and two CSkinScrollBar controls beside it show the
// window's scroll state and scroll it.
#pragma once

#include <windows.h>

#include "app/framework/wnd.h"
#include "app/skin/scrollbar.h"

class CSkinScrollWnd : public fw::CWnd {
public:
    // Control ids of the frame's children.
    static constexpr UINT kHorizontalBarId = 100;
    static constexpr UINT kVerticalBarId = 101;
    static constexpr UINT kLimitId = 200;
    // Posted by the hosted window after its frame was recalculated:
    // wParam = has a vertical bar, lParam = the bar is on the left.
    static constexpr UINT kPlaceHostedMessage = WM_USER + 100;
    // Copies the hosted window's scroll state to the bars now and then.
    static constexpr UINT_PTR kSyncTimer = 100;
    static constexpr UINT kSyncMs = 500;

    // The frame around `hosted`, or null when it has none.
    static CSkinScrollWnd* FromHosted(HWND hosted);

    HWND hosted() const { return m_hosted; }
    HWND limit() const { return m_limit; }
    CSkinScrollBar& verticalBar() { return m_vertBar; }
    CSkinScrollBar& horizontalBar() { return m_horzBar; }
    // 0 none, 1 corner box at the bottom left, 2 at the bottom right.
    int cornerMode() const { return m_cornerMode; }

    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    friend CSkinScrollWnd* AttachSkinScrollBars(HWND window, HBITMAP skin);
    friend void DetachSkinScrollBars(HWND window);

    CSkinScrollWnd() = default;
    ~CSkinScrollWnd() override = default;

    bool Create(HWND window, HBITMAP skin);
    void Detach();

    static LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK HostedProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data);
    LRESULT OnHostedMessage(UINT msg, WPARAM wp, LPARAM lp);
    void OnHostedNcCalcSize(WPARAM wp, LPARAM lp);
    void SyncBar(int bar, CSkinScrollBar& target);
    void PlaceBars(bool vertical, bool horizontal, bool leftBar);
    void PlaceHosted(bool vertical, bool leftBar);
    void OnSize();
    void OnScroll(UINT msg, WPARAM wp, LPARAM lp);
    void OnPaint();
    RECT InnerRect() const;

    int m_cell = 16;
    CSkinScrollBar m_horzBar;
    CSkinScrollBar m_vertBar;
    HWND m_limit = nullptr;
    HBITMAP m_skin = nullptr;
    bool m_forwarding = false;
    int m_cornerMode = 0;
    HWND m_hosted = nullptr;
    int m_borderInset = 0;       // WS_BORDER taken from the hosted window
    bool m_hadBorder = false;
    bool m_hadClientEdge = false;
    bool m_destroying = false;   // the frame's own WM_DESTROY has arrived
};

// Wraps `window` in a skinned scroll frame drawn from `skin` (not owned: it
// must outlive the frame). Returns the frame, which deletes itself when the
// window or the frame is destroyed; null when `window` is not a child window,
// is already wrapped, or `skin` is not a usable 9 x 3 cell bitmap.
CSkinScrollWnd* AttachSkinScrollBars(HWND window, HBITMAP skin);

// Undoes AttachSkinScrollBars for `window`: it goes back to the frame's parent
// and place, and the frame is destroyed. Does nothing when not wrapped.
void DetachSkinScrollBars(HWND window);
