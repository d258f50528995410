// Layout of the skinned scroll bar along its axis, without a window.
#include <gtest/gtest.h>

#include "app/skin/scroll_geometry.h"

namespace {

constexpr int kCell = 17;  // the supplied skin: 153 / 9

SCROLLINFO Info(int nMin, int nMax, UINT nPage, int nPos = 0, int nTrackPos = -1) {
    SCROLLINFO info = {sizeof(info), SIF_ALL};
    info.nMin = nMin;
    info.nMax = nMax;
    info.nPage = nPage;
    info.nPos = nPos;
    info.nTrackPos = nTrackPos;
    return info;
}

TEST(ScrollGeometry, TrackThumbAndArrowLengths) {
    struct Case {
        const char* name;
        int length;
        SCROLLINFO info;
        int track, thumb, arrow;
    };
    const Case cases[] = {
        {"a 6-pixel track draws the minimum thumb", 40, Info(0, 9, 5), 6, 6, kCell},
        {"a 5-pixel track draws no thumb", 39, Info(0, 9, 5), 5, 0, kCell},
        {"a 1-pixel track draws no thumb", 35, Info(0, 9, 1), 1, 0, kCell},
        {"no room for a track: each arrow takes half the bar", 30, Info(0, 9, 5), 0, 0, 15},
        {"a tiny page gives a 6-pixel thumb", 200, Info(0, 999, 1), 166, 6, kCell},
        {"the thumb is the page's share of the track", 200, Info(0, 99, 10), 166, 16, kCell},
        {"a page larger than the range fills the track", 200, Info(0, 4, 10), 166, 166, kCell},
        {"an empty range fills the track", 200, Info(5, 4, 0), 166, 166, kCell},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ScrollBarMetrics m = ComputeScrollBarMetrics(c.length, kCell, c.info, false);
        EXPECT_EQ(m.track, c.track);
        EXPECT_EQ(m.thumb, c.thumb);
        EXPECT_EQ(m.arrow, c.arrow);
        EXPECT_EQ(ScrollTrackLength(c.length, kCell), c.track);
        EXPECT_EQ(ScrollThumbLength(c.track, c.info), c.thumb);
    }
}

TEST(ScrollGeometry, ThumbOffsetFollowsThePositionOrTheDrag) {
    struct Case {
        const char* name;
        SCROLLINFO info;
        bool dragging;
        int offset;
    };
    // Track 166, thumb 16: 150 pixels of free track for 90 positions.
    const Case cases[] = {
        {"first position", Info(0, 99, 10, 0), false, 0},
        {"middle position", Info(0, 99, 10, 45), false, 75},
        {"last position", Info(0, 99, 10, 90), false, 150},
        {"while dragging the drag position counts", Info(0, 99, 10, 0, 90), true, 150},
        {"without a drag the track position is ignored", Info(0, 99, 10, 45, 90), false, 75},
        {"a range starting above 0 starts at the top", Info(10, 109, 10, 10), false, 0},
        {"a range starting above 0 ends at the bottom", Info(10, 109, 10, 100), false, 150},
        {"nothing to scroll centres the thumb", Info(0, 9, 10, 0), false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ComputeScrollBarMetrics(200, kCell, c.info, c.dragging).thumbOffset, c.offset);
    }
    // A 40-pixel thumb in 166 pixels with nothing to scroll sits in the middle.
    EXPECT_EQ(ScrollThumbOffset(166, 40, Info(0, 9, 10), 0), 63);
}

TEST(ScrollGeometry, HitTestAtTheEdgesOfEachPart) {
    struct Case {
        const char* name;
        int length;
        SCROLLINFO info;
        int coord;
        int part;
    };
    // At position 45 the thumb covers 92..107 of a 200-pixel bar.
    const SCROLLINFO middle = Info(0, 99, 10, 45);
    const Case cases[] = {
        {"first pixel", 200, middle, 0, kScrollPartLineUp},
        {"last pixel of the first arrow", 200, middle, 16, kScrollPartLineUp},
        {"first pixel of the track", 200, middle, 17, kScrollPartPageUp},
        {"last pixel before the thumb", 200, middle, 91, kScrollPartPageUp},
        {"first pixel of the thumb", 200, middle, 92, kScrollPartThumb},
        {"last pixel of the thumb", 200, middle, 107, kScrollPartThumb},
        {"first pixel after the thumb", 200, middle, 108, kScrollPartPageDown},
        {"last pixel of the track", 200, middle, 182, kScrollPartPageDown},
        {"first pixel of the second arrow", 200, middle, 183, kScrollPartLineDown},
        {"last pixel", 200, middle, 199, kScrollPartLineDown},
        {"thumb at the top: no page-up area", 200, Info(0, 99, 10, 0), 17, kScrollPartThumb},
        {"thumb at the bottom: last track pixel is thumb", 200, Info(0, 99, 10, 90), 182, kScrollPartThumb},
        {"no thumb: the track pages", 39, Info(0, 9, 5, 0), 19, kScrollPartPageDown},
        {"arrows only: first half", 30, Info(0, 9, 5), 14, kScrollPartLineUp},
        {"arrows only: second half", 30, Info(0, 9, 5), 15, kScrollPartLineDown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ScrollHitTest(ComputeScrollBarMetrics(c.length, kCell, c.info, false), c.coord), c.part);
    }
}

TEST(ScrollGeometry, SkinCellForEachPartAndRow) {
    struct Case {
        int part;
        int verticalColumn;
    };
    const Case cases[] = {{kScrollPartLineUp, 0},
                          {kScrollPartLineDown, 1},
                          {kScrollPartThumb, 2},
                          {kScrollPartPageUp, 3},
                          {kScrollPartPageDown, 3}};
    for (const auto& c : cases) {
        for (int row : {kSkinRowNormal, kSkinRowHover, kSkinRowPressed}) {
            SCOPED_TRACE(testing::Message() << "part " << c.part << " row " << row);
            const SkinCell vertical = ScrollSkinCell(c.part, row, false);
            const SkinCell horizontal = ScrollSkinCell(c.part, row, true);
            EXPECT_EQ(vertical.column, c.verticalColumn);
            EXPECT_EQ(horizontal.column, c.verticalColumn + 4);
            EXPECT_EQ(vertical.row, row);
            EXPECT_EQ(horizontal.row, row);
        }
    }
}

TEST(ScrollGeometry, DragPositionIsScaledAndKeptWithinTheRange) {
    struct Case {
        const char* name;
        SCROLLINFO info;
        int start, delta, track, thumb;
        int position;
    };
    // 150 pixels of free track for the positions 0..90.
    const SCROLLINFO info = Info(0, 99, 10);
    const Case cases[] = {
        {"no movement", info, 30, 0, 166, 16, 30},
        {"half the free track", info, 0, 75, 166, 16, 45},
        {"the whole free track reaches the last position", info, 0, 150, 166, 16, 90},
        {"past the end stops at the last position", info, 0, 500, 166, 16, 90},
        {"past the start stops at the first position", info, 45, -500, 166, 16, 0},
        {"less than one position's pixels keeps the position", info, 45, -1, 166, 16, 45},
        {"a thumb filling the track cannot move", info, 10, 40, 166, 166, 10},
        {"a range starting above 0 ends at its last position", Info(10, 109, 10), 10, 150, 166, 16, 100},
        {"a range starting above 0 stops at its first position", Info(10, 109, 10), 50, -150, 166, 16, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ScrollDragPosition(c.info, c.start, c.delta, c.track, c.thumb), c.position);
    }
}

TEST(ScrollGeometry, MaxScrollPositionLeavesTheLastPageVisible) {
    EXPECT_EQ(MaxScrollPosition(Info(0, 8, 8)), 1);
    EXPECT_EQ(MaxScrollPosition(Info(0, 99, 10)), 90);
    EXPECT_EQ(MaxScrollPosition(Info(0, 99, 0)), 99);
    EXPECT_EQ(MaxScrollPosition(Info(0, 4, 10)), 0);
}

}  // namespace
