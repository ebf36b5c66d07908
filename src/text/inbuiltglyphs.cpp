// The working half of the inbuilt engine: FreeType glyphs (anti-aliased or
// one-bit, with synthetic bold and italic) and their caches, and the texts
// measured and drawn from them with kerning.
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/planekernels.h"
#include "text/bitmapfont.h"
#include "text/inbuiltfont.h"
#include "text/installedfonts.h"

#include FT_MODULE_H
#include FT_SYNTHESIS_H
#include FT_OUTLINE_H

#include "text/textlib.h"

namespace {

FT_Library g_library = nullptr;

// The library allocates through these, counting what it holds, so that a
// face's share is measured as it opens rather than guessed: faces of large
// files keep many times what the held faces do.
std::atomic<size_t> g_heldBytes{0};

void* CountedAlloc(FT_Memory, long size) {
    void* p = std::malloc(static_cast<size_t>(size));
    if (p) g_heldBytes.fetch_add(malloc_usable_size(p), std::memory_order_relaxed);
    return p;
}

void CountedFree(FT_Memory, void* block) {
    if (!block) return;
    g_heldBytes.fetch_sub(malloc_usable_size(block), std::memory_order_relaxed);
    std::free(block);
}

void* CountedRealloc(FT_Memory, long, long size, void* block) {
    const size_t before = block ? malloc_usable_size(block) : 0;
    void* p = std::realloc(block, static_cast<size_t>(size));
    if (!p) return nullptr;
    g_heldBytes.fetch_sub(before, std::memory_order_relaxed);
    g_heldBytes.fetch_add(malloc_usable_size(p), std::memory_order_relaxed);
    return p;
}

FT_MemoryRec_ g_memory{nullptr, CountedAlloc, CountedFree, CountedRealloc};

// One character of a text: its code and glyph index.
struct TextChar {
    uint32_t code;
    FT_UInt index;
};

FT_UInt IndexOf(qbInbuiltFontData* d, uint32_t code) {
    if (code >= 256) return FT_Get_Char_Index(d->face, code);
    if (!d->latinIndexKnown[code]) {
        d->latinIndex[code] = FT_Get_Char_Index(d->face, code);
        d->latinIndexKnown[code] = true;
    }
    return d->latinIndex[code];
}

std::vector<TextChar> DecodeText(qbInbuiltFontData* d, const char* text, size_t length, int encoding) {
    if (!text) length = 0;
    std::vector<TextChar> chars;
    std::vector<uint32_t> codes;
    if (encoding == kEncodingUTF8 && DecodeUtf8Text(text, length, 1, &codes)) {
        chars.reserve(codes.size());
        for (uint32_t c : codes) chars.push_back({c, IndexOf(d, c)});
        return chars;
    }
    chars.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const uint32_t c = static_cast<unsigned char>(text[i]);
        chars.push_back({c, IndexOf(d, c)});
    }
    return chars;
}

FT_Pos UnscaledKerning(FT_Face face, FT_UInt left, FT_UInt right) {
    if (!FT_HAS_KERNING(face)) return 0;
    FT_Vector v{0, 0};
    if (FT_Get_Kerning(face, left, right, FT_KERNING_UNSCALED, &v) != 0) return 0;
    return v.x;
}

int64_t PixelSizeOf(const qbInbuiltFontData& d) { return int64_t{d.resolutionX} * d.pixelSize / 72; }

int64_t EmFraction(const qbInbuiltFontData& d, FT_Pos advance) {
    const int64_t ppem = std::max<int64_t>(d.face->size->metrics.x_ppem, 1);
    return (int64_t{advance} << 10) / ppem;
}

// The pen step: the advance as a 16.16 fraction of the em (em) plus the
// kerning in the same unit, times the pixel size, then the font's x scale.
int64_t Advance(const qbFont* font, int64_t pixelSize, int64_t em, int64_t kerning) {
    const int64_t pixels = ((em + kerning) * pixelSize) / 65536;
    if (font->xScale == 1.0) return pixels;  // the common case, without the rounding call
    return std::llround(static_cast<double>(pixels) * font->xScale);
}

constexpr int64_t kKerningUnknown = std::numeric_limits<int64_t>::min();

