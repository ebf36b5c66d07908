// Measuring and drawing text in bitmap fonts. Every glyph is cut to the
// target (and, when colouring, to the clip rectangle) before it is drawn,
// whatever the kerning did to the pen.
#include "text/bitmapfont.h"

#include <algorithm>
#include <cstdint>

#include "imaging/blit.h"

namespace {

// The pen moves in 64 bits: a long text of large advances may pass the
// 32-bit range, and glyphs out there are simply not drawn.
bool InRange(int64_t v) { return v >= INT32_MIN / 2 && v <= INT32_MAX / 2; }

qbClipRect Intersect(const qbClipRect& clip, const qbBitmap* target) {
    const int64_t x0 = std::max<int64_t>(clip.x, 0);
    const int64_t y0 = std::max<int64_t>(clip.y, 0);
    const int64_t x1 = std::min<int64_t>(int64_t{clip.x} + clip.width, target->width);
    const int64_t y1 = std::min<int64_t>(int64_t{clip.y} + clip.height, target->height);
    qbClipRect r;
    r.x = static_cast<int32_t>(x0);
    r.y = static_cast<int32_t>(y0);
    r.width = static_cast<int32_t>(std::max<int64_t>(x1 - x0, 0));
    r.height = static_cast<int32_t>(std::max<int64_t>(y1 - y0, 0));
    return r;
}

qbClipRect Whole(const qbBitmap* target) { return qbClipRect{0, 0, target->width, target->height}; }

struct Glyph {
    int32_t sx = 0;
    int32_t sy = 0;
    int32_t dx = 0;
    int32_t dy = 0;
    int32_t width = 0;
    int32_t height = 0;
};

bool Clip(Glyph* g, const qbClipRect& clip) {
    return ClipGlyphRect(&g->sx, &g->sy, &g->dx, &g->dy, &g->width, &g->height, clip);
}

void DrawGlyph(qbFont* font, const qbBitmapFontData& data, Glyph g, qbBitmap* target, qbBitmap* second,
               const qbClipRect& clip, int64_t pen) {
    const bool maskMode = pen == kFontPenMask;
    if (font->engine == kFontKindBitmap) {
        if (maskMode) {
            if (target->kind != kBitmapKindMask || !Clip(&g, Whole(target))) return;
            BlitMaskRect(data.stripMask.get(), g.sx, g.sy, target, g.dx, g.dy, g.width, g.height, kMaskOr, nullptr,
                         0);
        } else {
            if (target->kind != kBitmapKindColour || !Clip(&g, Intersect(clip, target))) return;
            DrawMaskInColor(target, g.dx, g.dy, data.stripMask.get(), g.sx, g.sy, g.width, g.height,
                            static_cast<uint32_t>(pen), nullptr, 0);
        }
        return;
    }
    // Colour fonts draw from their glyph bitmap, which a font loaded before
    // any display existed does not have yet.
    if (!font->glyphBitmap || !font->glyphMask || target->kind != kBitmapKindColour) return;
    if (!Clip(&g, maskMode ? Whole(target) : Intersect(clip, target))) return;
    CopyBitmapRectMasked(font->glyphBitmap.get(), g.sx, g.sy, target, g.dx, g.dy, g.width, g.height,
                         font->glyphMask.get());
    if (maskMode && second)
        BlitMaskRect(font->glyphMask.get(), g.sx, g.sy, second, g.dx, g.dy, g.width, g.height, kMaskOr, nullptr, 0);
}

}  // namespace

