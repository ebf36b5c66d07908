#include "transitions/fades.h"

#include <algorithm>

#include "core/errcodes.h"
#include "core/objectlist.h"
#include "core/memory.h"
#include "core/nativebitmap.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "draw/asyncdraw.h"
#include "imaging/bitmap.h"
#include "imaging/bitmapfilters.h"
#include "core/bitmaplock.h"
#include "imaging/blit.h"
#include "imaging/kernels.h"
#include "imaging/geometry.h"
#include "imaging/mixbitmaps.h"
#include "imaging/planekernels.h"
#include "objects/compositor.h"
#include "objects/dirtyrects.h"
#include "objects/layerfilters.h"
#include "objects/layers.h"
#include "transitions/effectframe.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectrandom.h"
#include "transitions/effectscreen.h"
#include "transitions/effectstate.h"

namespace {

constexpr int32_t kFade = 116;

struct qbFadeData {
    qbBitmap* work;
    qbBitmap* tinted;
    qbBitmap* alphaCopy;
    uint32_t colour;
    // The level the layer's alpha plane was last faded to, plus one (0: not
    // known): a layer frame at the same level leaves the plane as it is.
    int32_t alphaLevelShown;
    bool colourShown;  // the layer's bitmap holds the plain colour
};

AlphaRows RowsOf(qbBitmap* plane) { return AlphaRowsOf(plane, 0, 0); }

// The layer's alpha plane = the picture's opacity x level / 255.
void FadeLayerAlpha(qbEffectState* s, qbBitmap* alphaCopy, int32_t level) {
    qbBitmap* to = s->layerImages.alpha;
    if (!to || !alphaCopy) return;
    MultiplyAlpha(RowsOf(to), RowsOf(alphaCopy), s->width, s->height, static_cast<uint32_t>(level));
}

// A copy of `from` tinted towards the colour by a, a band of rows at a
// time: the tint finds each band in the caches where the copy left it,
// instead of reading the whole picture back from memory.
void CopyTinted(qbBitmap* from, qbBitmap* to, int32_t w, int32_t h, uint32_t colour, int32_t a) {
    constexpr int32_t kBandRows = 32;
    for (int32_t y = 0; y < h; y += kBandRows) {
        const int32_t rows = std::min(kBandRows, h - y);
        CopyBitmapRect(from, 0, y, to, 0, y, w, rows);
        if (a > 0) TintBitmap(to, 0, y, w, rows, colour, a);
    }
}

// Speeds of the presets, and the range the others are held to.
int32_t BlendSpeed(int32_t speed, int32_t preset, int32_t most) {
    if (speed == kNormalSpeed || speed == kFastSpeed || speed == kSlowSpeed) return preset;
    if (speed < 1) return preset;
    return std::min(speed, most);
}

// The frame: the old picture mixed into the new by the level, into work;
// in one pass where the three pictures share a 4-byte format.
void MixFrame(qbEffectState* s, qbCrossFadeData* p) {
    const int32_t w = s->width, h = s->height;
    qbBitmapLock to, image, old;
    bool fused = false;
    // The last frame is the new picture itself, which the mix rule at the
    // full level is not.
    if (p->level < 255 && LockBitmap(p->work, 0, &to)) {
        if (LockBitmap(s->image, kLockReadOnly, &image)) {
            if (LockBitmap(s->background, kLockReadOnly, &old)) {
                fused = to.bytesPerPixel == 4 && image.bytesPerPixel == 4 && old.bytesPerPixel == 4 &&
                        to.pixelFormat == image.pixelFormat && to.pixelFormat == old.pixelFormat;
                if (fused)
                    Mix32To({static_cast<uint32_t*>(to.pixels), to.rowLength, 0, 0},
                            {static_cast<uint32_t*>(image.pixels), image.rowLength, 0, 0},
                            {static_cast<uint32_t*>(old.pixels), old.rowLength, 0, 0}, w, h, to.pixelFormat,
                            static_cast<uint32_t>(255 - p->level));
                UnlockBitmap(&old);
            }
            UnlockBitmap(&image);
        }
        UnlockBitmap(&to);
    }
    if (fused) return;
    CopyBitmapRect(s->image, 0, 0, p->work, 0, 0, w, h);
    if (p->level < 255) MixBitmaps(p->work, s->background, nullptr, 0, 0, 0, 0, w, h, 255 - p->level, nullptr, 0, 0);
}

}  // namespace