int64_t EmKerning(const qbInbuiltFontData& d, FT_UInt left, FT_UInt right) {
    return int64_t{UnscaledKerning(d.face, left, right)} * 65536 / std::max<int64_t>(d.face->units_per_EM, 1);
}

// The kerning after character i as a 16.16 fraction of the em.
int64_t KerningAfter(qbInbuiltFontData& d, const std::vector<TextChar>& chars, size_t i) {
    if (i + 1 >= chars.size() || !FT_HAS_KERNING(d.face)) return 0;
    const TextChar& a = chars[i];
    const TextChar& b = chars[i + 1];
    if (a.code >= 256 || b.code >= 256) return EmKerning(d, a.index, b.index);
    auto& row = d.latinKerning[a.code];
    if (!row) {
        row = std::make_unique<std::array<int64_t, 256>>();
        row->fill(kKerningUnknown);
    }
    int64_t& k = (*row)[b.code];
    if (k == kKerningUnknown) k = EmKerning(d, a.index, b.index);
    return k;
}

void FreeCache(std::array<qbInbuiltCachedGlyph, 256>& cache) {
    for (qbInbuiltCachedGlyph& entry : cache) {
        if (entry.glyph) FT_Done_Glyph(entry.glyph);
        entry = {};
    }
}

int32_t Clamp32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

qbClipRect Intersect(const qbClipRect& clip, const qbBitmap* target) {
    const int64_t x0 = std::max<int64_t>(clip.x, 0);
    const int64_t y0 = std::max<int64_t>(clip.y, 0);
    const int64_t x1 = std::min<int64_t>(int64_t{clip.x} + clip.width, target->width);
    const int64_t y1 = std::min<int64_t>(int64_t{clip.y} + clip.height, target->height);
    return qbClipRect{Clamp32(x0), Clamp32(y0), Clamp32(std::max<int64_t>(x1 - x0, 0)),
                      Clamp32(std::max<int64_t>(y1 - y0, 0))};
}

// The coverage bytes of from that are not 0 replace those of to, eight at a
// time: a glyph row is too short for the compiler's vector loop.
void CoverRow(const uint8_t* from, uint8_t* to, int32_t width) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    int32_t col = 0;
    for (; col + 8 <= width; col += 8) {
        uint64_t f = 0, t = 0;
        std::memcpy(&f, from + col, 8);
        if (f == 0) continue;
        std::memcpy(&t, to + col, 8);
        // The top bit of each byte that is not 0, then that byte all ones.
        const uint64_t set = (((f & kLow7) + kLow7) | f) & ~kLow7;
        const uint64_t mask = (set >> 7) * 0xFF;
        t = (f & mask) | (t & ~mask);
        std::memcpy(to + col, &t, 8);
    }
    for (; col < width; ++col)
        if (from[col] != 0) to[col] = from[col];
}

// Where a text's glyphs go, looked up once per text rather than per glyph.
struct GlyphTarget {
    qbBitmap* bitmap = nullptr;
    qbClipRect clip;  // already inside the bitmap
    bool antialias = false;
    int64_t pen = 0;
    bool plain32 = false;  // view holds the bitmap's plain 32-bit pixels
    qbPixelView view;
};

GlyphTarget PrepareTarget(qbBitmap* target, const qbClipRect& clip, bool antialias, int64_t pen) {
    GlyphTarget t;
    t.bitmap = target;
    t.clip = Intersect(clip, target);
    t.antialias = antialias;
    t.pen = pen;
    if (antialias && pen != kFontPenMask && target->kind == kBitmapKindColour)
        t.plain32 = PeekPlainPixels(target, &t.view) && t.view.bytesPerPixel == 4;
    return t;
}

