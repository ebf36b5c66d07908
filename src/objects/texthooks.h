// What the layers need of the text library: the pictures of text objects,
// freeing the text objects that waited for their last layer, and drawing
// text layers anew under a new transform. The text library installs them
// when it opens; a part not installed leaves that layer kind alone.
#pragma once

#include <cstdint>
#include <memory>

#include "core/argapi.h"
#include "objects/objectoptions.h"
#include "objects/objecttransform.h"

struct ScriptState;
struct qbLayer;
struct qbLayerState;
struct qbTransformOptions;

// What restyle hands back: the layout (for the base state), its image and
// size, and the layer's shadow and border where "fontstyle" or
// "fontstyleclear" switched them.
struct qbTextRestyle {
    std::shared_ptr<void> layout;
    qbObjectImage image;
    int32_t width = 0, height = 0;
    // Printed text is placed by its margins and cursor: the new top left.
    bool placed = false;
    int32_t x = 0, y = 0;
    bool shadowSet = false, borderSet = false;
    qbShadowStyle shadowStyle;
    qbBorderStyle borderStyle;
};

// A text object as moves and restyled layers take it: its picture (still
// the object's), its size and offsets, its id as the layers record it, and
// the counter that keeps it from changing while a move carries it.
struct qbTextObjectSource {
    qbObjectImage image;
    int32_t width = 0, height = 0;
    int32_t xOffset = 0, yOffset = 0;
    ObjectID id;
    int32_t* useCount = nullptr;
};

struct qbTextLayerHooks {
    // The text object's picture and size (pending objects too); 0 or the
    // lookup's error.
    int (*objectImage)(ScriptState* L, ObjectID id, qbObjectImage* out, int32_t* width, int32_t* height);
    void (*freePending)(ScriptState* L);
    // A text layer's picture under the transform, rendered anew where its
    // font scales: a new image the caller owns and its top left relative to
    // the layer's anchored position. 0 when it made one, -1 when the layer
    // is left to the pixel transform, or an error.
    int (*renderTransformed)(ScriptState* L, qbLayer* layer, const qbTransformOptions& transform,
                             qbObjectImage* out, int32_t* offsetX, int32_t* offsetY, int32_t* width, int32_t* height);
    // The border of a text layer's image (sizes below 8): images the caller
    // owns, their size and the image's offset inside them. 0 or an error.
    int (*renderBorder)(qbBitmap* mask, qbBitmap* alpha, int32_t width, int32_t height, int32_t border,
                        uint32_t colour, qbObjectImage* out, int32_t* outWidth, int32_t* outHeight, int32_t* offset);
    // A text layer's source drawn anew as a new layer (see
    // RenderLayerTransformed). 0 or an error.
    int (*renderAsLayer)(ScriptState* L, qbLayer* layer, int32_t insertPos, const qbLayerState* state,
                         const qbTransformOptions* transform, uint32_t flags, qbLayer** out);
    // The text keys of a style table for a TEXTOUT or PRINT layer, or for
    // a layer turned into one (convertTo that type, else 0): read whole into
    // a new layout, its image rendered. 0 with out->layout null when the
    // table names none, or an error (the layer untouched).
    int (*restyle)(ScriptState* L, int tab, const qbLayer& layer, int32_t convertTo, qbTextRestyle* out);
    // GetLayerStyle's text fields of such a layer into the table on top.
    void (*pushStyle)(ScriptState* L, const qbLayer& layer);
    // A layer of the text object at x, y (position constants resolved
    // against the object, its offsets added) inserted at insertPos. 0 or an
    // error.
    int (*insertObjectLayer)(ScriptState* L, ObjectID id, int32_t x, int32_t y, int32_t insertPos, uint32_t flags,
                             qbLayer** out);
    // A text object (not one waiting to be freed). 0 or the lookup's error.
    int (*objectSource)(ScriptState* L, ObjectID id, qbTextObjectSource* out);
};
void SetTextLayerHooks(const qbTextLayerHooks* hooks);
const qbTextLayerHooks& TextLayerHooks();
