#include "transitions/dissolve.h"

#include <algorithm>
#include <cstring>

#include "core/bitmaplock.h"
#include "core/errcodes.h"
#include "core/memory.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/effectkernels.h"
#include "objects/layers.h"
#include "transitions/effectasync.h"
#include "transitions/effectframe.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectrandom.h"
#include "transitions/effectscreen.h"
#include "transitions/effectstate.h"
#include "transitions/shapes.h"

namespace {

constexpr int32_t kPixelZoom2 = 133;

struct qbDissolveData {
    qbBitmap* work;
    qbBitmap* shapeMask;
    uint8_t* map;  // one byte per pixel, the order in which pixels appear
    bool workHoldsOld;  // see ComposeFrameRect
    // The threshold a layer's plane was last drawn at, plus one (0: not
    // known, a jump or the first frame draws the whole plane).
    int32_t planeThreshold;
};

struct qbPixelZoomData {
    qbBitmap* work;
    qbBitmap* workMask;
    qbBitmap* workAlpha;
    qbBitmap* compose;
};

// The whole picture in the layer's images (hiding: cleared), not shown yet.
void PutWholeLayerPicture(qbEffectState* s, qbBitmap* from, qbBitmap* mask, qbBitmap* alpha) {
    const qbEffectLayerImages& li = s->layerImages;
    BlitEffectStrip(from, 0, 0, li.bitmap, li.mask, li.alpha, 0, 0, s->width, s->height, s->width, s->height, s->width,
                    s->height, mask, alpha, s, kStripNoShow | (s->reverse ? kStripClear : 0u));
}

// Calls hit(x, y) for the pixels whose map value is in [from, to), the
// ones a step adds (to is at most 255 here, so a byte's distance from
// `from` tells). Sixteen map bytes are tested at a time, so the rows' long
// stretches without one cost a compare.
using Bytes16 = uint8_t __attribute__((vector_size(16)));

template <class Hit>
void ForEachShare(const uint8_t* map, int32_t w, int32_t h, uint32_t from, uint32_t to, const Hit& hit) {
    const auto first = static_cast<uint8_t>(from), span = static_cast<uint8_t>(to - from);
    const Bytes16 firsts = Bytes16{} + first, spans = Bytes16{} + span;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* m = map + static_cast<size_t>(y) * w;
        int32_t x = 0;
        for (; x + 16 <= w; x += 16) {
            Bytes16 v;
            std::memcpy(&v, m + x, sizeof v);
            const Bytes16 in = (v - firsts) < spans;
            uint64_t halves[2];
            std::memcpy(halves, &in, sizeof halves);
            if (!(halves[0] | halves[1])) continue;
            for (int32_t k = 0; k < 16; ++k)
                if (in[k]) hit(x + k, y);
        }
        for (; x < w; ++x)
            if (static_cast<uint8_t>(m[x] - first) < span) hit(x, y);
    }
}

// This frame's share of the new picture into work.
template <class Pixel>
void CopyShareRows(const Pixel* src, int32_t srcPitch, Pixel* dst, int32_t dstPitch, const uint8_t* map, int32_t w,
                   int32_t h, uint32_t from, uint32_t to) {
    ForEachShare(map, w, h, from, to, [&](int32_t x, int32_t y) {
        dst[static_cast<ptrdiff_t>(y) * dstPitch + x] = src[static_cast<ptrdiff_t>(y) * srcPitch + x];
    });
}

// A step of a layer's plane: the plane holds what ThresholdMapToMask gave
// at `from`, and only the share's bits or bytes differ at `to`.
void ShareIntoPlane(const ThresholdRecord& r, uint32_t from, uint32_t to) {
    ForEachShare(r.map, r.width, r.height, from, to, [&r](int32_t x, int32_t y) {
        const uint8_t* src = r.source ? r.source + static_cast<ptrdiff_t>(y) * r.sourcePitch : nullptr;
        uint8_t* dst = r.destination + static_cast<ptrdiff_t>(y) * r.destinationPitch;
        if (r.eightBit) {
            dst[x] = r.invert ? uint8_t{0} : src ? src[x] : uint8_t{255};
            return;
        }
        const auto bit = static_cast<uint8_t>(0x80u >> (x & 7));
        const bool on = !r.invert && (!src || (src[x >> 3] & bit) != 0);
        dst[x >> 3] = on ? static_cast<uint8_t>(dst[x >> 3] | bit) : static_cast<uint8_t>(dst[x >> 3] & ~bit);
    });
}

