// One frame of a move on the display: the object drawn at its new place
// (a sprite redrawn, a layer repositioned, or in plain mode restored and
// drawn through the work bitmap), its frames advanced, and the cleanup.
#include <algorithm>
#include <cstdint>
#include <memory>

#include "core/errcodes.h"

#include "display/bgpics.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/safeblt.h"
#include "draw/movement.h"
#include "imaging/blit.h"
#include "objects/animhooks.h"
#include "objects/layerframes.h"
#include "objects/layergeometry.h"
#include "objects/layers.h"
#include "objects/sprites.h"

namespace {

MoveStepObserver stepObserver = nullptr;
void* stepObserverData = nullptr;

struct Span {
    int64_t x1, y1, x2, y2;  // x2, y2 exclusive
};

Span Clip(Span s, int64_t w, int64_t h) {
    return Span{std::max<int64_t>(s.x1, 0), std::max<int64_t>(s.y1, 0), std::min(s.x2, w), std::min(s.y2, h)};
}
bool Empty(const Span& s) { return s.x1 >= s.x2 || s.y1 >= s.y2; }
int32_t I(int64_t v) { return static_cast<int32_t>(v); }

// The union of the old and the new place restored from the background,
// the object drawn over it, and the union shown.
void DrawPlain(qbMove* m) {
    qbDisplay* d = GetCurrentDisplay();
    if (!d || !d->spriteFreeBuffer || !m->work || !m->background) return;
    const int64_t w = m->background->width, h = m->background->height;
    const Span now{m->x, m->y, int64_t{m->x} + m->width, int64_t{m->y} + m->height};
    const Span old{m->prevX, m->prevY, int64_t{m->prevX} + m->width, int64_t{m->prevY} + m->height};
    const Span both = Clip(Span{std::min(now.x1, old.x1), std::min(now.y1, old.y1), std::max(now.x2, old.x2),
                                std::max(now.y2, old.y2)},
                           w, h);
    if (Empty(both)) return;
    const int32_t bw = I(both.x2 - both.x1), bh = I(both.y2 - both.y1);
    const auto restore = [&](Span r) {
        r = Clip(r, w, h);
        if (!Empty(r))
            CopyBitmapRect(m->background.get(), I(r.x1), I(r.y1), m->work.get(), I(r.x1), I(r.y1), I(r.x2 - r.x1),
                           I(r.y2 - r.y1));
    };
    if (m->mask || m->alpha || !m->bitmap) {
        restore(both);
    } else {
        // An opaque object covers its new place whole: only the part of
        // the old place it left needs the background again.
        const int64_t top = std::max(old.y1, now.y1), bottom = std::min(old.y2, now.y2);
        restore(Span{old.x1, old.y1, old.x2, std::min(old.y2, now.y1)});
        restore(Span{old.x1, std::max(old.y1, now.y2), old.x2, old.y2});
        restore(Span{old.x1, top, std::min(old.x2, now.x1), bottom});
        restore(Span{std::max(old.x1, now.x2), top, old.x2, bottom});
    }
    const Span drawn = Clip(now, w, h);
    if (!Empty(drawn) && m->bitmap) {
        const int32_t sx = I(drawn.x1 - now.x1), sy = I(drawn.y1 - now.y1);
        const int32_t dw = I(drawn.x2 - drawn.x1), dh = I(drawn.y2 - drawn.y1);
        if (m->alpha)
            CopyBitmapRectAlpha(m->bitmap, sx, sy, m->work.get(), I(drawn.x1), I(drawn.y1), dw, dh, m->alpha);
        else if (m->mask)
            CopyBitmapRectMasked(m->bitmap, sx, sy, m->work.get(), I(drawn.x1), I(drawn.y1), dw, dh, m->mask);
        else
            CopyBitmapRect(m->bitmap, sx, sy, m->work.get(), I(drawn.x1), I(drawn.y1), dw, dh);
    }
    qbSafeBlt blit;
    blit.source = m->work.get();
    blit.srcX = blit.dstX = I(both.x1);
    blit.srcY = blit.dstY = I(both.y1);
    blit.width = bw;
    blit.height = bh;
    blit.srcWidth = blit.dstWidth = I(w);
    blit.srcHeight = blit.dstHeight = I(h);
    blit.destination = d->spriteFreeBuffer.get();
    blit.flags = m->blitFlags;
    SafeBlt(m->script, blit);
}

// An anim drawn without layers shows the frame it is on; a disk anim's
// frame stays fetched until the next one is.
int LoadAnimFrame(qbMove* m) {
    const auto show = AnimObjectHooks().showFrame;
    if (!show) return ERR_FINDANIM;
    qbImageTriple t;
    int32_t w = 0, h = 0, count = 0;
    if (int err = show(m->script, m->id, m->frame, false, &t, &w, &h, &count)) return err;
    m->bitmap = t.bitmap;
    m->mask = t.mask;
    m->alpha = t.alpha;
    return 0;
}

int DrawMove(qbMove* m) {
    int err = 0;
    if (m->kind == kMoveKindSprite) {
        err = RedrawSprite(m->script, m->id, m->x, m->y, m->frame + 1);
    } else if (m->viaLayer) {
        if (qbLayer* l = LiveMoveLayer(m)) err = RepositionLayer(m->script, l, nullptr, m->x, m->y, false, 0, nullptr);
    } else if (m->kind == kMoveKindAnim && (err = LoadAnimFrame(m)) != 0) {
        return err;  // the old place stays drawn
    } else {
        DrawPlain(m);
    }
    m->prevX = m->x;
    m->prevY = m->y;
    return err;
}

int AdvanceFrame(qbMove* m) {
    if (m->frameCount < 2) return 0;
    TimeValue now;
    GetMonotonicTime(&now);
    if (CmpTime(&now, &m->nextFrame) < 0) return 0;
    m->frame = (m->frame + 1) % m->frameCount;
    const TimeValue delay = MicrosToTimeValue(int64_t{MoveFrameDelay(m)} * 1000);
    m->nextFrame = now;
    AddTime(&m->nextFrame, &delay);
    if (m->kind == kMoveKindAnim && m->viaLayer)
        if (qbLayer* l = LiveMoveLayer(m))
            return SetLayerPosFrame(m->script, l, kUseLayerPosition, kUseLayerPosition, m->frame + 1, false);
    return 0;
}

}  // namespace

