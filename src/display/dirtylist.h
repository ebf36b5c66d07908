// Dirty-rectangle lists: changed areas that are shown together later, and
// their merging.
#pragma once

#include <cstdint>
#include <vector>

constexpr int32_t kDirtyRectStep = 1024;

// Inclusive corners. A merged-away entry is marked dead rather than moved
// to a far coordinate, since any coordinate can be real on a large BGPic.
struct qbDirtyRect {
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    bool dead = false;
};

// count entries of capacity are in use. A list that is full (count equals
// capacity, or an add could not grow it) stands for the whole display.
struct qbDirtyRectList {
    std::vector<qbDirtyRect> entries;  // capacity entries
    int32_t count = 0;
    bool overflowed = false;  // a rectangle was lost: show everything
    int32_t Capacity() const { return static_cast<int32_t>(entries.size()); }
    bool Full() const { return overflowed || (Capacity() > 0 && count >= Capacity()); }
    void MarkFull() { overflowed = true; }
    void Reset() {
        count = 0;
        overflowed = false;
    }
};

// Room for kDirtyRectStep entries; false when there is no memory.
bool InitDirtyRectList(qbDirtyRectList* list);
// Appends {x, y, x + width - 1, y + height - 1}, the edges summed in 64 bits
// and cut to the coordinate limit, so that a rectangle drawn at the 32-bit
// limits is kept far off instead of wrapping. A full list grows by
// kDirtyRectStep entries when grow is set; when it cannot grow (or may not),
// the rectangle is lost and the list is marked overflowed.
void AppendDirtyRect(qbDirtyRectList* list, int64_t x, int64_t y, int64_t width, int64_t height, bool grow);
// One pass: each live entry takes in every later or earlier live entry that
// overlaps or touches it (gaps of at most one pixel); those are marked dead.
void MergeDirtyRects(qbDirtyRectList* list);
