// The frame start and end every renderer that uncovers the new picture in
// place shares, and a piece clipped to the picture before it is drawn.
#pragma once

#include <algorithm>
#include <cstdint>

#include "objects/layers.h"
#include "transitions/effectframe.h"
#include "transitions/effectstate.h"

// The layer is drawn while its effect runs.
inline void BeginEffectFrame(qbEffectState* s) {
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
}

inline void EndEffectFrame(qbEffectState* s) {
    PresentEffectFrame(s);
    ++s->frame;
}

// A piece reaching past an edge of the picture draws what lies inside:
// the layer-image path leaves out a piece that starts left of or above 0.
inline void DrawClippedPiece(qbEffectState* s, int64_t x, int64_t y, int64_t w, int64_t h) {
    const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
    const int64_t x1 = std::min<int64_t>(x + w, s->width), y1 = std::min<int64_t>(y + h, s->height);
    if (x1 <= x0 || y1 <= y0) return;
    DrawEffectPiece(s, static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
                    static_cast<int32_t>(y1 - y0));
}
