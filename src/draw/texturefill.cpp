// The texture fill over the brush lookup, the scaler and the tiler.
#include "draw/texturefill.h"

#include <cmath>
#include <cstdint>

#include "draw/draw.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/scalebitmap.h"
#include "objects/brushes.h"

int FillTextureRect(ScriptState* L, qbBitmap* target, int32_t x, int32_t y, int32_t width, int32_t height,
                    const qbDrawState& state, const double* matrix, bool smooth) {
    qbBrush* brush = nullptr;
    if (int err = GetBrushRecord(L, state.texture, &brush, kBrushNoVector)) return err;
    if (!target || !brush->bitmap || width < 1 || height < 1) return 0;
    const bool pureScale = matrix && matrix[1] == 0 && matrix[2] == 0 &&
                           (std::fabs(matrix[0]) != 1 || std::fabs(matrix[3]) != 1);
    if (!pureScale) {
        TileBitmapRect(target, x, y, width, height, brush->bitmap, state.textureX, state.textureY, brush->width,
                       brush->height);
        return 0;
    }
    const double sw = std::trunc(brush->width * std::fabs(matrix[0]));
    const double sh = std::trunc(brush->height * std::fabs(matrix[3]));
    if (!(sw >= 1) || !(sh >= 1) || sw > INT32_MAX || sh > INT32_MAX) return 0;
    qbBitmap* made = nullptr;
    if (int err = ScaleBitmap(brush->bitmap, nullptr, nullptr, 0, 0, nullptr, brush->width, brush->height,
                              static_cast<int32_t>(sw), static_cast<int32_t>(sh), smooth, &made, nullptr, nullptr))
        return err;
    BitmapPtr scaled(made);
    if (!scaled) return 0;
    TileBitmapRect(target, x, y, width, height, scaled.get(), state.textureX, state.textureY,
                   static_cast<int32_t>(sw), static_cast<int32_t>(sh));
    return 0;
}