void DrawGlyph(const FT_Bitmap& bm, int64_t gx, int64_t gy, const GlyphTarget& t) {
    if (bm.pitch <= 0 || bm.rows == 0 || bm.width == 0) return;
    if (gx < INT32_MIN / 2 || gx > INT32_MAX / 2 || gy < INT32_MIN / 2 || gy > INT32_MAX / 2) return;
    int32_t sx = 0, sy = 0, dx = static_cast<int32_t>(gx), dy = static_cast<int32_t>(gy);
    int32_t width = static_cast<int32_t>(bm.width), height = static_cast<int32_t>(bm.rows);
    if (!ClipGlyphRect(&sx, &sy, &dx, &dy, &width, &height, t.clip)) return;
    qbBitmap* target = t.bitmap;
    const int64_t pen = t.pen;
    const bool antialias = t.antialias;
    const bool maskMode = pen == kFontPenMask;
    if (antialias && maskMode) {
        if (target->kind != kBitmapKindAlpha) return;
        auto* plane = static_cast<qbBitmapPlane*>(target->native);
        if (!plane || !plane->data) return;
        for (int32_t row = 0; row < height; ++row) {
            const uint8_t* from = bm.buffer + static_cast<size_t>(sy + row) * bm.pitch + sx;
            uint8_t* to = plane->data + static_cast<size_t>(dy + row) * plane->rowBytes + dx;
            CoverRow(from, to, width);
        }
    } else if (antialias) {
        if (target->kind != kBitmapKindColour) return;
        // Plain 32-bit pixels take the blend kernel directly: for glyphs of
        // text sizes the blit's lock and set-up would cost as much as it.
        if (t.plain32) {
            AlphaDrawParams p;
            p.mode = 1;
            p.colour = static_cast<uint32_t>(pen);
            p.alpha = AlphaRows{bm.buffer, bm.pitch, sx, sy};
            AlphaChannelDraw32(PixelRows32{static_cast<uint32_t*>(t.view.pixels), t.view.rowLength, dx, dy}, nullptr,
                               p, width, height, t.view.pixelFormat);
            return;
        }
        qbAlphaChannelBlit blit;
        blit.srcX = sx;
        blit.srcY = sy;
        blit.destination = target;
        blit.dstX = dx;
        blit.dstY = dy;
        blit.width = width;
        blit.height = height;
        blit.colour = static_cast<uint32_t>(pen);
        blit.mode = 1;
        blit.alphaData = bm.buffer;
        blit.alphaRowBytes = bm.pitch;
        BltAlphaChannel(blit);
    } else if (maskMode) {
        if (target->kind != kBitmapKindMask) return;
        BlitMaskRect(nullptr, sx, sy, target, dx, dy, width, height, kMaskVisible, bm.buffer,
                     static_cast<uint32_t>(bm.pitch));
    } else {
        if (target->kind != kBitmapKindColour) return;
        DrawMaskInColor(target, dx, dy, nullptr, sx, sy, width, height, static_cast<uint32_t>(pen), bm.buffer,
                        bm.pitch);
    }
}

}  // namespace

int StartInbuiltEngine() {
    if (g_library) return 0;
    if (FT_New_Library(&g_memory, &g_library) != 0) {
        g_library = nullptr;
        return ERR_FT2;
    }
    FT_Add_Default_Modules(g_library);
    FT_Set_Default_Properties(g_library);
    return 0;
}

void StopInbuiltEngine() {
    // The memory record is the engine's own: the library goes, not it.
    if (g_library) FT_Done_Library(g_library);
    g_library = nullptr;
}

FT_Library InbuiltFreeTypeLibrary() { return g_library; }

size_t InbuiltFreeTypeBytes() { return g_heldBytes.load(std::memory_order_relaxed); }

