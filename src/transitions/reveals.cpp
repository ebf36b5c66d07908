#include "transitions/reveals.h"

#include <algorithm>
#include <climits>

#include "core/errcodes.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectpieces.h"
#include "transitions/effectstate.h"

namespace {

struct RevealPriv {
    int32_t position;
};

struct LinesPriv {
    int32_t odd, even;  // HLINES and VLINES count in the second word only
};

// The reveals across the width keep a step above half of it as the
// slowest, 1; those down the height cut it to half the height.
int InitReveal(qbEffectState* s, int32_t length, bool slowest, int32_t start) {
    auto* p = AllocEffectPriv<RevealPriv>(s);
    if (!p) return ERR_MEM;
    p->position = start;
    int32_t step = SpeedFromSize(s->speed, length, 70, 30, 200);
    if (step > length / 2) step = slowest ? 1 : length / 2;
    s->speed = step;
    s->frameCount = FrameCountFor(length - 1 - step, step + 1, 0);
    return 0;
}

// The band's first column or row this frame; forward runs from 0 up,
// otherwise from length - 1 down.
int64_t RevealFrame(qbEffectState* s, int32_t length, bool forward, int* done) {
    auto* p = EffectPriv<RevealPriv>(s);
    if (s->frame == 0) p->position = forward ? 0 : length - 1;
    BeginEffectFrame(s);
    const int32_t step = s->speed;
    if (forward && p->position >= length - 1 - step) {
        p->position = length - 1 - step;
        *done = 1;
    } else if (!forward && p->position <= step) {
        p->position = step;
        *done = 1;
    }
    const int64_t first = forward ? p->position : int64_t{p->position} - step;
    p->position += forward ? step + 1 : -(step + 1);
    return first;
}

int InitLines2(qbEffectState* s, int32_t length) {
    auto* p = AllocEffectPriv<LinesPriv>(s);
    if (!p) return ERR_MEM;
    p->odd = length % 2 ? length - 2 : length - 1;
    s->frameCount = FrameCountFor(length, 2, 0);
    return 0;
}

// The even line from the start and the odd one from the end.
void Lines2Frame(qbEffectState* s, int32_t length, int* done, int32_t* even, int32_t* odd) {
    auto* p = EffectPriv<LinesPriv>(s);
    if (s->frame == 0) {
        p->odd = length % 2 ? length - 2 : length - 1;
        p->even = 0;
    }
    BeginEffectFrame(s);
    if (p->even >= length) *done = 1;
    p->odd = std::max(p->odd, 0);
    p->even = std::min(p->even, length - 1);
    *even = p->even;
    *odd = p->odd;
    p->even += 2;
    p->odd -= 2;
}

int InitLines(qbEffectState* s, int32_t length) {
    if (!AllocEffectPriv<LinesPriv>(s)) return ERR_MEM;
    s->frameCount = FrameCountFor(static_cast<int32_t>(std::min<int64_t>(int64_t{2} * length, INT32_MAX)), 2, 0);
    return 0;
}

// Even lines from the start, then odd lines back from the end.
int32_t LinesFrame(qbEffectState* s, int32_t length, int* done) {
    auto* p = EffectPriv<LinesPriv>(s);
    if (s->frame == 0) p->even = 0;
    BeginEffectFrame(s);
    const int64_t n = p->even;
    if (n >= int64_t{2} * length) *done = 1;
    int64_t line = n;
    if (n >= length) {
        const int64_t e = length - (n - length);
        line = e % 2 == 0 ? e + 1 : e;
    }
    p->even += 2;
    return static_cast<int32_t>(std::clamp<int64_t>(line, 0, length - 1));
}

}  // namespace

int RenderRevealLeft(qbEffectState* s, int* done) {
    if (!done) return InitReveal(s, s->width, true, 0);
    if (s->phase != 1) return 0;
    DrawEffectPiece(s, RevealFrame(s, s->width, true, done), 0, s->speed + 1, s->height);
    EndEffectFrame(s);
    return 0;
}

int RenderRevealRight(qbEffectState* s, int* done) {
    if (!done) return InitReveal(s, s->width, true, s->width - 1);
    if (s->phase != 1) return 0;
    DrawEffectPiece(s, RevealFrame(s, s->width, false, done), 0, s->speed + 1, s->height);
    EndEffectFrame(s);
    return 0;
}

int RenderRevealTop(qbEffectState* s, int* done) {
    if (!done) return InitReveal(s, s->height, false, 0);
    if (s->phase != 1) return 0;
    DrawEffectPiece(s, 0, RevealFrame(s, s->height, true, done), s->width, s->speed + 1);
    EndEffectFrame(s);
    return 0;
}

int RenderRevealBottom(qbEffectState* s, int* done) {
    if (!done) return InitReveal(s, s->height, false, s->height - 1);
    if (s->phase != 1) return 0;
    DrawEffectPiece(s, 0, RevealFrame(s, s->height, false, done), s->width, s->speed + 1);
    EndEffectFrame(s);
    return 0;
}

int RenderHLines2(qbEffectState* s, int* done) {
    if (!done) return InitLines2(s, s->height);
    if (s->phase != 1) return 0;
    int32_t even = 0, odd = 0;
    Lines2Frame(s, s->height, done, &even, &odd);
    DrawEffectPiece(s, 0, even, s->width, 1);
    DrawEffectPiece(s, 0, odd, s->width, 1);
    EndEffectFrame(s);
    return 0;
}

int RenderVLines2(qbEffectState* s, int* done) {
    if (!done) return InitLines2(s, s->width);
    if (s->phase != 1) return 0;
    int32_t even = 0, odd = 0;
    Lines2Frame(s, s->width, done, &even, &odd);
    DrawEffectPiece(s, even, 0, 1, s->height);
    DrawEffectPiece(s, odd, 0, 1, s->height);
    EndEffectFrame(s);
    return 0;
}

int RenderHLines(qbEffectState* s, int* done) {
    if (!done) return InitLines(s, s->height);
    if (s->phase != 1) return 0;
    DrawEffectPiece(s, 0, LinesFrame(s, s->height, done), s->width, 1);
    EndEffectFrame(s);
    return 0;
}

int RenderVLines(qbEffectState* s, int* done) {
    if (!done) return InitLines(s, s->width);
    if (s->phase != 1) return 0;
    DrawEffectPiece(s, LinesFrame(s, s->width, done), 0, 1, s->height);
    EndEffectFrame(s);
    return 0;
}
