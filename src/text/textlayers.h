// Styled text as a layer: the TEXTOUT layer that keeps its image and a copy
// of its layout, and the layer options that its style's transparency, edge
// and shadow become.
#pragma once

#include <cstdint>

#include "text/textcompose.h"
#include "text/textlayout.h"

struct ScriptState;
struct qbTransformOptions;
struct qbLayerOptions;

// Moves the colour's transparency into the layer's, #EDGE into its border
// and #SHADOW into its shadow, taking them out of the style to render.
void MoveTextStyleIntoLayer(qbTextStyle* style, qbLayerOptions* lopts);
// Adds the TEXTOUT or PRINT layer with the composed image (taken over) at
// the anchor point x, y and shows it. 0 or the layer's error.
int AddTextOutLayer(ScriptState* L, int32_t type, const qbTextLayout& layout, qbComposedText* block, int32_t x,
                    int32_t y, const qbTransformOptions& topts, const qbLayerOptions& lopts, int32_t insertPos = -1,
                    uint32_t flags = 0, struct qbLayer** out = nullptr);
// The layout a text layer keeps (null for other layers).
const qbTextLayout* TextLayoutOfLayer(const struct qbLayer* layer);
