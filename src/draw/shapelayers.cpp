// Shapes and lines with layers on: the draw state's shadow, edge, thick
// outline and transparency become the layer's own effects, and the drawn
// images become a layer of the shape's type.
#include <algorithm>
#include <memory>
#include <new>

#include "core/errcodes.h"
#include "draw/shape.h"
#include "imaging/bitmap.h"
#include "objects/dirtyrects.h"
#include "objects/layers.h"
#include "objects/objectoptions.h"
#include "objects/objecttransform.h"

void MoveDrawStyleIntoLayer(qbDrawState* state, uint32_t* colour, qbLayerOptions* lopts) {
    if (state->formStyle & kFormEdge) {
        lopts->border = {1, state->edgeColour, state->edgeSize};
        state->formStyle &= ~uint32_t{kFormEdge};
        lopts->needseffects = 1;
    }
    if (state->formStyle & kFormShadow) {
        lopts->shadow.shadow = 1;
        lopts->shadow.colour = state->shadowColour;
        lopts->shadow.size = state->shadowSize;
        lopts->shadow.dir = static_cast<int32_t>(state->shadowDirection);
        state->formStyle &= ~uint32_t{kFormShadow};
        lopts->needseffects = 1;
    }
    if (state->fillStyle == FILLNONE && state->lineWidth >= 2) {
        lopts->border = {1, *colour & 0xFFFFFF, std::max(1, state->lineWidth / 2)};
        state->lineWidth = 1;
        lopts->needseffects = 1;
    }
    if (const uint32_t t = *colour >> 24) {
        lopts->transparency = static_cast<int32_t>(t);
        *colour &= 0xFFFFFF;
        lopts->needseffects = 1;
    }
}

int AddShapeLayer(ScriptState* L, int32_t type, int32_t x, int32_t y, int32_t width, int32_t height,
                  const qbTransformOptions* topts, qbLayerOptions* lopts, qbObjectImage* images, uint32_t flags,
                  qbLayer** out) {
    std::unique_ptr<qbLayerState> s;
    try {
        s = std::make_unique<qbLayerState>();
    } catch (const std::bad_alloc&) {
        FreeObjectImage(images);
        return ERR_MEM;
    }
    s->bitmap = images->bitmap;
    s->mask = images->mask;
    s->alpha = images->alpha;
    *images = {};
    s->x = x;
    s->y = y;
    s->width = width;
    s->height = height;
    qbLayer* layer = nullptr;
    if (int err = AddLayer(L, type, nullptr, x, y, width, height, topts, lopts, std::move(s), -1,
                           flags | kShapeByRenderer, &layer))
        return err;
    if (out) *out = layer;
    if (!lopts->needseffects && !(flags & kShapeHidden)) RefreshLayer(L, layer, true);
    return 0;
}
