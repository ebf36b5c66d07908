// Composing laid-out runs into one image: lines aligned, each run rendered
// by its font with synthetic bold, italic and underline where the font does
// not make them, its shadow and edge drawn under it.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/bitmap.h"
#include "text/textlayout.h"

struct qbComposedText {
    BitmapPtr bitmap;
    BitmapPtr mask;   // without anti-aliasing and transparency
    BitmapPtr alpha;  // otherwise
    int32_t left = 0;  // the block's top left in layout coordinates (0, 0 the first line's pen)
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// The layout rows [*top, *bottom) a run's pixels take in a composed block,
// its edge and shadow included.
void TextRunRows(const qbTextSegment& run, const qbFont& font, int64_t* top, int64_t* bottom);

// runs are moved by the alignment. 0, ERR_BITMAP (the block), ERR_MEM or a
// font error; sizeOnly fills the bounds and allocates nothing (the block's
// pixel count is bounded only when it is composed).
int ComposeTextBlock(bool antialias, int32_t align, bool sizeOnly, int encoding, std::vector<qbTextSegment>* runs,
                     const qbTextStyle& style, qbComposedText* out);

// The border of a text layer's image: a plane 2b + 1 larger each way (the
// image lies at b, b in it), from the alpha channel by the anti-aliased
// edge rule or from the mask by stamping; in the border colour. Neither
// plane: nothing is made. 0, ERR_BITMAP or ERR_MEM.
int RenderTextLayerBorder(qbBitmap* mask, qbBitmap* alpha, int32_t width, int32_t height, int32_t border,
                          uint32_t colour, qbComposedText* out);
