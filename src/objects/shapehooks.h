// What the layers need of the shape renderer, which lives in the draw
// library above them: shape and line layers drawn anew under a transform
// (sharp instead of resampled), their borders, and their style keys. The
// draw library installs them when it opens; without them shape layers keep
// their first images and are transformed as pixels. Vector-path layers are
// served the same way by the vector library.
#pragma once

#include <cstdint>
#include <memory>

#include "core/argapi.h"
#include "objects/objecttransform.h"

struct ScriptState;
struct qbLayer;
struct qbLayerState;

// Box, circle, ellipse, line, polygon and arc layers.
bool IsShapeLayerType(int32_t type);

// What a shape style table gives: the new shape record (owned by the base
// state once taken), its untransformed images and placement.
struct qbShapeRestyle {
    std::shared_ptr<void> shape;
    qbObjectImage image;
    int32_t x = 0, y = 0;
    int32_t width = 0, height = 0;
    // "formstyle" and "formstyleclear" switch the layer's shadow and
    // border: 1 on, 0 off, -1 untouched.
    int32_t shadowSwitch = -1, borderSwitch = -1;
    // A path layer's new path: the layer shows that id from now on.
    bool idSet = false;
    ObjectID id;
};

struct qbShapeLayerHooks {
    // The layer's images drawn under matrix, in which the display's factors
    // fx, fy are already folded: new images the caller owns, their top left
    // in the picture's coordinates and their size. 0 or an error.
    int (*render)(ScriptState* L, const qbLayer& layer, const double matrix[4], double fx, double fy,
                  qbObjectImage* out, int32_t* x, int32_t* y, int32_t* width, int32_t* height);
    // The border image of a shape layer under matrix (see render): an
    // outline shape's outline at twice the border size, a filled shape
    // grown by it, in the border colour. A layer without a shape record
    // (a plain rectangle) is bordered as a filled box of its base size.
    // 0 or an error.
    int (*renderBorder)(ScriptState* L, const qbLayer& layer, const double matrix[4], double fx, double fy,
                        uint32_t colour, int32_t size, qbObjectImage* out, int32_t* x, int32_t* y, int32_t* width,
                        int32_t* height);
    // An unfilled shape whose colour is the border's: only its border shows.
    bool (*onlyBorderShows)(const qbLayer& layer);
    // The shape keys of a style table for a shape layer, or for a layer
    // turned into one (convertTo that type, else 0). 0 with out->shape null
    // when the table changes nothing of the shape, or an error.
    int (*restyle)(ScriptState* L, int tab, const qbLayer& layer, int32_t convertTo, qbShapeRestyle* out);
    // GetLayerStyle's shape fields of such a layer into the table on top.
    void (*pushStyle)(ScriptState* L, const qbLayer& layer);
};
void SetShapeLayerHooks(const qbShapeLayerHooks* hooks);
const qbShapeLayerHooks& ShapeLayerHooks();
// The vector library's hooks for path layers (the border pass of a path
// layer draws its path stroked, never a box).
void SetPathLayerHooks(const qbShapeLayerHooks* hooks);
const qbShapeLayerHooks& PathLayerHooks();
// Shape, line and path layers: drawn from a record their base state keeps.
bool IsDrawnLayerType(int32_t type);
// The hooks that draw a layer of the type anew, or null for other types.
const qbShapeLayerHooks* DrawnLayerHooks(int32_t type);
