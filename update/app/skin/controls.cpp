#include "app/skin/controls.h"

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <memory>

#include "app/skin/gdiplus_fonts.h"
#include "app/skin/resource_image.h"

namespace {

constexpr DWORD kOpaqueWhite = 0xFFFFFFFF;
constexpr COLORREF kProgressTrack = RGB(229, 229, 229);
constexpr COLORREF kProgressFill = RGB(255, 85, 0);
constexpr COLORREF kNotesText = RGB(130, 130, 130);
constexpr COLORREF kNotesBack = RGB(255, 255, 255);

Gdiplus::Color FromArgb(DWORD argb) { return Gdiplus::Color(static_cast<Gdiplus::ARGB>(argb)); }

constexpr float kLinkFontPixels = 14.0f;
constexpr float kFallbackFontPixels = 12.0f;

// Window text of a control.
std::wstring WindowText(HWND hwnd) {
    const int length = ::GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    ::GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<size_t>(length));
    return text;
}

// Draws `paint` into an off-screen ARGB bitmap of the item's size, then
// copies it to the item's device context at (0, 0) in one draw.
template <typename Paint>
void DrawOffscreen(const DRAWITEMSTRUCT& item, Paint paint) {
    const int width = item.rcItem.right - item.rcItem.left;
    const int height = item.rcItem.bottom - item.rcItem.top;
    if (width <= 0 || height <= 0) return;
    Gdiplus::Bitmap buffer(width, height, PixelFormat32bppARGB);
    {
        Gdiplus::Graphics graphics(&buffer);
        paint(graphics, width, height);
    }
    Gdiplus::Graphics target(item.hDC);
    target.DrawImage(&buffer, 0, 0, width, height);
}

}  // namespace

int SkinFrameIndex(int state, UINT itemState) {
    if (itemState & ODS_DISABLED) return 3;
    switch (state) {
        case kStateDisabled: return 3;
        case kStatePressed: return 2;
        case kStateHover: return 1;
        default: return 0;
    }
}

CMyButton::CMyButton() {
    for (DWORD& c : m_textColors) c = kOpaqueWhite;
    m_handCursor = ::LoadCursorW(nullptr, IDC_HAND);
}

void CMyButton::SetTextColors(const DWORD colors[4]) {
    for (int i = 0; i < 4; ++i) m_textColors[i] = colors[i];
}

bool CMyButton::OnReflectedMessage(UINT msg, WPARAM, LPARAM lp, LRESULT* result) {
    if (msg != WM_DRAWITEM) return false;
    DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lp));
    *result = TRUE;
    return true;
}

void CMyButton::DrawItem(const DRAWITEMSTRUCT& item) {
    const int index = SkinFrameIndex(m_state, item.itemState);
    const std::wstring text = WindowText(m_hWnd);
    DrawOffscreen(item, [&](Gdiplus::Graphics& g, int width, int height) {
        g.Clear(FromArgb(m_backColor));
        Gdiplus::Image* raw = nullptr;
        if (m_imageId != 0 && LoadImageFromResource(static_cast<UINT>(m_imageId), L"PNG", &raw)) {
            std::unique_ptr<Gdiplus::Image> image(raw);
            const int frameWidth = static_cast<int>(image->GetWidth()) / 4;
            g.DrawImage(image.get(), Gdiplus::Rect(0, 0, width, height), frameWidth * index, 0, frameWidth,
                        static_cast<int>(image->GetHeight()), Gdiplus::UnitPixel);
        }
        if (!text.empty()) {
            Gdiplus::Font controlFont(item.hDC);
            // A control font that GDI+ cannot use (not TrueType) gives way to
            // the system's sans-serif face, so the text still shows.
            std::unique_ptr<Gdiplus::Font> fallbackFont;
            if (controlFont.GetLastStatus() != Gdiplus::Ok) {
                fallbackFont = MakeFont(item.hDC, L"Tahoma", kFallbackFontPixels, Gdiplus::FontStyleRegular);
            }
            const Gdiplus::Font& font = fallbackFont ? *fallbackFont : controlFont;
            Gdiplus::StringFormat format;
            format.SetAlignment(Gdiplus::StringAlignmentCenter);
            format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
            format.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
            format.SetTrimming(Gdiplus::StringTrimmingEllipsisCharacter);
            Gdiplus::SolidBrush brush(FromArgb(m_textColors[index]));
            g.DrawString(text.c_str(), -1, &font,
                         Gdiplus::RectF(0, 0, static_cast<float>(width), static_cast<float>(height)), &format,
                         &brush);
        }
    });
}

