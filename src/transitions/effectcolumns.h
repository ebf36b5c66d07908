// Many thin pieces of one frame that share their rows (vertical blinds and
// stripes): put down together, a row at a time.
#pragma once

#include <cstdint>

struct qbEffectState;

// Draws the pieces (x0 + i * pitch, y, w, h), i < count, of the new picture as DrawEffectPiece
// would one after the other, with the same pixels and the same shown
// rectangles. In a real-time layer whose images are plain memory the rows
// are walked once for all pieces, instead of each piece walking every row.
void DrawEffectColumns(qbEffectState* state, int32_t x0, int32_t pitch, int32_t count, int32_t w, int32_t y,
                       int32_t h);
