// The draw library's hooks for shape layers, installed when it opens.
#include "objects/shapehooks.h"

#include "objects/layers.h"

namespace {
qbShapeLayerHooks installed{};
qbShapeLayerHooks pathHooks{};
}

bool IsShapeLayerType(int32_t type) {
    return type == kLayerBox || type == kLayerCircle || type == kLayerEllipse || type == kLayerLine ||
           type == kLayerPolygon || type == kLayerArc;
}

void SetShapeLayerHooks(const qbShapeLayerHooks* hooks) { installed = hooks ? *hooks : qbShapeLayerHooks{}; }
const qbShapeLayerHooks& ShapeLayerHooks() { return installed; }

void SetPathLayerHooks(const qbShapeLayerHooks* hooks) { pathHooks = hooks ? *hooks : qbShapeLayerHooks{}; }
const qbShapeLayerHooks& PathLayerHooks() { return pathHooks; }

bool IsDrawnLayerType(int32_t type) { return IsShapeLayerType(type) || type == kLayerVectorPath; }

const qbShapeLayerHooks* DrawnLayerHooks(int32_t type) {
    if (IsShapeLayerType(type)) return &installed;
    if (type == kLayerVectorPath) return &pathHooks;
    return nullptr;
}
