#include "transitions/flow.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "core/errcodes.h"
#include "display/display.h"
#include "display/safeblt.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "objects/layers.h"
#include "transitions/effectframe.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectscreen.h"
#include "transitions/effectstate.h"

namespace {

constexpr int32_t kHFlowBottom = 71, kVFlowLeft = 72, kVFlowRight = 73;
constexpr int32_t kMostLinesPerFrame = 30;

struct FlowPriv {
    qbBitmap* work;  // the frame composed before it is shown; none in real time
    int32_t p;
};

// A flow's geometry in lines: rows for the horizontal flows, columns for
// the vertical ones; fromEnd for the flows that settle from the bottom or
// the right.
struct Flow {
    bool columns, fromEnd;
    int32_t W, H;
    int32_t Size() const { return columns ? W : H; }
    void Rect(int32_t from, int32_t lines, int32_t* x, int32_t* y, int32_t* w, int32_t* h) const {
        *x = columns ? from : 0;
        *y = columns ? 0 : from;
        *w = columns ? lines : W;
        *h = columns ? H : lines;
    }
};

Flow FlowOf(const qbEffectState* s) {
    return Flow{s->type == kVFlowLeft || s->type == kVFlowRight, s->type == kHFlowBottom || s->type == kVFlowRight,
                s->width, s->height};
}

// Lines [from, from + lines) of the new picture into the frame at the same
// place: the work picture (through the planes), or the layer's effect
// image unseen.
void PutLines(qbEffectState* s, const Flow& f, qbBitmap* work, int32_t srcLine, int32_t dstLine, int32_t lines) {
    if (lines < 1) return;
    int32_t x, y, w, h;
    f.Rect(srcLine, lines, &x, &y, &w, &h);
    const int32_t dx = f.columns ? dstLine : 0, dy = f.columns ? 0 : dstLine;
    if (s->realtime) {
        qbEffectLayerImages& li = s->layerImages;
        if (srcLine != dstLine) li.holdsPicture = 0;
        BlitEffectStrip(s->image, x, y, li.bitmap, li.mask, li.alpha, dx, dy, w, h, s->width, s->height, s->width,
                        s->height, s->mask, s->alpha, s, kStripNoShow | kStripKeepLayerPlanes);
        return;
    }
    qbSafeBlt blit;
    blit.source = s->image;
    blit.srcX = x;
    blit.srcY = y;
    blit.destination = work;
    blit.dstX = dx;
    blit.dstY = dy;
    blit.width = w;
    blit.height = h;
    blit.srcWidth = blit.dstWidth = s->width;
    blit.srcHeight = blit.dstHeight = s->height;
    blit.flags = kSafeBltIgnoreClip | kSafeBltNoSprites;
    blit.mask = s->alpha ? nullptr : s->mask;
    blit.alpha = s->alpha;
    SafeBlt(s->script, blit);
}

// Line `line` of the picture over lines [to0, to1) of dst, colour only, on
// plain memory of one pixel size: rows as copies, columns as row fills.
bool SmearPlain(qbBitmap* src, qbBitmap* dst, const Flow& f, int32_t line, int32_t to0, int32_t to1) {
    qbPixelView sv, dv;
    if (!PeekPlainPixels(src, &sv) || !PeekPlainPixels(dst, &dv) || sv.bytesPerPixel != dv.bytesPerPixel ||
        (sv.bytesPerPixel != 4 && sv.bytesPerPixel != 2))
        return false;
    const size_t bpp = sv.bytesPerPixel;
    auto* s8 = static_cast<uint8_t*>(sv.pixels);
    auto* d8 = static_cast<uint8_t*>(dv.pixels);
    const size_t srow = size_t(sv.rowLength) * bpp, drow = size_t(dv.rowLength) * bpp;
    if (!f.columns) {
        const uint8_t* from = s8 + size_t(line) * srow;
        for (int32_t r = to0; r < to1; ++r) std::memcpy(d8 + size_t(r) * drow, from, size_t(f.W) * bpp);
        return true;
    }
    for (int32_t y = 0; y < f.H; ++y) {
        const uint8_t* from = s8 + size_t(y) * srow + size_t(line) * bpp;
        uint8_t* row = d8 + size_t(y) * drow;
        if (bpp == 4) {
            uint32_t v;
            std::memcpy(&v, from, 4);
            std::fill(reinterpret_cast<uint32_t*>(row) + to0, reinterpret_cast<uint32_t*>(row) + to1, v);
        } else {
            uint16_t v;
            std::memcpy(&v, from, 2);
            std::fill(reinterpret_cast<uint16_t*>(row) + to0, reinterpret_cast<uint16_t*>(row) + to1, v);
        }
    }
    return true;
}

// The smear: the new picture's line `line` over lines [to0, to1).
void Smear(qbEffectState* s, const Flow& f, qbBitmap* work, int32_t line, int32_t to0, int32_t to1) {
    to0 = std::max(to0, 0);
    to1 = std::min(to1, f.Size());
    if (line < 0 || line >= f.Size() || to0 >= to1) return;
    // Without planes the colour is all there is to copy.
    if (!s->mask && !s->alpha) {
        qbBitmap* dst = s->realtime ? s->layerImages.bitmap : work;
        if (dst && SmearPlain(s->image, dst, f, line, to0, to1)) {
            if (s->realtime) {
                qbEffectLayerImages& li = s->layerImages;
                li.holdsPicture = 0;
                int32_t x, y, w, h;
                f.Rect(to0, to1 - to0, &x, &y, &w, &h);
                if (li.alpha) FillAlphaRect(li.alpha, x, y, w, h, 255);
                else if (li.mask) FillEffectMask(li.mask, x, y, w, h, true);
            }
            return;
        }
    }
    for (int32_t r = to0; r < to1; ++r) PutLines(s, f, work, line, r, 1);
}

// The frame from line `from` to the end (or from the start to line `to`)
// onto the screen, or the layer's rectangle shown.
void ShowLines(qbEffectState* s, const Flow& f, qbBitmap* work, int32_t from, int32_t lines) {
    from = std::max(from, 0);
    lines = std::min(lines, f.Size() - from);
    if (lines < 1) return;
    int32_t x, y, w, h;
    f.Rect(from, lines, &x, &y, &w, &h);
    if (s->realtime) {
        if (!s->replaying) BlitEffectRect(s, SaturatingAdd(s->x, x), SaturatingAdd(s->y, y), w, h);
        return;
    }
    DrawEffectPieceFrom(s, work, nullptr, nullptr, x, y, w, h);
}

// A hiding flow's last frame: the picture leaves its whole rectangle.
void GiveBackAll(qbEffectState* s, qbBitmap* work) {
    if (s->realtime) {
        const qbEffectLayerImages& li = s->layerImages;
        const uint32_t flags = kStripClear | (s->replaying || s->displayFlag80 ? kStripNoShow : 0u);
        BlitEffectStrip(nullptr, 0, 0, li.bitmap, li.mask, li.alpha, 0, 0, s->width, s->height, s->width, s->height,
                        s->width, s->height, nullptr, nullptr, s, flags);
        return;
    }
    if (!work) return;
    RestoreOldPicture(s, 0, 0, work, 0, 0, s->width, s->height);
    DrawEffectPieceFrom(s, work, nullptr, nullptr, 0, 0, s->width, s->height);
}

// The settled part (size lines from the edge) and the smear, as a frame
// that reached it leaves them; for the seek.
void DrawSettled(qbEffectState* s, const Flow& f, qbBitmap* work, int32_t settled) {
    const int32_t size = f.Size();
    if (f.fromEnd) {
        PutLines(s, f, work, size - settled, size - settled, settled);
        Smear(s, f, work, size - settled - 1, 0, size - settled);
    } else {
        PutLines(s, f, work, 0, 0, settled);
        Smear(s, f, work, settled - 1, settled, size);
    }
}

int InitFlow(qbEffectState* s) {
    auto* p = AllocEffectPriv<FlowPriv>(s);
    if (!p) return ERR_MEM;
    s->cleanup = FreeFlowData;
    const Flow f = FlowOf(s);
    if (!s->realtime) {
        p->work = EffectAllocBitmap(s->width, s->height);
        if (!p->work) return ERR_BITMAP;
    }
    const int32_t size = f.Size();
    s->speed = f.columns ? SpeedFromSize(s->speed, size, 30, 10, 80) : SpeedFromSize(s->speed, size, 50, 20, 120);
    s->speed = std::clamp(s->speed, 1, kMostLinesPerFrame);
    // Showing from the start edge and hiding towards the far one count up.
    const bool up = f.fromEnd == (s->reverse != 0);
    p->p = up ? s->speed : size - s->speed;
    s->frameCount = FrameCountFor(s->reverse ? size - 2 * s->speed : size - s->speed, s->speed, 0);
    return 0;
}

int FlowSeek(qbEffectState* s, FlowPriv* p, const Flow& f) {
    // A jump shows the layer as a frame does.
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
    const int32_t size = f.Size(), step = s->speed;
    const int64_t n = int64_t{s->frame} * step;
    const auto settled = static_cast<int32_t>(std::clamp<int64_t>(s->reverse ? size - n : n, 0, size));
    if (s->reverse && settled <= step) {
        GiveBackAll(s, p->work);
    } else {
        DrawSettled(s, f, p->work, settled);
        // Plain pictures show the frame as it is built; a layer's image is
        // shown by whoever asked for the jump.
        if (!s->realtime) DrawEffectPieceFrom(s, p->work, nullptr, nullptr, 0, 0, s->width, s->height);
    }
    // The next frame's band lies beyond the settled part.
    const bool up = f.fromEnd == (s->reverse != 0);
    const int32_t edge = f.fromEnd ? size - settled : settled;
    p->p = up ? edge + step : edge - step;
    return 0;
}

int FlowFrame(qbEffectState* s, int* done) {
    auto* p = EffectPriv<FlowPriv>(s);
    const Flow f = FlowOf(s);
    if (s->phase == 2) return FlowSeek(s, p, f);
    if (s->phase != 1) return 0;
    const int32_t size = f.Size(), step = s->speed;
    const bool hiding = s->reverse != 0, up = f.fromEnd == hiding;
    if (s->frame == 0) p->p = up ? step : size - step;
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
    bool clear = false;
    if (!f.fromEnd && !hiding && p->p >= size) p->p = size, *done = 1;
    if (!f.fromEnd && hiding && p->p <= step) p->p = step, *done = 1, clear = true;
    if (f.fromEnd && !hiding && p->p < 1) p->p = 0, *done = 1;
    if (f.fromEnd && hiding && p->p >= size - step) p->p = size - step, *done = 1, clear = true;
    const int32_t pos = p->p;
    if (clear) {
        GiveBackAll(s, p->work);
    } else {
        // The band and the smear below it (above it from the far edge) are
        // new; the rest of the frame stays as the frames before left it.
        const int32_t band0 = std::max(f.fromEnd ? pos : pos - step, 0);
        const auto band1 = static_cast<int32_t>(std::min<int64_t>(int64_t{f.fromEnd ? pos : pos - step} + step, size));
        const int32_t shownFrom = f.fromEnd ? 0 : band0, shownLines = f.fromEnd ? band1 : size - band0;
        if (!s->realtime && (s->mask || s->alpha)) {
            int32_t x, y, w, h;
            f.Rect(shownFrom, shownLines, &x, &y, &w, &h);
            ClipAndCopyRect(s->background, x, y, p->work, x, y, w, h, s->width, s->height, s->width, s->height);
        }
        PutLines(s, f, p->work, band0, band0, band1 - band0);
        if (f.fromEnd) Smear(s, f, p->work, pos - 1, 0, pos);
        else Smear(s, f, p->work, pos - 1, pos, size);
        ShowLines(s, f, p->work, shownFrom, shownLines);
    }
    const int64_t next = up ? int64_t{pos} + step : int64_t{pos} - step;
    p->p = static_cast<int32_t>(std::clamp<int64_t>(next, INT32_MIN, INT32_MAX));
    ++s->frame;
    PresentEffectFrame(s);
    return 0;
}

}  // namespace

void FreeFlowData(qbEffectState* s, int) {
    auto* p = EffectPriv<FlowPriv>(s);
    if (!p) return;
    FreeBitmap(p->work);
    p->work = nullptr;
}

int RenderHFlowTop(qbEffectState* s, int* done) { return done ? FlowFrame(s, done) : InitFlow(s); }
int RenderHFlowBottom(qbEffectState* s, int* done) { return done ? FlowFrame(s, done) : InitFlow(s); }
int RenderVFlowLeft(qbEffectState* s, int* done) { return done ? FlowFrame(s, done) : InitFlow(s); }
int RenderVFlowRight(qbEffectState* s, int* done) { return done ? FlowFrame(s, done) : InitFlow(s); }