// False when the pictures cannot be read directly (then the mask does it).
bool CopyDissolveShare(qbEffectState* s, qbDissolveData* p, uint32_t from, uint32_t to) {
    if (GetBlitRoute() || !s->image || !p->work) return false;
    qbBitmapLock a, b;
    if (!LockBitmap(s->image, kLockReadOnly, &a)) return false;
    if (!LockBitmap(p->work, 0, &b)) {
        UnlockBitmap(&a);
        return false;
    }
    const bool same = a.bytesPerPixel == b.bytesPerPixel && (a.bytesPerPixel == 4 || a.bytesPerPixel == 2);
    if (same && a.bytesPerPixel == 4)
        CopyShareRows(static_cast<const uint32_t*>(a.pixels), a.rowLength, static_cast<uint32_t*>(b.pixels),
                      b.rowLength, p->map, s->width, s->height, from, to);
    else if (same)
        CopyShareRows(static_cast<const uint16_t*>(a.pixels), a.rowLength, static_cast<uint16_t*>(b.pixels),
                      b.rowLength, p->map, s->width, s->height, from, to);
    UnlockBitmap(&b);
    UnlockBitmap(&a);
    return same;
}

}  // namespace

void FreeDissolveData(qbEffectState* s, int) {
    auto* p = EffectPriv<qbDissolveData>(s);
    if (!p) return;
    FreeMemory(p->map);
    FreeMask(p->shapeMask);
    FreeBitmap(p->work);
    *p = qbDissolveData{};
}

int RenderDissolve(qbEffectState* s, int* done) {
    const int32_t w = s->width, h = s->height;
    if (!done) {
        auto* p = AllocEffectPriv<qbDissolveData>(s);
        if (!p) return ERR_MEM;
        s->cleanup = FreeDissolveData;
        const int32_t sp = s->speed;
        s->speed = sp == kNormalSpeed ? 4 : sp == kFastSpeed ? 8 : sp == kSlowSpeed ? 2 : std::clamp(sp, 1, 8);
        if (s->realtime) {
            CopyBitmapRect(s->image, 0, 0, s->layerImages.bitmap, 0, 0, w, h);
        } else {
            p->work = EffectAllocBitmap(w, h);
            if (!p->work) return ERR_BITMAP;
            p->shapeMask = EffectAllocMask(w, h, true);
            if (!p->shapeMask) return ERR_ALLOCMASK;
        }
        const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
        p->map = static_cast<uint8_t*>(AllocMemory(count, 0));
        if (!p->map) return ERR_MEM;
        for (size_t i = 0; i < count; ++i) p->map[i] = static_cast<uint8_t>(EffectRand() % 255);
        s->frameCount = FrameCountFor(256, s->speed, 1);
        return 0;
    }
    if (s->phase != 1 && s->phase != 2) return 0;
    auto* p = EffectPriv<qbDissolveData>(s);
    const bool seek = s->phase == 2;
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
    const int32_t threshold = s->speed * (seek ? s->frame : s->frame + 1);
    if (threshold >= 256) {
        *done = 1;
        if (s->realtime) PutWholeLayerPicture(s, s->image, s->mask, s->alpha);
        else DrawEffectPiece(s, 0, 0, w, h);
    } else {
        ThresholdRecord r;
        r.width = w;
        r.height = h;
        r.map = p->map;
        if (s->realtime) {
            const qbEffectLayerImages& li = s->layerImages;
            r.eightBit = li.alpha != nullptr;
            if (r.eightBit) {
                const AlphaRows from = AlphaRowsOf(s->alpha, 0, 0), to = AlphaRowsOf(li.alpha, 0, 0);
                r.source = from.data;
                r.sourcePitch = from.rowBytes;
                r.destination = to.data;
                r.destinationPitch = to.rowBytes;
            } else {
                const MaskRows from = MaskRowsOf(s->mask, 0, 0), to = MaskRowsOf(li.mask, 0, 0);
                r.source = from.data;
                r.sourcePitch = from.rowBytes;
                r.destination = to.data;
                r.destinationPitch = to.rowBytes;
            }
            r.invert = s->reverse != 0;
            if (r.destination) {
                const int32_t from = threshold - s->speed;
                if (!seek && from >= 0 && p->planeThreshold == from + 1)
                    ShareIntoPlane(r, static_cast<uint32_t>(from), static_cast<uint32_t>(threshold));
                else ThresholdMapToMask(r, static_cast<uint32_t>(threshold));
                p->planeThreshold = threshold + 1;
            }
        } else {
            // A step adds its share to what work holds; a jump composes the
            // whole mask again. The mask stays as the last jump left it:
            // only jumps read it.
            if (seek) p->workHoldsOld = false;  // a jump back shrinks the mask
            auto from = static_cast<uint32_t>(threshold - s->speed);
            if (!seek && !p->workHoldsOld && s->background) {
                // The first step: the old picture, then every share so far.
                CopyBitmapRect(s->background, 0, 0, p->work, 0, 0, w, h);
                p->workHoldsOld = true;
                from = 0;
            }
            if (!seek && p->workHoldsOld && CopyDissolveShare(s, p, from, static_cast<uint32_t>(threshold))) {
                DrawEffectPieceFrom(s, p->work, nullptr, nullptr, 0, 0, w, h);
            } else {
                const MaskRows to = MaskRowsOf(p->shapeMask, 0, 0);
                r.destination = to.data;
                r.destinationPitch = to.rowBytes;
                ThresholdMapToMask(r, static_cast<uint32_t>(threshold));
                ComposeFrameRect(s, 0, 0, w, h, p->shapeMask, nullptr, p->work, 0, &p->workHoldsOld);
            }
        }
    }
    if (!seek) ++s->frame;
    ShowProgressFrame(s);
    return 0;
}

