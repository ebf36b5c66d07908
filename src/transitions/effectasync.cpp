#include "transitions/effectasync.h"
#include "transitions/effectframe.h"

#include <algorithm>
#include <cmath>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/events.h"
#include "display/refresh.h"
#include "draw/asyncdraw.h"
#include "imaging/bitmap.h"
#include "objects/compositor.h"
#include "objects/dirtyrects.h"
#include "objects/layers.h"
#include "transitions/effectdriver.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectscreen.h"

namespace {

bool InRange(int32_t t, int32_t lo, int32_t hi) { return t >= lo && t <= hi; }

// The families that can draw any frame from their counter alone.
bool SeeksItself(int32_t t) {
    return InRange(t, 55, 81) || InRange(t, 84, 87) || InRange(t, 97, 104) || InRange(t, 111, 112) ||
           InRange(t, 114, 139);
}

qbEffectState* StateOf(void* userdata) { return static_cast<qbEffectState*>(userdata); }

void RedrawLayerArea(qbEffectState* s) {
    if (!s->layer) return;
    int32_t x, y, w, h;
    GetLayerBounds(s->script, s->layer, s->layer->shownstate, &x, &y, &w, &h);
    RefreshOrMarkDirty(s->script, x, y, w, h);
}

void FinishCallback(void* userdata, int32_t*) { FinishEffect(StateOf(userdata), 1); }

void FreeCallback(void* userdata, int32_t flag) {
    std::unique_ptr<qbEffectState> owned(StateOf(userdata));
    FreeEffectState(owned.get(), flag);
}

void DropOwnedPictures(qbEffectState* s) {
    if (s->ownsImage) FreeBitmap(s->image);
    if (s->ownsMask) FreeMask(s->mask);
    if (s->ownsAlpha) FreeAlphaChannel(s->alpha);
    s->image = s->mask = s->alpha = nullptr;
    s->ownsImage = s->ownsMask = s->ownsAlpha = 0;
}

// The renderer starts again on the new size and the effect continues at
// the same share of its length.
int Rebuild(qbEffectState* s, int32_t oldFrame, int32_t oldCount) {
    if (!s->priv.empty()) {
        if (s->cleanup) s->cleanup(s, 1);
        s->priv.clear();
    }
    if (s->bgpicEmu) {
        FreeBitmap(s->background);
        s->background = EffectAllocBitmap(s->width, s->height);
        if (!s->background) return ERR_BITMAP;
        if (s->bgpic) s->bgpic->layersDirty = 1;
        if (s->emuBGPic) s->emuBGPic->layersDirty = 1;
        RefreshEmulatedBGPic(s, 3);
    }
    s->phase = 0;
    s->frame = s->frameCount = 0;
    s->speed = s->initialSpeed;
    if (int err = s->renderer(s, nullptr)) return err;
    s->phase = 1;
    const double share = oldCount > 0 ? double(s->frameCount) * oldFrame / oldCount : 1.0;
    const int32_t target = std::clamp(static_cast<int32_t>(std::lround(share)), 1, std::max(s->frameCount, 1));
    s->rebuilding = 1;
    const int err = SeekEffectFrame(s, target, true);
    s->rebuilding = 0;
    return err;
}

// The layer's picture was replaced: read it again; at another size the
// effect images and the renderer start over.
int ReadLayerAgain(qbEffectState* s) {
    const int32_t oldW = s->width, oldH = s->height, oldFrame = s->frame, oldCount = s->frameCount;
    RestoreEffectLayer(s);
    DropOwnedPictures(s);
    s->rereadLayer = 1;
    if (int err = PrepareLayerForEffect(s, s->layer)) return err;
    if (int err = AllocLayerEffectImages(s)) return err;
    s->rereadLayer = 0;
    if (s->width == oldW && s->height == oldH) return SeekEffectFrame(s, oldFrame, false);
    return Rebuild(s, oldFrame, oldCount);
}

// The effect's images leave the old layer (which gets its own back) for
// the layer that replaces it.
void MoveImagesTo(qbEffectState* s, qbLayer* next) {
    ReturnLentPictures(LayerStateLentBy(s->layer, s));
    ShowEffectImagesIn(s, next->shownstate);
    s->layer = next;
}

// Whether a change of the layer took the effect's images out of the state
// it shows: the layer then has its own pictures back, to be read again.
bool LayerTookItsPicturesBack(qbEffectState* s) {
    return s->realtime && s->layerImagesSet && s->layer && s->layer->shownstate->lent.lender != s;
}

int ReplaceLayer(qbEffectState* s, const qbAsyncLayerReplacement& change) {
    if (!s->layer || change.oldLayer != s->layer || !change.newLayer) return 0;
    auto* next = static_cast<qbLayer*>(change.newLayer);
    if (!s->realtime || !s->layerImagesSet) {
        s->layer = next;
        return 0;
    }
    const qbLayerState* st = next->shownstate;
    if (st->shownwidth == s->width && st->shownheight == s->height && !s->bgpicEmu) {
        MoveImagesTo(s, next);
        return 0;
    }
    const int32_t oldFrame = s->frame, oldCount = s->frameCount;
    const int32_t oldW = s->width, oldH = s->height;
    RestoreEffectLayer(s);
    DropOwnedPictures(s);
    s->layer = next;
    if (int err = PrepareLayerForEffect(s, next)) return err;
    if (int err = AllocLayerEffectImages(s)) return err;
    if (s->width == oldW && s->height == oldH) {
        if (s->emuBGPic) s->emuBGPic->layersDirty = 1;
        RefreshEmulatedBGPic(s, 2);
        return SeekEffectFrame(s, oldFrame, true);
    }
    return Rebuild(s, oldFrame, oldCount);
}

// Stepped here to the end, as a synchronous effect is, but through the
// async-draw object (a playing video layer wants it so).
int StepToEnd(ScriptState* L, qbAsyncDraw* record) {
    const ObjectID id = IDOf(*record);
    for (;;) {
        int pumpError = 0;
        const int quit = PumpEvents(L, kPumpWait, nullptr, &pumpError);
        // The script may have ended the object meanwhile.
        qbAsyncDraw* r = nullptr;
        if (FindAsyncDraw(id, &r)) return quit ? pumpError : 0;
        if (quit) {
            RemoveAsyncDraw(L, r, 0);
            return pumpError;
        }
        if (r->done) {
            r->callbacks.finish(r->userdata, &r->done);
            RemoveAsyncDraw(L, r, 1);
            return 0;
        }
        if (int err = EffectAsyncStep(r->userdata, &r->done)) {
            RemoveAsyncDraw(L, r, 0);
            return err;
        }
        WaitVBlank(L, 0);
    }
}

// The script's jump. The layer images hold the frame drawn last, so a jump
// forward in a replaying family draws only the frames in between (unseen,
// as a replay does); any other jump seeks.
int JumpToFrame(qbEffectState* s, int32_t n) {
    if (LayerTookItsPicturesBack(s) || (s->rereadLayer && s->layer))
        if (int err = ReadLayerAgain(s)) return err;
    n = std::clamp(n, 0, std::max(s->frameCount, 0));
    if (SeeksItself(s->type) || n <= s->frame || !s->realtime || !s->layerImagesSet) return SeekEffectFrame(s, n, false);
    const int32_t was = s->replaying;
    s->replaying = 1;
    int done = 0, err = 0;
    for (int32_t i = s->frame; i < n && !done && !err; ++i) err = s->renderer(s, &done);
    s->frame = n;
    s->replaying = was;
    return err;
}

}  // namespace

