#include "transitions/ripples.h"

#include <algorithm>
#include <atomic>

#include "core/bitmaplock.h"
#include "core/errcodes.h"
#include "core/memory.h"
#include "core/rowworkers.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/refresh.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/planekernels.h"
#include "imaging/swirlripple.h"
#include "objects/compositor.h"
#include "objects/layers.h"
#include "transitions/effectframe.h"
#include "transitions/effecthelpers.h"
#include "transitions/fades.h"
#include "transitions/effectscreen.h"
#include "transitions/effectstate.h"

namespace {

constexpr double kWaveLengths[] = {32.0, 64.0, 16.0, 8.0};
constexpr int32_t kSwirlSteps = 720;

// Both families: the frame picture, the layer's starting opacity and the
// kernel's tables (distances and sines for the water, sines and cosines
// for the swirl).
struct qbDisplaceData {
    qbBitmap* work;
    qbBitmap* alphaCopy;
    int32_t* distances;
    double* sine;
    double* cosine;
    // Threads that share a frame's rows (null on one processor, for small
    // pictures, or when they could not be had).
    qbRowWorkers* workers;
};

void FreeDisplaceData(qbEffectState* s) {
    auto* p = EffectPriv<qbDisplaceData>(s);
    if (!p) return;
    FreeBitmap(p->work);
    FreeAlphaChannel(p->alphaCopy);
    FreeMemory(p->distances);
    FreeMemory(p->sine);
    FreeMemory(p->cosine);
    FreeRowWorkers(p->workers);
    *p = qbDisplaceData{};
}

// The old picture is known only where the effect rectangle lies on the
// screen, but the kernels fetch pixels from anywhere in it: what lies off
// the screen is taken to be the new picture, which is what will show
// there, rather than whatever the fresh bitmap held.
void FillOffScreenBackground(qbEffectState* s) {
    if (!s->background || !s->image) return;
    const int64_t w = s->width, h = s->height;
    const int64_t x0 = std::clamp<int64_t>(-int64_t{s->x}, 0, w), y0 = std::clamp<int64_t>(-int64_t{s->y}, 0, h);
    const int64_t x1 = std::clamp<int64_t>(int64_t{s->screenWidth} - s->x, x0, w);
    const int64_t y1 = std::clamp<int64_t>(int64_t{s->screenHeight} - s->y, y0, h);
    auto copy = [s](int64_t x, int64_t y, int64_t cw, int64_t ch) {
        if (cw > 0 && ch > 0)
            CopyBitmapRect(s->image, int32_t(x), int32_t(y), s->background, int32_t(x), int32_t(y), int32_t(cw),
                           int32_t(ch));
    };
    copy(0, 0, w, y0);
    copy(0, y1, w, h - y1);
    copy(0, y0, x0, y1 - y0);
    copy(x1, y0, w - x1, y1 - y0);
}

// What both initialisations share: the record, the work picture or the
// layer's alpha copy, and the sine table.
int InitDisplace(qbEffectState* s, qbDisplaceData** out) {
    auto* p = AllocEffectPriv<qbDisplaceData>(s);
    if (!p) return ERR_MEM;
    *out = p;
    if (s->realtime) {
        p->alphaCopy = MakeEffectAlphaPlane(s->mask, s->alpha, s->width, s->height);
        if (!p->alphaCopy) return ERR_MEM;
    } else {
        p->work = EffectAllocBitmap(s->width, s->height);
        if (!p->work) return ERR_BITMAP;
        // Every frame writes all of it; filled now, its fresh pages are
        // mapped here and not in the first frame (some 2000 faults at
        // 1920x1080, milliseconds of that frame).
        if (s->image) CopyBitmapRect(s->image, 0, 0, p->work, 0, 0, s->width, s->height);
        if (s->objectType != kEffectBGPic) FillOffScreenBackground(s);
    }
    p->sine = static_cast<double*>(AllocMemory(sizeof(double) * kDisplaceTableSize, 0));
    if (!p->sine) return ERR_MEM;
    if (DisplaceWorthThreads(s->width, s->height)) {
        p->workers = AllocRowWorkers();
        if (p->workers && p->workers->Shares() < 2) {
            FreeRowWorkers(p->workers);
            p->workers = nullptr;
        }
    }
    return 0;
}

// The locks of one displaced frame: the new picture, the old one (plain
// bitmaps) and where the frame goes.
struct DisplaceLocks {
    qbBitmapLock source, source2, destination;
    bool ok = false;
    bool second = false;
    DisplaceLocks(qbBitmap* from, qbBitmap* old, qbBitmap* to) {
        if (!LockBitmap(from, kLockReadOnly, &source)) return;
        if (old && !LockBitmap(old, kLockReadOnly, &source2)) {
            UnlockBitmap(&source);
            return;
        }
        second = old != nullptr;
        if (!LockBitmap(to, 0, &destination)) {
            if (second) UnlockBitmap(&source2);
            UnlockBitmap(&source);
            return;
        }
        ok = source.bytesPerPixel == destination.bytesPerPixel &&
             (!second || source2.bytesPerPixel == source.bytesPerPixel) &&
             (source.bytesPerPixel == 4 || source.bytesPerPixel == 2);
        if (!ok) Release();
    }
    ~DisplaceLocks() {
        if (ok) Release();
    }
    void Release() {
        UnlockBitmap(&destination);
        if (second) UnlockBitmap(&source2);
        UnlockBitmap(&source);
    }
};

// Fills in what the kernels of both families read the same way.
template <class R>
void SetDisplacePlanes(qbEffectState* s, qbDisplaceData* p, const DisplaceLocks& l, R& r) {
    r.source = l.source.pixels;
    r.sourcePitch = l.source.rowLength;
    if (l.second) {
        r.source2 = l.source2.pixels;
        r.source2Pitch = l.source2.rowLength;
    }
    r.destination = l.destination.pixels;
    r.destinationPitch = l.destination.rowLength;
    r.pixelFormat = l.destination.pixelFormat;
    r.width = s->width;
    r.height = s->height;
    r.workers = p->workers;
    if (s->realtime) {
        r.reverse = s->reverse != 0;
        const AlphaRows from = AlphaRowsOf(p->alphaCopy, 0, 0), to = AlphaRowsOf(s->layerImages.alpha, 0, 0);
        r.sourceAlpha = from.data;
        r.sourceAlphaPitch = from.rowBytes;
        r.destinationAlpha = to.data;
        r.destinationAlphaPitch = to.rowBytes;
    }
}

// The last frame of both: the new picture as it is.
void ShowFinalPicture(qbEffectState* s, qbDisplaceData* p) {
    if (!s->realtime) {
        DrawEffectPieceFrom(s, s->image, nullptr, nullptr, 0, 0, s->width, s->height);
        return;
    }
    qbEffectLayerImages& li = s->layerImages;
    if (s->reverse) {
        FillAlphaRect(li.alpha, 0, 0, s->width, s->height, 0);
        return;
    }
    CopyBitmapRect(s->image, 0, 0, li.bitmap, 0, 0, s->width, s->height);
    MultiplyAlpha(AlphaRowsOf(li.alpha, 0, 0), AlphaRowsOf(p->alphaCopy, 0, 0), s->width, s->height, 255);
}

// A layer frame's redraw of the layer stack, done band by band right
// after the kernel makes each band of the layer's image, on the thread
// that made it: the redraw is shared among the row workers and reads rows
// still in the caches, where after the kernel it was a serial pass over
// the whole picture. What the redraw leaves in the display's picture is
// the same; the window is shown from it after the kernel.
struct LayerBands {
    qbLayerRowWalk walk;
    qbRect shown;          // on the screen, cut to the picture
    int64_t offsetY = 0;   // the screen row of the image's row 0
    // Rows the kernel made (and the bands redrew): a kernel that gave up
    // part way leaves the frame to the whole redraw.
    std::atomic<int64_t> rowsDone{0};
};

void RedrawBand(void* context, int32_t from, int32_t to) {
    auto* b = static_cast<LayerBands*>(context);
    const int64_t y0 = std::clamp<int64_t>(from + b->offsetY, INT32_MIN, INT32_MAX);
    const int64_t y1 = std::clamp<int64_t>(to + b->offsetY, INT32_MIN, INT32_MAX);
    DrawLayerRowWalk(b->walk, static_cast<int32_t>(y0), static_cast<int32_t>(y1));
    b->rowsDone.fetch_add(to - from, std::memory_order_relaxed);
}

// What ShowBlendFrame's redraw of the effect rectangle would draw, made
// ready for the bands; false where that takes the general redraw (styles,
// transparency, sprites, a route), or shows nothing, or is not to be now.
bool PrepareLayerBands(qbEffectState* s, LayerBands* b) {
    if (!s->realtime || !s->layer || s->layerHasExtras || s->replaying || !s->shownRects.empty()) return false;
    qbDisplay* d = GetCurrentDisplay();
    qbBGPic* shown = d ? d->bgpic : nullptr;
    if (!shown || !d->backBuffer) return false;
    const qbRect effect{s->x, s->y, s->width, s->height};
    const qbRect cut = IntersectRects(effect, qbRect{0, 0, shown->currentWidth, shown->currentHeight});
    if (cut.width < 1 || cut.height < 1) return false;
    if (!PrepareLayerRowWalk(s->script, d, shown, d->backBuffer.get(), &cut, 1, &b->walk)) return false;
    if (b->walk.box.width < 1 || b->walk.box.height < 1) return false;
    b->shown = cut;
    b->offsetY = s->y;
    return true;
}

// ShowBlendFrame for a frame whose bands are redrawn already.
void ShowRedrawnFrame(qbEffectState* s, const LayerBands& b) {
    if (!s->noBorderFade) s->layer->shadowfade = s->layer->borderfade = s->blendLevel + 1;
    if (qbDisplay* d = GetCurrentDisplay(); d && d->backBuffer)
        RefreshDisplayRect(d->backBuffer.get(), b.shown.x, b.shown.y, d, b.shown.x, b.shown.y, b.shown.width,
                           b.shown.height, kRefreshScaled);
    PresentEffectFrame(s);
}

// The frame's pixels come from the kernel; the plain bitmaps then show
// them, a layer's frame is shown (ShowBlendFrame, or the bands' redraw).
template <class R, class Run32, class Run16>
void DisplaceFrame(qbEffectState* s, qbDisplaceData* p, R& r, Run32 run32, Run16 run16) {
    qbBitmap* to = s->realtime ? s->layerImages.bitmap : p->work;
    LayerBands bands;
    bool banded = false;
    {
        DisplaceLocks locks(s->image, s->realtime ? nullptr : s->background, to);
        if (locks.ok) {
            SetDisplacePlanes(s, p, locks, r);
            if (locks.destination.bytesPerPixel == 4) {
                banded = PrepareLayerBands(s, &bands);
                if (banded) {
                    r.rowsDone = RedrawBand;
                    r.rowsContext = &bands;
                }
                run32(r);
            } else {
                run16(r);
            }
        }
    }
    s->layerImages.holdsPicture = 0;
    if (!s->realtime) DrawEffectPieceFrom(s, p->work, nullptr, nullptr, 0, 0, s->width, s->height);
    if (banded && bands.rowsDone.load(std::memory_order_relaxed) == s->height) ShowRedrawnFrame(s, bands);
    else ShowBlendFrame(s);
}

}  // namespace