int RenderInbuiltGlyph(qbInbuiltFontData* data, uint32_t code, FT_UInt index, uint32_t style, int32_t* left,
                       int32_t* top, FT_Pos* advance, const FT_Bitmap** bitmap, int64_t* em) {
    const bool antialias = (style & kTextAntialias) != 0;
    const bool cacheable = data->cache && !(style & (kTextBold | kTextItalic)) && code < 256;
    auto& table = antialias ? data->antialiased : data->oneBit;
    if (cacheable && table[code].glyph) {
        auto* g = reinterpret_cast<FT_BitmapGlyph>(table[code].glyph);
        *left = g->left;
        *top = g->top;
        *advance = table[code].advance;
        *bitmap = &g->bitmap;
        if (em) *em = table[code].em;
        return 0;
    }
    FT_Face face = data->face;
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_AUTOHINT) != 0) return -1;
    FT_GlyphSlot slot = face->glyph;
    if (style & kTextBold) FT_GlyphSlot_Embolden(slot);
    if ((style & kTextItalic) && slot->format == FT_GLYPH_FORMAT_OUTLINE) {
        FT_Matrix shear{0x10000, 0x6000, 0, 0x10000};
        FT_Outline_Transform(&slot->outline, &shear);
    }
    if (FT_Render_Glyph(slot, antialias ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) != 0) return -1;
    // The untransformed advance: the font's x scale is applied by the pen
    // formula, so the face's transform must not apply it a second time.
    const FT_Pos glyphAdvance = slot->metrics.horiAdvance;
    const int64_t glyphEm = EmFraction(*data, glyphAdvance);
    if (em) *em = glyphEm;
    if (cacheable) {
        FT_Glyph copy = nullptr;
        if (FT_Get_Glyph(slot, &copy) == 0) {
            table[code] = {copy, glyphAdvance, glyphEm};
            auto* g = reinterpret_cast<FT_BitmapGlyph>(copy);
            *left = g->left;
            *top = g->top;
            *advance = glyphAdvance;
            *bitmap = &g->bitmap;
            return 0;
        }
    }
    *left = slot->bitmap_left;
    *top = slot->bitmap_top;
    *advance = glyphAdvance;
    *bitmap = &slot->bitmap;
    return 0;
}

namespace {

// One pass over a text's glyphs: drawn when to is given, measured when out
// is, with the same pen steps either way.
void WalkText(qbFont* font, qbInbuiltFontData* d, int32_t x, int32_t y, const char* text, size_t length,
              uint32_t style, int encoding, const GlyphTarget* to, qbTextExtents* out) {
    const std::vector<TextChar> chars = DecodeText(d, text, length, encoding);
    const int64_t pixelSize = PixelSizeOf(*d);
    int64_t width = 0, inkLeft = 10000, inkTop = 10000, inkRight = 0, inkBottom = 0;
    for (size_t i = 0; i < chars.size(); ++i) {
        const int64_t kerning = KerningAfter(*d, chars, i);
        int32_t left = 0, top = 0;
        FT_Pos advance = 0;
        int64_t em = 0;
        const FT_Bitmap* bm = nullptr;
        if (RenderInbuiltGlyph(d, chars[i].code, chars[i].index, style, &left, &top, &advance, &bm, &em) != 0)
            continue;
        if (out && chars[i].code != 32) {
            const int64_t ix = width + left;
            inkLeft = std::min(inkLeft, ix);
            inkRight = std::max<int64_t>(inkRight, ix + bm->width);
            inkTop = std::min<int64_t>(inkTop, -top);
            inkBottom = std::max<int64_t>(inkBottom, int64_t{bm->rows} - top);
        }
        if (to) DrawGlyph(*bm, int64_t{x} + width + left, int64_t{y} + font->baseline - top, *to);
        width += Advance(font, pixelSize, em, kerning);
    }
    if (!out) return;
    if (inkLeft == 10000) inkLeft = 0;
    if (inkTop == 10000) inkTop = 0;
    out->width = Clamp32(width);
    out->height = font->height;
    out->inkLeft = Clamp32(inkLeft);
    out->inkTop = Clamp32(inkTop);
    out->inkRight = Clamp32(inkRight);
    out->inkBottom = Clamp32(inkBottom);
}

}  // namespace

int MeasureInbuiltText(qbFont* font, const char* text, size_t length, uint32_t style, int encoding,
                       qbTextExtents* out) {
    qbInbuiltFontData* d = font ? InbuiltDataOf(font) : nullptr;
    if (!d || !out) return 0;
    WalkText(font, d, 0, 0, text, length, style, encoding, nullptr, out);
    return 0;
}

int RenderInbuiltText(qbFont* font, qbBitmap* target, qbBitmap* /*second*/, int32_t x, int32_t y, const char* text,
                      size_t length, uint32_t style, int encoding, const qbClipRect& clip, int64_t pen) {
    qbInbuiltFontData* d = font ? InbuiltDataOf(font) : nullptr;
    if (!d || !target) return 0;
    const GlyphTarget to = PrepareTarget(target, clip, (style & kTextAntialias) != 0, pen);
    WalkText(font, d, x, y, text, length, style, encoding, &to, nullptr);
    return 0;
}

