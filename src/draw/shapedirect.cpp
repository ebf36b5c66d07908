// When a shape may skip its image, and the upkeep the skipped blit did.
#include "draw/shapedirect.h"

#include <algorithm>
#include <cstddef>

#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/output.h"
#include "draw/draw.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/planekernels.h"
#include "objects/dirtyrects.h"
#include "objects/objectoptions.h"

namespace {

bool gDirectShapes = true;

}  // namespace

bool DirectShapes() { return gDirectShapes; }
void SetDirectShapes(bool on) { gDirectShapes = on; }

bool PlainShapeTarget(const qbDrawState& st, uint32_t colour, const qbLayerOptions* lopts, qbDirectTarget* out) {
    if (!gDirectShapes || (colour >> 24) != 0) return false;
    if (st.fillStyle != FILLCOLOR && st.fillStyle != FILLNONE) return false;
    if (st.fillStyle != FILLNONE && (st.formStyle & (kFormEdge | kFormShadow))) return false;
    if (lopts && (lopts->transparency > 0 || HasActiveFilters(lopts->filters))) return false;
    const qbDisplay* d = GetCurrentDisplay();
    if (!d || d->layersEnabled || !GetCurrentBGPic() || GetBlitRoute()) return false;
    // The display's own buffers bring sprites, refreshes and adapters; a
    // selected mask or alpha plane is kept up by the blit.
    const qbOutputSelection& sel = d->output;
    qbBitmap* target = sel.bitmap;
    if (sel.type == kObjectTypeDisplay || !target || sel.mask || sel.alpha) return false;
    if (target == d->spriteFreeBuffer.get() || target == d->backBuffer.get()) return false;
    qbPixelView view;
    if (!PeekPlainPixels(target, &view) || view.bytesPerPixel != 4 || view.pixelFormat != 10) return false;
    const qbOutputView o = GetCurrentOutput();
    qbRect clip{0, 0, o.width, o.height};
    if (o.clip && *o.clip) {
        const qbClipRegionObject& c = **o.clip;
        if (c.mask) return false;
        clip = IntersectRects(clip, {c.x, c.y, c.width, c.height});
    }
    out->bitmap = target;
    out->clip = clip;
    const bool unscaledScaling = d->pictureScaling && d->scaleX == 1.0 && d->scaleY == 1.0;
    out->dirty = d->softDoubleBuffer && !unscaledScaling;
    return true;
}

void BlendDirectCoverage(const qbDirectTarget& target, qbBitmap* plane, int32_t px, int32_t py, int32_t width,
                         int32_t height, uint32_t colour) {
    const qbRect box = IntersectRects(target.clip, {px, py, width, height});
    if (!plane || box.width <= 0 || box.height <= 0) return;
    qbAlphaChannelBlit b;
    b.alpha = plane;
    b.srcX = box.x - px;
    b.srcY = box.y - py;
    b.destination = target.bitmap;
    b.dstX = box.x;
    b.dstY = box.y;
    b.width = box.width;
    b.height = box.height;
    b.colour = colour & 0xFFFFFF;
    b.mode = 1;
    BltAlphaChannel(b);
}

void BlendDirectRow(const qbDirectTarget& target, int32_t x, int32_t y, const uint8_t* weights, int32_t count,
                    uint32_t colour) {
    const qbRect& c = target.clip;
    if (y < c.y || y - c.y >= c.height) return;
    const int32_t from = std::max(x, c.x);
    const int64_t to = std::min<int64_t>(int64_t{x} + count, int64_t{c.x} + c.width);
    qbPixelView view;
    if (to <= from || !PeekPlainPixels(target.bitmap, &view)) return;
    uint32_t* row = static_cast<uint32_t*>(view.pixels) + static_cast<ptrdiff_t>(y) * view.rowLength;
    ColourThroughWeights(row + from, weights + (from - x), static_cast<int32_t>(to - from), colour & 0xFFFFFF);
}

void MarkDirectShape(ScriptState* L, const qbDirectTarget& target, int32_t x, int32_t y, int32_t width,
                     int32_t height) {
    if (target.dirty) AddDirtyRect(L, x, y, width, height);
}
