// Starting a move: the output checks, the presets, the object's lookup with
// its use counters, the coordinates, the presentation on the display, and
// then the synchronous loop or the async-draw object that steps it.
#include "draw/movement.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "core/errcodes.h"
#include "core/errors.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/events.h"
#include "display/output.h"
#include "display/positions.h"
#include "display/refresh.h"
#include "draw/asyncdraw.h"
#include "imaging/blit.h"
#include "imaging/geometry.h"
#include "objects/animhooks.h"
#include "objects/brushes.h"
#include "objects/displayobject.h"
#include "objects/layerframes.h"
#include "objects/layergeometry.h"
#include "objects/layers.h"
#include "objects/sprites.h"
#include "objects/texthooks.h"

namespace {

constexpr int32_t kLayerKeepCoordinate = 100000;
constexpr int32_t kSpriteOwnDelayMillis = 60;
constexpr int32_t kAnimSpeedUnitMillis = 20;
constexpr int32_t kEffectStartOffset = 10;

// Ends the move on every path that does not hand the record on.
struct MoveOwner {
    qbMove* move = nullptr;
    ~MoveOwner() { CleanupMove(move); }
    qbMove* release() { return std::exchange(move, nullptr); }
};

int CheckOutput(const qbDisplay* d, int32_t kind) {
    if (d->output.type != kObjectTypeDisplay) {
        if (int err = CheckOutputGuard(d, OutputGuard::Refresh)) return err;
        if (d->refreshBlock) return ERR_BEGINREFRESH;
    }
    if (kind == kMoveKindSprite && (d->layersEnabled || CountLayers(GetCurrentBGPic()) > 0)) return ERR_LAYERSOFF;
    return 0;
}

int LookUpBrush(ScriptState* L, qbMove* m) {
    qbBrush* b = nullptr;
    if (int err = GetBrushRecord(L, m->id, &b, 0)) return err;
    ++b->locked;
    m->useCount = &b->locked;
    m->id = IDOf(*b);
    m->bitmap = b->bitmap;
    m->mask = b->mask;
    m->alpha = b->alpha;
    m->width = b->width;
    m->height = b->height;
    return 0;
}

int LookUpTextObject(ScriptState* L, qbMove* m) {
    const auto source = TextLayerHooks().objectSource;
    if (!source) {
        if (m->id.handle) return ERR_FINDARRAY;
        SetErrorArgIndex(static_cast<int>(m->id.number));
        return ERR_FINDTEXTOBJECT;
    }
    qbTextObjectSource s;
    if (int err = source(L, m->id, &s)) return err;
    ++*s.useCount;
    m->useCount = s.useCount;
    m->id = s.id;
    m->bitmap = s.image.bitmap;
    m->mask = s.image.mask;
    m->alpha = s.image.alpha;
    m->width = s.width;
    m->height = s.height;
    m->offsetX = s.xOffset;
    m->offsetY = s.yOffset;
    return 0;
}

int LookUpAnim(ScriptState* L, qbMove* m) {
    const auto source = AnimObjectHooks().moveSource;
    if (!source) {
        if (m->id.handle) return ERR_FINDARRAY;
        SetErrorArgIndex(static_cast<int>(m->id.number));
        return ERR_FINDANIM;
    }
    int32_t* lockCount = nullptr;
    if (int err = source(L, m->id, &lockCount, &m->width, &m->height, &m->frameCount, &m->id)) return err;
    ++*lockCount;
    m->useCount = lockCount;
    return 0;
}

int LookUpSprite(ScriptState* L, qbMove* m) {
    qbSprite* s = nullptr;
    if (int err = GetSprite(L, m->id, &s, 0)) return err;
    try {
        m->linkedUseCounts.reserve(s->links.size());
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    ++s->useCount;
    m->useCount = &s->useCount;
    for (qbSprite* link : s->links) {
        ++link->useCount;
        m->linkedUseCounts.push_back(&link->useCount);
    }
    m->width = s->width;
    m->height = s->height;
    m->frameCount = s->frameCount;
    return 0;
}

int LookUpLayer(const qbDisplay* d, const qbMoveRequest& r, qbMove* m) {
    if (!d->layersEnabled) return ERR_NOLAYERS;
    const qbBGPic* bgpic = GetCurrentBGPic();
    int32_t index = r.id.number;
    if (r.layerName) {
        if (int err = FindNamedLayer(bgpic, r.layerName, &index)) return err;
    }
    qbLayer* l = GetLayerByIndex(bgpic, index);
    if (!l) return ERR_LAYERRANGE;
    m->layer = l;
    m->layerIndex = index;
    m->viaLayer = 1;
    m->width = l->basestate->width;
    m->height = l->basestate->height;
    return 0;
}

void ResolveCoordinates(const qbMoveRequest& r, qbMove* m) {
    double ax = 0, ay = 0;
    int32_t x1 = r.x1, y1 = r.y1, x2 = r.x2, y2 = r.y2;
    if (m->kind == kMoveKindLayer) {
        ax = m->layer->anchorx;
        ay = m->layer->anchory;
        const qbLayerState* s = m->layer->basestate;
        for (int32_t* v : {&x1, &x2})
            if (*v == kLayerKeepCoordinate) *v = s->x;
        for (int32_t* v : {&y1, &y2})
            if (*v == kLayerKeepCoordinate) *v = s->y;
    }
    m->x = m->prevX = SaturatingAdd(ResolveSpecialX(x1, m->width, 0, ax), m->offsetX);
    m->y = m->prevY = SaturatingAdd(ResolveSpecialY(y1, m->height, 0, ay), m->offsetY);
    m->targetX = SaturatingAdd(ResolveSpecialX(x2, m->width, 0, ax), m->offsetX);
    m->targetY = SaturatingAdd(ResolveSpecialY(y2, m->height, 0, ay), m->offsetY);
}

// A new top layer of the text object, its picture at the move's start.
int AddTextObjectTopLayer(ScriptState* L, qbMove* m, qbLayer** out) {
    const auto insert = TextLayerHooks().insertObjectLayer;
    if (!insert) return ERR_FINDTEXTOBJECT;
    const int32_t top = CountLayers(GetCurrentBGPic()) + 1;
    return insert(L, m->id, SaturatingSub(m->x, m->offsetX), SaturatingSub(m->y, m->offsetY), top,
                  kAddDisplayScale, out);
}

// The object's layer of the current BGPic, counted from the bottom, or a
// new top layer of it; either is placed at the start.
int PresentAsLayer(ScriptState* L, qbMove* m) {
    const qbBGPic* bgpic = GetCurrentBGPic();
    const int32_t type = m->kind == kMoveKindTextObject ? kLayerTextObject
                         : m->kind == kMoveKindAnim     ? kLayerAnim
                                                        : kLayerBrush;
    qbLayer* found = nullptr;
    for (int32_t i = 1, n = CountLayers(bgpic); i <= n && !found; ++i) {
        qbLayer* l = GetLayerByIndex(bgpic, i);
        if (l->type == type && l->id == m->id) found = l;
    }
    if (!found && type == kLayerTextObject) {
        if (int err = AddTextObjectTopLayer(L, m, &found)) return err;
        if (!found) return ERR_WRONGUSAGE;
    } else if (!found) {
        qbDisplayObjectCall call;
        call.type = type == kLayerAnim ? kShowAnim : kShowBrush;
        call.id = m->id;
        call.x = m->x;
        call.y = m->y;
        call.outLayer = &found;
        if (int err = DisplayObject(L, call)) return err;
        if (!found) return ERR_WRONGUSAGE;
    }
    m->layer = found;
    m->viaLayer = 1;
    return RepositionLayer(L, found, nullptr, m->x, m->y, false, 0, nullptr);
}

// Plain mode keeps what the screen shows now as the background.
int TakeBackground(qbDisplay* d, qbMove* m) {
    m->work.reset();
    m->background.reset();
    qbBitmap* screen = d->spriteFreeBuffer.get();
    const qbBGPic* bgpic = GetCurrentBGPic();
    if (!screen || !bgpic) return 0;  // a display not open has nothing to draw into
    const int32_t w = std::min(screen->width, bgpic->currentWidth), h = std::min(screen->height, bgpic->currentHeight);
    if (w < 1 || h < 1) return 0;
    m->background.reset(AllocBitmap(w, h, 0, nullptr));
    m->work.reset(AllocBitmap(w, h, 0, nullptr));
    if (!m->background || !m->work) {
        m->work.reset();
        m->background.reset();
        return ERR_BITMAP;
    }
    CopyBitmapRect(screen, 0, 0, m->background.get(), 0, 0, w, h);
    CopyBitmapRect(screen, 0, 0, m->work.get(), 0, 0, w, h);
    return 0;
}

int Present(ScriptState* L, qbDisplay* d, qbMove* m) {
    if (m->kind == kMoveKindSprite) return RedrawSprite(L, m->id, m->x, m->y, 1);
    if (m->kind == kMoveKindLayer) return 0;
    if (d->layersEnabled && (m->kind == kMoveKindBrush || m->kind == kMoveKindTextObject || m->kind == kMoveKindAnim))
        return PresentAsLayer(L, m);
    return TakeBackground(d, m);
}

void SetFirstFrameTime(qbMove* m) {
    GetMonotonicTime(&m->nextFrame);
    const TimeValue delay = MicrosToTimeValue(int64_t{MoveFrameDelay(m)} * 1000);
    AddTime(&m->nextFrame, &delay);
}

void PlanOnCurrentBGPic(qbMove* m) {
    const qbBGPic* p = GetCurrentBGPic();
    PlanMove(m, p ? p->currentWidth : 0, p ? p->currentHeight : 0);
}

int RunSynchronously(ScriptState* L, qbDisplay* d, qbMove* m) {
    const qbBGPic* start = GetCurrentBGPic();
    int32_t w = start ? start->currentWidth : 0, h = start ? start->currentHeight : 0;
    for (int32_t done = 0; !done;) {
        int pumpError = 0;
        if (PumpEvents(L, kPumpWait, nullptr, &pumpError)) return pumpError;
        // An event handler may have closed the display or made another
        // current: the move has nowhere left to go.
        if (GetCurrentDisplay() != d) return 0;
        const qbBGPic* now = GetCurrentBGPic();
        if (now && (now->currentWidth != w || now->currentHeight != h) && !d->autoscale && !d->layersEnabled &&
            !m->viaLayer && m->kind != kMoveKindSprite) {
            w = now->currentWidth;
            h = now->currentHeight;
            if (int err = TakeBackground(d, m)) return err;
        }
        if (int err = StepMove(m, &done)) return err;
        WaitVBlank(L, 0);
    }
    return 0;
}

qbMove* MoveOf(void* userdata) { return static_cast<qbMove*>(userdata); }

int AsyncStep(void* userdata, int32_t* done) { return StepMove(MoveOf(userdata), done); }

// Finishing early puts the object at its target at once.
void AsyncFinish(void* userdata, int32_t* done) {
    qbMove* m = MoveOf(userdata);
    if (!m->ended) {
        m->ended = 1;
        DrawMoveAt(m, m->targetX, m->targetY);
    }
    *done = 1;
}

void AsyncFree(void* userdata, int32_t) { CleanupMove(MoveOf(userdata)); }

}  // namespace

int32_t MoveAsyncQuery(int32_t code, void* data, void* userdata) {
    qbMove* m = MoveOf(userdata);
    switch (code) {
        case kAsyncQueryLayerReplaced:
            if (data && static_cast<qbAsyncLayerReplacement*>(data)->oldLayer == m->layer) m->layer = nullptr;
            return 0;
        case kAsyncQueryShowingLayer:
            if (data) *static_cast<void**>(data) = m->ended ? nullptr : LiveMoveLayer(m);
            return 0;
        default: return 0;
    }
}

int ResolveMoveSpeed(int32_t speed, int32_t* out) {
    switch (speed) {
        case kMoveSpeedNormal: *out = 10; return 0;
        case kMoveSpeedFast: *out = 15; return 0;
        case kMoveSpeedSlow: *out = 5; return 0;
        default: break;
    }
    if (speed < 1) return ERR_WRONGUSAGE;
    *out = speed;
    return 0;
}

int32_t ResolveAnimSpeed(int32_t animspeed, int32_t kind) {
    if (animspeed == kMoveAnimOwnDelays) return kind == kMoveKindSprite ? kSpriteOwnDelayMillis : animspeed;
    int32_t units = animspeed;
    switch (animspeed) {
        case -1: units = 3; break;
        case -2: units = 0; break;
        case -3: units = 8; break;
        default: units = std::max(animspeed, 0); break;
    }
    return static_cast<int32_t>(std::min<int64_t>(int64_t{units} * kAnimSpeedUnitMillis, INT32_MAX));
}

int MoveObject(ScriptState* L, const qbMoveRequest& r, ObjectID* asyncId) {
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    if (int err = CheckOutput(d, r.kind)) return err;
    int32_t speed = 0;
    if (int err = ResolveMoveSpeed(r.speed, &speed)) return err;
    if (r.fx < kMoveStraight || r.fx > kMoveUpperCurve) return ERR_WRONGUSAGE;
    MoveOwner owner;
    try {
        owner.move = std::make_unique<qbMove>().release();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    qbMove* m = owner.move;
    m->script = L;
    m->kind = r.kind;
    m->id = r.id;
    m->fx = r.fx;
    m->speed = speed;
    m->animspeed = ResolveAnimSpeed(r.animspeed, r.kind);
    m->async = r.async ? 1 : 0;
    int err = ERR_WRONGUSAGE;
    switch (r.kind) {
        case kMoveKindBrush: err = LookUpBrush(L, m); break;
        case kMoveKindAnim: err = LookUpAnim(L, m); break;
        case kMoveKindTextObject: err = LookUpTextObject(L, m); break;
        case kMoveKindSprite: err = LookUpSprite(L, m); break;
        case kMoveKindLayer: err = LookUpLayer(d, r, m); break;
        default: break;
    }
    if (err) return err;
    ResolveCoordinates(r, m);
    const bool still = m->x == m->targetX && m->y == m->targetY;
    if (still) m->ended = 1;
    if (!still) {
        PlanOnCurrentBGPic(m);
        if (int e = Present(L, d, m)) return e;
        SetFirstFrameTime(m);
    }
    if (!r.async) return still ? 0 : RunSynchronously(L, d, m);
    qbAsyncDrawCallbacks callbacks;
    callbacks.drawFrame = AsyncStep;
    callbacks.finish = AsyncFinish;
    callbacks.free = AsyncFree;
    callbacks.query = MoveAsyncQuery;
    qbAsyncDraw* record = nullptr;
    if (int e = AddAsyncDraw(ADF_MOVEOBJECT, callbacks, m, &record)) return e;
    owner.release();
    record->done = still ? 1 : 0;
    if (asyncId) *asyncId = IDOf(*record);
    return 0;
}

int StartEffectMove(ScriptState* L, qbMove* m) {
    m->script = L;
    m->effectDriven = 1;
    if (int err = ResolveMoveSpeed(m->speed, &m->speed)) return err;
    if (m->kind == kMoveKindLayer) {
        qbLayer* l = GetLayerByIndex(GetCurrentBGPic(), m->layerIndex);
        if (!l) return ERR_LAYERRANGE;
        m->layer = l;
        m->viaLayer = 1;
        m->width = l->basestate->width;
        m->height = l->basestate->height;
    } else if (m->kind != kMoveKindPicture) {
        return ERR_WRONGUSAGE;
    }
    if (m->x == m->targetX && m->y == m->targetY) {
        m->x = static_cast<int32_t>(std::max<int64_t>(int64_t{m->targetX} - kEffectStartOffset, INT32_MIN));
        m->y = static_cast<int32_t>(std::max<int64_t>(int64_t{m->targetY} - kEffectStartOffset, INT32_MIN));
    }
    m->prevX = m->x;
    m->prevY = m->y;
    PlanOnCurrentBGPic(m);
    if (!m->viaLayer)
        if (qbDisplay* d = GetCurrentDisplay())
            if (int err = TakeBackground(d, m)) return err;
    SetFirstFrameTime(m);
    m->step = StepMove;
    m->cleanup = CleanupMove;
    return 0;
}
