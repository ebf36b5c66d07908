#include "objects/layerframes.h"

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/positions.h"
#include "imaging/bitmap.h"
#include "objects/compositor.h"
#include "objects/dirtyrects.h"
#include "objects/layergeometry.h"
#include "objects/layers.h"
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

}  // namespace

int SetLayerPosFrame(ScriptState* L, qbLayer* layer, int32_t x, int32_t y, int32_t frame, bool noRefresh) {
    if (layer->type != kLayerAnim) return ERR_NOANMLAYER;
    qbLayerState* base = layer->basestate;
    if (frame < 1 || frame > base->srcy) return ERR_ANIMFRAME;
    const int32_t index = frame - 1;
    if (index != base->srcx) {
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
