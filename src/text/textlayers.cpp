// TEXTOUT layers: the composed image and a copy of the layout go into the
// layer state; the layer's own border and shadow draw the edge and shadow.
#include "text/textlayers.h"

#include <memory>
#include <new>

#include "core/errcodes.h"
#include "objects/dirtyrects.h"
#include "objects/layers.h"
#include "objects/objectoptions.h"

void MoveTextStyleIntoLayer(qbTextStyle* style, qbLayerOptions* lopts) {
    if (const uint32_t t = style->colour >> 24) {
        lopts->transparency = static_cast<int32_t>(t);
        style->colour &= 0xFFFFFF;
    }
    if (style->flags & kTextEdge) {
        lopts->border = {1, style->edgeColour, style->edgeSize};
        style->flags &= ~uint32_t{kTextEdge};
    }
    if (style->flags & kTextShadow) {
        lopts->shadow.shadow = 1;
        lopts->shadow.colour = style->shadowColour;
        lopts->shadow.size = style->shadowSize;
        lopts->shadow.dir = style->shadowDirection;
        style->flags &= ~uint32_t{kTextShadow};
    }
    lopts->needseffects = lopts->needseffects || lopts->transparency || lopts->border.border || lopts->shadow.shadow;
}

int AddTextOutLayer(ScriptState* L, int32_t type, const qbTextLayout& layout, qbComposedText* block, int32_t x,
                    int32_t y, const qbTransformOptions& topts, const qbLayerOptions& lopts, int32_t insertPos, uint32_t flags,
                    qbLayer** out) {
    std::unique_ptr<qbLayerState> s;
    try {
        s = std::make_unique<qbLayerState>();
        s->textLayout = std::make_shared<qbTextLayout>(layout);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    s->bitmap = block->bitmap.release();
    s->mask = block->mask.release();
    s->alpha = block->alpha.release();
    s->x = x;
    s->y = y;
    s->width = block->width;
    s->height = block->height;
    qbLayerOptions options = lopts;
    qbLayer* layer = nullptr;
    if (int err = AddLayer(L, type, nullptr, x, y, block->width, block->height, &topts, &options, std::move(s),
                           insertPos, flags | kAddDisplayScale, &layer))
        return err;
    if (out) *out = layer;
    if (!options.needseffects && IsIdentityMatrix(topts.matrix)) RefreshLayer(L, layer, true);
    return 0;
}

const qbTextLayout* TextLayoutOfLayer(const qbLayer* layer) {
    if (!layer || !layer->basestate) return nullptr;
    return static_cast<const qbTextLayout*>(layer->basestate->textLayout.get());
}