void FreePixelZoomData(qbEffectState* s, int) {
    auto* p = EffectPriv<qbPixelZoomData>(s);
    if (!p) return;
    FreeBitmap(p->compose);
    FreeMask(p->workMask);
    FreeAlphaChannel(p->workAlpha);
    FreeBitmap(p->work);
    *p = qbPixelZoomData{};
}

namespace {

bool RunsAsPixelZoom2(const qbEffectState* s) { return s->type == kPixelZoom2 && (!s->realtime || s->bgpicEmu); }

// The source in blocks into `into` (work, or a layer's effect image), with
// the picture's planes into work's when the source is the new picture.
// False when a lock failed.
bool PixelateInto(qbEffectState* s, qbPixelZoomData* p, qbBitmap* source, qbBitmap* into, int32_t block) {
    qbBitmapLock from, to;
    if (!LockBitmap(source, kLockReadOnly, &from)) return false;
    if (!LockBitmap(into, 0, &to)) {
        UnlockBitmap(&from);
        return false;
    }
    qbPixelateRecord r;
    r.source = from.pixels;
    r.destination = to.pixels;
    r.sourcePitch = from.rowLength;
    r.destinationPitch = to.rowLength;
    r.width = s->width;
    r.height = s->height;
    r.block = block;
    if (source == s->image) {
        const MaskRows sm = MaskRowsOf(s->mask, 0, 0), dm = MaskRowsOf(p->workMask, 0, 0);
        const AlphaRows sa = AlphaRowsOf(s->alpha, 0, 0), da = AlphaRowsOf(p->workAlpha, 0, 0);
        r.sourceMask = sm.data;
        r.sourceMaskPitch = sm.rowBytes;
        r.destinationMask = dm.data;
        r.destinationMaskPitch = dm.rowBytes;
        r.sourceAlpha = sa.data;
        r.sourceAlphaPitch = sa.rowBytes;
        r.destinationAlpha = da.data;
        r.destinationAlphaPitch = da.rowBytes;
    }
    const bool same = from.bytesPerPixel == to.bytesPerPixel;
    if (same && to.bytesPerPixel == 4) PixelatePixels32(r);
    else if (same && to.bytesPerPixel == 2) PixelatePixels16(r);
    UnlockBitmap(&to);
    UnlockBitmap(&from);
    return true;
}

void ShowBlocks(qbEffectState* s, qbPixelZoomData* p, qbBitmap* source, int32_t block) {
    const int32_t w = s->width, h = s->height;
    const bool own = source == s->image;
    qbBitmap* mask = own ? (block > 1 ? p->workMask : s->mask) : nullptr;
    qbBitmap* alpha = own ? (block > 1 ? p->workAlpha : s->alpha) : nullptr;
    if (s->realtime) {
        // The blocks go straight into the layer's image, not through work
        // and a copy of it. A failed lock shows what the image held before.
        const qbEffectLayerImages& li = s->layerImages;
        if (block > 1) PixelateInto(s, p, source, li.bitmap, block);
        BlitEffectStrip(block > 1 ? p->work : source, 0, 0, li.bitmap, li.mask, li.alpha, 0, 0, w, h, w, h, w, h,
                        mask, alpha, s, kStripNoShow | (block > 1 ? kStripPixelsInPlace : 0u));
        return;
    }
    // A failed lock shows what work held before.
    if (block > 1) PixelateInto(s, p, source, p->work, block);
    qbBitmap* picture = block > 1 ? p->work : source;
    if (!mask && !alpha) {
        DrawEffectPieceFrom(s, picture, nullptr, nullptr, 0, 0, w, h);
        return;
    }
    CopyBitmapRect(s->background, 0, 0, p->compose, 0, 0, w, h);
    if (alpha) CopyBitmapRectAlpha(picture, 0, 0, p->compose, 0, 0, w, h, alpha);
    else CopyBitmapRectMasked(picture, 0, 0, p->compose, 0, 0, w, h, mask);
    DrawEffectPieceFrom(s, p->compose, nullptr, nullptr, 0, 0, w, h);
}

}  // namespace