qbBitmap* MakeEffectAlphaPlane(qbBitmap* mask, qbBitmap* alpha, int32_t width, int32_t height) {
    qbBitmap* plane = EffectAllocAlpha(width, height, false);
    if (!plane) return nullptr;
    if (mask) MaskToAlpha(RowsOf(plane), MaskRowsOf(mask, 0, 0), width, height, 255);
    else if (alpha) MultiplyAlpha(RowsOf(plane), RowsOf(alpha), width, height, 255);
    else FillAlphaRect(plane, 0, 0, width, height, 255);
    return plane;
}

int32_t CollectLayersBelow(qbBGPic* bgpic, qbLayer* layer, qbCoverEntry* entries) {
    if (!bgpic || !bgpic->layers || !layer || !layer->shownstate) return 0;
    const qbLayerState* me = layer->shownstate;
    const qbRect box{me->shownx, me->showny, me->shownwidth, me->shownheight};
    int32_t count = 0;
    for (const auto& other : bgpic->layers->layers) {
        if (other.get() == layer) break;
        const qbLayerState* st = other->shownstate;
        if (other->hidden || other->pending || !st) continue;
        if (IntersectRects(box, {st->shownx, st->showny, st->shownwidth, st->shownheight}).width <= 0) continue;
        if (entries) {
            qbCoverEntry& e = entries[count];
            e.layer = other.get();
            e.x = st->shownx;
            e.y = st->showny;
            e.width = st->shownwidth;
            e.height = st->shownheight;
            e.words[0] = st->srcx;
            e.words[1] = st->srcy;
            e.words[2] = other->type;
        }
        ++count;
    }
    return count;
}

int AsyncSourceBelowOverlaps(qbBGPic* bgpic, qbLayer* layer) {
    if (!bgpic || !bgpic->layers || !layer || !layer->shownstate) return 0;
    const qbLayerState* me = layer->shownstate;
    const qbRect box{me->shownx, me->showny, me->shownwidth, me->shownheight};
    for (const auto& other : bgpic->layers->layers) {
        if (other.get() == layer) break;
        const qbLayerState* st = other->shownstate;
        if (other->hidden || other->pending || !st || !IsObjectUsedByAsyncDraw(other.get())) continue;
        if (IntersectRects(box, {st->shownx, st->showny, st->shownwidth, st->shownheight}).width > 0) return 1;
    }
    return 0;
}

void ShowBlendFrame(qbEffectState* s) {
    if (!s->realtime || !s->layer) {
        PresentEffectFrame(s);
        return;
    }
    qbLayer* layer = s->layer;
    if (!s->noBorderFade) layer->shadowfade = layer->borderfade = s->blendLevel + 1;
    int32_t x = s->x, y = s->y, w = s->width, h = s->height;
    if (s->layerHasExtras) {
        qbLayerState* st = layer->shownstate;
        // The shadow plane holds its opacity: it is made again at the new one.
        if (layer->shadow.shadow && st) {
            FreeAlphaChannel(st->shadowalpha);
            st->shadowalpha = nullptr;
        }
        GetLayerBounds(s->script, layer, st, &x, &y, &w, &h);
        if (layer->hasgeometricfilter) FreeLayerFilterCaches(layer);
    }
    BlitEffectRect(s, x, y, w, h);
    PresentEffectFrame(s);
}

void FreeCrossFadeData(qbEffectState* s, int) {
    auto* p = EffectPriv<qbCrossFadeData>(s);
    if (!p) return;
    FreeBitmap(p->work);
    FreeBitmap(p->spare);
    FreeBitmap(p->composite);
    FreeAlphaChannel(p->alphaCopy);
    FreeMemory(p->coverSaved);
    FreeMemory(p->coverNow);
    *p = qbCrossFadeData{};
}

