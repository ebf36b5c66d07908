#include "transitions/strangepush.h"

#include <algorithm>
#include <climits>

#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "objects/layers.h"
#include "transitions/effectframe.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectscreen.h"
#include "transitions/effectstate.h"
#include "transitions/effectwhole.h"

namespace {

constexpr int32_t kHStrangePush = 99;

struct StrangePushPriv {
    int32_t travel;
    qbBitmap* work;  // the frame composed over the old picture; none in real time
    qbBitmap* masks[2];
    qbBitmap* alphas[2];
};

void FreePlanes(StrangePushPriv* p) {
    for (int i = 0; i < 2; ++i) {
        FreeMask(p->masks[i]);
        FreeAlphaChannel(p->alphas[i]);
        p->masks[i] = p->alphas[i] = nullptr;
    }
}

int32_t Size(const qbEffectState* s) {
    return s->type == kHStrangePush ? s->width : s->height;
}

int32_t Clamped(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// Lines [from, from + n) of the new picture at line `at`, through plane i.
void Half(qbEffectState* s, StrangePushPriv* p, int i, int32_t from, int32_t n, int32_t at) {
    if (n < 1) return;
    const int32_t W = s->width, H = s->height;
    const bool columns = s->type == kHStrangePush;
    const int32_t sx = columns ? from : 0, sy = columns ? 0 : from, dx = columns ? at : 0, dy = columns ? 0 : at;
    const int32_t w = columns ? n : W, h = columns ? H : n;
    if (s->realtime) {
        qbEffectLayerImages& li = s->layerImages;
        li.holdsPicture = 0;
        BlitEffectStrip(s->image, sx, sy, li.bitmap, li.mask, li.alpha, dx, dy, w, h, W, H, W, H, p->masks[i],
                        p->alphas[i], s, kStripCombine | kStripThroughPlane | kStripNoShow);
        return;
    }
    if (p->alphas[i]) CopyBitmapRectAlpha(s->image, sx, sy, p->work, dx, dy, w, h, p->alphas[i]);
    else CopyBitmapRectMasked(s->image, sx, sy, p->work, dx, dy, w, h, p->masks[i]);
}

int Frame(qbEffectState* s, int* done) {
    auto* p = EffectPriv<StrangePushPriv>(s);
    const int32_t size = Size(s), step = s->speed;
    if (s->phase == 2) {
        FreePlanes(p);
        if (int err = MakeInterlacedPlanes(s)) return err;
        const int64_t moved = int64_t{step} * s->frame;
        p->travel = Clamped(s->reverse ? size - moved : moved);
    } else if (s->frame == 0) {
        p->travel = s->reverse ? size - step : step;
    }
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
    if (!s->reverse && p->travel >= size) {
        p->travel = size;
        *done = 1;
    } else if (s->reverse && p->travel < 1) {
        p->travel = 0;
        *done = 1;
    }
    const int32_t W = s->width, H = s->height, t = std::max(p->travel, 0);
    if (s->realtime) {
        const qbEffectLayerImages& li = s->layerImages;
        FillEffectMask(li.mask, 0, 0, W, H, false);
        if (li.alpha) FillAlphaRect(li.alpha, 0, 0, W, H, 0);
    } else if (s->mask || s->alpha) {
        ClipAndCopyRect(s->background, 0, 0, p->work, 0, 0, W, H, W, H, W, H);
    }
    Half(s, p, 0, size - t, t, 0);
    Half(s, p, 1, 0, t, size - t);
    if (!s->realtime) DrawEffectPieceFrom(s, p->work, nullptr, nullptr, 0, 0, W, H);
    p->travel = Clamped(int64_t{p->travel} + (s->reverse ? -int64_t{step} : step));
    if (s->phase == 2) return 0;
    EndMovedFrame(s, true);
    ++s->frame;
    return 0;
}

}  // namespace

int MakeInterlacedPlanes(qbEffectState* s) {
    auto* p = EffectPriv<StrangePushPriv>(s);
    if (!p) return ERR_MEM;
    const int32_t W = s->width, H = s->height;
    for (int i = 0; i < 2; ++i) {
        if (s->alpha) {
            p->alphas[i] = EffectAllocAlpha(W, H, false);
            if (!p->alphas[i]) return ERR_ALLOCALPHA;
            CombineAlphaRect(s->alpha, 0, 0, p->alphas[i], 0, 0, W, H, 0, 0);
            for (int32_t y = i == 0 ? 0 : 1; y < H; y += 2) FillAlphaRect(p->alphas[i], 0, y, W, 1, 0);
        } else {
            p->masks[i] = EffectAllocMask(W, H, false);
            if (!p->masks[i]) return ERR_ALLOCMASK;
            if (s->mask) BlitMaskRect(s->mask, 0, 0, p->masks[i], 0, 0, W, H, kMaskVanillaCopy, nullptr, 0);
            else FillEffectMask(p->masks[i], 0, 0, W, H, true);
            for (int32_t y = i == 0 ? 0 : 1; y < H; y += 2) FillEffectMask(p->masks[i], 0, y, W, 1, false);
        }
    }
    return 0;
}

void FreeStrangePushData(qbEffectState* s, int) {
    auto* p = EffectPriv<StrangePushPriv>(s);
    if (!p) return;
    FreePlanes(p);
    FreeBitmap(p->work);
    p->work = nullptr;
}

int RenderStrangePush(qbEffectState* s, int* done) {
    if (done) return s->phase == 1 || s->phase == 2 ? Frame(s, done) : 0;
    auto* p = AllocEffectPriv<StrangePushPriv>(s);
    if (!p) return ERR_MEM;
    s->cleanup = FreeStrangePushData;
    const int32_t size = Size(s);
    s->speed = SpeedFromSize(s->speed, size, 60, 30, 120);
    // An even step keeps each half on its own rows of the picture.
    if (s->speed % 2) s->speed = s->speed == INT32_MAX ? INT32_MAX - 1 : s->speed + 1;
    if (!s->realtime) {
        p->work = EffectAllocBitmap(s->width, s->height);
        if (!p->work) return ERR_BITMAP;
        ClipAndCopyRect(s->background, 0, 0, p->work, 0, 0, s->width, s->height, s->width, s->height, s->width,
                        s->height);
    }
    if (int err = MakeInterlacedPlanes(s)) return err;
    p->travel = s->reverse ? size - s->speed : s->speed;
    s->frameCount = FrameCountFor(size - s->speed, s->speed, 0);
    return 0;
}
