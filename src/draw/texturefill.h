// Texture fills: the draw state's texture brush tiled over a rectangle.
#pragma once

#include <cstdint>

struct ScriptState;
struct qbBitmap;
struct qbDrawState;

// Tiles the texture brush over (x, y, width, height) of target from the
// draw state's texture offsets. Under a pure scale (matrix[1] and [2] 0,
// matrix[0] or [3] not +-1) a copy of the brush scaled by |m00| x |m11|
// (each size truncated) is tiled instead, nothing when a scaled side is
// below 1 pixel; under any other transform the brush at its own size.
// matrix is row-major 2x2 (null: identity). The brush lookup's error (such
// as ERR_FINDBRUSH) or the scaling's.
int FillTextureRect(ScriptState* L, qbBitmap* target, int32_t x, int32_t y, int32_t width, int32_t height,
                    const qbDrawState& state, const double* matrix, bool smooth);
