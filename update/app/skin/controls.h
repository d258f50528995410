// The update window's own-drawn controls: image buttons, a text link, a flat
// progress bar and a grey-text edit. Each binds to a dialog control with
// SubclassDlgItem and draws itself; none does any work besides drawing and
// its mouse handling.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "app/framework/wnd.h"
#include "velisk/handles.h"

// Button states.
enum SkinButtonState { kStateNormal = 1, kStateHover = 2, kStatePressed = 3, kStateDisabled = 4 };

// Frame of the four-frame button strip (and index of the text colour) for a
// button state and owner-draw item state: disabled items always use 3.
int SkinFrameIndex(int state, UINT itemState);

// Owner-drawn button with a PNG strip of four frames (normal, hover,
// pressed, disabled) drawn over its background colour, and its text on top.
class CMyButton : public fw::CWnd {
public:
    CMyButton();
    void SetImage(int pngId) { m_imageId = pngId; }
    // Four ARGB text colours: normal, hover, pressed, disabled.
    void SetTextColors(const DWORD colors[4]);
    void SetBackColor(DWORD argb) { m_backColor = argb; }

    int state() const { return m_state; }
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
    bool OnReflectedMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;

protected:
    virtual void DrawItem(const DRAWITEMSTRUCT& item);
    // Changes the state and redraws when it differs.
    void SetState(int state);
    // Redraws the button; a see-through one together with its parent's
    // picture beneath it.
    void Redraw();

    int m_state = kStateNormal;
    bool m_tracking = false;
    int m_imageId = 0;
    DWORD m_textColors[4];
    DWORD m_backColor = 0;  // transparent
    HCURSOR m_previousCursor = nullptr;
    HCURSOR m_handCursor = nullptr;
};

// Owner-drawn text link: underlined "微软雅黑" 14 px, left-aligned.
class CMyLink : public CMyButton {
protected:
    void DrawItem(const DRAWITEMSTRUCT& item) override;
};

// Flat progress bar: grey RGB(229, 229, 229) track, orange RGB(255, 85, 0)
// fill from the left edge up to the position.
class CMyProgressCtrl : public fw::CWnd {
public:
    void SetRange(int lower, int upper) { SendMessage(PBM_SETRANGE32, lower, upper); }
    void SetPos(int pos) { SendMessage(PBM_SETPOS, static_cast<WPARAM>(pos)); }
    int GetPos() { return static_cast<int>(SendMessage(PBM_GETPOS)); }
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    void Paint(HDC dc);
};

// Width in pixels of the filled part for `pos` in [lower, upper] over
// `width` pixels: (pos - lower) * width / (upper - lower), truncated and kept
// within 0..width; 0 for an empty range.
int ProgressFillWidth(int lower, int upper, int pos, int width);

// Read-only notes edit: grey text RGB(130, 130, 130) on white.
class CEditEx : public fw::CWnd {
public:
    bool OnReflectedMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;

private:
    velisk::UniqueGdiObject m_whiteBrush;
};
