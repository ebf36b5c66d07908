// The draw library's hooks for shape layers, installed when it opens.
#include "objects/shapehooks.h"

#include "objects/layers.h"

namespace {
qbShapeLayerHooks installed{};
}

bool IsShapeLayerType(int32_t type) {
    return type == kLayerBox || type == kLayerCircle || type == kLayerEllipse || type == kLayerLine ||
           type == kLayerPolygon || type == kLayerArc;
}

void SetShapeLayerHooks(const qbShapeLayerHooks* hooks) { installed = hooks ? *hooks : qbShapeLayerHooks{}; }
const qbShapeLayerHooks& ShapeLayerHooks() { return installed; }
