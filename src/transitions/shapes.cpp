#include "transitions/shapes.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/errcodes.h"
#include "display/polygonfill.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/geometry.h"
#include "imaging/planekernels.h"
#include "objects/layers.h"
#include "transitions/effectdriver.h"
#include "transitions/effectframe.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectscreen.h"
#include "transitions/effectstate.h"
#include "transitions/fades.h"

namespace {

struct qbShapeData {
    qbBitmap* work;
    qbBitmap* shapeMask;
    qbBitmap* shapeAlpha;
    int32_t size;
    int32_t x, y;  // the clock hand: where it is and where it was
    int32_t prevX, prevY;
    int32_t edge;
    int32_t cornerTurned;
    int32_t counting;
    bool workHoldsOld;  // see ComposeFrameRect
};

struct Region {
    int32_t x, y, w, h;
};

using Polygon = std::vector<qbPolygonPoint>;

enum class MaskOp { Copy, And, Clear };

// A mask operation between two planes of the effect's size over rows
// y .. y + h - 1, a byte at a time (the planes' bits line up, and bits
// past the rows' pixels are never shown): bit by bit it would cost a
// picture-sized frame several milliseconds.
void MaskRowsOp(qbBitmap* from, qbBitmap* to, int32_t y, int32_t h, MaskOp op) {
    const MaskRows a = MaskRowsOf(from, 0, 0), b = MaskRowsOf(to, 0, 0);
    if (!a.data || !b.data) return;
    const size_t bytes = static_cast<size_t>(std::min(a.rowBytes, b.rowBytes));
    for (int32_t j = y; j < y + h; ++j) {
        const uint8_t* src = a.data + static_cast<size_t>(j) * a.rowBytes;
        uint8_t* dst = b.data + static_cast<size_t>(j) * b.rowBytes;
        for (size_t i = 0; i < bytes; ++i)
            dst[i] = op == MaskOp::Copy  ? src[i]
                     : op == MaskOp::And ? static_cast<uint8_t>(dst[i] & src[i])
                                         : static_cast<uint8_t>(dst[i] & ~src[i]);
    }
}

// The shape of one frame: its polygon and the part of the rectangle it
// changes; true when it is the last.
using ShapeStep = bool (*)(qbEffectState* s, qbShapeData* p, int32_t frame, Polygon* out, Region* region);

int InitShape(qbEffectState* s, qbShapeData** out) {
    auto* p = AllocEffectPriv<qbShapeData>(s);
    if (!p) return ERR_MEM;
    *out = p;
    if (!s->realtime) {
        p->work = EffectAllocBitmap(s->width, s->height);
        if (!p->work) return ERR_BITMAP;
    }
    p->shapeMask = EffectAllocMask(s->width, s->height, true);
    if (!p->shapeMask) return ERR_ALLOCMASK;
    if (s->alpha && !s->reverse) {
        p->shapeAlpha = EffectAllocAlpha(s->width, s->height, true);
        if (!p->shapeAlpha) return ERR_ALLOCALPHA;
    }
    return 0;
}

std::vector<qbPoint> ClipToEffect(const std::vector<qbPoint>& in, int32_t w, int32_t h) {
    std::vector<qbPoint> a = in, b;
    ClipPolygonToLine(a, b, 0, kKeepRightOfX);
    ClipPolygonToLine(b, a, 0, kKeepBelowY);
    ClipPolygonToLine(a, b, w - 1, kKeepLeftOfX);
    ClipPolygonToLine(b, a, h - 1, kKeepAboveY);
    return a;
}

Polygon ToPolygon(const std::vector<qbPoint>& in) {
    Polygon out(in.size());
    for (size_t i = 0; i < in.size(); ++i) out[i] = {in[i].x, in[i].y};
    return out;
}

// Puts the frame's shape into the pictures: shown through on a show,
// taken out of the layer on a hide.
void ApplyShape(qbEffectState* s, qbShapeData* p, const Region& r) {
    const int32_t w = s->width, h = s->height;
    if (s->realtime && s->reverse) {
        qbEffectLayerImages& li = s->layerImages;
        if (li.alpha) MaskToAlphaPlane(p->shapeMask, li.alpha, s->alpha, w, h, 1);
        else if (li.mask) MaskRowsOp(p->shapeMask, li.mask, 0, h, MaskOp::Clear);
        return;
    }
    if (s->mask) MaskRowsOp(s->mask, p->shapeMask, r.y, r.h, MaskOp::And);
    if (s->alpha && p->shapeAlpha) MaskToAlphaPlane(p->shapeMask, p->shapeAlpha, s->alpha, w, h, 0);
    ComposeFrameRect(s, r.x, r.y, r.w, r.h, p->shapeMask, p->shapeAlpha, p->work, 0, &p->workHoldsOld);
}

Region ClipRegion(Region r, int32_t w, int32_t h) {
    const int32_t x0 = std::clamp(r.x, 0, w), y0 = std::clamp(r.y, 0, h);
    const int64_t x1 = std::clamp<int64_t>(int64_t{r.x} + r.w, 0, w), y1 = std::clamp<int64_t>(int64_t{r.y} + r.h, 0, h);
    return {x0, y0, static_cast<int32_t>(std::max<int64_t>(x1 - x0, 0)),
            static_cast<int32_t>(std::max<int64_t>(y1 - y0, 0))};
}

// The mask only grows, so a frame changes nothing outside its own polygon:
// the step's region cut down to the polygon's box (a pixel wider each way
// for the fill's rounding). A clock's wedge near the end would otherwise
// redraw most of the picture.
Region ShrinkToPolygon(Region r, const Polygon& poly) {
    if (poly.empty()) return r;
    int64_t x0 = poly[0].x, y0 = poly[0].y, x1 = x0, y1 = y0;
    for (const qbPolygonPoint& pt : poly) {
        x0 = std::min<int64_t>(x0, pt.x), x1 = std::max<int64_t>(x1, pt.x);
        y0 = std::min<int64_t>(y0, pt.y), y1 = std::max<int64_t>(y1, pt.y);
    }
    const int64_t left = std::max<int64_t>(r.x, x0 - 1), top = std::max<int64_t>(r.y, y0 - 1);
    const int64_t right = std::min<int64_t>(int64_t{r.x} + r.w, x1 + 2), bottom = std::min<int64_t>(int64_t{r.y} + r.h, y1 + 2);
    if (right <= left || bottom <= top) return {r.x, r.y, 0, 0};
    return {static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right - left),
            static_cast<int32_t>(bottom - top)};
}