void FreeWaterData(qbEffectState* s, int) { FreeDisplaceData(s); }
void FreeStrudelData(qbEffectState* s, int) { FreeDisplaceData(s); }

int RenderWater(qbEffectState* s, int* done) {
    const int32_t w = s->width, h = s->height;
    if (!done) {
        s->cleanup = FreeWaterData;
        const int32_t sp = s->speed;
        s->speed = sp == kNormalSpeed ? 25 : sp == kFastSpeed ? 10 : sp == kSlowSpeed ? 50 : std::clamp(sp, 5, 100);
        qbDisplaceData* p = nullptr;
        if (int err = InitDisplace(s, &p)) return err;
        p->distances = static_cast<int32_t*>(AllocMemory(sizeof(int32_t) * size_t(w) * size_t(h), 0));
        if (!p->distances) return ERR_MEM;
        qbRippleRequest r;
        r.distances = p->distances;
        r.sine = p->sine;
        r.width = w;
        r.height = h;
        r.centreX = w / 2;
        r.centreY = h / 2;
        InitRippleTables(r);
        s->frameCount = 2 * s->speed;
        return 0;
    }
    if (s->phase != 1 && s->phase != 2) return 0;
    auto* p = EffectPriv<qbDisplaceData>(s);
    const bool seek = s->phase == 2;
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
    const int32_t last = 2 * s->speed;
    const int32_t step = std::min(seek ? s->frame : s->frame + 1, last);
    s->blendLevel = step * 255 / last;
    if (s->reverse) s->blendLevel = 255 - s->blendLevel;
    if (step >= last) {
        *done = 1;
        ShowFinalPicture(s, p);
        ShowBlendFrame(s);
    } else {
        qbRippleRequest r;
        r.distances = p->distances;
        r.sine = p->sine;
        r.waveLength = kWaveLengths[std::clamp(s->type - 134, 0, 3)];
        r.amplitudePerStep = 0.05;
        r.steps = s->speed;
        r.centreX = w / 2;
        r.centreY = h / 2;
        // A 1 x 1 picture has its centre at 0, 0: an extent of 0, which the
        // kernel must not divide by.
        r.extent = std::max(r.centreX, r.centreY);
        DisplaceFrame(
            s, p, r, [step](qbRippleRequest& q) { RipplePixels32(q, step); },
            [step](qbRippleRequest& q) { RipplePixels16(q, step); });
    }
    if (!seek) ++s->frame;
    return 0;
}

