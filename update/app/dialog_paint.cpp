// Painting of the update window: background picture, the white notes box
// and the status line, drawn off-screen with GDI+ and copied in one draw.
#include <objidl.h>
#include <gdiplus.h>

#include <memory>

#include "app/skin/gdiplus_fonts.h"
#include "app/skin/resource_image.h"
#include "app/res/resource.h"
#include "app/update_dlg.h"

void FillRoundRect(Gdiplus::Graphics* g, const Gdiplus::Color& color, int x, int y, int width, int height,
                   int radius) {
    Gdiplus::SolidBrush brush(color);
    const int d = radius * 2;
    g->FillRectangle(&brush, x, y + radius, width, height - d);
    g->FillRectangle(&brush, x + radius, y, width - d, height);
    g->FillPie(&brush, x, y, d, d, 180.0f, 90.0f);
    g->FillPie(&brush, x + width - d, y + height - d, d, d, 0.0f, 90.0f);
    g->FillPie(&brush, x + width - d, y, d, d, 270.0f, 90.0f);
    g->FillPie(&brush, x, y + height - d, d, d, 90.0f, 90.0f);
}

void DrawRoundRect(Gdiplus::Graphics* g, const Gdiplus::Color& color, int x, int y, int width, int height,
                   int radius) {
    g->SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    FillRoundRect(g, Gdiplus::Color(255, 255, 255, 255), x, y, width, height, radius);
    Gdiplus::Pen pen(color, 1.0f);
    const int d = radius * 2;
    g->DrawLine(&pen, x + radius, y, x + width - radius, y);
    g->DrawLine(&pen, x + radius, y + height, x + width - radius, y + height);
    g->DrawLine(&pen, x, y + radius, x, y + height - radius);
    g->DrawLine(&pen, x + width, y + radius, x + width, y + height - radius);
    g->DrawArc(&pen, x, y, d, d, 180.0f, 90.0f);
    g->DrawArc(&pen, x + width - d, y + height - d, d, d, 0.0f, 90.0f);
    g->DrawArc(&pen, x + width - d, y, d, d, 270.0f, 90.0f);
    g->DrawArc(&pen, x, y + height - d, d, d, 90.0f, 90.0f);
}

void CUpdateDlg::OnPaint() {
    fw::CPaintDC dc(m_hWnd);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    if (::IsIconic(m_hWnd)) {
        ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(static_cast<HDC>(dc)), 0);
        const int x = (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
        ::DrawIcon(dc, x, y, m_hIcon);
        return;
    }
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (width > 0 && height > 0) {
        Gdiplus::Bitmap buffer(width, height, PixelFormat32bppARGB);
        {
            Gdiplus::Graphics g(&buffer);
            Gdiplus::Image* raw = nullptr;
            if (LoadImageFromResource(IDB_PNG_BACKGROUND, L"PNG", &raw)) {
                std::unique_ptr<Gdiplus::Image> background(raw);
                g.DrawImage(background.get(), 0, 0, width, height);
            }
            if (!m_updateNotes.empty() && m_notesEdit.IsWindowVisible()) {
                const int x = static_cast<int>(m_notesRect.x), y = static_cast<int>(m_notesRect.y);
                const int w = static_cast<int>(m_notesRect.width), h = static_cast<int>(m_notesRect.height);
                DrawRoundRect(&g, Gdiplus::Color(0xFFFFFF00), x, y, w, h, Scaled(4));
                FillRoundRect(&g, Gdiplus::Color(255, 255, 255, 255), x, y, w, h, Scaled(4));
            }
            // 12 pixels at 96 DPI, as the layout scales.
            const auto font =
                MakeFont(dc, L"微软雅黑", 12.0f * static_cast<float>(m_dpi) / 96.0f, Gdiplus::FontStyleRegular);
            Gdiplus::StringFormat format;
            format.SetAlignment(Gdiplus::StringAlignmentNear);
            format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
            format.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
            format.SetTrimming(Gdiplus::StringTrimmingEllipsisCharacter);
            Gdiplus::SolidBrush brush(Gdiplus::Color(255, 51, 51, 51));
            g.DrawString(m_statusText.c_str(), -1, font.get(),
                         Gdiplus::RectF(m_statusRect.x, m_statusRect.y, m_statusRect.width, m_statusRect.height),
                         &format, &brush);
        }
        Gdiplus::Graphics target(dc);
        target.DrawImage(&buffer, 0, 0, width, height);
    }
}