// One frame of any shape: a step draws the next shape; a jump draws every
// shape up to the frame into a cleared mask, so that it shows what the
// steps showed, and then the whole rectangle.
int ShapeFrame(qbEffectState* s, int* done, ShapeStep step, void (*reset)(qbEffectState*)) {
    if (s->phase != 1 && s->phase != 2) return 0;
    auto* p = EffectPriv<qbShapeData>(s);
    const int32_t w = s->width, h = s->height;
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
    Polygon poly;
    Region region{};
    if (s->phase == 2) {
        if (s->realtime && s->layerImagesSet) ResetLayerEffectImages(s);
        FillEffectMask(p->shapeMask, 0, 0, w, h, false);
        p->workHoldsOld = false;  // a jump back shrinks the mask
        if (reset) reset(s);
        for (int32_t k = 1; k <= s->frame; ++k) {
            poly.clear();
            if (step(s, p, k, &poly, &region)) *done = 1;
            FillPolygonMask(p->shapeMask, poly.data(), static_cast<int32_t>(poly.size()), nullptr);
        }
        ApplyShape(s, p, {0, 0, w, h});
        ShowProgressFrame(s);
        return 0;
    }
    const bool last = step(s, p, s->frame + 1, p->counting ? nullptr : &poly, &region);
    if (last) *done = 1;
    if (!p->counting) {
        FillPolygonMask(p->shapeMask, poly.data(), static_cast<int32_t>(poly.size()), nullptr);
        region = ClipRegion(ShrinkToPolygon(region, poly), w, h);
        ApplyShape(s, p, region);
        ++s->frame;
        ShowProgressFrame(s);
        return 0;
    }
    ++s->frame;
    return 0;
}

// The frame count of the shapes that know it only by running: the steps
// without drawing.
void CountFrames(qbEffectState* s, qbShapeData* p, int (*render)(qbEffectState*, int*),
                 void (*reset)(qbEffectState*)) {
    p->counting = 1;
    s->phase = 1;
    s->frame = 0;
    int done = 0;
    while (!done) render(s, &done);
    s->frameCount = s->frame;
    s->frame = 0;
    s->phase = 0;
    p->counting = 0;
    if (reset) reset(s);
}