int RenderInbuiltTextMeasured(qbFont* font, qbBitmap* target, int32_t x, int32_t y, const char* text, size_t length,
                              uint32_t style, int encoding, const qbClipRect& clip, int64_t pen, qbTextExtents* out) {
    qbInbuiltFontData* d = font ? InbuiltDataOf(font) : nullptr;
    if (!d || !out) return 0;
    if (!target) return MeasureInbuiltText(font, text, length, style, encoding, out);
    const GlyphTarget to = PrepareTarget(target, clip, (style & kTextAntialias) != 0, pen);
    WalkText(font, d, x, y, text, length, style, encoding, &to, out);
    return 0;
}

int32_t GetInbuiltKerning(qbFont* font, const char* pair, size_t length, uint32_t /*style*/, int encoding) {
    qbInbuiltFontData* d = font ? InbuiltDataOf(font) : nullptr;
    if (!d || !FT_HAS_KERNING(d->face)) return 0;
    const std::vector<TextChar> chars = DecodeText(d, pair, length, encoding);
    if (chars.size() != 2 || !chars[0].index || !chars[1].index) return 0;
    const int64_t kx = UnscaledKerning(d->face, chars[0].index, chars[1].index);
    const int64_t unitsPerEm = std::max<int64_t>(d->face->units_per_EM, 1);
    // The shift of a negative value is written as a multiplication.
    return Clamp32(-((((-kx) * 65536) / unitsPerEm) * PixelSizeOf(*d)) / 65536);
}

int32_t ComputeInbuiltBaseline(qbInbuiltFontData* data, int32_t height) {
    FT_Face face = data->face;
    bool any = false;
    int64_t highest = 0, lowest = 0;
    for (uint32_t c : {uint32_t{'A'}, 0xC0u, 0xC4u, uint32_t{'q'}}) {
        const FT_UInt index = FT_Get_Char_Index(face, c);
        if (!index || FT_Load_Glyph(face, index, FT_LOAD_NO_AUTOHINT) != 0) continue;
        if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0) continue;
        const int64_t top = face->glyph->bitmap_top;
        const int64_t below = int64_t{face->glyph->bitmap.rows} - top;
        highest = any ? std::max(highest, top) : top;
        lowest = any ? std::max(lowest, below) : below;
        any = true;
    }
    if (!any) return Clamp32(int64_t{height} * 3 / 4);
    return Clamp32((highest + height + 1 - lowest) / 2);
}

int32_t SetInbuiltFontScale(qbFont* font) {
    qbInbuiltFontData* d = InbuiltDataOf(font);
    if (!d) return font->baseline;
    FreeInbuiltGlyphCaches(d);
    FT_Matrix m{static_cast<FT_Fixed>(std::lround(font->xScale * 65536.0)), 0, 0,
                static_cast<FT_Fixed>(std::lround(font->yScale * 65536.0))};
    FT_Set_Transform(d->face, &m, nullptr);
    font->baseline = ComputeInbuiltBaseline(d, font->height);
    return font->baseline;
}

void FreeInbuiltGlyphCaches(qbInbuiltFontData* data) {
    if (!data) return;
    FreeCache(data->antialiased);
    FreeCache(data->oneBit);
}

namespace {

int OpenHook(const char* name, int32_t size, int32_t cache, qbFont* font) {
    return OpenInbuiltFont(name, size, cache, font);
}
void ScaleHook(qbFont* font) { SetInbuiltFontScale(font); }
void FreeCacheHook(qbFont* font) { FreeInbuiltGlyphCaches(InbuiltDataOf(font)); }
void ShutdownHook() {
    FreeInstalledFonts();
    StopInbuiltEngine();
}

const qbInbuiltFontEngine kEngine{
    OpenHook, MeasureInbuiltText, RenderInbuiltText, GetInbuiltKerning, ScaleHook,
    FreeCacheHook, CloseInbuiltFont, StartInbuiltEngine, ShutdownHook, RenderInbuiltTextMeasured,
};

}  // namespace

void InstallInbuiltFontEngine() { SetInbuiltFontEngine(&kEngine); }
