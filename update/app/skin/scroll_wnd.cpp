#include "app/skin/scroll_wnd.h"

#include <commctrl.h>

#include "app/skin/painter.h"

namespace {

constexpr wchar_t kFrameClass[] = L"VeliskSkinScrollFrame";
constexpr wchar_t kLimitClass[] = L"VeliskSkinScrollLimit";
constexpr wchar_t kFrameTitle[] = L"SkinScrollBarFrame";
constexpr wchar_t kLimitTitle[] = L"LIMIT";
constexpr UINT_PTR kHostedSubclassId = 0x534B494E;  // "SKIN"
// Marks a hosted window as ours, so foreign user data is never taken for a frame.
constexpr wchar_t kHostedProp[] = L"velisk.SkinScrollFrame";
constexpr DWORD kFrameClassStyleBits = 0x100;
constexpr int kCornerColumn = 8;

bool HasStyle(HWND hwnd, LONG_PTR bits) { return (::GetWindowLongPtrW(hwnd, GWL_STYLE) & bits) != 0; }
bool HasExStyle(HWND hwnd, LONG_PTR bits) { return (::GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & bits) != 0; }

// The rectangle of `hwnd` in its parent's client coordinates.
RECT RectInParent(HWND hwnd) {
    RECT rect;
    ::GetWindowRect(hwnd, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(hwnd), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Moves `hwnd` (in its parent's coordinates) unless it is already there.
void MoveIfDifferent(HWND hwnd, int x, int y, int width, int height) {
    const RECT now = RectInParent(hwnd);
    if (now.left == x && now.top == y && now.right - now.left == width && now.bottom - now.top == height) return;
    ::SetWindowPos(hwnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The inner window only clips; the hosted window's notifications and colour
// requests go on to the frame's parent, which the hosted window had before.
LRESULT CALLBACK LimitProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_DRAWITEM:
        case WM_MEASUREITEM:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORSCROLLBAR: {
            HWND frame = ::GetParent(hwnd);
            HWND owner = frame ? ::GetParent(frame) : nullptr;
            if (owner != nullptr) return ::SendMessageW(owner, msg, wp, lp);
            break;
        }
        default:
            break;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

CSkinScrollWnd* CSkinScrollWnd::FromHosted(HWND hosted) {
    if (hosted == nullptr) return nullptr;
    auto* marked = static_cast<CSkinScrollWnd*>(::GetPropW(hosted, kHostedProp));
    auto* frame = reinterpret_cast<CSkinScrollWnd*>(::GetWindowLongPtrW(hosted, GWLP_USERDATA));
    return marked != nullptr && frame == marked ? frame : nullptr;
}

bool CSkinScrollWnd::Create(HWND window, HBITMAP skin) {
    static const bool registered = [] {
        WNDCLASSEXW frameClass = {sizeof(frameClass)};
        frameClass.lpfnWndProc = &CSkinScrollWnd::FrameProc;
        frameClass.hInstance = ::GetModuleHandleW(nullptr);
        frameClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        frameClass.lpszClassName = kFrameClass;
        WNDCLASSEXW limitClass = frameClass;
        limitClass.lpfnWndProc = &LimitProc;
        limitClass.lpszClassName = kLimitClass;
        return ::RegisterClassExW(&frameClass) != 0 && ::RegisterClassExW(&limitClass) != 0;
    }();
    const SkinCellSize cell = MeasureSkin(skin);
    HWND parent = ::GetParent(window);
    if (!registered || cell.width <= 0 || cell.height <= 0 || parent == nullptr) return false;
    m_cell = cell.width;
    m_skin = skin;

    const RECT rect = RectInParent(window);
    const LONG_PTR style = ::GetWindowLongPtrW(window, GWL_STYLE);
    const LONG_PTR exStyle = ::GetWindowLongPtrW(window, GWL_EXSTYLE);
    DWORD frameStyle = WS_CHILD | kFrameClassStyleBits | static_cast<DWORD>(style & WS_VISIBLE);
    DWORD frameExStyle = (exStyle & WS_EX_TOOLWINDOW) ? (WS_EX_TOOLWINDOW | WS_EX_TOPMOST) : 0;
    // The window's border goes (its content keeps its place); a client edge
    // moves to the frame.
    m_hadBorder = (style & WS_BORDER) != 0;
    m_hadClientEdge = (exStyle & WS_EX_CLIENTEDGE) != 0;
    m_borderInset = m_hadBorder ? ::GetSystemMetrics(SM_CXBORDER) : 0;
    if (m_hadClientEdge) frameExStyle |= WS_EX_CLIENTEDGE;

    HWND frame = ::CreateWindowExW(frameExStyle, kFrameClass, kFrameTitle, frameStyle, rect.left, rect.top,
                                   rect.right - rect.left, rect.bottom - rect.top, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(::GetDlgCtrlID(window))),
                                   ::GetModuleHandleW(nullptr), this);
    if (frame == nullptr) return false;
    // Right after the window in the z-order, so the tab order stays.
    ::SetWindowPos(frame, window, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    auto child = [&](const wchar_t* cls, const wchar_t* title, DWORD childStyle, UINT id) {
        return ::CreateWindowExW(0, cls, title, WS_CHILD | childStyle, 0, 0, 0, 0, frame,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr),
                                 nullptr);
    };
    m_limit = child(kLimitClass, kLimitTitle, WS_VISIBLE, kLimitId);
    if (m_limit == nullptr || child(L"SCROLLBAR", L"", SBS_HORZ, kHorizontalBarId) == nullptr ||
        child(L"SCROLLBAR", L"", SBS_VERT, kVerticalBarId) == nullptr || !m_horzBar.Attach(kHorizontalBarId, this, skin) ||
        !m_vertBar.Attach(kVerticalBarId, this, skin)) {
        return false;
    }

    if (m_hadBorder) ::SetWindowLongPtrW(window, GWL_STYLE, style & ~WS_BORDER);
    if (m_hadClientEdge) ::SetWindowLongPtrW(window, GWL_EXSTYLE, exStyle & ~WS_EX_CLIENTEDGE);
    ::SetParent(window, m_limit);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetPropW(window, kHostedProp, this);
    ::SetWindowSubclass(window, &CSkinScrollWnd::HostedProc, kHostedSubclassId, reinterpret_cast<DWORD_PTR>(this));
    m_hosted = window;
    // The frame change makes the window recalculate its non-client area,
    // which places the bars and then the window itself.
    const RECT inner = InnerRect();
    ::SetWindowPos(window, nullptr, inner.left, inner.top, inner.right - inner.left, inner.bottom - inner.top,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    ::SetTimer(frame, kSyncTimer, kSyncMs, nullptr);
    return true;
}

void CSkinScrollWnd::Detach() {
    HWND window = m_hosted;
    if (window == nullptr) return;
    ::RemoveWindowSubclass(window, &CSkinScrollWnd::HostedProc, kHostedSubclassId);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    ::RemovePropW(window, kHostedProp);
    m_hosted = nullptr;
    HWND parent = ::GetParent(m_hWnd);
    const RECT rect = RectInParent(m_hWnd);
    ::SetParent(window, parent);
    if (m_hadBorder) ::SetWindowLongPtrW(window, GWL_STYLE, ::GetWindowLongPtrW(window, GWL_STYLE) | WS_BORDER);
    if (m_hadClientEdge) {
        ::SetWindowLongPtrW(window, GWL_EXSTYLE, ::GetWindowLongPtrW(window, GWL_EXSTYLE) | WS_EX_CLIENTEDGE);
    }
    ::SetWindowPos(window, m_hWnd, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                   SWP_NOACTIVATE | SWP_FRAMECHANGED);
    ::DestroyWindow(m_hWnd);  // the frame deletes itself on WM_NCDESTROY
}

RECT CSkinScrollWnd::InnerRect() const {
    RECT rect = {};
    ::GetClientRect(m_hWnd, &rect);
    ::InflateRect(&rect, -m_borderInset, -m_borderInset);
    return rect;
}

LRESULT CALLBACK CSkinScrollWnd::FrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<CSkinScrollWnd*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
        self = static_cast<CSkinScrollWnd*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->m_hWnd = hwnd;
    }
    if (self == nullptr) return ::DefWindowProcW(hwnd, msg, wp, lp);
    if (msg == WM_NCDESTROY) {
        const LRESULT result = ::DefWindowProcW(hwnd, msg, wp, lp);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->m_hWnd = nullptr;
        delete self;
        return result;
    }
    return self->WindowProc(msg, wp, lp);
}

LRESULT CSkinScrollWnd::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_SIZE:
            OnSize();
            return 0;
        case kPlaceHostedMessage:
            PlaceHosted(wp != 0, lp != 0);
            return 0;
        case WM_VSCROLL:
        case WM_HSCROLL:
            OnScroll(msg, wp, lp);
            return 0;
        case WM_TIMER:
            if (wp == kSyncTimer && m_hosted != nullptr) {
                if (HasStyle(m_vertBar, WS_VISIBLE) && !m_vertBar.IsDragging()) SyncBar(SB_VERT, m_vertBar);
                if (HasStyle(m_horzBar, WS_VISIBLE) && !m_horzBar.IsDragging()) SyncBar(SB_HORZ, m_horzBar);
                return 0;
            }
            break;
        case WM_PAINT:
            OnPaint();
            return 0;
        case WM_DESTROY:
            m_destroying = true;
            break;
        default:
            break;
    }
    return ::DefWindowProcW(m_hWnd, msg, wp, lp);
}

LRESULT CALLBACK CSkinScrollWnd::HostedProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
    auto* self = reinterpret_cast<CSkinScrollWnd*>(data);
    if (msg == WM_DESTROY) {
        // Detach first: the window must leave the frame before either goes.
        if (self->m_destroying) {
            // The frame is being destroyed with everything in it.
            ::RemoveWindowSubclass(hwnd, &CSkinScrollWnd::HostedProc, kHostedSubclassId);
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            ::RemovePropW(hwnd, kHostedProp);
            self->m_hosted = nullptr;
        } else {
            self->Detach();  // deletes the frame
        }
        return ::DefSubclassProc(hwnd, msg, wp, lp);
    }
    return self->OnHostedMessage(msg, wp, lp);
}

LRESULT CSkinScrollWnd::OnHostedMessage(UINT msg, WPARAM wp, LPARAM lp) {
    const LRESULT result = ::DefSubclassProc(m_hosted, msg, wp, lp);
    if (m_forwarding || m_hosted == nullptr) return result;
    if (msg == WM_ERASEBKGND) {
        if (HasStyle(m_hosted, WS_VSCROLL)) SyncBar(SB_VERT, m_vertBar);
        if (HasStyle(m_hosted, WS_HSCROLL)) SyncBar(SB_HORZ, m_horzBar);
    } else if (msg == WM_NCCALCSIZE) {
        OnHostedNcCalcSize(wp, lp);
    }
    return result;
}

void CSkinScrollWnd::OnHostedNcCalcSize(WPARAM wp, LPARAM lp) {
    RECT* client = wp ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lp)->rgrc[0] : reinterpret_cast<RECT*>(lp);
    const bool vertical = HasStyle(m_hosted, WS_VSCROLL);
    const bool horizontal = HasStyle(m_hosted, WS_HSCROLL);
    const bool leftBar = HasExStyle(m_hosted, WS_EX_LEFTSCROLLBAR);
    // The window's own bars keep only a cell's width, which the inner window
    // then clips away.
    if (vertical) {
        const int grow = ::GetSystemMetrics(SM_CXVSCROLL) - m_cell;
        if (leftBar) {
            client->left -= grow;
        } else {
            client->right += grow;
        }
    }
    if (horizontal) client->bottom += ::GetSystemMetrics(SM_CYHSCROLL) - m_cell;
    PlaceBars(vertical, horizontal, leftBar);
    ::PostMessageW(m_hWnd, kPlaceHostedMessage, vertical, leftBar);
}

