// 10,000 lines of 64 characters in DejaVu Sans at 16 pixels, anti-aliased,
// into a 640x480 ARGB bitmap through the native engine (RenderFontText and
// the Linux backend's DrawNativeText), against a bare FreeType loop on the
// same face and size: each glyph rendered once and kept, then blended in
// the colour at its pen with the same kernel (BltAlphaChannel).

#include <benchmark/benchmark.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <map>
#include <string>
#include <vector>

#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "platform/platform.h"
#include "text/font.h"
#include "text/textlib.h"

namespace {

constexpr int kLines = 10000;
constexpr int kColumns = 64;
constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 480;
constexpr uint32_t kInk = 0xFFCC00;
const char* const kSansFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

std::vector<std::string> Lines() {
    std::vector<std::string> lines(kLines);
    for (int i = 0; i < kLines; ++i)
        for (int c = 0; c < kColumns; ++c) lines[static_cast<size_t>(i)] += static_cast<char>(32 + (i * 7 + c) % 95);
    return lines;
}

struct Page {
    Page() {
        SetPlatformBackend(&LinuxPlatformOps());
        SetPlatformPixelFormat(kFormatARGB);
        bitmap.reset(AllocBitmap(kWidth, kHeight, 0, nullptr));
        OpenFontRecord("DejaVu Sans", 16, kFontEngineNative, 0, 0, &font);
    }
    ~Page() {
        CloseFontRecord(font);
        ShutdownFontEngines();
        SetPlatformBackend(nullptr);
    }
    qbFont* font = nullptr;
    BitmapPtr bitmap;
    std::vector<std::string> lines = Lines();
};

void BM_DrawNativeText(benchmark::State& state) {
    Page page;
    if (!page.font) {
        state.SkipWithError("DejaVu Sans is not installed (fonts-dejavu-core)");
        return;
    }
    const qbClipRect clip{0, 0, kWidth, kHeight};
    for (auto _ : state) {
        for (int i = 0; i < kLines; ++i) {
            const std::string& line = page.lines[static_cast<size_t>(i)];
            RenderFontText(page.font, page.bitmap.get(), nullptr, 0, (i % 24) * 20, line.data(), line.size(),
                           kTextAntialias, 0, clip, kInk);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kLines * kColumns);
}

struct BareGlyph {
    int left = 0, top = 0, width = 0, rows = 0, advance = 0;
    std::vector<uint8_t> coverage;
};

void BM_BareFreeTypeLoop(benchmark::State& state) {
    Page page;
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    if (!page.font || FT_Init_FreeType(&library) != 0 || FT_New_Face(library, kSansFile, 0, &face) != 0) {
        state.SkipWithError("no FreeType face");
        return;
    }
    // The size the native engine settled on for a 16-pixel "A".
    FT_Set_Char_Size(face, 0, static_cast<qbNativeFont*>(page.font->engineData)->pointSize * 64, 72, 72);
    std::map<uint32_t, BareGlyph> cache;
    const auto glyphOf = [&](uint32_t code) -> const BareGlyph& {
        auto it = cache.find(code);
        if (it != cache.end()) return it->second;
        FT_Load_Glyph(face, FT_Get_Char_Index(face, code), FT_LOAD_TARGET_NORMAL);
        FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL);
        const FT_Bitmap& bm = face->glyph->bitmap;
        BareGlyph g{face->glyph->bitmap_left, face->glyph->bitmap_top, static_cast<int>(bm.width),
                    static_cast<int>(bm.rows), static_cast<int>((face->glyph->advance.x + 32) >> 6), {}};
        for (unsigned r = 0; r < bm.rows; ++r)
            g.coverage.insert(g.coverage.end(), bm.buffer + r * bm.pitch, bm.buffer + r * bm.pitch + bm.width);
        return cache.emplace(code, std::move(g)).first->second;
    };
    const int32_t ascent = page.font->baseline;
    for (auto _ : state) {
        for (int i = 0; i < kLines; ++i) {
            const std::string& line = page.lines[static_cast<size_t>(i)];
            int32_t pen = 0;
            for (unsigned char c : line) {
                const BareGlyph& g = glyphOf(c);
                const int32_t x = pen + g.left, y = (i % 24) * 20 + ascent - g.top;
                if (g.width > 0 && x >= 0 && x + g.width <= kWidth && y >= 0 && y + g.rows <= kHeight) {
                    qbAlphaChannelBlit blit;
                    blit.destination = page.bitmap.get();
                    blit.dstX = x;
                    blit.dstY = y;
                    blit.width = g.width;
                    blit.height = g.rows;
                    blit.colour = kInk;
                    blit.mode = 1;
                    blit.alphaData = g.coverage.data();
                    blit.alphaRowBytes = g.width;
                    BltAlphaChannel(blit);
                }
                pen += g.advance;
            }
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kLines * kColumns);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
}

}  // namespace

BENCHMARK(BM_DrawNativeText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareFreeTypeLoop)->Unit(benchmark::kMillisecond);
