#include "transitions/scroll.h"

#include <algorithm>
#include <climits>
#include <new>

#include "core/errcodes.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/positions.h"
#include "draw/movement.h"
#include "objects/layergeometry.h"
#include "objects/layers.h"
#include "transitions/effectasync.h"
#include "transitions/effectstate.h"

namespace {

constexpr int32_t kScrollLeft = 47;
constexpr int32_t kMostMoveFrames = 1 << 20;
constexpr uint32_t kBlitChooseBuffer = 64;

struct ScrollPriv {
    qbMove* move;
    int32_t x1, y1, x2, y2;  // resolved, as the move was planned
    int32_t speed;           // resolved, before the plan split it by axis
    int32_t stepped;         // a frame moved the object since the plan
};

// Where the picture comes from (or goes to): beyond an edge or a corner.
void OffScreenPlace(int32_t type, int32_t x, int32_t y, int32_t* ox, int32_t* oy) {
    static constexpr int32_t kPlaces[8][2] = {
        {kPositionLeftOut, 0},  {kPositionRightOut, 0},          {0, kPositionTopOut},
        {0, kPositionBottomOut}, {kPositionRightOut, kPositionTopOut}, {kPositionRightOut, kPositionBottomOut},
        {kPositionLeftOut, kPositionBottomOut}, {kPositionLeftOut, kPositionTopOut},
    };
    const int32_t i = std::clamp(type - kScrollLeft, 0, 7);
    *ox = kPlaces[i][0] ? kPlaces[i][0] : x;
    *oy = kPlaces[i][1] ? kPlaces[i][1] : y;
}

// The move's frames from start to arrival, counted on a plan of its own.
int32_t CountMoveFrames(const qbMove& m, int32_t speed, const qbBGPic* pic) {
    qbMove probe;
    probe.kind = kMoveKindPicture;
    probe.x = probe.prevX = m.x;
    probe.y = probe.prevY = m.y;
    probe.targetX = m.targetX;
    probe.targetY = m.targetY;
    probe.width = m.width;
    probe.height = m.height;
    probe.speed = speed;
    probe.fx = m.fx;
    PlanMove(&probe, pic ? pic->currentWidth : 0, pic ? pic->currentHeight : 0);
    bool arrived = false;
    int32_t frames = 0;
    while (!arrived && frames < kMostMoveFrames) {
        AdvanceMove(&probe, &arrived);
        ++frames;
    }
    return std::max(frames, 1);
}

// The move again from its start, for a replay from frame 0.
void RestartMove(qbEffectState* s, ScrollPriv* p) {
    qbMove* m = p->move;
    m->x = m->prevX = p->x1;
    m->y = m->prevY = p->y1;
    m->targetX = p->x2;
    m->targetY = p->y2;
    m->speed = p->speed;
    m->phase = m->bresCounter = m->bresRemainder = m->sineIndex = 0;
    m->ended = 0;
    const qbBGPic* pic = GetCurrentBGPic();
    PlanMove(m, pic ? pic->currentWidth : 0, pic ? pic->currentHeight : 0);
    p->stepped = 0;
    if (s->layer) DrawMoveAt(m, p->x1, p->y1);
}

int InitScroll(qbEffectState* s) {
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
    auto* p = AllocEffectPriv<ScrollPriv>(s);
    if (!p) return ERR_MEM;
    p->move = new (std::nothrow) qbMove;
    if (!p->move) return ERR_MEM;
    s->cleanup = EndScroll;
    qbMove* m = p->move;
    m->kind = kMoveKindPicture;
    double ax = 0, ay = 0;
    int32_t x = s->x, y = s->y;
    if (s->layer) {
        // The layer moves by its own place (its anchor point), and goes back
        // there at the end.
        m->kind = kMoveKindLayer;
        m->layerIndex = s->id.number;
        ax = s->layer->anchorx;
        ay = s->layer->anchory;
        x = s->scrollX = s->layer->basestate->x;
        y = s->scrollY = s->layer->basestate->y;
    } else {
        m->bitmap = s->image;
        m->mask = s->alpha ? nullptr : s->mask;
        m->alpha = s->alpha;
    }
    m->width = s->width;
    m->height = s->height;
    int32_t ox, oy;
    OffScreenPlace(s->type, x, y, &ox, &oy);
    if (s->reverse) std::swap(ox, x), std::swap(oy, y);
    // An fx the engine does not know moves straight.
    m->fx = s->parameter >= 0 && s->parameter <= kMoveUpperCurve ? s->parameter : kMoveStraight;
    m->speed = s->speed;
    if (s->objectType == kEffectBGPic)
        if (const qbDisplay* d = GetCurrentDisplay(); d && d->layersEnabled) m->blitFlags |= kBlitChooseBuffer;
    // The engine places a layer by its anchor point: its size decides
    // where beyond the edge that is.
    const int32_t w = s->layer ? s->layer->basestate->width : s->width;
    const int32_t h = s->layer ? s->layer->basestate->height : s->height;
    m->x = ResolveSpecialX(ox, w, 0, ax);
    m->y = ResolveSpecialY(oy, h, 0, ay);
    m->targetX = ResolveSpecialX(x, w, 0, ax);
    m->targetY = ResolveSpecialY(y, h, 0, ay);
    if (int err = StartEffectMove(s->script, m)) return err;
    p->x1 = m->x, p->y1 = m->y, p->x2 = m->targetX, p->y2 = m->targetY;
    ResolveMoveSpeed(s->speed, &p->speed);
    const qbBGPic* pic = GetCurrentBGPic();
    s->frameCount = CountMoveFrames(*m, p->speed, pic);
    return 0;
}

}  // namespace

int RenderScroll(qbEffectState* s, int* done) {
    if (!done) return InitScroll(s);
    if (s->phase != 1) return 0;
    auto* p = EffectPriv<ScrollPriv>(s);
    if (!p || !p->move || !p->move->step) return 0;
    // The layer may have been replaced by another meanwhile (the effect
    // follows it); the move goes on with that one.
    if (s->layer && p->move->layer != s->layer) p->move->layer = s->layer;
    if (s->frame == 0 && p->stepped) RestartMove(s, p);
    if (s->bgpicEmu) RefreshEmulatedBGPic(s, 2);
    int32_t arrived = 0;
    const int err = p->move->step(p->move, &arrived);
    p->stepped = 1;
    ++s->frame;
    if (arrived) *done = 1;
    return err;
}

void EndScroll(qbEffectState* s, int normalEnd) {
    auto* p = EffectPriv<ScrollPriv>(s);
    if (!p || !p->move) return;
    const bool aborted = !normalEnd;
    if (s->layer && FindBGPicOfLayer(s->layer))
        RepositionLayer(s->script, s->layer, nullptr, s->scrollX, s->scrollY, aborted, 0, nullptr);
    if (p->move->cleanup) p->move->cleanup(p->move);
    delete p->move;
    p->move = nullptr;
}