void CSkinScrollWnd::PlaceBars(bool vertical, bool horizontal, bool leftBar) {
    const RECT area = InnerRect();
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (vertical) {
        ::SetWindowPos(m_vertBar, nullptr, leftBar ? area.left : area.right - m_cell, area.top, m_cell,
                       height - (horizontal ? m_cell : 0), flags | SWP_SHOWWINDOW);
    } else {
        ::ShowWindow(m_vertBar, SW_HIDE);
    }
    if (horizontal) {
        ::SetWindowPos(m_horzBar, nullptr, area.left + (vertical && leftBar ? m_cell : 0), area.bottom - m_cell,
                       width - (vertical ? m_cell : 0), m_cell, flags | SWP_SHOWWINDOW);
    } else {
        ::ShowWindow(m_horzBar, SW_HIDE);
    }
    const int corner = vertical && horizontal ? (leftBar ? 1 : 2) : 0;
    if (corner != m_cornerMode) {
        m_cornerMode = corner;
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
    }
}

void CSkinScrollWnd::PlaceHosted(bool vertical, bool leftBar) {
    if (m_hosted == nullptr) return;
    const bool horizontal = HasStyle(m_horzBar, WS_VISIBLE);
    RECT limit = InnerRect();
    if (vertical) {
        if (leftBar) {
            limit.left += m_cell;
        } else {
            limit.right -= m_cell;
        }
    }
    if (horizontal) limit.bottom -= m_cell;
    const int width = limit.right - limit.left;
    const int height = limit.bottom - limit.top;
    MoveIfDifferent(m_limit, limit.left, limit.top, width, height);
    // The window reaches a cell past the inner window on each bar side, so
    // its own bars lie outside and are clipped.
    MoveIfDifferent(m_hosted, vertical && leftBar ? -m_cell : 0, 0, width + (vertical ? m_cell : 0),
                    height + (horizontal ? m_cell : 0));
}

