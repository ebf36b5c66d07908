// SafeBlt: clipping, the clip region's mask, the draw itself, the upkeep of
// a selected target's planes and the refresh of what was drawn for a display.
#include "display/safeblt.h"

#include <algorithm>
#include <vector>

#include "core/errors.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/output.h"
#include "display/refresh.h"
#include "imaging/pixeltransfer.h"
#include "imaging/planekernels.h"

namespace {

constexpr int32_t kMaskModeForBitmaps = 2;

int32_t drawMaskMode = 0;
int32_t drawAlphaIntensity = -1;
// The combined clip plane, reused while it is large enough.
std::vector<uint8_t> scratch;


bool ScaledBuffers(const qbDisplay* d) { return d->outputScaling && d->scaleWidth > 0 && d->scaleHeight > 0; }

// The clip region's bits combined with the source's mask or alpha, laid out
// at the source position so that the copies address it like the source's
// own plane. Null when the scratch storage cannot grow.
BitmapPtr CombineWithClip(const qbSafeBlt& b, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w, int32_t h,
                          bool alpha) {
    const int32_t planeWidth = sx + w;
    const int32_t planeHeight = sy + h;
    const uint32_t rowBytes = alpha ? AlphaRowBytes(planeWidth) : MaskRowBytes(planeWidth);
    const size_t size = static_cast<size_t>(rowBytes) * static_cast<size_t>(planeHeight);
    if (scratch.size() < size) {
        try {
            std::vector<uint8_t>().swap(scratch);
            scratch.resize(size);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    const MaskRows clip = MaskRowsOf(b.clip->mask, dx - b.clip->x, dy - b.clip->y);
    BitmapPtr plane(alpha ? AllocAlphaChannel(planeWidth, planeHeight, false, scratch.data(), rowBytes)
                          : AllocMask(nullptr, planeWidth, planeHeight, false, scratch.data(), rowBytes));
    if (!plane) return nullptr;
    if (alpha)
        ClipCombineAlpha(AlphaRowsOf(plane.get(), sx, sy), AlphaRowsOf(b.alpha, sx, sy), clip, w, h);
    else
        ClipCombineMask(MaskRowsOf(plane.get(), sx, sy), MaskRowsOf(b.mask, sx, sy), clip, w, h);
    return plane;
}

// Keeps the mask and alpha planes of a selected output target in step with
// what was drawn into its bitmap (target), or draws into them alone when
// the target is a mask or alpha channel without a bitmap (target null).
void KeepPlanes(const qbDisplay* d, const qbBitmap* target, qbBitmap* mask, qbBitmap* alpha, int32_t sx, int32_t sy,
                int32_t dx, int32_t dy, int32_t w, int32_t h) {
    const qbOutputSelection& out = d->output;
    if (target != out.bitmap) return;
    const bool intoDisplay = out.type == kObjectTypeDisplay || out.type == kOutputAlphaChannel;
    if (out.mask) {
        const int mode = out.type == kOutputMask ? drawMaskMode : kMaskModeForBitmaps;
        if (alpha)
            AlphaToMask(MaskRowsOf(out.mask, dx, dy), AlphaRowsOf(alpha, sx, sy), w, h, mode);
        else if (mask)
            BlitMaskRect(mask, sx, sy, out.mask, dx, dy, w, h, mode, nullptr, 0);
        else
            FillMaskRect(out.mask, dx, dy, w, h, mode);
    }
    if (out.alpha) {
        const bool intensity = intoDisplay && drawAlphaIntensity >= 0;
        const uint8_t value = static_cast<uint8_t>(intensity ? drawAlphaIntensity : 255);
        if (alpha) {
            static constexpr int32_t kModeBySelection[] = {0, 1, 9};
            const int32_t mode = intensity ? 6 : kModeBySelection[std::clamp(d->selectionAlphaMode, 0, 2)];
            CombineAlphaRectClipped(alpha, sx, sy, out.alpha, dx, dy, w, h, mode, value, alpha->width, alpha->height,
                                    out.alpha->width, out.alpha->height);
        } else if (mask) {
            StampMaskIntoAlpha(AlphaRowsOf(out.alpha, dx, dy), MaskRowsOf(mask, sx, sy), w, h, value);
        } else {
            FillAlphaRect(out.alpha, dx, dy, w, h, value);
        }
    }
}

}  // namespace

int32_t GetDrawMaskMode() { return drawMaskMode; }
void SetDrawMaskMode(int32_t mode) { drawMaskMode = mode; }
int32_t GetDrawAlphaIntensity() { return drawAlphaIntensity; }
void SetDrawAlphaIntensity(int32_t intensity) { drawAlphaIntensity = intensity; }

void FreeSafeBltScratch() { std::vector<uint8_t>().swap(scratch); }

namespace {

// A blit's rectangle pair after clipping.
struct BlitRect {
    int32_t sx, sy, dx, dy, w, h;
};

// ClipBlitRect on a record, inline: out-of-line, the seven pointers would
// send every coordinate through memory on each blit. In 64 bits: a
// destination near the 32-bit limits is that far from every edge. What is
// left over fits 32 bits again; nothing left comes back as width and
// height 0.
inline void Clip(const qbClipRegion* clip, BlitRect& r, int32_t srcWidth, int32_t srcHeight, int32_t dstRight,
                 int32_t dstBottom, bool useClip) {
    const bool byClip = clip && useClip;
    const int64_t left = byClip ? clip->x : 0;
    const int64_t top = byClip ? clip->y : 0;
    const int64_t right = byClip ? left + clip->width : dstRight;
    const int64_t bottom = byClip ? top + clip->height : dstBottom;
    int64_t sx = r.sx, sy = r.sy, dx = r.dx, dy = r.dy, w = r.w, h = r.h;
    if (dx < left) {
        sx += left - dx;
        w -= left - dx;
        dx = left;
    }
    if (dy < top) {
        sy += top - dy;
        h -= top - dy;
        dy = top;
    }
    w = std::min({w, srcWidth - sx, right - dx});
    h = std::min({h, srcHeight - sy, bottom - dy});
    if (w < 1 || h < 1) {
        r.w = r.h = 0;
        return;
    }
    r = {static_cast<int32_t>(sx), static_cast<int32_t>(sy), static_cast<int32_t>(dx),
         static_cast<int32_t>(dy), static_cast<int32_t>(w), static_cast<int32_t>(h)};
}

// Whatever sizes the caller took its bitmaps for (an asynchronous drawing
// may outlive the buffer size it began with), a blit reads and writes only
// inside the bitmaps themselves.
inline void BoundToBitmaps(BlitRect& r, const qbBitmap* source, const qbBitmap* into) {
    int64_t w = r.w, h = r.h;
    if (source) {
        w = std::min<int64_t>(w, int64_t{source->width} - r.sx);
        h = std::min<int64_t>(h, int64_t{source->height} - r.sy);
    }
    if (into) {
        w = std::min<int64_t>(w, int64_t{into->width} - r.dx);
        h = std::min<int64_t>(h, int64_t{into->height} - r.dy);
    }
    if (w < 1 || h < 1 || r.dx < 0 || r.dy < 0) w = h = 0;
    r.w = static_cast<int32_t>(w);
    r.h = static_cast<int32_t>(h);
}

// One draw of the blit into a bitmap, by the planes it has.
[[gnu::always_inline]] inline void Draw(const qbDisplay* d, const qbSafeBlt& b, uint32_t flags, const BlitRect& r,
                                        qbBitmap* mask, qbBitmap* alpha, qbBitmap* into) {
    if (alpha) {
        // A selected target with an alpha plane: alpha mode 0 replaces the
        // colour (the plane upkeep then copies the alpha too); the other
        // modes blend by the target's own alpha before the upkeep changes
        // it, so that a transparent target takes the source colour whole.
        const bool intoTarget = d->output.alpha && into == d->output.bitmap && !(flags & kSafeBltDrawOnly);
        if (intoTarget && d->selectionAlphaMode == 0)
            CopyBitmapRect(b.source, r.sx, r.sy, into, r.dx, r.dy, r.w, r.h);
        else if (intoTarget)
            BlendBitmapRectOverAlpha(b.source, r.sx, r.sy, alpha, into, r.dx, r.dy, d->output.alpha, r.w, r.h);
        else
            CopyBitmapRectAlpha(b.source, r.sx, r.sy, into, r.dx, r.dy, r.w, r.h, alpha);
    } else if (mask) {
        CopyBitmapRectMasked(b.source, r.sx, r.sy, into, r.dx, r.dy, r.w, r.h, mask);
    } else {
        CopyBitmapRect(b.source, r.sx, r.sy, into, r.dx, r.dy, r.w, r.h);
    }
}

// Whether the blit lands on the display's picture under a shown sprite.
bool UnderSprites(const qbDisplay* d, const qbSafeBlt& b, uint32_t flags, const BlitRect& r) {
    if ((flags & kSafeBltNoSprites) || !d->bgpic || !d->bgpic->spriteInstances || !d->backBuffer ||
        !d->spriteFreeBuffer)
        return false;
    const bool forDisplay = b.destination ? b.destination == d->spriteFreeBuffer.get()
                                          : d->output.type == kObjectTypeDisplay;
    return forDisplay && RectOverlapsSprites(d->bgpic, r.dx, r.dy, r.w, r.h);
}

// The sprites stay on top of what is drawn under them. Drawing meant for
// the picture goes into the sprite-free buffer, and the back buffer is
// composed anew from it; drawing only for the window goes between the
// picture and the sprites in the back buffer.
void BltUnderSprites(ScriptState* L, qbDisplay* d, const qbSafeBlt& b, uint32_t flags, const BlitRect& r) {
    qbBitmap* back = d->backBuffer.get();
    qbSafeBlt inner = b;
    inner.flags = flags | kSafeBltNoSprites | kSafeBltNoRefresh;
    if (b.destination || (flags & kSafeBltSpriteBuffer) || b.mask || b.alpha) {
        inner.destination = d->spriteFreeBuffer.get();
        SafeBlt(L, inner);
        ComposeBGPicRect(L, d, d->bgpic, back, r.dx, r.dy, r.w, r.h, 0);
    } else {
        ComposeBGPicRect(L, d, d->bgpic, back, r.dx, r.dy, r.w, r.h, kRedrawNoSprites);
        inner.destination = back;
        inner.flags |= kSafeBltDrawOnly;
        SafeBlt(L, inner);
        ComposeBGPicRect(L, d, d->bgpic, back, r.dx, r.dy, r.w, r.h, kRedrawSpritesOnly);
    }
    if (!(flags & kSafeBltNoRefresh) && d != GetSpareDisplay())
        RefreshDisplayRect(back, r.dx, r.dy, d, r.dx, r.dy, r.w, r.h, kRefreshScaled);
}

// Everything a blit may need beyond one draw into a bitmap: the display's
// double buffer, the clip region's mask, the display as the destination,
// the display's buffers (a repeated draw, plane upkeep, the refresh). Kept
// out of line so that the common blit does not pay for its frame.
[[gnu::noinline]] void SafeBltRare(ScriptState* L, qbDisplay* d, const qbSafeBlt& b, uint32_t flags, BlitRect r,
                                   bool useClip) {
    if (d->softDoubleBuffer && (flags & kSafeBltDirect)) {
        BlitToDisplay(b.source, r.sx, r.sy, d, r.dx, r.dy, r.w, r.h, 0, 0, 0, b.mask, b.alpha);
        return;
    }
    if (UnderSprites(d, b, flags, r)) {
        BltUnderSprites(L, d, b, flags, r);
        return;
    }

    qbBitmap* mask = b.mask;
    qbBitmap* alpha = b.alpha;
    BitmapPtr combined;
    if (useClip && b.clip->mask) {
        combined = CombineWithClip(b, r.sx, r.sy, r.dx, r.dy, r.w, r.h, alpha != nullptr);
        if (!combined) return;
        if (alpha)
            alpha = combined.get();
        else
            mask = combined.get();
    }

    // A null destination is the current output: a selected bitmap, or a
    // selected mask or alpha channel, which alone take the drawing.
    qbBitmap* target = b.destination;
    const int32_t kind = d->output.type;
    if (!target && kind != kObjectTypeDisplay && kind != kOutputBGPic) {
        target = d->output.bitmap;
        if (!target) {
            if (!(flags & kSafeBltDrawOnly)) KeepPlanes(d, nullptr, mask, alpha, r.sx, r.sy, r.dx, r.dy, r.w, r.h);
            return;
        }
    }
    // Drawing for the display itself goes into its picture buffer unless it
    // is a plain copy, which goes straight to the window.
    if (!target && (mask || alpha)) {
        // A display without its picture buffers (not open yet) has nothing
        // to blend into.
        target = d->spriteFreeBuffer.get();
        if (!target) return;
    }
    if (!target) {
        const bool fromBuffer = b.source == d->spriteFreeBuffer.get() || b.source == d->backBuffer.get();
        RefreshDisplayRect(b.source, r.sx, r.sy, d, r.dx, r.dy, r.w, r.h,
                           fromBuffer && ScaledBuffers(d) ? uint32_t{kRefreshScaled} : 0u);
        return;
    }
    const bool intoSpriteFree = target == d->spriteFreeBuffer.get();
    BoundToBitmaps(r, b.source, target);
    if (intoSpriteFree && ScaledBuffers(d)) BoundToBitmaps(r, nullptr, d->backBuffer.get());
    if (r.w < 1 || r.h < 1) return;
    Draw(d, b, flags, r, mask, alpha, target);
    if (intoSpriteFree && ScaledBuffers(d) && d->backBuffer) Draw(d, b, flags, r, mask, alpha, d->backBuffer.get());

    if (!(flags & kSafeBltDrawOnly)) KeepPlanes(d, target, mask, alpha, r.sx, r.sy, r.dx, r.dy, r.w, r.h);

    // An adapter that double-buffers holds what reaches it until its flip.
    const bool displayBuffer = intoSpriteFree || target == d->backBuffer.get();
    const bool shown = d->output.type == kObjectTypeDisplay || d->hardDoubleBuffer;
    if (displayBuffer && shown && !(flags & kSafeBltNoRefresh) && d != GetSpareDisplay()) {
        qbBitmap* from = intoSpriteFree && ScaledBuffers(d) ? d->backBuffer.get() : target;
        RefreshDisplayRect(from, r.dx, r.dy, d, r.dx, r.dy, r.w, r.h, kRefreshScaled);
    }
}

}  // namespace

void ClipBlitRect(const qbClipRegion* clip, int32_t* srcX, int32_t* srcY, int32_t* dstX, int32_t* dstY,
                  int32_t* width, int32_t* height, int32_t srcWidth, int32_t srcHeight, int32_t dstRight,
                  int32_t dstBottom, bool useClip) {
    BlitRect r{*srcX, *srcY, *dstX, *dstY, *width, *height};
    Clip(clip, r, srcWidth, srcHeight, dstRight, dstBottom, useClip);
    *srcX = r.sx, *srcY = r.sy, *dstX = r.dx, *dstY = r.dy, *width = r.w, *height = r.h;
}

void SafeBlt(ScriptState* L, const qbSafeBlt& b) {
    qbDisplay* d = GetCurrentDisplay();
    uint32_t flags = b.flags;
    if (!d) {
        if (!b.destination || !(flags & kSafeBltDrawOnly) || !GetSpareDisplay()) {
            ConsolePrintf("ERROR! SAFEBLT() CALLED WITH DISPLAY=NULL!\n");
            return;
        }
        d = GetSpareDisplay();
        flags |= kSafeBltNoSprites;
    }
    if (!b.source || b.srcX < 0 || b.srcY < 0) return;
    BlitRect r{b.srcX, b.srcY, b.dstX, b.dstY, b.width, b.height};
    const bool useClip = b.clip && !(flags & kSafeBltIgnoreClip);
    Clip(b.clip, r, b.srcWidth, b.srcHeight, b.dstWidth, b.dstHeight, useClip);
    r.w = static_cast<int32_t>(std::min<int64_t>(r.w, int64_t{b.dstWidth} - r.dx));
    r.h = static_cast<int32_t>(std::min<int64_t>(r.h, int64_t{b.dstHeight} - r.dy));
    BoundToBitmaps(r, b.source, b.destination);
    if (r.w < 1 || r.h < 1) return;

    // The blit of nearly every drawing command: into a bitmap that is none
    // of the display's own, without a clip mask, with no planes of a
    // selected target to keep. One draw is all of it.
    qbBitmap* into = b.destination;
    const bool common = into && !(useClip && b.clip->mask) && !(d->softDoubleBuffer && (flags & kSafeBltDirect)) &&
                        into != d->spriteFreeBuffer.get() && into != d->backBuffer.get() &&
                        (into != d->output.bitmap || (flags & kSafeBltDrawOnly));
    if (common)
        Draw(d, b, flags, r, b.mask, b.alpha, into);
    else
        SafeBltRare(L, d, b, flags, r, useClip);
}
