// Pixels of the skinned controls read back from real windows: the progress
// bar, image buttons and the notes text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "skin_test_resources.h"
#include "skin_window_fixture.h"
#include "velisk/handles.h"

namespace {

using namespace skin_test;

constexpr COLORREF kOrange = RGB(255, 85, 0);
constexpr COLORREF kTrackGrey = RGB(229, 229, 229);
constexpr COLORREF kNotesGrey = RGB(130, 130, 130);
constexpr COLORREF kWhite = RGB(255, 255, 255);
// The frames of the test strip (make_test_strip.py).
constexpr COLORREF kStripFrames[4] = {RGB(200, 0, 0), RGB(0, 160, 0), RGB(0, 0, 200), RGB(0, 128, 128)};

DWORD Argb(COLORREF color) { return 0xFF000000u | (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color); }

// Moves a control so that its client area is `width` x `height` at (x, y).
void PlaceClient(HWND control, int x, int y, int width, int height) {
    ::MoveWindow(control, x, y, width, height, TRUE);
    RECT window, client;
    ::GetWindowRect(control, &window);
    ::GetClientRect(control, &client);
    const int extraX = (window.right - window.left) - client.right;
    const int extraY = (window.bottom - window.top) - client.bottom;
    ::MoveWindow(control, x, y, width + extraX, height + extraY, TRUE);
}

// A colour close to `color` (text edges are blended with the background).
bool Near(COLORREF a, COLORREF b, int tolerance) {
    return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance && std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

TEST(SkinnedControls, ProgressBarFillsItsShareOrangeOverGrey) {
    GdiplusSession gdiplus;
    ParkPointer();
    ControlsDialog dialog;
    ASSERT_NE(dialog.m_hWnd, nullptr);
    PlaceClient(dialog.progress, 30, 352, 300, 8);
    struct Case {
        const char* name;
        int lower, upper, pos;
        int filled;
    };
    const Case cases[] = {
        {"50 of 0-100 fills 150 of 300 pixels", 0, 100, 50, 150},
        {"0 fills nothing", 0, 100, 0, 0},
        {"100 fills everything", 0, 100, 100, 300},
        {"1 of 0-100 truncates to 3 pixels", 0, 100, 1, 3},
        {"a range not starting at 0 counts from its start", 100, 200, 150, 150},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dialog.progress.SetRange(c.lower, c.upper);
        dialog.progress.SetPos(c.pos);
        Repaint(dialog.m_hWnd);
        const Pixels pixels = Capture(dialog.progress);
        ASSERT_EQ(pixels.width, 300);
        ASSERT_EQ(pixels.height, 8);
        EXPECT_EQ(pixels.CountColor(0, 0, c.filled, 8, kOrange), c.filled * 8);
        EXPECT_EQ(pixels.CountColor(c.filled, 0, 300, 8, kTrackGrey), (300 - c.filled) * 8);
    }
}

TEST(SkinnedControls, ButtonWithoutItsPictureStillDrawsItsTextOnItsBackground) {
    GdiplusSession gdiplus;
    ParkPointer();
    ControlsDialog dialog;
    ASSERT_NE(dialog.m_hWnd, nullptr);
    const COLORREF back = RGB(0, 102, 204);
    const COLORREF text = RGB(255, 255, 0);
    dialog.startButton.SetImage(IDB_MISSING);
    dialog.startButton.SetBackColor(Argb(back));
    const DWORD colors[4] = {Argb(text), Argb(text), Argb(text), Argb(text)};
    dialog.startButton.SetTextColors(colors);
    ::SetWindowTextW(dialog.startButton, L"Update now");
    Repaint(dialog.m_hWnd);

    const Pixels pixels = Capture(dialog.startButton);
    ASSERT_EQ(pixels.width, 120);
    const int all = pixels.width * pixels.height;
    const int background = pixels.CountColor(0, 0, pixels.width, pixels.height, back);
    const int textLike = pixels.Count(0, 0, pixels.width, pixels.height, [&](COLORREF c) { return Near(c, text, 60); });
    EXPECT_GT(background, all / 2) << "corner " << ColorText(pixels.at(0, 0));
    EXPECT_GT(textLike, 30);
    // Text only in the middle band: the corners keep the background.
    EXPECT_EQ(pixels.at(0, 0), back);
    EXPECT_EQ(pixels.at(119, 29), back);
}

TEST(SkinnedControls, LinkDrawsItsTextFromTheLeftEdgeWithoutAPicture) {
    GdiplusSession gdiplus;
    ParkPointer();
    ControlsDialog dialog;
    ASSERT_NE(dialog.m_hWnd, nullptr);
    const COLORREF back = RGB(0, 102, 204);
    const COLORREF text = RGB(255, 255, 0);
    dialog.link.SetImage(IDB_TEST_STRIP);  // a link draws no picture
    dialog.link.SetBackColor(Argb(back));
    const DWORD colors[4] = {Argb(text), Argb(text), Argb(text), Argb(text)};
    dialog.link.SetTextColors(colors);
    ::SetWindowTextW(dialog.link, L"velisk");
    ::MoveWindow(dialog.link, 30, 270, 200, 24, TRUE);
    Repaint(dialog.m_hWnd);

    const Pixels pixels = Capture(dialog.link);
    auto textLike = [&](COLORREF c) { return Near(c, text, 60); };
    int firstColumn = pixels.width, lastColumn = -1;
    for (int x = 0; x < pixels.width; ++x) {
        if (pixels.Count(x, 0, x + 1, pixels.height, textLike) > 0) {
            firstColumn = std::min(firstColumn, x);
            lastColumn = x;
        }
    }
    EXPECT_LT(firstColumn, 6) << "left-aligned";
    EXPECT_LT(lastColumn, pixels.width / 2) << "a short text ends early";
    // (Wine's GDI+ draws no underline, so the underline is not checked here.)
    for (const COLORREF frame : kStripFrames) EXPECT_EQ(pixels.CountColor(0, 0, pixels.width, pixels.height, frame), 0);
    EXPECT_EQ(pixels.at(pixels.width - 1, 0), back);
}

TEST(SkinnedControls, ButtonDrawsTheFrameAndTextColourOfItsState) {
    GdiplusSession gdiplus;
    ParkPointer();
    ControlsDialog dialog;
    ASSERT_NE(dialog.m_hWnd, nullptr);
    CMyButton& button = dialog.closeButton;
    button.SetImage(IDB_TEST_STRIP);
    const COLORREF textColors[4] = {RGB(255, 255, 255), RGB(255, 255, 0), RGB(255, 0, 255), RGB(0, 0, 0)};
    const DWORD argb[4] = {Argb(textColors[0]), Argb(textColors[1]), Argb(textColors[2]), Argb(textColors[3])};
    button.SetTextColors(argb);
    ::SetWindowTextW(button, L"WWW");
    velisk::UniqueGdiObject font(::CreateFontW(-24, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                               DEFAULT_PITCH, L"Arial"));
    button.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    ::MoveWindow(button, 450, 270, 84, 42, TRUE);

    struct Case {
        const char* name;
        UINT stateMessage;  // drives the state as the mouse would
        bool enabled;
        int frame;
    };
    const Case cases[] = {
        {"normal", WM_MOUSELEAVE, true, 0},
        {"hover", WM_MOUSEHOVER, true, 1},
        {"pressed", WM_LBUTTONDOWN, true, 2},
        {"disabled while normal", WM_MOUSELEAVE, false, 3},
        {"disabled while hovered", WM_MOUSEHOVER, false, 3},
        {"disabled while pressed", WM_LBUTTONDOWN, false, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::EnableWindow(button, TRUE);
        button.SendMessage(WM_LBUTTONUP);
        button.SendMessage(c.stateMessage);
        ::EnableWindow(button, c.enabled);
        Repaint(dialog.m_hWnd);
        const Pixels pixels = Capture(button);
        const int all = pixels.width * pixels.height;
        EXPECT_GT(pixels.CountColor(0, 0, pixels.width, pixels.height, kStripFrames[c.frame]), all / 2)
            << "top-left " << ColorText(pixels.at(0, 0));
        EXPECT_GT(pixels.Count(0, 0, pixels.width, pixels.height,
                               [&](COLORREF p) { return Near(p, textColors[c.frame], 40); }),
                  20);
        for (int other = 0; other < 4; ++other) {
            if (other == c.frame) continue;
            EXPECT_EQ(pixels.CountColor(0, 0, pixels.width, pixels.height, kStripFrames[other]), 0) << other;
            EXPECT_EQ(pixels.CountColor(0, 0, pixels.width, pixels.height, textColors[other]), 0) << other;
        }
        button.SendMessage(WM_LBUTTONUP);
    }
}

// The close button's picture is see-through: a new frame must not show the
// old one beneath it.
TEST(SkinnedControls, SeeThroughButtonRepaintsWhatIsBeneathItOnAStateChange) {
    GdiplusSession gdiplus;
    ParkPointer();
    ControlsDialog dialog;
    ASSERT_NE(dialog.m_hWnd, nullptr);
    CMyButton& button = dialog.closeButton;
    button.SetImage(129);
    ::MoveWindow(button, 591, 10, 24, 24, TRUE);
    Repaint(dialog.m_hWnd);
    auto whitish = [](COLORREF c) { return GetRValue(c) >= 200 && GetGValue(c) >= 200 && GetBValue(c) >= 200; };
    ASSERT_GT(Capture(button).Count(0, 0, 24, 24, whitish), 20);  // the normal frame: a white cross

    ::EnableWindow(button, FALSE);  // the disabled frame is empty
    Pump(100);
    const Pixels disabled = Capture(button);
    EXPECT_EQ(disabled.CountColor(0, 0, 24, 24, ControlsDialog::kBackground), 24 * 24)
        << "top-left " << ColorText(disabled.at(0, 0)) << ", whitish " << disabled.Count(0, 0, 24, 24, whitish);
}

TEST(SkinnedControls, NotesTextIsGreyOnWhite) {
    ParkPointer();
    UpdateDialogRun run(4);
    ASSERT_TRUE(run.created());
    Repaint(run.window());
    const Pixels pixels = Capture(run.notes());
    ASSERT_GT(pixels.width, 100);
    const int all = pixels.width * pixels.height;
    const int white = pixels.CountColor(0, 0, pixels.width, pixels.height, kWhite);
    const int grey = pixels.CountColor(0, 0, pixels.width, pixels.height, kNotesGrey);
    // Only white, the grey and (with smoothed fonts) blends between them.
    const int between = pixels.Count(0, 0, pixels.width, pixels.height, [](COLORREF c) {
        const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
        return r == g && g == b && r >= 130 && r <= 255;
    });
    EXPECT_GT(white, all / 2);
    EXPECT_GT(grey, 50);
    EXPECT_EQ(between, all) << "darkest pixels are not the notes grey";
}

}  // namespace
