// Drawing a layer's source anew as a layer of its own, through the
// renderer of its type.
#include "core/errors.h"
#include "objects/displayobject.h"
#include "objects/layergeometry.h"
#include "objects/layers.h"
#include "objects/texthooks.h"

int RenderLayerTransformed(ScriptState* L, qbLayer* layer, int32_t insertPos, const qbLayerState* state,
                           const qbTransformOptions* transform, uint32_t flags, qbLayer** out) {
    if (out) *out = nullptr;
    // The new layer copies the transform while the old one may be freed.
    if (transform == &layer->transform) {
        ConsolePrintf("ERROR! LT MUST BE INDEPENDENT OF THE LAYER!\n");
        return 0;
    }
    switch (layer->type) {
    case kLayerBrush:
    case kLayerBrushPart:
    case kLayerBGPicPart: {
        qbDisplayObjectCall call;
        call.type = layer->type;
        call.id = layer->id;
        call.srcX = state->srcx;
        call.srcY = state->srcy;
        call.x = state->x;
        call.y = state->y;
        call.width = state->width;
        call.height = state->height;
        call.topts = transform;
        call.insertPos = insertPos;
        call.addFlags = flags;
        call.outLayer = out;
        return DisplayObject(L, call);
    }
    case kLayerAnim: {
        qbDisplayObjectCall call;
        call.type = kShowAnim;
        call.id = layer->id;
        call.frame = state->srcx;
        call.x = state->x;
        call.y = state->y;
        call.topts = transform;
        call.insertPos = insertPos;
        call.addFlags = flags;
        call.outLayer = out;
        return DisplayObject(L, call);
    }
    case kLayerTextObject:
    case kLayerTextOut:
    case kLayerPrint: {
        const auto render = TextLayerHooks().renderAsLayer;
        return render ? render(L, layer, insertPos, state, transform, flags, out) : 0;
    }
    default: return 0;
    }
}