// ---- the clock ----

bool ClockStep(qbEffectState* s, qbShapeData* p, int32_t, Polygon* out, Region* region) {
    const int32_t w = s->width, h = s->height, cx = w / 2, cy = h / 2, sp = s->speed;
    if (out) {
        out->push_back({cx, cy});
        out->push_back({p->prevX, p->prevY});
        int32_t curX = p->x;
        if (p->cornerTurned) {
            switch (p->edge) {
                case 1:
                    if (p->prevY != p->y) {
                        out->push_back({w - 1, p->prevY});
                        curX = w - 1;
                    }
                    break;
                case 2:
                    if (p->prevX != p->x) out->push_back({w - 1, h - 1});
                    break;
                case 3:
                    if (p->prevY != p->y) out->push_back({0, h - 1});
                    break;
                case 4:
                    if (p->prevX != p->x) out->push_back({0, 0});
                    break;
                default: break;
            }
        }
        out->push_back({curX, p->y});
        out->push_back({cx, cy});
        const int32_t left = std::min({p->prevX, curX, cx}), top = std::min({p->prevY, p->y, cy});
        *region = {left, top, w - left, h - top};
    }
    p->prevX = p->x;
    p->prevY = p->y;
    switch (p->edge) {
        case 0:
            p->x += sp;
            if (p->x > w - 1) {
                p->y = p->x - (w - 1);
                p->x = w - 1;
                p->edge = 1;
                p->cornerTurned = 1;
            }
            break;
        case 1:
            p->y += sp;
            if (p->y > h - 1) {
                p->x = (w - 1) - (p->y - (h - 1));
                p->y = h - 1;
                p->edge = 2;
                p->cornerTurned = 1;
            }
            break;
        case 2:
            p->x -= sp;
            if (p->x < 0) {
                p->y = (h - 1) + p->x;
                p->x = 0;
                p->edge = 3;
                p->cornerTurned = 1;
            }
            break;
        case 3:
            p->y -= sp;
            if (p->y < 0) {
                p->x = -p->y;
                p->y = 0;
                p->edge = 4;
                p->cornerTurned = 1;
            }
            break;
        case 4:
            p->x += sp;
            if (p->x > w / 2 + 1) {
                p->x = w / 2 + 1;
                p->edge = 5;
            }
            break;
        default: return true;
    }
    return false;
}

// ---- the star ----

void StarBox(const qbEffectState* s, int32_t size, int32_t* bw, int32_t* bh) {
    const double w = s->width, h = s->height;
    if (s->width >= s->height) {
        *bw = size;
        *bh = std::max(static_cast<int32_t>(size * h / w + 1.0), 1);
    } else {
        *bh = size;
        *bw = std::max(static_cast<int32_t>(size * w / h + 1.0), 1);
    }
}

bool StarStep(qbEffectState* s, qbShapeData*, int32_t frame, Polygon* out, Region* region) {
    const int32_t w = s->width, h = s->height;
    const int32_t size = static_cast<int32_t>(std::min<int64_t>(int64_t{s->speed} * frame + 10, INT32_MAX / 2));
    int32_t bw, bh;
    StarBox(s, size, &bw, &bh);
    if (int64_t{bw} >= 4 * int64_t{w}) {
        // The whole picture: a rectangle past the corners.
        if (out) *out = {{-1, -1}, {w, -1}, {w, h}, {-1, h}};
        *region = {0, 0, w, h};
        return true;
    }
    if (!out) return false;
    const int32_t x0 = (w - bw) / 2, y0 = (h - bh) / 2;
    const auto a = static_cast<int32_t>(bh * 0.375), b = static_cast<int32_t>(bh * 0.6);
    const auto pw = static_cast<int32_t>(bw * 0.4), q = static_cast<int32_t>(bw * 0.3);
    const std::vector<qbPoint> star = {{x0, y0 + a},
                                       {x0 + pw, y0 + a},
                                       {x0 + bw / 2, y0},
                                       {x0 + bw - pw, y0 + a},
                                       {x0 + bw - 1, y0 + a},
                                       {x0 + bw - q, y0 + b},
                                       {x0 + bw - bw / 5, y0 + bh - 1},
                                       {x0 + bw / 2, y0 + bh - bh / 4},
                                       {x0 + bw / 5, y0 + bh - 1},
                                       {x0 + q, y0 + b},
                                       {x0, y0 + a}};
    *out = ToPolygon(ClipToEffect(star, w, h));
    *region = {std::max(x0, 0), std::max(y0, 0), std::min(bw, w), std::min(bh, h)};
    return false;
}

