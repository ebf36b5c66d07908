// Measuring and drawing with native fonts: the text converted code point by
// code point (no shaping, no kerning), each glyph rendered once per style
// and scale and kept, laid out on its hinted whole-pixel advance.
#include <malloc.h>

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
// A font's glyphs start over when it holds this many, or this many bytes.
constexpr size_t kMaxCachedGlyphs = 4096;
constexpr size_t kMaxCachedGlyphBytes = size_t{16} << 20;
// What a kept glyph costs beside its coverage (its node in the map).
constexpr size_t kGlyphRecordBytes = sizeof(qbNativeGlyph) + 4 * sizeof(void*);
// Freeing this many bytes of glyphs gives the heap's free pages back, when
// the script frees them.
constexpr size_t kTrimAfterBytes = size_t{1} << 20;
// The largest drawing buffer, in bytes.
constexpr int64_t kMaxBufferBytes = int64_t{1} << 28;
// A buffer up to this size stays for the next text.
constexpr size_t kKeptBufferBytes = size_t{1} << 20;

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

int32_t Clamp32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

int32_t ScaledUp(int32_t value, double scale) { return Clamp32(static_cast<int64_t>(std::ceil(value * scale))); }

FT_Fixed ToFixed(double v) { return static_cast<FT_Fixed>(std::lround(std::clamp(v, -32767.0, 32767.0) * 65536.0)); }

void ForgetGlyphs(qbNativeFontFace* f) {
    std::unordered_map<uint64_t, qbNativeGlyph>().swap(f->glyphs);
    f->latin.reset();
    f->glyphBytes = 0;
}