bool ClipGlyphRect(int32_t* sx, int32_t* sy, int32_t* dx, int32_t* dy, int32_t* width, int32_t* height,
                   const qbClipRect& clip) {
    // The cuts are worked out in 64 bits: a destination far outside the
    // clip would overflow them, and leaves nothing anyway.
    if (clip.x > *dx) {
        const int64_t cut = int64_t{clip.x} - *dx;
        if (cut >= *width) return false;
        *sx += static_cast<int32_t>(cut);
        *dx = clip.x;
        *width -= static_cast<int32_t>(cut);
    }
    if (clip.y > *dy) {
        const int64_t cut = int64_t{clip.y} - *dy;
        if (cut >= *height) return false;
        *sy += static_cast<int32_t>(cut);
        *dy = clip.y;
        *height -= static_cast<int32_t>(cut);
    }
    if (*width <= 0 || *height <= 0) return false;
    const int64_t right = int64_t{clip.x} + clip.width;
    const int64_t bottom = int64_t{clip.y} + clip.height;
    if (*dx + int64_t{*width} > right) *width = static_cast<int32_t>(right - *dx);
    if (*dy + int64_t{*height} > bottom) *height = static_cast<int32_t>(bottom - *dy);
    return *width > 0 && *height > 0;
}

int MeasureBitmapText(qbFont* font, const char* text, size_t length, qbTextExtents* out) {
    const qbBitmapFontData* data = font ? BitmapDataOf(font) : nullptr;
    if (!data || !out || (font->engine != kFontKindBitmap && font->engine != kFontKindColourBitmap)) return 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    out->height = data->ySize;
    out->inkTop = -data->baseline;
    out->inkBottom = data->ySize - 1 - data->baseline;
    const bool proportional = (data->flags & kFontFlagProportional) != 0;
    if (!proportional && data->charSpace.empty() && data->charKern.empty()) {
        const int64_t width = static_cast<int64_t>(length) * data->xSize;
        out->width = static_cast<int32_t>(std::clamp<int64_t>(width, INT32_MIN, INT32_MAX));
        out->inkLeft = 0;
        out->inkRight = out->width - 1;
        return 0;
    }
    int64_t pen = 0, low = 0, high = 0;
    for (size_t i = 0; i < length; ++i) {
        const auto index = static_cast<size_t>(BitmapCharIndex(*data, bytes[i]));
        const int64_t x = pen + (data->charKern.empty() ? 0 : data->charKern[index]);
        const int64_t end = x + (data->charLoc[index] & 0xFFFF);
        pen = x + (data->charSpace.empty() ? data->xSize : data->charSpace[index]);
        low = std::min({low, x, end, pen});
        high = std::max({high, x, end, pen});
    }
    out->width = static_cast<int32_t>(std::clamp<int64_t>(pen, INT32_MIN, INT32_MAX));
    out->inkLeft = static_cast<int32_t>(std::clamp<int64_t>(low, INT32_MIN, INT32_MAX));
    out->inkRight = static_cast<int32_t>(std::clamp<int64_t>(high - 1, INT32_MIN, INT32_MAX));
    return 0;
}

int RenderBitmapText(qbFont* font, qbBitmap* target, qbBitmap* second, int32_t x, int32_t y, const char* text,
                     size_t length, const qbClipRect& clip, int64_t pen) {
    const qbBitmapFontData* data = font ? BitmapDataOf(font) : nullptr;
    if (!data || !target || !text) return 0;
    if (font->engine != kFontKindBitmap && font->engine != kFontKindColourBitmap) return 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    int64_t penX = x;
    for (size_t i = 0; i < length; ++i) {
        const auto index = static_cast<size_t>(BitmapCharIndex(*data, bytes[i]));
        if (!data->charKern.empty()) penX += data->charKern[index];
        const uint32_t loc = data->charLoc[index];
        if (InRange(penX) && (loc & 0xFFFF) != 0) {
            const Glyph g{static_cast<int32_t>(loc >> 16), 0, static_cast<int32_t>(penX), y,
                          static_cast<int32_t>(loc & 0xFFFF), data->ySize};
            DrawGlyph(font, *data, g, target, second, clip, pen);
        }
        penX += data->charSpace.empty() ? data->xSize : data->charSpace[index];
    }
    return 0;
}

int32_t BitmapFontKerning() { return 0; }
