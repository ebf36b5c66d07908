// Shapes and lines with layers on: the draw state's shadow, edge, thick
// outline and transparency become the layer's own effects, the drawn
// images become a layer of the shape's type that keeps its shape, and the
// layer system draws such layers again under their transforms and draws
// their borders through the same renderer.
#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "core/errcodes.h"
#include "core/numbers.h"
#include "draw/shape.h"
#include "imaging/bitmap.h"
#include "objects/dirtyrects.h"
#include "objects/layers.h"
#include "objects/objectoptions.h"
#include "objects/objecttransform.h"
#include "objects/shapehooks.h"

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
                  const qbTransformOptions* topts, qbLayerOptions* lopts, qbObjectImage* images,
                  std::shared_ptr<qbShapeLayerData> shape, uint32_t flags, qbLayer** out) {
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
    s->shapeState = std::move(shape);
    qbLayer* layer = nullptr;
    if (int err = AddLayer(L, type, nullptr, x, y, width, height, topts, lopts, std::move(s), -1,
                           flags | kShapeByRenderer, &layer))
        return err;
    if (out) *out = layer;
    if (!lopts->needseffects && !(flags & kShapeHidden)) RefreshLayer(L, layer, true);
    return 0;
}

const qbShapeLayerData* ShapeLayerDataOf(const qbLayer& layer) {
    return layer.basestate ? static_cast<const qbShapeLayerData*>(layer.basestate->shapeState.get()) : nullptr;
}

int DrawShapeRecord(ScriptState* L, const qbShapeLayerData& data, const qbDrawState& state, uint32_t colour, int32_t x,
               int32_t y, qbTransformOptions* t, qbShapeOutput* out) {
    qbLayerOptions lopts = DefaultLayerOptions();
    const uint32_t flags = kShapeRerender;
    switch (data.type) {
    case kShapeBox:
        return DrawBoxShape(L, nullptr, &state, x, y, data.width, data.height, data.corners, colour, t, &lopts, flags,
                            out);
    case kShapeCircle:
    case kShapeEllipse:
        return DrawEllipseShape(L, nullptr, data.type, &state, x, y, data.radiusX, data.radiusY, colour, t, &lopts,
                                flags, out);
    case kShapeArc:
        return DrawArcShape(L, nullptr, &state, x, y, data.radiusX, data.radiusY, data.startAngle, data.endAngle,
                            data.clockwise, colour, t, &lopts, flags, out);
    case kShapePolygon:
        return DrawPolygonShape(L, nullptr, &state, x, y, data.width, data.height, data.points, colour, t, &lopts,
                                flags, out);
    case kShapeLine:
        return DrawLineCore(L, nullptr, &state, SaturatingAdd(x, data.line[0]), SaturatingAdd(y, data.line[1]),
                            SaturatingAdd(x, data.line[2]), SaturatingAdd(y, data.line[3]), colour,
                            data.thickness, t, &lopts, flags, out);
    default: return ERR_WRONGUSAGE;
    }
}