void CSkinScrollWnd::OnSize() {
    if (m_limit == nullptr || m_hosted == nullptr) return;
    const bool vertical = HasStyle(m_hosted, WS_VSCROLL);
    const bool leftBar = HasExStyle(m_hosted, WS_EX_LEFTSCROLLBAR);
    PlaceBars(vertical, HasStyle(m_hosted, WS_HSCROLL), leftBar);
    PlaceHosted(vertical, leftBar);
}

void CSkinScrollWnd::OnScroll(UINT msg, WPARAM wp, LPARAM lp) {
    const HWND bar = reinterpret_cast<HWND>(lp);
    const bool vertical = msg == WM_VSCROLL;
    CSkinScrollBar& source = vertical ? m_vertBar : m_horzBar;
    if (m_hosted == nullptr || bar != source.m_hWnd) return;
    m_forwarding = true;
    ::SendMessageW(m_hosted, msg, MAKEWPARAM(LOWORD(wp), HIWORD(wp)), 0);
    m_forwarding = false;
    if (m_hosted != nullptr && LOWORD(wp) != SB_THUMBTRACK) SyncBar(vertical ? SB_VERT : SB_HORZ, source);
}

void CSkinScrollWnd::SyncBar(int bar, CSkinScrollBar& target) {
    SCROLLINFO info = {sizeof(info), SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS};
    if (!::GetScrollInfo(m_hosted, bar, &info)) return;
    const SCROLLINFO& shown = target.scrollInfo();
    if (shown.nMin != info.nMin || shown.nMax != info.nMax || shown.nPage != info.nPage || shown.nPos != info.nPos) {
        info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;  // the bar keeps its own drag position
        target.SendMessage(SBM_SETSCROLLINFO, TRUE, reinterpret_cast<LPARAM>(&info));
    }
    ::EnableWindow(target, info.nMax >= static_cast<int>(info.nPage));
}

void CSkinScrollWnd::OnPaint() {
    fw::CPaintDC dc(m_hWnd);
    if (m_cornerMode != 0) {
        SkinPainter painter(dc, m_skin);
        const RECT area = InnerRect();
        const int left = m_cornerMode == 1 ? area.left : area.right - m_cell;
        const RECT corner = {left, area.bottom - m_cell, left + m_cell, area.bottom};
        painter.DrawCell(corner, {kCornerColumn, m_cornerMode == 1 ? 1 : 0});
    }
}

CSkinScrollWnd* AttachSkinScrollBars(HWND window, HBITMAP skin) {
    if (window == nullptr || !::IsWindow(window) || CSkinScrollWnd::FromHosted(window) != nullptr) return nullptr;
    auto* frame = new CSkinScrollWnd;
    if (!frame->Create(window, skin)) {
        if (frame->m_hWnd != nullptr) {
            ::DestroyWindow(frame->m_hWnd);  // deletes the frame
        } else {
            delete frame;
        }
        return nullptr;
    }
    return frame;
}

void DetachSkinScrollBars(HWND window) {
    if (CSkinScrollWnd* frame = CSkinScrollWnd::FromHosted(window)) frame->Detach();
}
