// Styled text output: the TextOut command and the renderer behind it, which
// lays the text out, composes it and draws it into the current output, or
// hands plain lines straight to the font engine when nothing needs the
// composed image.
#pragma once

#include "text/textcompose.h"
#include "text/textlayout.h"

struct ScriptState;
struct qbTransformOptions;
struct qbLayerOptions;

enum : int32_t {
    kRenderTextObject = 8,
    kRenderTextOut = 9,
    kRenderTextPrint = 11,
};

// The most word indexes a "wordwraptable" may hold.
inline constexpr size_t kMaxWordBreaks = 32767;

// Lays out and composes without drawing (text objects, and the layer
// re-render): 0 or the layout's or composition's error.
int RenderTextImage(ScriptState* L, qbTextLayout* layout, bool raw, qbComposedText* out);

// Type 9 into the current output (no options: the defaults). 0 or an error;
// nothing is drawn after an error.
int RenderText(ScriptState* L, qbTextLayout* layout, int32_t type, bool raw, const qbTransformOptions* topts,
               const qbLayerOptions* lopts);

// Draws the composed image (taken over) with its top left at x, y into the
// current output, through the options' filters, transparency and
// transform, as text is drawn without layers; sharp, when it holds an
// image, is the text drawn anew under the transform and takes the
// transformed image's place. 0 or an error.
int DrawTextImage(ScriptState* L, qbComposedText* block, int32_t x, int32_t y, const qbTransformOptions& topts,
                  const qbLayerOptions& lopts, qbComposedText* sharp = nullptr);

// A script's colour number as $AARRGGBB: NaN and below 0 are 0, above the
// 32 bits saturate.
uint32_t ToColour(double v);

int cmdTextOut(ScriptState* L);
