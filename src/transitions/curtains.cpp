#include "transitions/curtains.h"

#include <algorithm>

#include "core/errcodes.h"
#include "transitions/effectcolumns.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectpieces.h"
#include "transitions/effectstate.h"

namespace {

struct CurtainPriv {
    int32_t a, b;  // the two edges
};

struct BarsPriv {
    int32_t counter;
};

struct QuartersPriv {
    int32_t halfW, halfH, position, oddColumn;
};

constexpr int32_t kCell = 16;

// A closing curtain's band edges start at both ends of the length; a step
// above half of it is taken as the slowest, 1.
int InitCloseCurtain(qbEffectState* s, int32_t length) {
    auto* p = AllocEffectPriv<CurtainPriv>(s);
    if (!p) return ERR_MEM;
    p->a = 0;
    p->b = length - 1;
    s->speed = SpeedFromSize(s->speed, length, 140, 60, 320);
    if (s->speed > length / 2) s->speed = 1;
    s->frameCount = FrameCountFor(length / 2, s->speed + 1, 0);
    return 0;
}

// An opening curtain's edges start either side of the middle; the step is
// at most a quarter of the length (0 on a length below 4: bands of 1).
int InitOpenCurtain(qbEffectState* s, int32_t length) {
    auto* p = AllocEffectPriv<CurtainPriv>(s);
    if (!p) return ERR_MEM;
    p->a = length / 2;
    p->b = length / 2 - 1;
    s->speed = std::min(SpeedFromSize(s->speed, length, 140, 60, 320), length / 4);
    s->frameCount = FrameCountFor(length - 1 - s->speed - (length / 2 - 1), s->speed + 1, 0);
    return 0;
}

// The two bands' starts of a closing curtain's frame along its length.
void CloseCurtainFrame(qbEffectState* s, CurtainPriv* p, int32_t length, int* done, int64_t* first, int64_t* second) {
    if (s->frame == 0) {
        p->a = 0;
        p->b = length - 1;
    }
    BeginEffectFrame(s);
    if (p->a >= length / 2) {
        p->a = length / 2;
        *done = 1;
    }
    *first = p->a;
    *second = int64_t{p->b} - s->speed;
}

void OpenCurtainFrame(qbEffectState* s, CurtainPriv* p, int32_t length, int* done, int64_t* first, int64_t* second) {
    if (s->frame == 0) {
        p->a = length / 2;
        p->b = length / 2 - 1;
    }
    BeginEffectFrame(s);
    if (p->b >= length - 1 - s->speed) {
        p->b = length - 1 - s->speed;
        *done = 1;
    }
    if (p->a - s->speed < 0) p->a = s->speed;
    *first = p->b;
    *second = int64_t{p->a} - s->speed;
}

void EndCurtainFrame(qbEffectState* s, CurtainPriv* p, int32_t closing) {
    const int32_t move = s->speed + 1;
    p->a += closing ? move : -move;
    p->b += closing ? -move : move;
    EndEffectFrame(s);
}

}  // namespace

int RenderVCloseCurtain(qbEffectState* s, int* done) {
    if (!done) return InitCloseCurtain(s, s->width);
    if (s->phase != 1) return 0;
    auto* p = EffectPriv<CurtainPriv>(s);
    int64_t first = 0, second = 0;
    CloseCurtainFrame(s, p, s->width, done, &first, &second);
    DrawEffectPiece(s, first, 0, s->speed + 1, s->height);
    DrawEffectPiece(s, second, 0, s->speed + 1, s->height);
    EndCurtainFrame(s, p, 1);
    return 0;
}

int RenderHCloseCurtain(qbEffectState* s, int* done) {
    if (!done) return InitCloseCurtain(s, s->height);
    if (s->phase != 1) return 0;
    auto* p = EffectPriv<CurtainPriv>(s);
    int64_t first = 0, second = 0;
    CloseCurtainFrame(s, p, s->height, done, &first, &second);
    DrawEffectPiece(s, 0, first, s->width, s->speed + 1);
    DrawEffectPiece(s, 0, second, s->width, s->speed + 1);
    EndCurtainFrame(s, p, 1);
    return 0;
}