namespace {

const qbShapeLayerData* DataOf(const qbLayer& layer) { return ShapeLayerDataOf(layer); }

// Draws data for the layer under matrix and places the images where the
// layer's untransformed image would be at identity, the display's factors
// moving the anchor point.
int DrawForLayer(ScriptState* L, const qbLayer& layer, const qbShapeLayerData& data, const qbDrawState& state,
                 uint32_t colour, const double matrix[4], double fx, double fy, qbObjectImage* image, int32_t* x,
                 int32_t* y, int32_t* width, int32_t* height) {
    const qbLayerState& base = *layer.basestate;
    qbTransformOptions t = layer.transform;
    std::copy(matrix, matrix + 4, t.matrix);
    // A line is stored by its endpoints from the layer's corner; a shape by
    // its anchor point, its image's corner being data.left, data.top from it.
    const bool line = data.type == kShapeLine;
    const int32_t px = line ? base.x : SaturatingSub(base.x, data.left);
    const int32_t py = line ? base.y : SaturatingSub(base.y, data.top);
    qbShapeOutput out;
    if (int err = DrawShapeRecord(L, data, state, colour, px, py, &t, &out)) return err;
    *image = {out.bitmap, out.mask, out.alpha};
    int64_t ox = out.x, oy = out.y;
    if (line) {
        // Lines turn about the anchor of their endpoints' box.
        const int32_t x1 = SaturatingAdd(px, data.line[0]), x2 = SaturatingAdd(px, data.line[2]);
        const int32_t y1 = SaturatingAdd(py, data.line[1]), y2 = SaturatingAdd(py, data.line[3]);
        const double qx = std::min(x1, x2) + std::trunc((std::llabs(int64_t{x2} - x1) + 1) * t.anchorx);
        const double qy = std::min(y1, y2) + std::trunc((std::llabs(int64_t{y2} - y1) + 1) * t.anchory);
        ox += ClampToInt32(std::round(qx * (fx - 1.0)));
        oy += ClampToInt32(std::round(qy * (fy - 1.0)));
    } else {
        ox += int64_t{ClampToInt32(px * fx)} - px - ClampToInt32(base.width * layer.anchorx);
        oy += int64_t{ClampToInt32(py * fy)} - py - ClampToInt32(base.height * layer.anchory);
    }
    *x = ClampToInt32(static_cast<double>(ox));
    *y = ClampToInt32(static_cast<double>(oy));
    *width = out.width;
    *height = out.height;
    return 0;
}

int RenderShapeLayer(ScriptState* L, const qbLayer& layer, const double matrix[4], double fx, double fy,
                     qbObjectImage* out, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
    const qbShapeLayerData* data = DataOf(layer);
    if (!data) return ERR_WRONGUSAGE;
    return DrawForLayer(L, layer, *data, data->state, data->colour, matrix, fx, fy, out, x, y, width, height);
}

bool OnlyBorderShows(const qbLayer& layer) {
    const qbShapeLayerData* data = DataOf(layer);
    return data && layer.border.border && data->state.fillStyle == FILLNONE &&
           (data->colour & 0xFFFFFFu) == (layer.border.colour & 0xFFFFFFu);
}

}  // namespace

int RenderShapeLayerBorder(ScriptState* L, const qbLayer& layer, const double matrix[4], double fx, double fy,
                           uint32_t colour, int32_t size, qbObjectImage* out, int32_t* x, int32_t* y, int32_t* width,
                           int32_t* height) {
    *out = {};
    const qbShapeLayerData* stored = DataOf(layer);
    qbShapeLayerData plain;
    if (!stored) {
        // A plain rectangle: a smooth filled box of its base size.
        plain.type = kShapeBox;
        plain.width = layer.basestate->width;
        plain.height = layer.basestate->height;
        plain.state.fillStyle = FILLCOLOR;
        plain.state.formStyle = kFormAntialias;
    }
    const qbShapeLayerData& data = stored ? *stored : plain;
    if (data.type == kShapeLine) return ERR_WRONGUSAGE;
    qbDrawState state;
    state.formStyle = kFormNormal | (data.state.formStyle & kFormAntialias);
    if (data.state.fillStyle == FILLNONE) {
        state.fillStyle = FILLNONE;
        state.lineWidth = std::max(2, ClampToInt32(2.0 * size));
    } else {
        state.fillStyle = FILLCOLOR;
        state.formStyle |= kFormEdge;
        state.edgeSize = size;
        state.edgeColour = colour;
    }
    return DrawForLayer(L, layer, data, state, colour & 0xFFFFFFu, matrix, fx, fy, out, x, y, width, height);
}

void InstallShapeLayerHooks() {
    qbShapeLayerHooks hooks{};
    hooks.render = &RenderShapeLayer;
    hooks.renderBorder = &RenderShapeLayerBorder;
    hooks.onlyBorderShows = &OnlyBorderShows;
    hooks.restyle = &RestyleShapeLayer;
    hooks.pushStyle = &PushShapeLayerStyle;
    SetShapeLayerHooks(&hooks);
}
