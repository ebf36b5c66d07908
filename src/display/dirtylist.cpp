// Dirty-rectangle lists: growing, appending and merging.
#include "display/dirtylist.h"

#include <algorithm>
#include <new>

#include "imaging/geometry.h"

namespace {

bool Grow(qbDirtyRectList* list) {
    try {
        list->entries.resize(list->entries.size() + kDirtyRectStep);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool Near(const qbDirtyRect& a, const qbDirtyRect& b) {
    return b.x1 - a.x2 <= 1 && a.x1 - b.x2 <= 1 && b.y1 - a.y2 <= 1 && a.y1 - b.y2 <= 1;
}

// Cuts the box to another; false when nothing is left.

}  // namespace

bool InitDirtyRectList(qbDirtyRectList* list) {
    list->entries.clear();
    list->Reset();
    return Grow(list);
}

void AppendDirtyRect(qbDirtyRectList* list, int64_t x, int64_t y, int64_t width, int64_t height, bool grow) {
    if (width < 1 || height < 1 || list->overflowed) return;
    const qbRect r = RectFromEdges(x, y, x + width, y + height);
    if (r.width < 1 || r.height < 1) return;
    if (list->count >= list->Capacity() && !(grow && Grow(list))) {
        list->overflowed = true;
        return;
    }
    list->entries[static_cast<size_t>(list->count++)] = {r.x, r.y, r.x + r.width - 1, r.y + r.height - 1, false};
}

void MergeDirtyRects(qbDirtyRectList* list) {
    const int32_t n = list->count;
    for (int32_t i = 0; i < n; ++i) {
        qbDirtyRect& a = list->entries[static_cast<size_t>(i)];
        if (a.dead) continue;
        for (int32_t j = 0; j < n; ++j) {
            qbDirtyRect& b = list->entries[static_cast<size_t>(j)];
            if (j == i || b.dead || !Near(a, b)) continue;
            a.x1 = std::min(a.x1, b.x1);
            a.y1 = std::min(a.y1, b.y1);
            a.x2 = std::max(a.x2, b.x2);
            a.y2 = std::max(a.y2, b.y2);
            b.dead = true;
        }
    }
}