int RenderVOpenCurtain(qbEffectState* s, int* done) {
    if (!done) return InitOpenCurtain(s, s->width);
    if (s->phase != 1) return 0;
    auto* p = EffectPriv<CurtainPriv>(s);
    int64_t first = 0, second = 0;
    OpenCurtainFrame(s, p, s->width, done, &first, &second);
    DrawEffectPiece(s, first, 0, s->speed + 1, s->height);
    DrawEffectPiece(s, second, 0, s->speed + 1, s->height);
    EndCurtainFrame(s, p, 0);
    return 0;
}

int RenderHOpenCurtain(qbEffectState* s, int* done) {
    if (!done) return InitOpenCurtain(s, s->height);
    if (s->phase != 1) return 0;
    auto* p = EffectPriv<CurtainPriv>(s);
    int64_t first = 0, second = 0;
    OpenCurtainFrame(s, p, s->height, done, &first, &second);
    DrawEffectPiece(s, 0, first, s->width, s->speed + 1);
    DrawEffectPiece(s, 0, second, s->width, s->speed + 1);
    EndCurtainFrame(s, p, 0);
    return 0;
}

int RenderBars(qbEffectState* s, int* done) {
    if (!done) {
        if (!AllocEffectPriv<BarsPriv>(s)) return ERR_MEM;
        s->speed = std::min(SpeedFromSize(s->speed, kCell, 16, 8, 40), 8);
        s->frameCount = FrameCountFor(23, s->speed + 1, 0);
        return 0;
    }
    if (s->phase != 1) return 0;
    auto* p = EffectPriv<BarsPriv>(s);
    if (s->frame == 0) p->counter = 0;
    BeginEffectFrame(s);
    // The counter of the frame before, for the part of each bar it drew.
    const int32_t before = s->frame == 0 ? -1 : p->counter - (s->speed + 1);
    if (p->counter > 22) {
        p->counter = 23;
        *done = 1;
    }
    const int32_t c = p->counter, w = s->width, h = s->height;
    // The cells' columns grow first, up to 9 of them, then their rows;
    // the part past the last whole cell is drawn whole at once. A bar
    // regrows from its cell's edge: of it only what the frame before had
    // not drawn yet is put down.
    if (c <= 8) {
        const int32_t from = std::max(before + 1, 0);
        // The bars share every row: put down together, a row at a time.
        DrawEffectColumns(s, from, kCell, w / kCell, c + 1 - from, 0, h);
        if (w % kCell && before < 0) DrawEffectPiece(s, int64_t{kCell} * (w / kCell), 0, w % kCell, h);
    } else {
        const int32_t from = before > 8 ? before - 7 : 0;
        for (int32_t k = 0; k < h / kCell; ++k) DrawEffectPiece(s, 0, int64_t{kCell} * k + from, w, c - 7 - from);
        if (h % kCell && before <= 8) DrawEffectPiece(s, 0, int64_t{kCell} * (h / kCell), w, h % kCell);
    }
    p->counter += s->speed + 1;
    EndEffectFrame(s);
    return 0;
}

int RenderQuarters(qbEffectState* s, int* done) {
    const int32_t w = s->width, h = s->height;
    if (!done) {
        auto* p = AllocEffectPriv<QuartersPriv>(s);
        if (!p) return ERR_MEM;
        p->halfW = w / 2;
        p->halfH = h / 2;
        p->oddColumn = w % 2;
        s->speed = std::min(SpeedFromSize(s->speed, w, 70, 30, 200), h / 4);
        s->frameCount = FrameCountFor(h - 1 - p->halfH - s->speed, s->speed + 1, 0);
        return 0;
    }
    if (s->phase != 1) return 0;
    auto* p = EffectPriv<QuartersPriv>(s);
    if (s->frame == 0) p->position = 0;
    BeginEffectFrame(s);
    const int32_t end = h - 1 - p->halfH - s->speed;
    if (p->position >= end) {
        p->position = end;
        *done = 1;
    }
    const int64_t pos = p->position, band = s->speed + 1, halfW = p->halfW, halfH = p->halfH;
    DrawEffectPiece(s, 0, pos, halfW, band);
    DrawEffectPiece(s, 0, halfH + pos, halfW, band);
    // The right half, with the odd last column when there is one.
    const int64_t rightW = halfW + p->oddColumn;
    DrawEffectPiece(s, halfW, h - pos - halfH - s->speed - 1, rightW, band);
    DrawEffectPiece(s, halfW, h - 1 - pos - s->speed, rightW, band);
    p->position += s->speed + 1;
    EndEffectFrame(s);
    return 0;
}
