// The skinned scroll bar of the notes: when it appears, how it scrolls the
// notes, its auto-repeat, its hover look, and detaching it again.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "app/res/resource.h"
#include "app/skin/scroll_wnd.h"
#include "skin_window_fixture.h"
#include "velisk/handles.h"

namespace {

using namespace skin_test;

constexpr COLORREF kWhite = RGB(255, 255, 255);
// Normal row of the supplied skin: white cells, grey thumb, grey arrow glyphs.
constexpr COLORREF kThumbNormal = RGB(200, 200, 200);
constexpr COLORREF kThumbPressed = RGB(140, 140, 140);
constexpr COLORREF kGlyphNormal = RGB(150, 150, 150);
constexpr COLORREF kGlyphHover = RGB(110, 110, 110);
constexpr COLORREF kGlyphPressed = RGB(80, 80, 80);
constexpr int kCell = 17;
constexpr int kGlyphY = 10;  // a pixel of the down arrow's glyph within its cell

int FirstVisibleLine(HWND edit) { return static_cast<int>(::SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0)); }

SCROLLINFO BarInfo(HWND bar) {
    SCROLLINFO info = {sizeof(info), SIF_ALL};
    ::SendMessageW(bar, SBM_GETSCROLLINFO, 0, reinterpret_cast<LPARAM>(&info));
    return info;
}

int BarLength(HWND bar) {
    RECT client;
    ::GetClientRect(bar, &client);
    return client.bottom;
}

// Mouse actions on a vertical bar at `y` (bar coordinates). The real pointer
// is put there too, so anything the system reports agrees with the messages.
void PointerTo(HWND bar, int y) {
    POINT p = {kCell / 2, y};
    ::ClientToScreen(bar, &p);
    ::SetCursorPos(p.x, p.y);
    Pump(30);
}
void Press(HWND bar, int y) {
    PointerTo(bar, y);
    ::SendMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(kCell / 2, y));
}
void MoveTo(HWND bar, int y) {
    PointerTo(bar, y);
    ::SendMessageW(bar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(kCell / 2, y));
}
void Release(HWND bar, int y) { ::SendMessageW(bar, WM_LBUTTONUP, 0, MAKELPARAM(kCell / 2, y)); }
void Click(HWND bar, int y) {
    Press(bar, y);
    Release(bar, y);
    Pump(30);
}

// Scroll messages that reach the notes, with the time they arrived.
struct ScrollLog {
    std::vector<int> codes;
    std::vector<ULONGLONG> times;
};

LRESULT CALLBACK LogScrolls(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
    if (msg == WM_VSCROLL) {
        auto* log = reinterpret_cast<ScrollLog*>(data);
        log->codes.push_back(LOWORD(wp));
        log->times.push_back(::GetTickCount64());
    }
    return ::DefSubclassProc(hwnd, msg, wp, lp);
}

class ScrollLogger {
public:
    explicit ScrollLogger(HWND edit) : m_edit(edit) { ::SetWindowSubclass(edit, &LogScrolls, 1, reinterpret_cast<DWORD_PTR>(&log)); }
    ~ScrollLogger() { ::RemoveWindowSubclass(m_edit, &LogScrolls, 1); }
    ScrollLog log;

private:
    HWND m_edit;
};

