// Measuring and drawing with native fonts: the text converted code point by
// code point (no shaping, no kerning), each glyph rendered once per style
// and scale and kept, laid out on its hinted whole-pixel advance.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

#include "core/errcodes.h"
#include "platform/linux/nativefont.h"
#include "platform/nativetext.h"

namespace linux_text {

namespace {

constexpr int kMaxTextBytes = 16383;
constexpr uint32_t kStyleBold = 2;
constexpr uint32_t kStyleItalic = 4;
constexpr uint32_t kStyleUnderline = 8;
constexpr uint32_t kStyleAntialias = 16;
// The cache starts over when it holds this many glyphs.
constexpr size_t kMaxCachedGlyphs = 4096;
// The largest drawing buffer, in bytes.
constexpr int64_t kMaxBufferBytes = int64_t{1} << 28;

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool DecodeUtf8(const uint8_t* s, size_t n, std::vector<uint32_t>* out) {
    for (size_t i = 0; i < n;) {
        const uint8_t b = s[i];
        uint32_t c = 0;
        size_t len = 0;
        uint32_t min = 0;
        if (b < 0x80) {
            out->push_back(b);
            ++i;
            continue;
        }
        if (b >= 0xC2 && b < 0xE0) {
            c = b & 0x1F;
            len = 2;
            min = 0x80;
        } else if (b >= 0xE0 && b < 0xF0) {
            c = b & 0x0F;
            len = 3;
            min = 0x800;
        } else if (b >= 0xF0 && b < 0xF5) {
            c = b & 0x07;
            len = 4;
            min = 0x10000;
        } else {
            return false;
        }
        if (len > n - i) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            c = c << 6 | (s[i + k] & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return false;
        out->push_back(c);
        i += len;
    }
    return true;
}

int EngineFailed() { return ERR_ATSUI; }

int32_t Clamp32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

int32_t ScaledUp(int32_t value, double scale) { return Clamp32(static_cast<int64_t>(std::ceil(value * scale))); }

FT_Fixed ToFixed(double v) { return static_cast<FT_Fixed>(std::lround(std::clamp(v, -32767.0, 32767.0) * 65536.0)); }

// The scale is the font layer's to change between operations: a new one
// makes the kept glyphs stale.
void ApplyScale(qbNativeFont* font) {
    qbNativeFontFace* f = font->face;
    if (f->cachedXScale == font->xScale && f->cachedYScale == font->yScale) return;
    f->glyphs.clear();
    f->cachedXScale = font->xScale;
    f->cachedYScale = font->yScale;
    FT_Matrix m{ToFixed(font->xScale), 0, 0, ToFixed(font->yScale)};
    FT_Set_Transform(f->face, &m, nullptr);
}

bool CopyCoverage(const FT_Bitmap& bm, qbNativeGlyph* g) {
    g->width = static_cast<int32_t>(bm.width);
    g->rows = static_cast<int32_t>(bm.rows);
    if (g->width == 0 || g->rows == 0) return true;
    try {
        g->coverage.assign(static_cast<size_t>(g->width) * static_cast<size_t>(g->rows), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const int pitch = bm.pitch;
    for (int32_t y = 0; y < g->rows; ++y) {
        const uint8_t* row = pitch >= 0 ? bm.buffer + static_cast<ptrdiff_t>(y) * pitch
                                        : bm.buffer + static_cast<ptrdiff_t>(g->rows - 1 - y) * -pitch;
        uint8_t* to = g->coverage.data() + static_cast<size_t>(y) * static_cast<size_t>(g->width);
        switch (bm.pixel_mode) {
            case FT_PIXEL_MODE_MONO:
                for (int32_t x = 0; x < g->width; ++x) to[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
                break;
            case FT_PIXEL_MODE_GRAY:
                std::memcpy(to, row, static_cast<size_t>(g->width));
                break;
            case FT_PIXEL_MODE_BGRA:
                for (int32_t x = 0; x < g->width; ++x) to[x] = row[x * 4 + 3];
                break;
            default:
                return false;
        }
    }
    return true;
}

// The glyph in the style, rendered now or kept from before; null when
// FreeType fails.
const qbNativeGlyph* GlyphOf(qbNativeFontFace* f, FT_UInt index, uint32_t style) {
    const uint32_t bits = style & (kStyleBold | kStyleItalic | kStyleAntialias);
    const uint64_t key = uint64_t{index} | uint64_t{bits} << 32;
    if (auto it = f->glyphs.find(key); it != f->glyphs.end()) return &it->second;
    const bool antialias = (style & kStyleAntialias) != 0;
    FT_Face face = f->face;
    if (FT_Load_Glyph(face, index, antialias ? FT_LOAD_TARGET_NORMAL : FT_LOAD_TARGET_MONO) != 0) return nullptr;
    FT_GlyphSlot slot = face->glyph;
    if (style & kStyleBold) FT_GlyphSlot_Embolden(slot);
    if (style & kStyleItalic) FT_GlyphSlot_Oblique(slot);
    if (FT_Render_Glyph(slot, antialias ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) != 0) return nullptr;
    qbNativeGlyph g;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.advance = static_cast<int32_t>((slot->advance.x + 32) >> 6);
    if (!CopyCoverage(slot->bitmap, &g)) return nullptr;
    try {
        return &f->glyphs.emplace(key, std::move(g)).first->second;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

struct Placed {
    const qbNativeGlyph* glyph;
    int64_t x;
};

// A text laid out from a pen at 0 on the baseline at 0, y downwards.
struct Layout {
    std::vector<Placed> glyphs;
    int64_t width = 0;
    bool ink = false;
    int64_t left = 0, top = 0, right = 0, bottom = 0;
    bool underline = false;
    int64_t underlineTop = 0, underlineRows = 0;

    void AddInk(int64_t l, int64_t t, int64_t r, int64_t b) {
        if (r <= l || b <= t) return;
        if (!ink) {
            left = l, top = t, right = r, bottom = b;
            ink = true;
            return;
        }
        left = std::min(left, l), top = std::min(top, t), right = std::max(right, r), bottom = std::max(bottom, b);
    }
};

int LayOut(qbNativeFont* font, const char* text, int length, uint32_t style, int utf8, Layout* out) {
    if (!font || !font->face || !font->face->face) return EngineFailed();
    if (length > kMaxTextBytes) return ERR_INTERNAL;
    if (length < 0 || (!text && length > 0)) length = 0;
    qbNativeFontFace* f = font->face;
    f->codes.clear();
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    try {
        if (utf8) {
            if (!DecodeUtf8(bytes, static_cast<size_t>(length), &f->codes)) return ERR_TEXTCONVERT;
        } else {
            f->codes.assign(bytes, bytes + length);
        }
        out->glyphs.reserve(f->codes.size());
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    if (f->glyphs.size() > kMaxCachedGlyphs) f->glyphs.clear();
    ApplyScale(font);
    int64_t pen = 0;
    for (uint32_t code : f->codes) {
        const qbNativeGlyph* g = GlyphOf(f, FT_Get_Char_Index(f->face, code), style);
        if (!g) return EngineFailed();
        out->glyphs.push_back({g, pen});
        out->AddInk(pen + g->left, -int64_t{g->top}, pen + g->left + g->width, int64_t{g->rows} - g->top);
        pen += g->advance;
    }
    out->width = pen;
    if ((style & kStyleUnderline) && pen > 0) {
        // Position and thickness from the face, the position being the
        // middle of the stroke.
        FT_Face face = f->face;
        const double yScale = face->size->metrics.y_scale / 65536.0 * font->yScale;
        const double position = face->underline_position * yScale / 64.0;
        const double thickness = std::max(face->underline_thickness * yScale / 64.0, 1.0);
        out->underline = true;
        out->underlineRows = std::max<int64_t>(std::llround(thickness), 1);
        out->underlineTop = std::llround(-position - thickness / 2);
        out->AddInk(0, out->underlineTop, pen, out->underlineTop + out->underlineRows);
    }
    return 0;
}

// Paints the laid-out text into a buffer whose top left is (ox, oy) in the
// layout's coordinates; overlapping glyphs keep the larger coverage.
void Paint(const Layout& layout, int64_t ox, int64_t oy, std::vector<uint8_t>* buffer, int32_t width, int32_t height) {
    for (const Placed& p : layout.glyphs) {
        const qbNativeGlyph& g = *p.glyph;
        const int64_t gx = p.x + g.left - ox, gy = -int64_t{g.top} - oy;
        for (int32_t row = 0; row < g.rows; ++row) {
            const int64_t y = gy + row;
            if (y < 0 || y >= height) continue;
            const int64_t from = std::max<int64_t>(0, -gx), to = std::min<int64_t>(g.width, width - gx);
            const uint8_t* src = g.coverage.data() + static_cast<size_t>(row) * static_cast<size_t>(g.width);
            uint8_t* dst = buffer->data() + static_cast<size_t>(y) * static_cast<size_t>(width);
            for (int64_t col = from; col < to; ++col) dst[gx + col] = std::max(dst[gx + col], src[col]);
        }
    }
    if (!layout.underline) return;
    const int64_t x0 = std::max<int64_t>(0, -ox), x1 = std::min<int64_t>(width, layout.width - ox);
    for (int64_t y = layout.underlineTop - oy; y < layout.underlineTop - oy + layout.underlineRows; ++y)
        if (y >= 0 && y < height && x1 > x0)
            std::fill_n(buffer->data() + static_cast<size_t>(y) * static_cast<size_t>(width) + x0, x1 - x0, uint8_t{255});
}

}  // namespace

int MeasureNativeText(qbNativeFont* font, const char* text, int length, uint32_t style, int utf8, qbTextExtents* out) {
    if (!out) return 0;
    Layout layout;
    if (int err = LayOut(font, text, length, style, utf8, &layout)) return err;
    *out = qbTextExtents{};
    out->width = Clamp32(layout.width);
    out->height = ScaledUp(font->height, font->yScale);
    if (layout.ink) {
        out->inkLeft = Clamp32(layout.left);
        out->inkTop = Clamp32(layout.top);
        out->inkRight = Clamp32(layout.right);
        out->inkBottom = Clamp32(layout.bottom);
    }
    return 0;
}

int DrawNativeText(qbNativeFont* font, qbBitmap* bitmap, qbBitmap* plane, int x, int y, const char* text, int length,
                   uint32_t style, int utf8, const qbNativeTextClip* clip, int64_t colour) {
    Layout layout;
    if (int err = LayOut(font, text, length, style, utf8, &layout)) return err;
    const NativeTextSink sink = GetNativeTextSink();
    if (!layout.ink || !sink) return 0;
    const qbNativeTextClip area = clip ? *clip : qbNativeTextClip{0, 0, INT32_MAX, INT32_MAX};
    const bool antialias = (style & kStyleAntialias) != 0;
    const bool toPlane = colour < 0;
    const int64_t baseline = int64_t{y} + ScaledUp(font->ascent, font->yScale);
    // Anti-aliased into an alpha plane whose clip starts at its corner, the
    // ink goes straight in wherever it reaches; otherwise through a buffer
    // of the ink's width and the line's height.
    const bool direct = antialias && toPlane && area.x == 0 && area.y == 0;
    const int64_t ox = layout.left;
    const int64_t oy = direct ? layout.top : -int64_t{ScaledUp(font->ascent, font->yScale)};
    const int64_t width = layout.right - layout.left;
    const int64_t height = direct ? layout.bottom - layout.top : ScaledUp(font->height, font->yScale);
    if (width <= 0 || height <= 0) return 0;
    if (width * height > kMaxBufferBytes) return ERR_MEM;
    std::vector<uint8_t> buffer;
    try {
        buffer.assign(static_cast<size_t>(width * height), 0);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    Paint(layout, ox, oy, &buffer, static_cast<int32_t>(width), static_cast<int32_t>(height));
    qbNativeTextCoverage c;
    c.data = buffer.data();
    c.rowBytes = static_cast<int32_t>(width);
    c.width = static_cast<int32_t>(width);
    c.height = static_cast<int32_t>(height);
    c.x = Clamp32(int64_t{x} + ox);
    c.y = Clamp32(baseline + oy);
    c.bitmap = bitmap;
    c.plane = plane;
    c.clip = area;
    c.colour = static_cast<uint32_t>(colour) & 0xFFFFFF;
    c.mode = direct ? kNativeTextOver : !toPlane ? kNativeTextBlend : antialias ? kNativeTextAlphaBytes : kNativeTextMaskBits;
    sink(c);
    return 0;
}

void FillTextOps(qbPlatformOps& ops) {
    ops.OpenNativeFont = &OpenNativeFont;
    ops.CloseNativeFont = &CloseNativeFont;
    ops.MeasureNativeText = &MeasureNativeText;
    ops.DrawNativeText = &DrawNativeText;
    ops.NativeFontEngineAvailable = [] { return 1; };
    ops.NativeFontNoOp = [] { return 0; };
}

}  // namespace linux_text
