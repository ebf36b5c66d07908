// Text under a transform: a scalable font is rendered anew at the scale of
// a pure scaling matrix, so that glyphs stay sharp; anything else (turns,
// shears, mirrors, fonts of fixed size) is rendered once and its pixels
// transformed.
#pragma once

#include "text/textcompose.h"
#include "text/textlayout.h"

// Whether text in the font is rendered anew under the matrix: a pure
// scale, positive on both axes, of a scalable font.
bool RendersSharpUnder(const double matrix[4], const qbFont* font);

// The layout is rendered with the line breaks and tab choices it recorded
// (its own copy is left alone). out->left and out->top are the image's top
// left relative to the text origin in transformed coordinates. *rerendered
// tells which way it went. 0 or the renderer's or transform's error.
int RenderTextUnderMatrix(ScriptState* L, const qbTextLayout& layout, const double matrix[4], bool smooth,
                          qbComposedText* out, bool* rerendered);