RECT RectInParent(HWND hwnd) {
    RECT rect;
    ::GetWindowRect(hwnd, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(hwnd), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::wstring Title(HWND hwnd) {
    wchar_t text[64] = {};
    ::GetWindowTextW(hwnd, text, 64);
    return text;
}

TEST(SkinnedScrollBar, AppearsOnlyWhenTheNotesNeedMoreThanEightLines) {
    struct Case {
        const char* name;
        int noteLines;
        int editLines;
        bool skinned;
    };
    // The long heading takes three lines, the final line break one more.
    const Case cases[] = {
        {"4 notes lines fill 8 edit lines: no scroll bar", 4, 8, false},
        {"5 notes lines need 9 edit lines: the skinned bar", 5, 9, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ParkPointer();
        UpdateDialogRun run(c.noteLines);
        ASSERT_TRUE(run.created());
        HWND notes = run.notes();
        EXPECT_EQ(::SendMessageW(notes, EM_GETLINECOUNT, 0, 0), c.editLines);
        CSkinScrollWnd* frame = CSkinScrollWnd::FromHosted(notes);
        ASSERT_EQ(frame != nullptr, c.skinned);
        Repaint(run.window());
        const Pixels pixels = Capture(run.window());
        if (!c.skinned) {
            EXPECT_EQ(::GetParent(notes), run.window());
            EXPECT_EQ(::GetWindowLongPtrW(notes, GWL_STYLE) & WS_VSCROLL, 0);
            // The edit's right edge is notes background, no bar of any kind.
            const RECT edit = RectInParent(notes);
            EXPECT_EQ(pixels.CountColor(edit.right - kCell, edit.top, edit.right, edit.bottom, kWhite),
                      kCell * (edit.bottom - edit.top));
            continue;
        }
        // The frame took the edit's place and id; the edit sits in "LIMIT".
        EXPECT_EQ(Title(frame->m_hWnd), L"SkinScrollBarFrame");
        EXPECT_EQ(::GetDlgCtrlID(frame->m_hWnd), IDC_NOTES);
        EXPECT_EQ(::GetParent(frame->m_hWnd), run.window());
        EXPECT_EQ(::GetParent(notes), frame->limit());
        EXPECT_EQ(Title(frame->limit()), L"LIMIT");
        const RECT place = RectInParent(frame->m_hWnd);
        EXPECT_EQ(place.left, 94);
        EXPECT_EQ(place.top, 108);
        EXPECT_EQ(place.right - place.left, 444);
        EXPECT_EQ(place.bottom - place.top, 144);
        HWND vertical = frame->verticalBar().m_hWnd;
        EXPECT_TRUE(::IsWindowVisible(vertical));
        EXPECT_FALSE(::IsWindowVisible(frame->horizontalBar().m_hWnd));
        // Enabled when the edit has something to scroll (9 lines may fit).
        SCROLLINFO editInfo = {sizeof(editInfo), SIF_ALL};
        ::GetScrollInfo(notes, SB_VERT, &editInfo);
        EXPECT_EQ(::IsWindowEnabled(vertical) != FALSE, editInfo.nMax >= static_cast<int>(editInfo.nPage));
        EXPECT_EQ(BarInfo(vertical).nMax, editInfo.nMax);
        const RECT bar = RectInParent(vertical);
        EXPECT_EQ(bar.left, 444 - kCell);
        EXPECT_EQ(bar.right - bar.left, kCell);
        EXPECT_EQ(bar.bottom - bar.top, 144);
        // The notes show exactly up to the bar.
        RECT client;
        ::GetClientRect(notes, &client);
        EXPECT_EQ(client.right, 444 - kCell);

        // On screen the bar is the skin alone: white cells, the grey thumb and
        // grey arrows; none of the system bar's look.
        const int x0 = place.right - kCell, y0 = place.top;
        const int barPixels = kCell * 144;
        const int skin = pixels.Count(x0, y0, place.right, place.bottom, [](COLORREF c) {
            return c == kWhite || c == kThumbNormal || c == kGlyphNormal;
        });
        EXPECT_EQ(skin, barPixels);
        EXPECT_GT(pixels.CountColor(x0, y0, place.right, place.bottom, kThumbNormal), 100);
        EXPECT_GT(pixels.CountColor(x0, y0, place.right, place.bottom, kGlyphNormal), 10);
        // And the column beside it is the notes' white, not a hidden bar's edge.
        EXPECT_EQ(pixels.CountColor(x0 - 2, y0, x0, place.bottom, kWhite), 2 * 144);
    }
}

// 20 notes lines give 24 edit lines: enough to scroll by lines and pages.
class LongNotes : public testing::Test {
protected:
    void SetUp() override {
        ParkPointer();
        run = std::make_unique<UpdateDialogRun>(20);
        ASSERT_TRUE(run->created());
        notes = run->notes();
        frame = CSkinScrollWnd::FromHosted(notes);
        ASSERT_NE(frame, nullptr);
        bar = frame->verticalBar().m_hWnd;
        length = BarLength(bar);
        ASSERT_EQ(length, 144);
        const SCROLLINFO info = BarInfo(bar);
        maxPos = info.nMax - static_cast<int>(info.nPage) + 1;
        ASSERT_GT(maxPos, 3);
    }
    void TearDown() override {
        ParkPointer();
        run.reset();
    }
    // The bar shows the edit's own scroll state.
    void ExpectBarMatchesEdit() {
        SCROLLINFO edit = {sizeof(edit), SIF_ALL};
        ::GetScrollInfo(notes, SB_VERT, &edit);
        const SCROLLINFO shown = BarInfo(bar);
        EXPECT_EQ(shown.nMin, edit.nMin);
        EXPECT_EQ(shown.nMax, edit.nMax);
        EXPECT_EQ(shown.nPage, edit.nPage);
        EXPECT_EQ(shown.nPos, edit.nPos);
        EXPECT_EQ(shown.nPos, FirstVisibleLine(notes));
    }
    COLORREF BarPixel(int y) { return Capture(bar).at(kCell / 2, y); }

    std::unique_ptr<UpdateDialogRun> run;
    HWND notes = nullptr;
    CSkinScrollWnd* frame = nullptr;
    HWND bar = nullptr;
    int length = 0;
    int maxPos = 0;
};

TEST_F(LongNotes, ArrowsTrackAndThumbScrollTheNotes) {
    EXPECT_EQ(BarInfo(bar).nMax, 23);
    ExpectBarMatchesEdit();

    // Arrows: one line each.
    Click(bar, length - 3);
    EXPECT_EQ(FirstVisibleLine(notes), 1);
    ExpectBarMatchesEdit();
    Click(bar, 3);
    EXPECT_EQ(FirstVisibleLine(notes), 0);
    ExpectBarMatchesEdit();

    // The track below the thumb: a page down, then above it a page up.
    Click(bar, length - kCell - 2);
    const int paged = FirstVisibleLine(notes);
    EXPECT_GT(paged, 1);
    ExpectBarMatchesEdit();
    Click(bar, kCell + 1);
    EXPECT_EQ(FirstVisibleLine(notes), 0);
    ExpectBarMatchesEdit();

    // The thumb dragged over the whole free track reaches the last line.
    const ScrollBarMetrics before = frame->verticalBar().Metrics();
    ASSERT_GT(before.thumb, 0);
    const int grab = before.arrow + before.thumbOffset + before.thumb / 2;
    Press(bar, grab);
    EXPECT_TRUE(frame->verticalBar().IsDragging());
    MoveTo(bar, grab + (before.track - before.thumb));
    EXPECT_EQ(FirstVisibleLine(notes), maxPos);
    EXPECT_EQ(BarInfo(bar).nTrackPos, maxPos);
    // The dragged thumb is drawn pressed at the end of the track.
    EXPECT_EQ(BarPixel(before.arrow + before.track - before.thumb / 2), kThumbPressed);
    Release(bar, grab + (before.track - before.thumb));
    Pump(30);
    EXPECT_FALSE(frame->verticalBar().IsDragging());
    EXPECT_EQ(BarInfo(bar).nTrackPos, -1);
    EXPECT_EQ(FirstVisibleLine(notes), maxPos);
    ExpectBarMatchesEdit();
    ParkPointer();  // once the pointer has left, the hover look goes
    const int thumbEnd = before.arrow + before.track - 4;
    EXPECT_TRUE(PumpUntil([&] { return BarPixel(thumbEnd) == kThumbNormal; }, 3000))
        << ColorText(BarPixel(thumbEnd));
    EXPECT_EQ(BarPixel(before.arrow + 1), kWhite);  // the track above it
}

TEST_F(LongNotes, HeldArrowRepeatsAfterTheFirstDelayUntilTheEndOfTheRange) {
    struct Case {
        const char* name;
        int pressY;
        int code;
        int startLine;
        int endLine;
    };
    const Case cases[] = {
        {"down arrow from the top", length - 3, SB_LINEDOWN, 0, -1},
        {"up arrow from the bottom", 3, SB_LINEUP, -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int start = c.startLine < 0 ? maxPos : c.startLine;
        const int end = c.endLine < 0 ? maxPos : c.endLine;
        ::SendMessageW(notes, WM_VSCROLL, c.startLine < 0 ? SB_BOTTOM : SB_TOP, 0);
        Repaint(run->window());
        ASSERT_TRUE(PumpUntil([&] { return BarInfo(bar).nPos == start; }, 2000));
        ASSERT_EQ(FirstVisibleLine(notes), start);

        ScrollLogger logger(notes);
        const ScrollLog& log = logger.log;
        Press(bar, c.pressY);
        ASSERT_EQ(log.codes.size(), 1u) << "once at once";
        EXPECT_EQ(Capture(bar).at(8, c.code == SB_LINEDOWN ? length - kCell + kGlyphY : kCell - 1 - kGlyphY),
                  kGlyphPressed);
        ASSERT_TRUE(PumpUntil([&] { return FirstVisibleLine(notes) == end; }, 10000));
        Pump(700);  // at the end of the range nothing more is sent
        Release(bar, c.pressY);

        const size_t expected = static_cast<size_t>(std::abs(end - start));
        ASSERT_EQ(log.codes.size(), expected);
        for (int code : log.codes) EXPECT_EQ(code, c.code);
        // The repeat waits for the first delay (500 ms), then comes every 100 ms.
        EXPECT_GE(log.times[1] - log.times[0], 450u);
        const ULONGLONG repeats = log.times.back() - log.times[1];
        EXPECT_GE(repeats + 50, (expected - 2) * 100);
        ExpectBarMatchesEdit();
    }
}

TEST_F(LongNotes, HoveredArrowUsesTheHoverRowUntilThePointerLeaves) {
    const int glyph = length - kCell + kGlyphY;
    EXPECT_EQ(BarPixel(glyph), kGlyphNormal);
    MoveTo(bar, length - 3);
    ::SendMessageW(bar, WM_MOUSEMOVE, 0, MAKELPARAM(kCell / 2, length - 3));
    EXPECT_EQ(BarPixel(glyph), kGlyphHover);
    ParkPointer();
    ::SendMessageW(bar, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(BarPixel(glyph), kGlyphNormal);
}

TEST(SkinnedScrollBar, DetachingOrDestroyingTheWindowTakesTheFrameAway) {
    GdiplusSession gdiplus;
    ParkPointer();
    ControlsDialog dialog;
    ASSERT_NE(dialog.m_hWnd, nullptr);
    HWND notes = dialog.notes;
    ::MoveWindow(notes, 94, 108, 444, 144, TRUE);
    std::wstring text;
    for (int i = 0; i < 30; ++i) text += L"line " + std::to_wstring(i) + L"\r\n";
    ::SetWindowTextW(notes, text.c_str());
    velisk::UniqueGdiObject skin(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_SCROLL_SKIN),
                                              IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_TRUE(skin);
    const HBITMAP bitmap = static_cast<HBITMAP>(skin.get());

    EXPECT_EQ(AttachSkinScrollBars(notes, nullptr), nullptr) << "no skin, no frame";
    EXPECT_EQ(::GetParent(notes), dialog.m_hWnd);

    CSkinScrollWnd* frame = AttachSkinScrollBars(notes, bitmap);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(AttachSkinScrollBars(notes, bitmap), nullptr) << "a second frame";
    HWND frameWindow = frame->m_hWnd;
    Pump(100);
    DetachSkinScrollBars(notes);
    EXPECT_FALSE(::IsWindow(frameWindow));
    EXPECT_EQ(CSkinScrollWnd::FromHosted(notes), nullptr);
    EXPECT_EQ(::GetParent(notes), dialog.m_hWnd);
    const RECT back = RectInParent(notes);
    EXPECT_EQ(back.left, 94);
    EXPECT_EQ(back.top, 108);
    EXPECT_EQ(back.right - back.left, 444);
    EXPECT_EQ(back.bottom - back.top, 144);
    DetachSkinScrollBars(notes);  // nothing left to undo

    // The grey text survives the move into and out of the frame.
    frame = AttachSkinScrollBars(notes, bitmap);
    ASSERT_NE(frame, nullptr);
    frameWindow = frame->m_hWnd;
    Pump(100);
    Repaint(dialog.m_hWnd);
    const Pixels inside = Capture(notes);
    EXPECT_GT(inside.CountColor(0, 0, inside.width, inside.height, RGB(130, 130, 130)), 50);
    EXPECT_EQ(inside.CountColor(0, 0, inside.width, inside.height, RGB(0, 0, 0)), 0);

    // Destroying the hosted window takes the frame with it.
    ::DestroyWindow(notes);
    Pump(50);
    EXPECT_FALSE(::IsWindow(frameWindow));
}

}  // namespace