int RenderStrudel(qbEffectState* s, int* done) {
    if (!done) {
        s->cleanup = FreeStrudelData;
        const int32_t sp = s->speed;
        s->speed = sp == kNormalSpeed ? 8 : sp == kFastSpeed ? 16 : sp == kSlowSpeed ? 4 : std::clamp(sp, 2, 16);
        qbDisplaceData* p = nullptr;
        if (int err = InitDisplace(s, &p)) return err;
        p->cosine = static_cast<double*>(AllocMemory(sizeof(double) * kDisplaceTableSize, 0));
        if (!p->cosine) return ERR_MEM;
        qbSwirlRequest r;
        r.sine = p->sine;
        r.cosine = p->cosine;
        InitSwirlTables(r);
        s->frameCount = FrameCountFor(kSwirlSteps, s->speed, 1);
        return 0;
    }
    if (s->phase != 1 && s->phase != 2) return 0;
    auto* p = EffectPriv<qbDisplaceData>(s);
    const bool seek = s->phase == 2;
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
    const int32_t angle = std::min(s->speed * (seek ? s->frame : s->frame + 1), kSwirlSteps);
    s->blendLevel = angle * 255 / kSwirlSteps;
    if (s->reverse) s->blendLevel = 255 - s->blendLevel;
    if (angle >= kSwirlSteps) {
        *done = 1;
        ShowFinalPicture(s, p);
        ShowBlendFrame(s);
    } else {
        qbSwirlRequest r;
        r.sine = p->sine;
        r.cosine = p->cosine;
        DisplaceFrame(
            s, p, r, [angle](qbSwirlRequest& q) { SwirlPixels32(q, angle); },
            [angle](qbSwirlRequest& q) { SwirlPixels16(q, angle); });
    }
    if (!seek) ++s->frame;
    return 0;
}