int RenderPixelZoom(qbEffectState* s, int* done) {
    const int32_t w = s->width, h = s->height;
    if (!done) {
        auto* p = AllocEffectPriv<qbPixelZoomData>(s);
        if (!p) return ERR_MEM;
        s->cleanup = FreePixelZoomData;
        p->work = EffectAllocBitmap(w, h);
        if (!p->work) return ERR_BITMAP;
        if (s->mask || s->alpha) {
            p->compose = EffectAllocBitmap(w, h);
            if (!p->compose) return ERR_BITMAP;
        }
        if (s->mask) {
            p->workMask = EffectAllocMask(w, h, true);
            if (!p->workMask) return ERR_ALLOCMASK;
        }
        if (s->alpha) {
            p->workAlpha = EffectAllocAlpha(w, h, true);
            if (!p->workAlpha) return ERR_ALLOCALPHA;
        }
        s->frameCount = RunsAsPixelZoom2(s) ? 49 : 25;
        return 0;
    }
    if (s->phase != 1 && s->phase != 2) return 0;
    auto* p = EffectPriv<qbPixelZoomData>(s);
    const bool seek = s->phase == 2;
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
    const int32_t step = seek ? s->frame : s->frame + 1;
    const bool zoom2 = RunsAsPixelZoom2(s);
    int32_t block = 0;
    qbBitmap* source = s->image;
    if (s->reverse) {
        if (step >= 25) {
            *done = 1;
            if (s->realtime) PutWholeLayerPicture(s, s->image, nullptr, nullptr);
            else DrawEffectPieceFrom(s, s->background, nullptr, nullptr, 0, 0, w, h);
        } else {
            block = step + 1;
        }
    } else if (!zoom2) {
        // The end shows the plain picture again, which a jump there needs.
        if (step > 24) *done = 1;
        block = std::max(25 - step, 1);
    } else if (step > 48) {
        *done = 1;
        block = 1;
    } else if (step < 24) {
        block = step + 1;
        source = s->background;
    } else {
        block = 49 - step;
    }
    if (block > 0 && source) {
        if (s->bgpicEmu && zoom2) RefreshEmulatedBGPic(s, source == s->background ? 3 : 2);
        ShowBlocks(s, p, source, std::max(block, 1));
    }
    if (!seek) ++s->frame;
    ShowProgressFrame(s);
    return 0;
}
