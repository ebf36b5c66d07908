#include "transitions/roll.h"

#include <algorithm>
#include <climits>
#include <new>
#include <numeric>
#include <vector>

#include "core/errcodes.h"
#include "core/memory.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/rollstrips.h"
#include "objects/layers.h"
#include "transitions/effectframe.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectscreen.h"
#include "transitions/effectstate.h"
#include "transitions/effectwhole.h"
#include "transitions/shapes.h"

namespace {

constexpr int32_t kRollLeft = 85, kWallpaperTop = 86, kWallpaperLeft = 87;
constexpr int32_t kMostStep = 8;

struct RollPriv {
    qbBitmap* curl;
    qbBitmap* compose;
    qbBitmap* curlMask;
    qbBitmap* curlAlpha;
    double* profile;
    qbRollRecord record;
    int32_t position, previousEnd, composed;
};

bool AlongX(int32_t type) {
    return type == kRollLeft || type == kWallpaperLeft;
}
int32_t SizeOf(const qbEffectState* s) {
    return AlongX(s->type) ? s->width : s->height;
}

// Lines [from, to) along the roll as a rectangle of the effect.
struct Lines {
    bool alongX;
    int32_t W, H;
    void Rect(int32_t from, int32_t to, int32_t* x, int32_t* y, int32_t* w, int32_t* h) const {
        *x = alongX ? from : 0;
        *y = alongX ? 0 : from;
        *w = alongX ? to - from : W;
        *h = alongX ? H : to - from;
    }
};

Lines LinesOf(const qbEffectState* s) {
    return Lines{AlongX(s->type), s->width, s->height};
}

// The old picture (what lies under the layer) back over [from, to).
void GiveBack(qbEffectState* s, RollPriv* p, int32_t from, int32_t to, uint32_t flags) {
    if (to <= from) return;
    int32_t x, y, w, h;
    LinesOf(s).Rect(from, to, &x, &y, &w, &h);
    if (s->realtime) {
        const qbEffectLayerImages& li = s->layerImages;
        BlitEffectStrip(nullptr, x, y, li.bitmap, li.mask, li.alpha, x, y, w, h, s->width, s->height, s->width,
                        s->height, nullptr, nullptr, s, kStripClear | flags);
        return;
    }
    RestoreOldPicture(s, x, y, p->compose, x, y, w, h);
    DrawEffectPieceFrom(s, p->compose, nullptr, nullptr, x, y, w, h);
}

// Lines [from, to) of src (the new picture or the curl) with its planes:
// into the layer's images, or over the old picture in the compose picture
// and from there onto the screen.
void Band(qbEffectState* s, RollPriv* p, qbBitmap* src, qbBitmap* mask, qbBitmap* alpha, int32_t from, int32_t to,
          uint32_t flags) {
    if (to <= from) return;
    int32_t x, y, w, h;
    LinesOf(s).Rect(from, to, &x, &y, &w, &h);
    if (s->realtime) {
        const qbEffectLayerImages& li = s->layerImages;
        if (src != s->image) s->layerImages.holdsPicture = 0;
        BlitEffectStrip(src, x, y, li.bitmap, li.mask, li.alpha, x, y, w, h, s->width, s->height, s->width, s->height,
                        mask, alpha, s, flags);
        return;
    }
    RestoreOldPicture(s, x, y, p->compose, x, y, w, h);
    if (alpha) CopyBitmapRectAlpha(src, x, y, p->compose, x, y, w, h, alpha);
    else if (mask) CopyBitmapRectMasked(src, x, y, p->compose, x, y, w, h, mask);
    else CopyBitmapRect(src, x, y, p->compose, x, y, w, h);
    DrawEffectPieceFrom(s, p->compose, nullptr, nullptr, x, y, w, h);
}

// The new picture flat over [from, to); a hide's seek puts it back too.
void Flat(qbEffectState* s, RollPriv* p, int32_t from, int32_t to, uint32_t flags) {
    qbBitmap* mask = s->alpha ? nullptr : s->mask;
    if (s->realtime || to <= from) {
        Band(s, p, s->image, mask, s->alpha, from, to, flags);
        return;
    }
    int32_t x, y, w, h;
    LinesOf(s).Rect(from, to, &x, &y, &w, &h);
    ComposeFrameRect(s, x, y, w, h, mask, s->alpha, p->compose, 0);
}

// The curl band as DrawRollStrips left it.
void Curl(qbEffectState* s, RollPriv* p, uint32_t flags) {
    const qbRollRecord& r = p->record;
    if (r.extent > 0) Band(s, p, p->curl, p->curlMask, p->curlAlpha, r.start, r.end, flags);
}

int32_t Clamped(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

int ShowFrame(qbEffectState* s, RollPriv* p, int* done, bool seek, uint32_t flags) {
    const int32_t size = SizeOf(s);
    if (seek) {
        if (!s->rebuilding) GiveBack(s, p, 0, size, kStripNoShow);
        p->composed = 0;
    }
    if (p->position >= size) {
        Flat(s, p, p->composed, size, flags);
        p->composed = size;
        *done = 1;
        return 0;
    }
    p->record.position = p->position;
    DrawRollWithLock(s);
    const qbRollRecord& r = p->record;
    Flat(s, p, p->composed, r.extent < 1 ? r.end : r.start, flags);
    Curl(s, p, flags);
    p->composed = r.extent < 1 ? r.end : r.start;
    return 0;
}

int HideFrame(qbEffectState* s, RollPriv* p, int* done, bool seek, uint32_t flags) {
    const int32_t size = SizeOf(s);
    if (p->position < 1) {
        GiveBack(s, p, 0, size, flags);
        p->previousEnd = 0;
        *done = 1;
        return 0;
    }
    p->record.position = Clamped(int64_t{p->position} - p->record.n);
    DrawRollWithLock(s);
    const qbRollRecord& r = p->record;
    if (seek) {
        Flat(s, p, 0, r.extent < 1 ? size : r.start, flags);
        p->previousEnd = size;
    }
    Curl(s, p, flags);
    GiveBack(s, p, r.end, p->previousEnd, flags);
    p->previousEnd = r.end;
    return 0;
}

int Frame(qbEffectState* s, int* done) {
    auto* p = EffectPriv<RollPriv>(s);
    const int32_t size = SizeOf(s), step = s->speed;
    const bool seek = s->phase == 2;
    if (seek) {
        const int64_t moved = int64_t{step} * s->frame;
        p->position = Clamped(s->reverse ? size - moved : moved);
    } else {
        if (s->frame == 0) {
            p->position = s->reverse ? size : 0;
            p->previousEnd = size;
            p->composed = 0;
        }
        p->position = Clamped(int64_t{p->position} + (s->reverse ? -int64_t{step} : step));
    }
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
    const uint32_t flags = (s->replaying || s->layerHasExtras || seek ? kStripNoShow : 0u);
    const int err = s->reverse ? HideFrame(s, p, done, seek, flags) : ShowFrame(s, p, done, seek, flags);
    if (err || seek) return err;
    EndMovedFrame(s, false);
    ++s->frame;
    return 0;
}

int32_t RollStep(int32_t speed) {
    switch (speed) {
        case kNormalSpeed:
            return 2;
        case kFastSpeed:
            return 5;
        case kSlowSpeed:
            return 1;
        default:
            return std::clamp(speed / 5, 1, kMostStep);
    }
}

// The curl's lines [start, end) gathered row by row: line l of each row
// takes the picture's line taken[l].
template <typename P>
void GatherColumns(const qbRollRecord& r, const int32_t* taken) {
    for (int32_t y = 0; y < r.height; ++y) {
        const P* from = static_cast<const P*>(r.picture) + static_cast<ptrdiff_t>(y) * r.picturePitch;
        P* to = static_cast<P*>(r.curl) + static_cast<ptrdiff_t>(y) * r.curlPitch;
        for (int32_t l = r.start; l < r.end; ++l) to[l] = from[taken[l]];
    }
}

// A curl along x takes whole columns of the picture, which DrawRollStrips
// copies a column at a time: a call and a cache line per pixel, some 12 ms
// a frame for a wallpaper's curl of half a 1920-pixel picture. Here the
// strips run on one row of column numbers, which tells the column each
// curl column takes, and the pixels are then gathered row by row. Only
// for curls without planes (theirs are drawn with the pixels). False when
// the rows could not be had.
bool DrawRollColumnsByRows(qbRollRecord& r) {
    std::vector<int32_t> numbers, taken;
    try {
        numbers.resize(static_cast<size_t>(r.width));
        taken.resize(numbers.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::iota(numbers.begin(), numbers.end(), 0);
    qbRollRecord lines = r;
    lines.picture = numbers.data();
    lines.picturePitch = r.width;
    lines.curl = taken.data();
    lines.curlPitch = r.width;
    lines.bytesPerPixel = 4;
    lines.height = 1;
    lines.pictureMask = lines.pictureAlpha = lines.curlMask = lines.curlAlpha = nullptr;
    DrawRollStrips(lines);
    r.start = lines.start;
    r.end = lines.end;
    r.extent = lines.extent;
    if (r.bytesPerPixel == 4) GatherColumns<uint32_t>(r, taken.data());
    else GatherColumns<uint16_t>(r, taken.data());
    return true;
}

}  // namespace

void DrawRollWithLock(qbEffectState* s) {
    auto* p = EffectPriv<RollPriv>(s);
    if (!p) return;
    qbRollRecord& r = p->record;
    qbBitmapLock curl, picture;
    const bool curlLocked = LockBitmap(p->curl, 0, &curl) != 0;
    const bool pictureLocked = curlLocked && LockBitmap(s->image, kLockReadOnly, &picture) != 0;
    if (!pictureLocked || curl.bytesPerPixel != picture.bytesPerPixel) {
        if (pictureLocked) UnlockBitmap(&picture);
        if (curlLocked) UnlockBitmap(&curl);
        r.curl = nullptr;
        DrawRollStrips(r);  // the band only
        return;
    }
    r.curl = curl.pixels;
    r.curlPitch = curl.rowLength;
    r.picture = picture.pixels;
    r.picturePitch = picture.rowLength;
    r.bytesPerPixel = static_cast<int32_t>(picture.bytesPerPixel);
    const auto plane = [](qbBitmap* b, int32_t* pitch) -> uint8_t* {
        if (!b || !b->plane) return nullptr;
        *pitch = static_cast<int32_t>(b->plane->rowBytes);
        return b->plane->data;
    };
    r.pictureMask = plane(s->alpha ? nullptr : s->mask, &r.pictureMaskPitch);
    r.pictureAlpha = plane(s->alpha, &r.pictureAlphaPitch);
    r.curlMask = plane(p->curlMask, &r.curlMaskPitch);
    r.curlAlpha = plane(p->curlAlpha, &r.curlAlphaPitch);
    const bool byRows = r.alongX && !r.curlMask && !r.curlAlpha && r.width > 0 && r.height > 0 &&
                        (r.bytesPerPixel == 4 || r.bytesPerPixel == 2);
    if (!byRows || !DrawRollColumnsByRows(r)) DrawRollStrips(r);
    UnlockBitmap(&picture);
    UnlockBitmap(&curl);
}

void FreeRollData(qbEffectState* s, int) {
    auto* p = EffectPriv<RollPriv>(s);
    if (!p) return;
    FreeBitmap(p->curl);
    FreeBitmap(p->compose);
    FreeMask(p->curlMask);
    FreeAlphaChannel(p->curlAlpha);
    FreeMemory(p->profile);
    p->curl = p->compose = p->curlMask = p->curlAlpha = nullptr;
    p->profile = nullptr;
}

int RenderRoll(qbEffectState* s, int* done) {
    if (done) return s->phase == 1 || s->phase == 2 ? Frame(s, done) : 0;
    auto* p = AllocEffectPriv<RollPriv>(s);
    if (!p) return ERR_MEM;
    s->cleanup = FreeRollData;
    s->speed = RollStep(s->speed);
    const int32_t W = s->width, H = s->height, size = SizeOf(s);
    p->curl = EffectAllocBitmap(W, H);
    p->compose = p->curl ? EffectAllocBitmap(W, H) : nullptr;
    if (!p->compose) return ERR_BITMAP;
    if (s->mask && !s->alpha) {
        p->curlMask = EffectAllocMask(W, H, true);
        if (!p->curlMask) return ERR_ALLOCMASK;
    }
    if (s->alpha) {
        p->curlAlpha = EffectAllocAlpha(W, H, true);
        if (!p->curlAlpha) return ERR_ALLOCALPHA;
    }
    const int32_t wallpaper = s->type >= kWallpaperTop;
    const int32_t n = std::max(size / (wallpaper ? 2 : 12), 20);
    p->profile = static_cast<double*>(AllocMemory(sizeof(double) * static_cast<size_t>(n), 0));
    if (!p->profile) return ERR_MEM;
    FillRollProfile(p->profile, n);
    qbRollRecord& r = p->record;
    r.profile = p->profile;
    r.width = W;
    r.height = H;
    r.alongX = AlongX(s->type);
    r.n = n;
    p->position = s->reverse ? size : 0;
    p->previousEnd = size;
    s->frameCount = FrameCountFor(size, s->speed, 1);
    return 0;
}