// The face is shared by every size of its file: each operation sets its
// own scale, and its size before it renders a glyph. The scale is the font
// layer's to change between operations: a new one makes the kept glyphs
// stale.
void Activate(qbNativeFont* font) {
    qbNativeFontFace* f = font->face;
    if (f->cachedXScale != font->xScale || f->cachedYScale != font->yScale) {
        ForgetGlyphs(f);
        f->cachedXScale = font->xScale;
        f->cachedYScale = font->yScale;
    }
    FT_Matrix m{ToFixed(font->xScale), 0, 0, ToFixed(font->yScale)};
    FT_Set_Transform(f->file->face, &m, nullptr);
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
const qbNativeGlyph* RenderedGlyph(qbNativeFontFace* f, FT_UInt index, uint32_t style) {
    const uint32_t bits = style & (kStyleBold | kStyleItalic | kStyleAntialias);
    const uint64_t key = uint64_t{index} | uint64_t{bits} << 32;
    if (auto it = f->glyphs.find(key); it != f->glyphs.end()) return &it->second;
    const bool antialias = (style & kStyleAntialias) != 0;
    FT_Face face = f->file->face;
    if (!SetFaceSize(f->file, f->pointSize)) return nullptr;
    if (FT_Load_Glyph(face, index, antialias ? FT_LOAD_TARGET_NORMAL : FT_LOAD_TARGET_MONO) != 0) return nullptr;
    FT_GlyphSlot slot = face->glyph;
    if (style & kStyleBold) FT_GlyphSlot_Embolden(slot);
    if (style & kStyleItalic) FT_GlyphSlot_Oblique(slot);
    if (FT_Render_Glyph(slot, antialias ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) != 0) return nullptr;
    qbNativeGlyph g;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.advance = static_cast<int32_t>((slot->advance.x + 32) >> 6);
    const FT_Bitmap& bm = slot->bitmap;
    FT_Glyph taken = nullptr;
    if (bm.pixel_mode == FT_PIXEL_MODE_GRAY && bm.width > 0 && bm.rows > 0 &&
        bm.pitch == static_cast<int>(bm.width) && FT_Get_Glyph(slot, &taken) == 0) {
        g.rendered.reset(taken);
        g.width = static_cast<int32_t>(bm.width);
        g.rows = static_cast<int32_t>(bm.rows);
        g.pixels = reinterpret_cast<FT_BitmapGlyph>(taken)->bitmap.buffer;
    } else {
        if (!CopyCoverage(bm, &g)) return nullptr;
        g.pixels = g.coverage.data();
    }
    const size_t bytes = static_cast<size_t>(g.width) * static_cast<size_t>(g.rows) + kGlyphRecordBytes;
    try {
        const qbNativeGlyph* kept = &f->glyphs.emplace(key, std::move(g)).first->second;
        f->glyphBytes += bytes;
        return kept;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

const qbNativeGlyph* GlyphOf(qbNativeFontFace* f, uint32_t code, uint32_t style) {
    FT_Face face = f->file->face;
    if (code >= 256) return RenderedGlyph(f, FT_Get_Char_Index(face, code), style);
    if (!f->latin) {
        try {
            f->latin = std::make_unique<qbNativeLatinGlyphs>();
        } catch (const std::bad_alloc&) {
            return RenderedGlyph(f, FT_Get_Char_Index(face, code), style);
        }
    }
    const size_t kind = (style & kStyleBold ? 1 : 0) | (style & kStyleItalic ? 2 : 0) | (style & kStyleAntialias ? 4 : 0);
    const qbNativeGlyph*& slot = (*f->latin)[kind][code];
    if (!slot) slot = RenderedGlyph(f, FT_Get_Char_Index(face, code), style);
    return slot;
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

    // Empty again, keeping the room of the glyph list.
    void Reset() {
        glyphs.clear();
        width = 0;
        ink = false;
        left = top = right = bottom = 0;
        underline = false;
        underlineTop = underlineRows = 0;
    }

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

// One glyph's box, or the underline's (no glyph), in the layout's
// coordinates, cut to the rows the text may reach.
struct Piece {
    const qbNativeGlyph* glyph;
    int64_t x0, x1, y0, y1;
    int64_t gy;  // the glyph's first row
};

// Pieces whose columns meet, gathered so that each column belongs to one
// group: a group of one glyph is handed over from the glyph's own coverage,
// a larger one is painted into a buffer first, where the larger coverage
// wins. Either way the text looks as if painted whole into one buffer.
struct Group {
    size_t begin, end;
    int64_t x0, x1, y0, y1;
};

// The layout and the pieces of the text drawn last, the text's code points
// and the buffer that glyphs that meet are painted into: one set for the
// engine, kept so that each line does not allocate them again (the engine
// runs on the main thread only).
struct Scratch {
    Layout layout;
    std::vector<Piece> pieces;
    std::vector<Group> groups;
    std::vector<uint32_t> codes;
    std::vector<uint8_t> buffer;
    size_t untrimmed = 0;  // glyph bytes freed since the heap was trimmed
};

Scratch& Reused() {
    static Scratch scratch;
    return scratch;
}

int LayOut(qbNativeFont* font, const char* text, int length, uint32_t style, int utf8, Layout* out) {
    if (!font || !font->face || !font->face->file) return ERR_ATSUI;
    if (length > kMaxTextBytes) return ERR_INTERNAL;
    if (length < 0 || (!text && length > 0)) length = 0;
    qbNativeFontFace* f = font->face;
    std::vector<uint32_t>& codes = Reused().codes;
    out->Reset();
    codes.clear();
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    try {
        if (utf8) {
            if (!DecodeUtf8(bytes, static_cast<size_t>(length), &codes)) return ERR_TEXTCONVERT;
        } else {
            codes.assign(bytes, bytes + length);
        }
        out->glyphs.reserve(codes.size());
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    if (f->glyphs.size() > kMaxCachedGlyphs || f->glyphBytes > kMaxCachedGlyphBytes) ForgetGlyphs(f);
    Activate(font);
    int64_t pen = 0;
    for (uint32_t code : codes) {
        const qbNativeGlyph* g = GlyphOf(f, code, style);
        if (!g) return ERR_ATSUI;
        out->glyphs.push_back({g, pen});
        out->AddInk(pen + g->left, -int64_t{g->top}, pen + g->left + g->width, int64_t{g->rows} - g->top);
        pen += g->advance;
    }
    out->width = pen;
    if ((style & kStyleUnderline) && pen > 0) {
        // Position and thickness from the face, the position being the
        // middle of the stroke.
        FT_Face face = f->file->face;
        const double yScale = static_cast<double>(f->yScale) / 65536.0 * font->yScale;
        const double position = face->underline_position * yScale / 64.0;
        const double thickness = std::max(face->underline_thickness * yScale / 64.0, 1.0);
        out->underline = true;
        out->underlineRows = std::max<int64_t>(std::llround(thickness), 1);
        out->underlineTop = std::llround(-position - thickness / 2);
        out->AddInk(0, out->underlineTop, pen, out->underlineTop + out->underlineRows);
    }
    return 0;
}

bool GatherPieces(const Layout& layout, int64_t rowsFrom, int64_t rowsTo, std::vector<Piece>* pieces,
                  std::vector<Group>* groups) {
    try {
        pieces->clear();
        groups->clear();
        pieces->reserve(layout.glyphs.size() + 1);
        for (const Placed& p : layout.glyphs) {
            const qbNativeGlyph& g = *p.glyph;
            const int64_t gy = -int64_t{g.top};
            const int64_t y0 = std::max(gy, rowsFrom), y1 = std::min(gy + g.rows, rowsTo);
            if (g.width > 0 && y1 > y0) pieces->push_back({&g, p.x + g.left, p.x + g.left + g.width, y0, y1, gy});
        }
        if (layout.underline) {
            const int64_t y0 = std::max(layout.underlineTop, rowsFrom);
            const int64_t y1 = std::min(layout.underlineTop + layout.underlineRows, rowsTo);
            if (y1 > y0) pieces->push_back({nullptr, 0, layout.width, y0, y1, y0});
        }
        std::stable_sort(pieces->begin(), pieces->end(), [](const Piece& a, const Piece& b) { return a.x0 < b.x0; });
        for (size_t i = 0; i < pieces->size(); ++i) {
            const Piece& p = (*pieces)[i];
            if (!groups->empty() && p.x0 < groups->back().x1) {
                Group& g = groups->back();
                g.end = i + 1;
                g.x1 = std::max(g.x1, p.x1);
                g.y0 = std::min(g.y0, p.y0);
                g.y1 = std::max(g.y1, p.y1);
            } else {
                groups->push_back({i, i + 1, p.x0, p.x1, p.y0, p.y1});
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Paints a group's pieces into the buffer, which covers the group's box.
void PaintGroup(const std::vector<Piece>& pieces, const Group& group, uint8_t* buffer) {
    const auto width = static_cast<size_t>(group.x1 - group.x0);
    std::fill_n(buffer, width * static_cast<size_t>(group.y1 - group.y0), uint8_t{0});
    for (size_t i = group.begin; i < group.end; ++i) {
        const Piece& p = pieces[i];
        const auto n = static_cast<size_t>(p.x1 - p.x0);
        for (int64_t y = p.y0; y < p.y1; ++y) {
            uint8_t* dst = buffer + static_cast<size_t>(y - group.y0) * width + static_cast<size_t>(p.x0 - group.x0);
            if (!p.glyph) {
                std::fill_n(dst, n, uint8_t{255});
                continue;
            }
            const uint8_t* src = p.glyph->pixels + static_cast<size_t>(y - p.gy) * n;
            for (size_t k = 0; k < n; ++k) dst[k] = std::max(dst[k], src[k]);
        }
    }
}

}  // namespace

int MeasureNativeText(qbNativeFont* font, const char* text, int length, uint32_t style, int utf8, qbTextExtents* out) {
    if (!out) return 0;
    Layout& layout = Reused().layout;
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
    Layout& layout = Reused().layout;
    if (int err = LayOut(font, text, length, style, utf8, &layout)) return err;
    const NativeTextSink sink = GetNativeTextSink();
    if (!layout.ink || !sink) return 0;
    const qbNativeTextClip area = clip ? *clip : qbNativeTextClip{0, 0, INT32_MAX, INT32_MAX};
    const bool antialias = (style & kStyleAntialias) != 0;
    const bool toPlane = colour < 0;
    const int64_t baseline = int64_t{y} + ScaledUp(font->ascent, font->yScale);
    // Anti-aliased into an alpha plane whose clip starts at its corner, the
    // ink goes straight in wherever it reaches; otherwise only the line's
    // rows, from the top of the line to its height, are drawn.
    const bool direct = antialias && toPlane && area.x == 0 && area.y == 0;
    const int64_t rowsFrom = direct ? layout.top : -int64_t{ScaledUp(font->ascent, font->yScale)};
    const int64_t rowsTo = direct ? layout.bottom : rowsFrom + ScaledUp(font->height, font->yScale);
    std::vector<uint8_t>& buffer = Reused().buffer;
    std::vector<Piece>& pieces = Reused().pieces;
    std::vector<Group>& groups = Reused().groups;
    if (!GatherPieces(layout, rowsFrom, rowsTo, &pieces, &groups)) return ERR_MEM;
    int64_t largest = 0;
    for (const Group& g : groups)
        if (g.end - g.begin > 1 || !pieces[g.begin].glyph) largest = std::max(largest, (g.x1 - g.x0) * (g.y1 - g.y0));
    if (largest > kMaxBufferBytes) return ERR_MEM;
    try {
        buffer.resize(static_cast<size_t>(largest));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    qbNativeTextCoverage c;
    c.bitmap = bitmap;
    c.plane = plane;
    c.clip = area;
    c.colour = static_cast<uint32_t>(colour) & 0xFFFFFF;
    c.mode = direct ? kNativeTextOver : !toPlane ? kNativeTextBlend : antialias ? kNativeTextAlphaBytes : kNativeTextMaskBits;
    for (const Group& g : groups) {
        const Piece& first = pieces[g.begin];
        c.width = static_cast<int32_t>(g.x1 - g.x0);
        c.height = static_cast<int32_t>(g.y1 - g.y0);
        c.x = Clamp32(int64_t{x} + g.x0);
        c.y = Clamp32(baseline + g.y0);
        if (g.end - g.begin == 1 && first.glyph) {
            c.data = first.glyph->pixels + static_cast<size_t>(first.y0 - first.gy) * first.glyph->width;
            c.rowBytes = first.glyph->width;
        } else {
            PaintGroup(pieces, g, buffer.data());
            c.data = buffer.data();
            c.rowBytes = c.width;
        }
        sink(c);
    }
    if (buffer.capacity() > kKeptBufferBytes) std::vector<uint8_t>().swap(buffer);
    return 0;
}

void FreeGlyphs(qbNativeFontFace* face, bool giveBack) {
    if (!face) return;
    size_t& untrimmed = Reused().untrimmed;
    untrimmed += face->glyphBytes;
    ForgetGlyphs(face);
    // The heap keeps the pages of glyphs that fonts closing let go, for the
    // next sizes' glyphs (see KeepLargeBlocksOnTheHeap); they go back to the
    // system when the script frees the glyphs. A trim on every close had
    // each next size fault them in anew.
    if (giveBack && untrimmed >= kTrimAfterBytes) {
        malloc_trim(0);
        untrimmed = 0;
    }
}

void FreeNativeGlyphCache(qbNativeFont* font) {
    if (font) FreeGlyphs(font->face, true);
}

size_t NativeFontBytes(const qbNativeFont* font) {
    if (!font || !font->face) return 0;
    const qbNativeFontFace& f = *font->face;
    return sizeof f + f.glyphBytes + (f.latin ? sizeof(qbNativeLatinGlyphs) : 0) +
           f.glyphs.bucket_count() * sizeof(void*);
}

void FillTextOps(qbPlatformOps& ops) {
    ops.OpenNativeFont = &OpenNativeFont;
    ops.CloseNativeFont = &CloseNativeFont;
    ops.MeasureNativeText = &MeasureNativeText;
    ops.DrawNativeText = &DrawNativeText;
    ops.FreeNativeGlyphCache = &FreeNativeGlyphCache;
    ops.NativeFontBytes = &NativeFontBytes;
    ops.NativeFontEngineAvailable = [] { return 1; };
    ops.NativeFontNoOp = [] { return 0; };
}

}  // namespace linux_text