int RunAsyncEffect(std::unique_ptr<qbEffectState> owned) {
    qbEffectState* s = owned.get();
    ScriptState* L = s->script;
    qbAsyncDrawCallbacks callbacks;
    callbacks.drawFrame = EffectAsyncStep;
    callbacks.finish = FinishCallback;
    callbacks.free = FreeCallback;
    callbacks.query = EffectAsyncQuery;
    qbAsyncDraw* record = nullptr;
    if (int err = AddAsyncDraw(ADF_FX, callbacks, s, &record)) {
        FreeEffectState(s, 0);
        return err;
    }
    (void)owned.release();  // the async-draw list frees it now
    if (s->stepSync) return StepToEnd(L, record);
    return PushObjectID(L, IDOf(*record));
}

int EffectAsyncStep(void* userdata, int32_t* done) {
    qbEffectState* s = StateOf(userdata);
    if (LayerTookItsPicturesBack(s) || (s->rereadLayer && s->layer))
        if (int err = ReadLayerAgain(s)) return err;
    if (s->bgpicEmu && s->emuBGPic && s->emuBGPic->layersDirty && EffectWorksOnObjects(s->type) && !s->scroll) {
        RefreshEmulatedBGPic(s, 2);
        if (int err = SeekEffectFrame(s, s->frame, false)) return err;
    } else if (s->realtime && s->layer) {
        s->x = s->layer->shownstate->shownx;
        s->y = s->layer->shownstate->showny;
    }
    int last = 0;
    const int err = s->renderer(s, &last);
    ShowEffectRects(s);
    if (last) *done = 1;
    return err;
}

