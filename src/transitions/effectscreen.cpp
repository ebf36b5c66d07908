#include "transitions/effectscreen.h"

#include <algorithm>

#include "display/bgpics.h"
#include "display/display.h"
#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "objects/compositor.h"
#include "objects/layers.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectstate.h"

namespace {

int32_t failAt = 0;
int32_t allocations = 0;

bool AllocationFails() { return ++allocations == failAt; }

}  // namespace

void FailEffectAllocation(int32_t nth) {
    failAt = nth;
    allocations = 0;
}

int32_t EffectAllocationCount() { return allocations; }

qbBitmap* EffectAllocBitmap(int32_t width, int32_t height) {
    return AllocationFails() ? nullptr : AllocBitmap(width, height, 0, nullptr);
}

qbBitmap* EffectAllocMask(int32_t width, int32_t height, bool clear) {
    return AllocationFails() ? nullptr : AllocMask(nullptr, width, height, clear, nullptr, 0);
}

qbBitmap* EffectAllocAlpha(int32_t width, int32_t height, bool clear) {
    return AllocationFails() ? nullptr : AllocAlphaChannel(width, height, clear, nullptr, 0);
}

void CopyScreenRect(qbEffectState* s, qbBitmap* dest, int32_t x, int32_t y, int32_t w, int32_t h, int32_t dx,
                    int32_t dy, bool hideLayer) {
    qbDisplay* d = GetCurrentDisplay();
    qbBGPic* pic = d ? d->bgpic : nullptr;
    if (!pic || !dest) return;
    const int32_t bw = pic->currentWidth, bh = pic->currentHeight;
    // Only what lies on the BGPic is redrawn; the copy keeps its offset.
    const int32_t cx = std::max(x, 0), cy = std::max(y, 0);
    const int32_t cw = std::min<int64_t>(int64_t{x} + w, bw) - cx, ch = std::min<int64_t>(int64_t{y} + h, bh) - cy;
    if (cw < 1 || ch < 1) return;
    BitmapPtr temp(AllocBitmap(bw, bh, 0, nullptr));
    if (!temp) return;
    qbLayer* layer = hideLayer ? s->layer : nullptr;
    const int32_t wasHidden = layer ? layer->hidden : 0;
    if (layer) layer->hidden = 1;
    RedrawLayers(s->script, d, pic, temp.get(), cx, cy, cw, ch, 0);
    if (layer) layer->hidden = wasHidden;
    ClipAndCopyRect(temp.get(), cx, cy, dest, dx + (cx - x), dy + (cy - y), cw, ch, bw, bh, dest->width, dest->height);
}

int CloneEffectPicture(qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t x, int32_t y, int32_t w, int32_t h,
                       qbBitmap** outBitmap, qbBitmap** outMask, qbBitmap** outAlpha) {
    *outBitmap = *outMask = *outAlpha = nullptr;
    BitmapPtr b(EffectAllocBitmap(w, h));
    if (!b) return ERR_BITMAP;
    // A picture composed at its base size on a layer-scaled display is
    // smaller than the shown size: only what it holds is copied.
    ClipAndCopyRect(bitmap, x, y, b.get(), 0, 0, w, h, bitmap->width, bitmap->height, w, h);
    qbBitmap* m = nullptr;
    if (mask) {
        m = EffectAllocMask(w, h, true);
        if (!m) return ERR_ALLOCMASK;
        BlitMaskRect(mask, x, y, m, 0, 0, w, h, kMaskVanillaCopy, nullptr, 0);
    }
    if (alpha) {
        qbBitmap* a = EffectAllocAlpha(w, h, true);
        if (!a) {
            FreeMask(m);
            return ERR_ALLOCALPHA;
        }
        CombineAlphaRect(alpha, x, y, a, 0, 0, w, h, 0, 0);
        *outAlpha = a;
    }
    *outMask = m;
    *outBitmap = b.release();
    return 0;
}
