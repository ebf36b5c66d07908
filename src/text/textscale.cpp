// Rendering a layout again under a matrix.
#include "text/textscale.h"

#include <algorithm>
#include <cmath>

#include "core/errcodes.h"
#include "core/numbers.h"
#include "imaging/transform.h"
#include "objects/objectoptions.h"
#include "text/font.h"
#include "text/textout.h"

namespace {

int32_t Scaled(int32_t v, double f) { return ClampToInt32(std::round(v * f)); }

// Puts the font back to its own size whichever way the render ends.
struct FontScale {
    qbFont* font;
    ~FontScale() { SetFontScale(font, 1.0, 1.0); }
};

}  // namespace

bool SplitTextMatrix(const double m[4], double* sx, double* sy, double rest[4]) {
    if (m[1] == 0 && m[2] == 0) {
        if (m[0] == 0 || m[3] == 0 || !std::isfinite(m[0]) || !std::isfinite(m[3])) return false;
        *sx = std::fabs(m[0]);
        *sy = std::fabs(m[3]);
        rest[0] = m[0] < 0 ? -1.0 : 1.0;
        rest[3] = m[3] < 0 ? -1.0 : 1.0;
        rest[1] = rest[2] = 0;
        return true;
    }
    // A turn (mirrored or not) of one scale: the images of the two axes
    // (x to m0, m1 and y to m2, m3, as bitmaps are transformed) are as long
    // as each other and at right angles. Other matrices shear or scale
    // along a turned axis, which no font size can stand for.
    const double cx = std::hypot(m[0], m[1]), cy = std::hypot(m[2], m[3]);
    if (!std::isfinite(cx) || !std::isfinite(cy) || cx == 0 || cy == 0) return false;
    if (std::fabs(cx - cy) > 0.01 || std::fabs(m[0] * m[2] + m[1] * m[3]) > 0.01 * cx * cy) return false;
    const double s = (cx + cy) / 2;
    *sx = *sy = s;
    for (int i = 0; i < 4; ++i) rest[i] = m[i] / s;
    return true;
}

bool RendersSharpUnder(const double m[4], const qbFont* font) {
    double sx = 0, sy = 0, rest[4];
    if (!font || !font->scalable || !SplitTextMatrix(m, &sx, &sy, rest)) return false;
    // Glyph rasters take 16-bit coordinates: a line scaled past half of
    // that range has glyphs no engine can render, so its pixels are scaled
    // instead, and a picture too large to make is refused as for a font of
    // fixed size.
    constexpr double kMaxSharpLine = 16384;
    return font->baseHeight * std::max(sx, sy) <= kMaxSharpLine;
}

namespace {

// The block's pixels under the matrix, with its new top left about the
// text origin.
int TransformBlock(const qbComposedText& block, const double m[4], bool smooth, qbComposedText* out) {
    qbBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    int32_t width = 0, height = 0;
    if (int err = TransformBitmap(block.bitmap.get(), block.mask.get(), block.alpha.get(), 0, 0, block.width,
                                  block.height, m, smooth, &bitmap, &mask, &alpha, &width, &height))
        return err;
    *out = qbComposedText{};
    out->bitmap.reset(bitmap);
    out->mask.reset(mask);
    out->alpha.reset(alpha);
    out->width = width;
    out->height = height;
    const double corners[4][2] = {{0, 0}, {1.0 * block.width, 0}, {0, 1.0 * block.height},
                                  {1.0 * block.width, 1.0 * block.height}};
    double minX = 0, minY = 0;
    for (int i = 0; i < 4; ++i) {
        const double x = block.left + corners[i][0], y = block.top + corners[i][1];
        const double tx = m[0] * x + m[2] * y, ty = m[1] * x + m[3] * y;
        if (i == 0 || tx < minX) minX = tx;
        if (i == 0 || ty < minY) minY = ty;
    }
    out->left = static_cast<int32_t>(std::floor(minX));
    out->top = static_cast<int32_t>(std::floor(minY));
    return 0;
}

}  // namespace

int RenderTextUnderMatrix(ScriptState* L, const qbTextLayout& layout, const double m[4], bool smooth,
                          qbComposedText* out, bool* rerendered) {
    *rerendered = false;
    qbTextLayout again = layout;
    // The same lines as before, whatever the new widths.
    again.breaksSupplied = true;
    again.tabsRecorded = true;
    qbFont* font = CurrentFont(again.style);
    if (!font) return ERR_OPENFONT;
    double fx = 0, fy = 0, rest[4];
    if (RendersSharpUnder(m, font) && SplitTextMatrix(m, &fx, &fy, rest)) {
        again.wrapWidth = Scaled(again.wrapWidth, fx);
        for (int32_t& stop : again.tabStops) stop = Scaled(stop, fx);
        again.style.shadowSize = Scaled(again.style.shadowSize, fx);
        again.style.edgeSize = Scaled(again.style.edgeSize, fx);
        again.cursorX = Scaled(again.cursorX, fx);
        again.leftMargin = Scaled(again.leftMargin, fx);
        qbComposedText sized;
        {
            FontScale restore{font};
            SetFontScale(font, fx, fy);
            if (int err = RenderTextImage(L, &again, again.raw, IsIdentityMatrix(rest) ? out : &sized)) return err;
        }
        // The glyphs are drawn at their size; a mirror or a turn is left,
        // which moves them without scaling.
        if (!IsIdentityMatrix(rest))
            if (int err = TransformBlock(sized, rest, smooth, out)) return err;
        *rerendered = true;
        return 0;
    }
    qbComposedText plain;
    if (int err = RenderTextImage(L, &again, again.raw, &plain)) return err;
    return TransformBlock(plain, m, smooth, out);
}

int RenderSharpText(ScriptState* L, const qbTextLayout& layout, const double m[4], bool smooth, qbComposedText* out) {
    if (IsIdentityMatrix(m) || !RendersSharpUnder(m, CurrentFont(layout.style))) return 0;
    bool rerendered = false;
    return RenderTextUnderMatrix(L, layout, m, smooth, out, &rerendered);
}