int32_t EffectAsyncQuery(int32_t code, void* data, void* userdata) {
    qbEffectState* s = StateOf(userdata);
    switch (code) {
        case kAsyncQueryLayerReplaced:
            return data ? ReplaceLayer(s, *static_cast<qbAsyncLayerReplacement*>(data)) : 0;
        case kAsyncQueryImageChanged:
            return s->realtime && s->layer && data == s->layer ? ReadLayerAgain(s) : 0;
        case kAsyncQueryFrameCount: return s->frameCount;
        case kAsyncQueryCurrentFrame: return s->frame;
        case kAsyncQueryJump: return data ? JumpToFrame(s, *static_cast<int32_t*>(data)) : 0;
        case kAsyncQueryRedraw: RedrawLayerArea(s); return 0;
        case kAsyncQueryShowingLayer:
            if (data) *static_cast<void**>(data) = s->layer;
            return 0;
        case kAsyncQueryBusy:
            // An effect clips each frame to the display's buffers as they
            // are then; only one drawing into an emulated BGPic cannot
            // follow their size.
            if (data && s->bgpicEmu) *static_cast<int32_t*>(data) = ERR_MODIFYABGPIC;
            return 0;
        case kAsyncQueryDrawing: {
            if (!data) return 0;
            const int32_t drawing = *static_cast<int32_t*>(data);
            // The frame went into the layer images unseen: its place waits
            // for the BGPic's next showing.
            if (!drawing && s->replaying) RedrawLayerArea(s);
            s->replaying = drawing;
            return 0;
        }
        case kAsyncQueryBGPicInUse:
            if (data) *static_cast<void**>(data) = s->bgpicEmu ? s->emuBGPic : nullptr;
            return 0;
        default: return 0;
    }
}

int SeekEffectFrame(qbEffectState* s, int32_t n, bool force) {
    n = std::clamp(n, 0, std::max(s->frameCount, 0));
    if (SeeksItself(s->type)) {
        s->phase = 2;
        s->frame = n;
        int done = 0;
        const int err = s->renderer(s, &done);
        ShowEffectRects(s);
        s->phase = 1;
        return err;
    }
    // Showing frame n already (without force) only needs the picture read
    // into the images again, which the replay does as well.
    (void)force;
    if (s->realtime && s->layerImagesSet) ResetLayerEffectImages(s);
    const int32_t was = s->replaying;
    s->replaying = 1;
    s->frame = 0;
    int done = 0, err = 0;
    for (int32_t i = 0; i < n && !done && !err; ++i) err = s->renderer(s, &done);
    s->frame = n;
    s->replaying = was;
    return err;
}

int RefreshEmulatedBGPic(qbEffectState* s, int which) {
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return 0;
    int redrawn = 0;
    qbBGPic* current = d->bgpic;
    if ((which & 1) && current && current->layersDirty && s->background) {
        qbLayer* layer = s->layer;
        const int32_t hidden = layer ? layer->hidden : 0;
        if (layer) layer->hidden = 1;
        RedrawLayers(s->script, d, current, s->background, 0, 0, s->width, s->height, 0);
        if (layer) layer->hidden = hidden;
        current->layersDirty = 0;
        redrawn |= 1;
    }
    if ((which & 2) && s->emuBGPic && s->emuBGPic->layersDirty && s->image) {
        RedrawLayers(s->script, d, s->emuBGPic, s->image, 0, 0, s->width, s->height, 0);
        s->layerImages.holdsPicture = 0;
        s->emuBGPic->layersDirty = 0;
        redrawn |= 2;
    }
    return redrawn;
}
