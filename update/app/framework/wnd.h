// The smallest window wrapper the updater's dialog and controls need: an
// HWND with a virtual window procedure, for windows this process creates
// (dialogs) and for controls it subclasses.
#pragma once

#include <windows.h>

namespace fw {

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return this != nullptr ? m_hWnd : nullptr; }
    operator HWND() const { return m_hWnd; }

    // Binds the dialog control `id` of `parent` to this object and routes its
    // messages through WindowProc (comctl32 window subclassing). Returns
    // false when the control does not exist or is already bound.
    bool SubclassDlgItem(UINT id, CWnd* parent);
    // Undoes SubclassDlgItem; called automatically on WM_NCDESTROY.
    void UnsubclassWindow();

    BOOL ShowWindow(int cmdShow) { return ::ShowWindow(m_hWnd, cmdShow); }
    BOOL MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE) {
        return ::MoveWindow(m_hWnd, x, y, width, height, repaint);
    }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    void Invalidate(BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, erase); }
    LRESULT SendMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) { return ::SendMessageW(m_hWnd, msg, wp, lp); }
    BOOL PostMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) { return ::PostMessageW(m_hWnd, msg, wp, lp); }
    LONG_PTR GetStyle() const { return ::GetWindowLongPtrW(m_hWnd, GWL_STYLE); }
    LONG_PTR GetExStyle() const { return ::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE); }
    void ModifyStyle(LONG_PTR remove, LONG_PTR add);
    void ModifyStyleEx(LONG_PTR remove, LONG_PTR add);
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

    // The object bound to a window by SubclassDlgItem, or null.
    static CWnd* FromHandle(HWND hwnd);

    // Message handling of a subclassed control. The default passes the
    // message to the control's original procedure.
    virtual LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp);

    // A notification that the parent dialog passes back to the control it
    // concerns (WM_DRAWITEM, WM_CTLCOLOR*). Return true and set *result to
    // handle it; the default leaves it to the dialog.
    virtual bool OnReflectedMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) { return false; }

    HWND m_hWnd = nullptr;

protected:
    // The original procedure of a subclassed control.
    LRESULT DefSubclassProc(UINT msg, WPARAM wp, LPARAM lp);

private:
    static LRESULT CALLBACK SubclassThunk(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    bool m_subclassed = false;
};

// BeginPaint for the life of the object and EndPaint at its end, for the
// WM_PAINT handling of a window.
class CPaintDC {
public:
    explicit CPaintDC(HWND hwnd) : m_hwnd(hwnd), m_dc(::BeginPaint(hwnd, &m_paint)) {}
    ~CPaintDC() { ::EndPaint(m_hwnd, &m_paint); }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    operator HDC() const { return m_dc; }

private:
    HWND m_hwnd;
    PAINTSTRUCT m_paint = {};
    HDC m_dc;
};

}  // namespace fw
