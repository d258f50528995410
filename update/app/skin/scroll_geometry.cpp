#include "app/skin/scroll_geometry.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr int kMinTrackForThumb = 5;  // a track this short or shorter has no thumb
constexpr int kMinThumb = 6;

// Number of positions minus one that the thumb can take: nMax - nMin - nPage + 1.
int64_t ScrollSpan(const SCROLLINFO& info) {
    return static_cast<int64_t>(info.nMax) - info.nMin - static_cast<int64_t>(info.nPage) + 1;
}

}  // namespace

int ScrollTrackLength(int length, int cell) { return std::max(0, length - 2 * cell); }

int ScrollThumbLength(int track, const SCROLLINFO& info) {
    if (track <= kMinTrackForThumb) return 0;
    const int64_t range = static_cast<int64_t>(info.nMax) - info.nMin + 1;
    // An empty or inverted range has nothing to page through: the thumb fills the track.
    if (range <= 0) return track;
    const int64_t share = static_cast<int64_t>(info.nPage) * track / range;
    return static_cast<int>(std::clamp<int64_t>(share, kMinThumb, track));
}

int ScrollThumbOffset(int track, int thumb, const SCROLLINFO& info, int pos) {
    const int free = std::max(0, track - thumb);
    const int64_t span = ScrollSpan(info);
    if (span <= 0) return free / 2;
    const int64_t offset = static_cast<int64_t>(free) * (static_cast<int64_t>(pos) - info.nMin) / span;
    return static_cast<int>(std::clamp<int64_t>(offset, 0, free));
}

ScrollBarMetrics ComputeScrollBarMetrics(int length, int cell, const SCROLLINFO& info, bool dragging) {
    ScrollBarMetrics m;
    m.length = std::max(0, length);
    m.track = ScrollTrackLength(m.length, cell);
    m.arrow = m.track == 0 ? m.length / 2 : cell;
    m.thumb = ScrollThumbLength(m.track, info);
    m.thumbOffset = ScrollThumbOffset(m.track, m.thumb, info, dragging ? info.nTrackPos : info.nPos);
    return m;
}

int ScrollHitTest(const ScrollBarMetrics& m, int coord) {
    if (coord < m.arrow) return kScrollPartLineUp;
    if (coord >= m.arrow + m.track) return kScrollPartLineDown;
    if (coord < m.arrow + m.thumbOffset) return kScrollPartPageUp;
    if (coord < m.arrow + m.thumbOffset + m.thumb) return kScrollPartThumb;
    return kScrollPartPageDown;
}

SkinCell ScrollSkinCell(int part, int row, bool horizontal) {
    int column = 3;  // track: both page parts
    if (part == kScrollPartLineUp) column = 0;
    if (part == kScrollPartLineDown) column = 1;
    if (part == kScrollPartThumb) column = 2;
    return {column + (horizontal ? 4 : 0), row};
}

int MaxScrollPosition(const SCROLLINFO& info) {
    const int64_t page = info.nPage > 0 ? static_cast<int64_t>(info.nPage) - 1 : 0;
    return static_cast<int>(std::max<int64_t>(info.nMin, info.nMax - page));
}

int ScrollDragPosition(const SCROLLINFO& info, int startPos, int pointerDelta, int track, int thumb) {
    const int free = track - thumb;
    const int64_t span = ScrollSpan(info);
    if (free <= 0 || span <= 0) return startPos;
    const int64_t moved = startPos + span * pointerDelta / free;
    return static_cast<int>(std::clamp<int64_t>(moved, info.nMin, MaxScrollPosition(info)));
}
