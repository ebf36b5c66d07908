// Rendering a layout again under a matrix.
#include "text/textscale.h"

#include <algorithm>
#include <cmath>

#include "core/errcodes.h"
#include "core/numbers.h"
#include "imaging/transform.h"
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

bool RendersSharpUnder(const double m[4], const qbFont* font) {
    if (!(m[1] == 0 && m[2] == 0 && m[0] > 0 && m[3] > 0 && font && font->scalable)) return false;
    // Glyph rasters take 16-bit coordinates: a line scaled past half of
    // that range has glyphs no engine can render, so its pixels are scaled
    // instead, and a picture too large to make is refused as for a font of
    // fixed size.
    constexpr double kMaxSharpLine = 16384;
    return font->baseHeight * std::max(m[0], m[3]) <= kMaxSharpLine;
}

int RenderTextUnderMatrix(ScriptState* L, const qbTextLayout& layout, const double m[4], bool smooth,
                          qbComposedText* out, bool* rerendered) {
    *rerendered = false;
    qbTextLayout again = layout;
    // The same lines as before, whatever the new widths.
    again.breaksSupplied = true;
    again.tabsRecorded = true;
    qbFont* font = CurrentFont(again.style);
    if (!font) return ERR_OPENFONT;
    if (RendersSharpUnder(m, font)) {
        const double fx = m[0];
        again.wrapWidth = Scaled(again.wrapWidth, fx);
        for (int32_t& stop : again.tabStops) stop = Scaled(stop, fx);
        again.style.shadowSize = Scaled(again.style.shadowSize, fx);
        again.style.edgeSize = Scaled(again.style.edgeSize, fx);
        again.cursorX = Scaled(again.cursorX, fx);
        again.leftMargin = Scaled(again.leftMargin, fx);
        FontScale restore{font};
        SetFontScale(font, m[0], m[3]);
        if (int err = RenderTextImage(L, &again, again.raw, out)) return err;
        *rerendered = true;
        return 0;
    }
    qbComposedText plain;
    if (int err = RenderTextImage(L, &again, again.raw, &plain)) return err;
    qbBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    int32_t width = 0, height = 0;
    if (int err = TransformBitmap(plain.bitmap.get(), plain.mask.get(), plain.alpha.get(), 0, 0, plain.width,
                                  plain.height, m, smooth, &bitmap, &mask, &alpha, &width, &height))
        return err;
    *out = qbComposedText{};
    out->bitmap.reset(bitmap);
    out->mask.reset(mask);
    out->alpha.reset(alpha);
    out->width = width;
    out->height = height;
    // The top left of the turned block about the text origin.
    const double corners[4][2] = {{0, 0}, {1.0 * plain.width, 0}, {0, 1.0 * plain.height},
                                  {1.0 * plain.width, 1.0 * plain.height}};
    double minX = 0, minY = 0;
    for (int i = 0; i < 4; ++i) {
        const double x = plain.left + corners[i][0], y = plain.top + corners[i][1];
        const double tx = m[0] * x + m[1] * y, ty = m[2] * x + m[3] * y;
        if (i == 0 || tx < minX) minX = tx;
        if (i == 0 || ty < minY) minY = ty;
    }
    out->left = static_cast<int32_t>(std::floor(minX));
    out->top = static_cast<int32_t>(std::floor(minY));
    return 0;
}
