// Menu text through fontconfig and FreeType. Glyphs of the 256 ISO 8859-1
// codes are rendered once, as 8-bit coverage, and blended on every draw.
#include "platform/linux/menufont.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <array>
#include <vector>

#include "core/readholds.h"
#include "platform/linux/nativefont.h"

namespace sdl_backend {

namespace {

constexpr int kPixelSize = 13;
constexpr int kFallbackAdvance = 7;

struct Glyph {
    bool ready = false;
    int left = 0;
    int top = 0;
    int width = 0;
    int rows = 0;
    int advance = kFallbackAdvance;
    std::vector<uint8_t> coverage;
};

struct Font {
    bool tried = false;
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    // What the face reads its glyphs through: a stream over the file's
    // descriptor, so that a script writing over the font file costs the
    // menus their glyphs, never the program a signal.
    qbNativeFontFile file;
    std::array<Glyph, 256> glyphs;
};

Font& TheFont() {
    static Font font;
    return font;
}

// A configuration of its own, freed after the one look-up, rather than
// fontconfig's process-wide one, which lives until exit.
std::string SansSerifPath() {
    std::string path;
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (!config) return path;
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
    if (!pattern) {
        FcConfigDestroy(config);
        return path;
    }
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    if (FcPattern* match = FcFontMatch(config, pattern, &result)) {
        FcChar8* file = nullptr;
        if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file)
            path = reinterpret_cast<const char*>(file);
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    FcConfigDestroy(config);
    return path;
}

Font& LoadedFont() {
    Font& f = TheFont();
    if (f.tried) return f;
    f.tried = true;
    const std::string path = SansSerifPath();
    if (path.empty() || FT_Init_FreeType(&f.library) != 0) return f;
    if (!linux_text::OpenStreamFace(f.library, path.c_str(), 0, &f.file)) return f;
    f.face = f.file.face;
    if (FT_Set_Pixel_Sizes(f.face, 0, kPixelSize) != 0) {
        FT_Done_Face(f.face);
        f.face = f.file.face = nullptr;
    }
    // FreeType reads the file as glyphs load: no write may cut it under the menus.
    if (f.face) HoldReadFile(&f, SystemFileIdOf(path.c_str()));
    return f;
}

const Glyph& GlyphOf(unsigned char code) {
    Font& f = LoadedFont();
    Glyph& g = f.glyphs[code];
    if (g.ready) return g;
    g.ready = true;
    if (!f.face || FT_Load_Char(f.face, code, FT_LOAD_RENDER) != 0) return g;
    const FT_GlyphSlot slot = f.face->glyph;
    const FT_Bitmap& b = slot->bitmap;
    g.advance = static_cast<int>(slot->advance.x >> 6);
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    if (b.pixel_mode != FT_PIXEL_MODE_GRAY) return g;
    g.width = static_cast<int>(b.width);
    g.rows = static_cast<int>(b.rows);
    g.coverage.resize(static_cast<size_t>(g.width) * static_cast<size_t>(g.rows));
    for (int y = 0; y < g.rows; ++y)
        std::copy_n(b.buffer + static_cast<ptrdiff_t>(y) * b.pitch, g.width,
                    g.coverage.begin() + static_cast<ptrdiff_t>(y) * g.width);
    return g;
}

uint8_t Blend(uint8_t under, uint8_t over, int coverage) {
    return static_cast<uint8_t>((under * (255 - coverage) + over * coverage + 127) / 255);
}

}  // namespace

int MenuTextWidth(const std::string& text) {
    int width = 0;
    for (const char c : text) width += GlyphOf(static_cast<unsigned char>(c)).advance;
    return width;
}

void DrawMenuText(SDL_Surface* surface, int x, int baseline, const std::string& text, uint32_t rgb,
                  const SDL_Rect& clip) {
    if (!surface || surface->format->BytesPerPixel != 4) return;
    const uint8_t r = static_cast<uint8_t>(rgb >> 16), gr = static_cast<uint8_t>(rgb >> 8),
                  b = static_cast<uint8_t>(rgb);
    const int x0 = std::max(clip.x, 0), y0 = std::max(clip.y, 0);
    const int x1 = std::min(clip.x + clip.w, surface->w), y1 = std::min(clip.y + clip.h, surface->h);
    for (const char c : text) {
        const Glyph& g = GlyphOf(static_cast<unsigned char>(c));
        for (int gy = 0; gy < g.rows; ++gy) {
            const int py = baseline - g.top + gy;
            if (py < y0 || py >= y1) continue;
            auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(surface->pixels) + py * surface->pitch);
            for (int gx = 0; gx < g.width; ++gx) {
                const int px = x + g.left + gx;
                const int coverage = g.coverage[static_cast<size_t>(gy) * g.width + gx];
                if (px < x0 || px >= x1 || coverage == 0) continue;
                uint8_t ur = 0, ug = 0, ub = 0;
                SDL_GetRGB(row[px], surface->format, &ur, &ug, &ub);
                row[px] = SDL_MapRGB(surface->format, Blend(ur, r, coverage), Blend(ug, gr, coverage),
                                     Blend(ub, b, coverage));
            }
        }
        x += g.advance;
    }
}

void ReleaseMenuFont() {
    Font& f = TheFont();
    if (f.face) FT_Done_Face(f.face);
    if (f.library) FT_Done_FreeType(f.library);
    f = Font{};
}

}  // namespace sdl_backend