namespace {

constexpr uint32_t kAdapterBlendsFrames = 2;

qbBGPic* EffectBGPic() {
    const qbDisplay* d = GetCurrentDisplay();
    return d ? d->bgpic : nullptr;
}

// What keeps a layer's prepared picture valid beyond the layers under it.
bool LayerKeepsPrepared(qbEffectState* s) {
    qbLayer* layer = s->layer;
    const qbLayerState* st = layer->shownstate;
    return !s->autoScaled && !s->layerImages.layerWasTransformed && !s->layerHasExtras && !layer->cliptransformmode &&
           !HasActiveFilters(layer->filters) && !st->clipregion && IsLayerUncovered(s->script, layer) &&
           !AsyncSourceBelowOverlaps(EffectBGPic(), layer);
}

bool ChoosePrepared(qbEffectState* s) {
    if (!(QueryDisplayAdapterCaps(kAdapterBlendsFrames) & kAdapterBlendsFrames)) return false;
    if (s->realtime) return s->layer && EffectBGPic() && LayerKeepsPrepared(s);
    return !s->async && !AsyncDrawListHead()->head && !s->autoScaled && s->background &&
           !(EffectBGPic() && RectOverlapsSprites(EffectBGPic(), s->x, s->y, s->width, s->height));
}

// The layers under the effect's layer as they were at the start.
int RecordCover(qbEffectState* s, qbCrossFadeData* p) {
    qbBGPic* pic = EffectBGPic();
    p->coverCount = CollectLayersBelow(pic, s->layer, nullptr);
    const size_t bytes = sizeof(qbCoverEntry) * static_cast<size_t>(std::max(p->coverCount, 1));
    p->coverSaved = static_cast<qbCoverEntry*>(AllocMemory(bytes, 1));
    p->coverNow = static_cast<qbCoverEntry*>(AllocMemory(bytes, 1));
    if (!p->coverSaved || !p->coverNow) return ERR_MEM;
    CollectLayersBelow(pic, s->layer, p->coverSaved);
    p->layerX = s->layer->shownstate->shownx;
    p->layerY = s->layer->shownstate->showny;
    return 0;
}

// Anything changed under or over the layer ends the prepared picture.
void CheckCover(qbEffectState* s, qbCrossFadeData* p) {
    qbBGPic* pic = EffectBGPic();
    const qbLayerState* st = s->layer->shownstate;
    const int32_t count = CollectLayersBelow(pic, s->layer, nullptr);
    bool same = count == p->coverCount && st->shownx == p->layerX && st->showny == p->layerY && LayerKeepsPrepared(s);
    if (same) {
        CollectLayersBelow(pic, s->layer, p->coverNow);
        for (int32_t i = 0; i < count && same; ++i) {
            const qbCoverEntry &a = p->coverNow[i], &b = p->coverSaved[i];
            same = a.layer == b.layer && a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height &&
                   std::equal(a.words, a.words + 3, b.words);
        }
    }
    if (!same) p->prepared = 0;
}

// The final picture: the new one over the old through its planes.
int PrepareComposite(qbEffectState* s, qbCrossFadeData* p) {
    const int32_t w = s->width, h = s->height;
    p->spare = EffectAllocBitmap(w, h);
    p->composite = EffectAllocBitmap(w, h);
    if (!p->work || !p->spare || !p->composite) return ERR_MEM;
    qbBitmap* base = s->background;
    if (!base) return 0;
    CopyBitmapRect(base, 0, 0, p->composite, 0, 0, w, h);
    CopyBitmapRect(base, 0, 0, p->spare, 0, 0, w, h);
    qbBitmap* over = s->realtime && s->reverse ? p->spare : p->composite;
    if (s->alpha) CopyBitmapRectAlpha(s->image, 0, 0, over, 0, 0, w, h, s->alpha);
    else if (s->mask) CopyBitmapRectMasked(s->image, 0, 0, over, 0, 0, w, h, s->mask);
    else CopyBitmapRect(s->image, 0, 0, over, 0, 0, w, h);
    s->blitFlags = 3;
    return 0;
}

}  // namespace

int RenderCrossFade(qbEffectState* s, int* done) {
    if (!done) {
        auto* p = AllocEffectPriv<qbCrossFadeData>(s);
        if (!p) return ERR_MEM;
        s->cleanup = FreeCrossFadeData;
        s->speed = BlendSpeed(s->speed, 10, 120);
        p->prepared = ChoosePrepared(s);
        if (p->prepared && s->realtime)
            if (int err = RecordCover(s, p)) return err;
        if (p->prepared) {
            p->work = EffectAllocBitmap(s->width, s->height);
            if (int err = PrepareComposite(s, p)) return err;
        } else if (!s->realtime) {
            p->work = EffectAllocBitmap(s->width, s->height);
            if (!p->work) return ERR_BITMAP;
        }
        if (s->realtime) {
            CopyBitmapRect(s->image, 0, 0, s->layerImages.bitmap, 0, 0, s->width, s->height);
            p->alphaCopy = MakeEffectAlphaPlane(s->mask, s->alpha, s->width, s->height);
            if (!p->alphaCopy) return ERR_MEM;
        }
        s->frameCount = FrameCountFor(255, s->speed, 1);
        return 0;
    }
    if (s->phase != 1 && s->phase != 2) return 0;
    auto* p = EffectPriv<qbCrossFadeData>(s);
    const bool seek = s->phase == 2;
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
    p->level = seek ? s->speed * s->frame : p->level + s->speed;
    if (p->level > 254) {
        *done = 1;
        p->level = 255;
    }
    s->blendLevel = s->reverse ? 255 - p->level : p->level;
    // A jump ends the prepared picture: the layers may have changed since.
    if (seek && s->realtime) p->prepared = 0;
    if (p->prepared && s->realtime) CheckCover(s, p);
    if (p->prepared) {
        CopyBitmapRect(p->composite, 0, 0, p->work, 0, 0, s->width, s->height);
        if (*done) s->blitFlags = 4;
        if (s->realtime) FadeLayerAlpha(s, p->alphaCopy, s->blendLevel);
        else DrawEffectPieceFrom(s, p->work, nullptr, nullptr, 0, 0, s->width, s->height);
    } else if (s->realtime) {
        FadeLayerAlpha(s, p->alphaCopy, s->blendLevel);
    } else {
        MixFrame(s, p);
        DrawEffectPieceFrom(s, p->work, nullptr, nullptr, 0, 0, s->width, s->height);
    }
    ShowBlendFrame(s);
    if (!seek) ++s->frame;
    return 0;
}

