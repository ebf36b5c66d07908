// Anim layers: stepping the frame shown, the frames changed through a
// layer, and layers of blank frames.
#include "objects/layerframes.h"

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/positions.h"
#include "imaging/bitmap.h"
#include "core/errors.h"
#include "objects/animhooks.h"
#include "objects/compositor.h"
#include "objects/displayobject.h"
#include "objects/dirtyrects.h"
#include "objects/layergeometry.h"
#include "objects/layers.h"
#include "objects/layersources.h"
#include "objects/movequeue.h"
#include "vm/vm.h"

namespace {

// The images built from the old frame go; the compositor fetches the new
// one from the anim, or the rebuild transforms it anew.
void DropFrameImages(qbLayer* layer) {
    FreeLayerFilterCaches(layer);
    for (qbLayerState* s : {layer->basestate, layer->transformedstate, layer->shownstate}) {
        if (!s) continue;
        FreeLayerStyleCaches(s);
        if (s == layer->basestate) continue;
        FreeBitmap(s->xfbitmap);
        FreeMask(s->xfmask);
        FreeAlphaChannel(s->xfalpha);
        s->xfbitmap = s->xfmask = s->xfalpha = nullptr;
    }
}

// Shows the layer's frame again after its picture changed under it.
int RedrawFrame(ScriptState* L, qbLayer* layer) {
    DropFrameImages(layer);
    const qbLayerState* base = layer->basestate;
    if (layer->transformedstate != base || layer->shownstate != base)
        return ApplyLayerChange(L, layer, kChangeRefresh);
    if (!layer->hidden) RefreshLayer(L, layer);
    return 0;
}

int AnimMissing(ObjectID id) {
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(static_cast<int>(id.number));
    return ERR_FINDANIM;
}

}  // namespace

int SetLayerPosFrame(ScriptState* L, qbLayer* layer, int32_t x, int32_t y, int32_t frame, bool noRefresh) {
    if (layer->type != kLayerAnim) return ERR_NOANMLAYER;
    qbLayerState* base = layer->basestate;
    if (frame < 1 || frame > base->srcy) return ERR_ANIMFRAME;
    const int32_t index = frame - 1;
    if (index != base->srcx) {
        // An effect playing in the layer goes on over the new frame.
        LayerChangeScope change(layer);
        for (qbLayerState* s : {layer->basestate, layer->transformedstate, layer->shownstate})
            if (s) s->srcx = index;
        DropFrameImages(layer);
        if (layer->transformedstate != base || layer->shownstate != base) {
            if (int err = ApplyLayerChange(L, layer, noRefresh ? 0u : uint32_t{kChangeRefresh})) return err;
        } else if (!noRefresh && !layer->hidden) {
            RefreshLayer(L, layer, true);
        }
    }
    if (x != kUseLayerPosition || y != kUseLayerPosition)
        return RepositionLayer(L, layer, nullptr, x, y, noRefresh, 0, nullptr);
    return 0;
}

int cmdNextFrame(ScriptState* L) {
    CheckArgCount(L, 1, 4, 0, 0);
    if (int err = CheckLayerTarget(GetCurrentDisplay())) return err;
    qbLayer* layer = nullptr;
    if (int err = GetLayerArg(L, 1, GetCurrentBGPic(), nullptr, nullptr, &layer)) return err;
    if (layer->type != kLayerAnim) return ERR_NOANMLAYER;
    const qbLayerState* s = layer->basestate;
    int32_t x = ClampToInt32(VmOptNumber(L, 2, kUseLayerPosition));
    int32_t y = ClampToInt32(VmOptNumber(L, 3, kUseLayerPosition));
    if (x != kUseLayerPosition) x = ResolveSpecialX(x, s->width, 0, layer->anchorx);
    if (y != kUseLayerPosition) y = ResolveSpecialY(y, s->height, 0, layer->anchory);
    int32_t index = 0;
    if (int err = NextAnimFrameIndex(ClampToInt32(VmOptNumber(L, 4, 0)), s->srcx, s->srcy, &index)) return err;
    return SetLayerPosFrame(L, layer, x, y, index + 1, false);
}

int MakeLayerAnimPrivate(ScriptState* L, qbLayer* layer) {
    const auto& hooks = AnimObjectHooks();
    if (!hooks.privateAnim || !hooks.leaveToLayers) return AnimMissing(layer->id);
    ObjectID own;
    if (int err = hooks.privateAnim(L, layer->id, &own)) return err;
    if (own == layer->id) return 0;
    if (int err = AddLayerSource(kLayerAnim, own)) {
        hooks.leaveToLayers(L, own);
        return err;
    }
    RemoveLayerSource(kLayerAnim, layer->id);
    layer->id = own;
    // The anim the layer left goes now if the script freed it and no other
    // layer shows it.
    if (hooks.sweepPending) hooks.sweepPending(L);
    return 0;
}

int cmdModifyLayerFrames(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    if (int err = CheckLayerTarget(GetCurrentDisplay())) return err;
    qbLayer* layer = nullptr;
    if (int err = GetLayerArg(L, 1, GetCurrentBGPic(), nullptr, nullptr, &layer)) return err;
    if (!layer) return ERR_LAYERRANGE;
    const int32_t count = ClampToInt32(VmCheckNumber(L, 2));
    const int32_t start = ClampToInt32(VmOptNumber(L, 3, 0));
    // Only an anim layer has frames; another layer's id names no anim.
    if (layer->type != kLayerAnim) return ERR_NOANMLAYER;
    const auto modify = AnimObjectHooks().modifyFrames;
    if (!modify) return AnimMissing(layer->id);
    if (int err = MakeLayerAnimPrivate(L, layer)) return err;
    LayerChangeScope change(layer);
    int32_t at = 0, frames = 0;
    if (int err = modify(L, layer->id, count, start, &at, &frames)) return err;
    // The index of the picture shown in the new list of frames.
    const int64_t n = count > 0 ? int64_t{count} : -int64_t{count};
    const int64_t shown = layer->basestate->srcx;
    int64_t index = shown;
    bool gone = false;
    if (count > 0 && shown >= at) index = shown + n;
    if (count < 0 && shown >= at) {
        gone = shown < at + n;
        index = gone ? 0 : shown - n;
    }
    for (qbLayerState* s : {layer->basestate, layer->transformedstate, layer->shownstate}) {
        if (!s) continue;
        s->srcx = static_cast<int32_t>(index);
        s->srcy = frames;
    }
    return gone || frames < 1 ? RedrawFrame(L, layer) : 0;
}

int CreateAnimLayer(ScriptState* L, int32_t x, int32_t y, const qbBlankFrames& f, int optArg) {
    const auto& hooks = AnimObjectHooks();
    if (!hooks.makeBlank || !hooks.leaveToLayers) {
        SetErrorDetail("CreateLayer");
        return ERR_UNSUPPORTEDFEAT;
    }
    ObjectID id;
    if (int err = hooks.makeBlank(f.width, f.height, f.count, f.colour, f.mask, f.alpha, f.clear, &id)) return err;
    qbDisplayObjectCall call;
    call.type = kShowAnim;
    call.id = id;
    call.frame = 0;
    call.x = x;
    call.y = y;
    call.optArg = optArg;
    const int err = DisplayObject(L, call);
    // No script id reaches the anim: it goes with the last layer showing
    // it, at once when none does.
    hooks.leaveToLayers(L, id);
    return err;
}