void CMyLink::DrawItem(const DRAWITEMSTRUCT& item) {
    const int index = SkinFrameIndex(m_state, item.itemState);
    const std::wstring text = WindowText(m_hWnd);
    DrawOffscreen(item, [&](Gdiplus::Graphics& g, int width, int height) {
        g.Clear(FromArgb(m_backColor));
        const std::unique_ptr<Gdiplus::Font> font =
            MakeFont(item.hDC, L"微软雅黑", kLinkFontPixels, Gdiplus::FontStyleUnderline);
        Gdiplus::StringFormat format;
        format.SetAlignment(Gdiplus::StringAlignmentNear);
        format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
        format.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
        Gdiplus::SolidBrush brush(FromArgb(m_textColors[index]));
        g.DrawString(text.c_str(), -1, font.get(),
                     Gdiplus::RectF(0, 0, static_cast<float>(width), static_cast<float>(height)), &format, &brush);
    });
}

void CMyButton::SetState(int state) {
    if (m_state == state) return;
    m_state = state;
    Redraw();
}

void CMyButton::Redraw() {
    HWND parent = ::GetParent(m_hWnd);
    if ((m_backColor >> 24) == 0xFF || parent == nullptr) {
        Invalidate(FALSE);
        return;
    }
    // A see-through button is drawn over what its parent paints beneath it:
    // repaint that first, or the previous frame would show through the new one.
    RECT rect;
    ::GetWindowRect(m_hWnd, &rect);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    ::RedrawWindow(parent, &rect, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

LRESULT CMyButton::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_MOUSEMOVE: {
            if (!m_tracking) {
                TRACKMOUSEEVENT track = {sizeof(track), TME_HOVER | TME_LEAVE, m_hWnd, 1};
                if (::TrackMouseEvent(&track)) m_tracking = true;
            }
            const LRESULT result = DefSubclassProc(msg, wp, lp);
            m_previousCursor = ::SetCursor(m_handCursor);
            return result;
        }
        case WM_MOUSEHOVER:
            SetState(kStateHover);
            return 0;
        case WM_LBUTTONDOWN:
            SetState(kStatePressed);
            return DefSubclassProc(msg, wp, lp);
        case WM_LBUTTONUP:
            SetState(kStateHover);
            return DefSubclassProc(msg, wp, lp);
        case WM_MOUSELEAVE:
            m_tracking = false;
            ::SetCursor(m_previousCursor);
            m_state = kStateNormal;
            Redraw();
            return 0;
        case WM_ERASEBKGND:
            return TRUE;
        case WM_ENABLE:
        case WM_SETTEXT: {
            const LRESULT result = DefSubclassProc(msg, wp, lp);
            Redraw();
            return result;
        }
        default:
            return DefSubclassProc(msg, wp, lp);
    }
}

int ProgressFillWidth(int lower, int upper, int pos, int width) {
    if (upper <= lower || width <= 0) return 0;
    const double filled = static_cast<double>(pos - lower) * width / (upper - lower);
    return std::clamp(static_cast<int>(filled), 0, width);
}

void CMyProgressCtrl::Paint(HDC dc) {
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    velisk::UniqueGdiObject track(::CreateSolidBrush(kProgressTrack));
    ::FillRect(dc, &client, static_cast<HBRUSH>(track.get()));
    PBRANGE range = {};
    SendMessage(PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    RECT filled = client;
    filled.right = client.left + ProgressFillWidth(range.iLow, range.iHigh, GetPos(), client.right - client.left);
    velisk::UniqueGdiObject bar(::CreateSolidBrush(kProgressFill));
    ::FillRect(dc, &filled, static_cast<HBRUSH>(bar.get()));
}

LRESULT CMyProgressCtrl::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_PAINT:
            Paint(fw::CPaintDC(m_hWnd));
            return 0;
        case WM_PRINTCLIENT:
            Paint(reinterpret_cast<HDC>(wp));
            return 0;
        default:
            return DefSubclassProc(msg, wp, lp);
    }
}

bool CEditEx::OnReflectedMessage(UINT msg, WPARAM wp, LPARAM, LRESULT* result) {
    if (msg != WM_CTLCOLOREDIT && msg != WM_CTLCOLORSTATIC) return false;
    if (!m_whiteBrush) m_whiteBrush.reset(::CreateSolidBrush(kNotesBack));
    HDC dc = reinterpret_cast<HDC>(wp);
    ::SetBkColor(dc, kNotesBack);
    ::SetTextColor(dc, kNotesText);
    *result = reinterpret_cast<LRESULT>(m_whiteBrush.get());
    return true;
}