// ---- the sun ----

bool SunStep(qbEffectState* s, qbShapeData*, int32_t frame, Polygon* out, Region* region) {
    const int32_t w = s->width, h = s->height;
    const int32_t size = static_cast<int32_t>(std::min<int64_t>(int64_t{s->speed} * frame + 10, 1 << 24));
    int32_t ew, eh;
    if (w >= h) {
        ew = size;
        eh = std::max(static_cast<int32_t>(size * double(h) / w + 1.0), 3);
    } else {
        eh = size;
        ew = std::max(static_cast<int32_t>(size * double(w) / h + 1.0), 3);
    }
    ew |= 1;
    eh |= 1;
    std::vector<qbPoint> arc;
    BuildArcPolygon(arc, ew / 2, eh / 2, 0, 360);
    const int32_t dx = (w - ew) / 2, dy = (h - eh) / 2;
    for (qbPoint& pt : arc) pt.x += dx, pt.y += dy;
    const std::vector<qbPoint> clipped = ClipToEffect(arc, w, h);
    bool corners = true;
    for (const qbPoint& pt : clipped)
        if ((pt.x != 0 && pt.x != w - 1) || (pt.y != 0 && pt.y != h - 1)) corners = false;
    *region = {0, 0, w, h};
    // Only corners left: the whole rectangle, which a picture one pixel
    // high or wide would not get from the flat polygon.
    if (out) *out = corners ? Polygon{{-1, -1}, {w, -1}, {w, h}, {-1, h}} : ToPolygon(clipped);
    return corners;
}

void ResetSun(qbEffectState*) {}

int ShapeSpeed(int32_t speed, int32_t w, int32_t h) {
    return std::clamp(SpeedFromSize(speed, std::max(w, h), 12, 6, 24), 1, 100);
}

}  // namespace

void FreeShapeData(qbEffectState* s, int) {
    auto* p = EffectPriv<qbShapeData>(s);
    if (!p) return;
    FreeBitmap(p->work);
    FreeMask(p->shapeMask);
    FreeAlphaChannel(p->shapeAlpha);
    p->work = p->shapeMask = p->shapeAlpha = nullptr;
}

void FreeSunData(qbEffectState* s, int normalEnd) { FreeShapeData(s, normalEnd); }

void ResetClockHand(qbEffectState* s) {
    auto* p = EffectPriv<qbShapeData>(s);
    if (!p) return;
    p->prevX = s->width / 2;
    p->prevY = 0;
    p->x = s->width / 2 + s->speed;
    p->y = 0;
    p->edge = 0;
    p->cornerTurned = 0;
}

int RenderClockWipe(qbEffectState* s, int* done) {
    if (!done) {
        s->cleanup = FreeShapeData;
        const int32_t sp = s->speed;
        s->speed = sp == kNormalSpeed ? 10 : sp == kFastSpeed ? 15 : sp == kSlowSpeed ? 5 : std::clamp(sp, 1, 30);
        qbShapeData* p = nullptr;
        if (int err = InitShape(s, &p)) return err;
        ResetClockHand(s);
        CountFrames(s, p, RenderClockWipe, ResetClockHand);
        return 0;
    }
    return ShapeFrame(s, done, ClockStep, ResetClockHand);
}

int RenderStar(qbEffectState* s, int* done) {
    if (!done) {
        s->cleanup = FreeShapeData;
        s->speed = ShapeSpeed(s->speed, s->width, s->height);
        qbShapeData* p = nullptr;
        if (int err = InitShape(s, &p)) return err;
        const int32_t w = s->width, h = s->height, sp = s->speed;
        if (w >= h) {
            s->frameCount = FrameCountFor(static_cast<int32_t>(std::min<int64_t>(4 * int64_t{w} - sp - 10, INT32_MAX)),
                                          sp, 0);
        } else {
            int32_t n = 0;
            int64_t d = 0, size = sp + 10;
            do {
                d = size;
                size += sp;
                ++n;
            } while (static_cast<int64_t>(d * double(w) / h + 1.0) < 4 * int64_t{w});
            s->frameCount = n;
        }
        return 0;
    }
    return ShapeFrame(s, done, StarStep, nullptr);
}