void SetMoveStepObserver(MoveStepObserver observer, void* data) {
    stepObserver = observer;
    stepObserverData = data;
}

int32_t MoveFrameDelay(const qbMove* m) {
    if (m->animspeed != kMoveAnimOwnDelays) return std::max(m->animspeed, 0);
    const auto delay = AnimObjectHooks().frameDelay;
    uint32_t ms = 0;
    if (!delay || delay(m->script, m->id, m->frame, &ms)) return 0;
    return static_cast<int32_t>(std::min<uint32_t>(ms, INT32_MAX));
}

qbLayer* LiveMoveLayer(qbMove* m) {
    if (m->layer && !FindBGPicOfLayer(m->layer)) m->layer = nullptr;
    return m->layer;
}

int StepMove(qbMove* m, int32_t* done) {
    if (m->ended) {
        *done = 1;
        return 0;
    }
    bool arrived = false;
    AdvanceMove(m, &arrived);
    int err = DrawMove(m);
    if (int e = AdvanceFrame(m); !err) err = e;
    if (stepObserver) stepObserver(*m, stepObserverData);
    if (arrived) {
        m->ended = 1;
        *done = 1;
    }
    return err;
}

int DrawMoveAt(qbMove* m, int32_t x, int32_t y) {
    m->x = x;
    m->y = y;
    return DrawMove(m);
}

void CleanupMove(qbMove* m) {
    if (!m) return;
    if (m->useCount && *m->useCount > 0) --*m->useCount;
    m->useCount = nullptr;
    for (int32_t* c : m->linkedUseCounts)
        if (*c > 0) --*c;
    m->linkedUseCounts.clear();
    m->work.reset();
    m->background.reset();
    if (m->ownsImages) {
        FreeBitmap(m->bitmap);
        FreeMask(m->mask);
        FreeAlphaChannel(m->alpha);
        m->ownsImages = 0;
    }
    m->bitmap = m->mask = m->alpha = nullptr;
    m->layer = nullptr;
    if (!m->effectDriven) std::unique_ptr<qbMove> owner(m);
}
