// Text under a transform: a scalable font is rendered anew at the size the
// matrix scales to, so that glyphs stay sharp, and what is left of the
// matrix (a mirror, a turn) then moves its pixels; anything else (shears,
// uneven scales along turned axes, fonts of fixed size) is rendered once
// and its pixels transformed.
#pragma once

#include "text/textcompose.h"
#include "text/textlayout.h"

// Splits the matrix into a size (*sx, *sy, both positive) and what is left
// of it, a mirror or a turn that scales nothing: a matrix that scales
// along its axes, or a mirrored or plain turn of one scale (its two scales
// within 0.01). False for any other matrix.
bool SplitTextMatrix(const double matrix[4], double* sx, double* sy, double rest[4]);

// Whether text in the font is rendered anew under the matrix: a scalable
// font and a matrix SplitTextMatrix takes.
bool RendersSharpUnder(const double matrix[4], const qbFont* font);

// The layout is rendered with the line breaks and tab choices it recorded
// (its own copy is left alone). out->left and out->top are the image's top
// left relative to the text origin in transformed coordinates. *rerendered
// tells which way it went. 0 or the renderer's or transform's error.
int RenderTextUnderMatrix(ScriptState* L, const qbTextLayout& layout, const double matrix[4], bool smooth,
                          qbComposedText* out, bool* rerendered);

// The sharp picture DrawTextImage shows in place of the composed one's
// pixels transformed: the layout rendered anew under the matrix when its
// font is scalable and the matrix one RendersSharpUnder takes; out is left
// empty under the identity or any other matrix. 0 or the renderer's error.
int RenderSharpText(ScriptState* L, const qbTextLayout& layout, const double matrix[4], bool smooth,
                    qbComposedText* out);