int RenderSun(qbEffectState* s, int* done) {
    if (!done) {
        s->cleanup = FreeSunData;
        s->speed = ShapeSpeed(s->speed, s->width, s->height);
        qbShapeData* p = nullptr;
        if (int err = InitShape(s, &p)) return err;
        CountFrames(s, p, RenderSun, ResetSun);
        return 0;
    }
    return ShapeFrame(s, done, SunStep, ResetSun);
}

void ComposeFrameRect(qbEffectState* s, int32_t sx, int32_t sy, int32_t w, int32_t h, qbBitmap* shapeMask,
                      qbBitmap* shapeAlpha, qbBitmap* work, uint32_t extraFlags, bool* workHoldsOld) {
    if (w < 1 || h < 1) return;
    if (s->realtime) {
        const qbEffectLayerImages& li = s->layerImages;
        // The shape mask holds every frame's shape so far: its rows are the
        // layer's mask.
        if (li.mask && shapeMask && !shapeAlpha && sx >= 0 && sy >= 0 && int64_t{sy} + h <= s->height) {
            MaskRowsOp(shapeMask, li.mask, sy, h, MaskOp::Copy);
            if (!li.holdsPicture) CopyBitmapRect(s->image, sx, sy, li.bitmap, sx, sy, w, h);
            return;
        }
        BlitEffectStrip(s->image, sx, sy, li.bitmap, li.mask, li.alpha, sx, sy, w, h, s->width, s->height, s->width,
                        s->height, shapeAlpha ? nullptr : shapeMask, shapeAlpha, s, extraFlags | kStripNoShow);
        return;
    }
    if (!work) return;
    if (s->background) {
        if (!workHoldsOld || shapeAlpha || !shapeMask) {
            CopyBitmapRect(s->background, sx, sy, work, sx, sy, w, h);
        } else if (!*workHoldsOld) {
            CopyBitmapRect(s->background, 0, 0, work, 0, 0, s->width, s->height);
            *workHoldsOld = true;
        }
    }
    if (shapeAlpha) CopyBitmapRectAlpha(s->image, sx, sy, work, sx, sy, w, h, shapeAlpha);
    else if (shapeMask) CopyBitmapRectMasked(s->image, sx, sy, work, sx, sy, w, h, shapeMask);
    else CopyBitmapRect(s->image, sx, sy, work, sx, sy, w, h);
    DrawEffectPieceFrom(s, work, nullptr, nullptr, sx, sy, w, h);
}

void MaskToAlphaPlane(qbBitmap* mask, qbBitmap* destAlpha, qbBitmap* srcAlpha, int32_t width, int32_t height,
                      int invert) {
    if (!mask || !destAlpha) return;
    const MaskRows m = MaskRowsOf(mask, 0, 0);
    const AlphaRows to = AlphaRowsOf(destAlpha, 0, 0);
    const AlphaRows from = srcAlpha ? AlphaRowsOf(srcAlpha, 0, 0) : AlphaRows{};
    if (!invert) {
        if (from.data) ClipCombineAlpha(to, from, m, width, height);
        else MaskToAlpha(to, m, width, height, 255);
        return;
    }
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* bits = m.data + static_cast<size_t>(y) * m.rowBytes;
        uint8_t* out = to.data + static_cast<size_t>(y) * to.rowBytes;
        const uint8_t* in = from.data ? from.data + static_cast<size_t>(y) * from.rowBytes : nullptr;
        for (int32_t x = 0; x < width; ++x) {
            const bool set = bits[x >> 3] & (0x80 >> (x & 7));
            out[x] = set ? 0 : in ? in[x] : 255;
        }
    }
}

void ShowProgressFrame(qbEffectState* s) {
    if (s->frameCount > 0) {
        const int32_t level = static_cast<int32_t>(std::min(s->frame, s->frameCount) * 255.0 / s->frameCount);
        s->blendLevel = s->reverse ? 255 - level : level;
    }
    ShowBlendFrame(s);
}
