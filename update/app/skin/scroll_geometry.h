// Geometry of a skinned scroll bar along its axis: arrows, track, thumb,
// hit test, skin cells and the thumb-drag position. Pure functions, so the
// bar's layout can be checked without a window.
#pragma once

#include <windows.h>

// Parts of a skinned scroll bar. The values are also the scroll codes the bar
// sends to its owner for them.
enum SkinScrollPart {
    kScrollPartNone = -1,
    kScrollPartLineUp = SB_LINEUP,          // first arrow (up or left)
    kScrollPartLineDown = SB_LINEDOWN,      // second arrow (down or right)
    kScrollPartPageUp = SB_PAGEUP,          // track before the thumb
    kScrollPartPageDown = SB_PAGEDOWN,      // track after the thumb
    kScrollPartThumb = SB_THUMBTRACK,       // the thumb
};

// Skin rows.
enum SkinScrollRow { kSkinRowNormal = 0, kSkinRowHover = 1, kSkinRowPressed = 2 };

// Layout of a bar along its axis, in pixels from the bar's first end.
struct ScrollBarMetrics {
    int length = 0;       // whole bar
    int arrow = 0;        // first arrow; the second one runs from arrow + track to the end
    int track = 0;        // space between the arrows
    int thumb = 0;        // thumb length; 0: no thumb is drawn
    int thumbOffset = 0;  // thumb start, from the end of the first arrow
};

// Track length for a bar of `length` pixels with square arrows of `cell`
// pixels: length - 2 * cell, never below 0.
int ScrollTrackLength(int length, int cell);

// Thumb length for a track of `track` pixels: 0 when the track is 5 pixels or
// shorter; otherwise the page's share of the range, at least 6 pixels and at
// most the whole track.
int ScrollThumbLength(int track, const SCROLLINFO& info);

// Thumb start within the track for the scroll position `pos`: the position's
// share of the scrollable span of the free track (track - thumb); half the
// free track when nothing can scroll. Integer arithmetic.
int ScrollThumbOffset(int track, int thumb, const SCROLLINFO& info, int pos);

// The whole layout for a bar of `length` pixels and `cell`-pixel arrows. The
// thumb sits at info.nTrackPos while `dragging`, at info.nPos otherwise. When
// the arrows do not fit, each takes half the bar.
ScrollBarMetrics ComputeScrollBarMetrics(int length, int cell, const SCROLLINFO& info, bool dragging);

// The part under the coordinate `coord` along the axis (kScrollPartLineUp,
// kScrollPartPageUp, kScrollPartThumb, kScrollPartPageDown or
// kScrollPartLineDown).
int ScrollHitTest(const ScrollBarMetrics& metrics, int coord);

// Cell of the 9 x 3 skin grid that draws `part` in `row`: columns 0 up arrow,
// 1 down arrow, 2 thumb, 3 track of a vertical bar, 4 more for a horizontal
// bar; 8 is the corner box.
struct SkinCell {
    int column;
    int row;
};
SkinCell ScrollSkinCell(int part, int row, bool horizontal);

// Highest position the owner can scroll to: nMax - (nPage - 1), or nMax for
// an empty page.
int MaxScrollPosition(const SCROLLINFO& info);

// Scroll position while the thumb is dragged: the start position plus the
// pointer's movement along the axis (`pointerDelta`, pixels) scaled from the
// free track (track - thumb) to the scrollable span, kept within nMin and
// MaxScrollPosition. The start position when the thumb cannot move.
int ScrollDragPosition(const SCROLLINFO& info, int startPos, int pointerDelta, int track, int thumb);