void FreeFadeData(qbEffectState* s, int) {
    auto* p = EffectPriv<qbFadeData>(s);
    if (!p) return;
    FreeBitmap(p->work);
    FreeBitmap(p->tinted);
    FreeAlphaChannel(p->alphaCopy);
    p->work = p->tinted = p->alphaCopy = nullptr;
}

int RenderFadeBlend(qbEffectState* s, int* done) {
    const bool fade = s->type == kFade;
    if (!done) {
        auto* p = AllocEffectPriv<qbFadeData>(s);
        if (!p) return ERR_MEM;
        s->cleanup = FreeFadeData;
        s->speed = BlendSpeed(s->speed, 10, 255);
        p->colour = s->parameter == kRandomParameter ? static_cast<uint32_t>(EffectRand() % 16777216)
                                                      : static_cast<uint32_t>(s->parameter) & 0xFFFFFFu;
        if (s->realtime) {
            p->alphaCopy = MakeEffectAlphaPlane(s->mask, s->alpha, s->width, s->height);
            if (!p->alphaCopy) return ERR_MEM;
        } else {
            p->work = EffectAllocBitmap(s->width, s->height);
            if (!p->work) return ERR_BITMAP;
            p->tinted = EffectAllocBitmap(s->width, s->height);
            if (!p->tinted) return ERR_BITMAP;
        }
        s->frameCount = FrameCountFor(511 - s->speed, s->speed, 0);
        return 0;
    }
    if (s->phase != 1 && s->phase != 2) return 0;
    auto* p = EffectPriv<qbFadeData>(s);
    const bool seek = s->phase == 2;
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
    // Frame n stands at t = n x speed: every frame follows from its number,
    // so a jump draws what the steps drew.
    int32_t t = s->speed * (seek ? s->frame : s->frame + 1);
    if (t > 510) {
        *done = 1;
        t = 511;
    }
    const int32_t a = t <= 255 ? t : 511 - t;
    const int32_t w = s->width, h = s->height;
    if (s->realtime) {
        qbEffectLayerImages& li = s->layerImages;
        // Hiding ends by fading the colour away; a fade's show starts by
        // fading the colour in: the layer then shows the plain colour.
        const bool colourOnly = (fade && !s->reverse && t <= 255) || (s->reverse && t >= 257);
        const int32_t level = colourOnly ? a : 255;
        // What a frame would write again as it is, it leaves; a jump may
        // come after anything was drawn into the layer's images.
        if (!colourOnly) CopyTinted(s->image, li.bitmap, w, h, p->colour, a);
        else if (seek || !p->colourShown) FillBitmapRect(li.bitmap, 0, 0, w, h, p->colour);
        p->colourShown = colourOnly;
        if (seek || p->alphaLevelShown != level + 1) FadeLayerAlpha(s, p->alphaCopy, level);
        p->alphaLevelShown = level + 1;
        s->blendLevel = level;
        li.holdsPicture = 0;
    } else {
        // The first half of a fade tints the old picture, everything else
        // the new one.
        qbBitmap* picture = fade && t <= 255 ? s->background : s->image;
        CopyTinted(picture, p->tinted, w, h, p->colour, a);
        // Without a mask or an alpha plane the tinted picture is the whole
        // frame: two full-frame copies fewer.
        qbBitmap* frame = p->tinted;
        if (s->alpha || s->mask) {
            CopyBitmapRect(s->background, 0, 0, p->work, 0, 0, w, h);
            if (s->alpha) CopyBitmapRectAlpha(p->tinted, 0, 0, p->work, 0, 0, w, h, s->alpha);
            else CopyBitmapRectMasked(p->tinted, 0, 0, p->work, 0, 0, w, h, s->mask);
            frame = p->work;
        }
        DrawEffectPieceFrom(s, frame, nullptr, nullptr, 0, 0, w, h);
        s->blendLevel = 255;
    }
    ShowBlendFrame(s);
    if (!seek) ++s->frame;
    return 0;
}
