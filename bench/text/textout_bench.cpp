// TextOut of a 2,000-glyph paragraph (25 lines of 80 characters) in Vera
// Sans at 16 px, anti-aliased, into a 640x480 display on the in-memory
// backend, through the renderer behind the command:
// - the direct path (no tags, lines by line feeds) against a bare FreeType
//   loop with a warm glyph cache that blends the same glyphs at the same
//   pen positions into the display's picture buffer and presents the same
//   rectangle, and against SDL2_ttf (TTF_RenderUTF8_Blended per line, then
//   a blit into the same buffer and the same present) where it is built;
// - the composed path: the same characters as one paragraph with one tag,
//   wrapped at 600 pixels.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "core/settings.h"
#include "display/bgpics.h"
#include "display/displays.h"
#include "display/refresh.h"
#include "imaging/bitmap.h"
#include "imaging/kernels.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "text/font.h"
#include "text/inbuiltfont.h"
#include "text/textout.h"

#ifdef QB_BENCH_HAVE_SDL2_TTF
#include <SDL.h>
#include <SDL_ttf.h>
#endif

namespace {

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 480;
constexpr int kLines = 25;
constexpr int kColumns = 80;
constexpr uint32_t kInk = 0xFFFFFF;

std::vector<std::string> Lines() {
    std::vector<std::string> lines(kLines);
    for (int i = 0; i < kLines; ++i)
        for (int c = 0; c < kColumns; ++c)
            lines[static_cast<size_t>(i)] += (c + i) % 7 == 6 ? ' ' : static_cast<char>('a' + (i * 5 + c * 3) % 26);
    return lines;
}

struct World {
    World() {
        SetPlatformBackend(&NullPlatformOps());
        SetRuntimeTag(kTagQuiet, 1);
        qbDisplayOptions o;
        o.width = kWidth;
        o.height = kHeight;
        o.flags = kDisplayActivate;
        CreateDisplay(nullptr, NewObjectID{1, 0}, &o, &display);
        null_backend::SetWindowSize(display, kWidth, kHeight);
        StartDisplays(nullptr);
        InstallInbuiltFontEngine();
        StartInbuiltEngine();
        ok = display && display->spriteFreeBuffer && OpenInbuiltFont("Bitstream Vera Sans", 16, 1, &font) == 1;
        style.font = &font;
        style.flags = kTextNormal | kTextAntialias;
        style.colour = kInk;
        for (const std::string& l : lines) paragraph += l + "\n";
        paragraph.pop_back();
    }
    ~World() {
        CloseInbuiltFont(&font);
        StopInbuiltEngine();
        FreeAllDisplays(nullptr);
        FreeAllBGPics(nullptr);
    }
    qbDisplay* display = nullptr;
    qbFont font;
    qbTextStyle style;
    bool ok = false;
    std::vector<std::string> lines = Lines();
    std::string paragraph;
};

void BM_TextOutDirect(benchmark::State& state) {
    World w;
    if (!w.ok) return state.SkipWithError("no display or font");
    for (auto _ : state) {
        qbTextLayout layout;
        layout.x = 0;
        layout.y = 0;
        layout.text = w.paragraph;
        layout.style = w.style;
        if (RenderText(nullptr, &layout, kRenderTextOut, false, nullptr, nullptr) != 0)
            return state.SkipWithError("TextOut failed");
    }
    state.SetItemsProcessed(state.iterations() * kLines * kColumns);
}

void BM_TextOutComposedWrapped(benchmark::State& state) {
    World w;
    if (!w.ok) return state.SkipWithError("no display or font");
    std::string text = "[b]" + w.lines[0].substr(0, 5) + "[/b]";
    for (const std::string& l : w.lines) text += l + " ";
    text.erase(3 + 5 + 4, 5);
    for (auto _ : state) {
        qbTextLayout layout;
        layout.text = text;
        layout.style = w.style;
        layout.wrapWidth = 600;
        if (RenderText(nullptr, &layout, kRenderTextOut, false, nullptr, nullptr) != 0)
            return state.SkipWithError("TextOut failed");
    }
    state.SetItemsProcessed(state.iterations() * kLines * kColumns);
}

struct CachedGlyph {
    bool made = false;
    FT_UInt index = 0;
    int32_t left = 0, top = 0, width = 0, rows = 0, pitch = 0;
    FT_Pos advance = 0;
    std::vector<uint8_t> bytes;
};

void BM_BareFreeTypeLoop(benchmark::State& state) {
    World w;
    if (!w.ok) return state.SkipWithError("no display or font");
    qbPixelView view;
    if (!PeekPlainPixels(w.display->spriteFreeBuffer.get(), &view) || view.bytesPerPixel != 4)
        return state.SkipWithError("no plain picture buffer");
    auto* pixels = static_cast<uint32_t*>(view.pixels);
    const qbInbuiltFontData& d = *InbuiltDataOf(&w.font);
    std::array<CachedGlyph, 256> cache;
    const auto glyph = [&](uint8_t c) -> const CachedGlyph& {
        CachedGlyph& g = cache[c];
        if (!g.made) {
            g.index = FT_Get_Char_Index(d.face, c);
            FT_Load_Glyph(d.face, g.index, FT_LOAD_NO_AUTOHINT);
            FT_Render_Glyph(d.face->glyph, FT_RENDER_MODE_NORMAL);
            const FT_GlyphSlot s = d.face->glyph;
            g = {true, g.index, s->bitmap_left, s->bitmap_top, static_cast<int32_t>(s->bitmap.width),
                 static_cast<int32_t>(s->bitmap.rows), s->bitmap.pitch, s->metrics.horiAdvance, {}};
            g.bytes.assign(s->bitmap.buffer, s->bitmap.buffer + static_cast<size_t>(g.rows) * std::max(g.pitch, 0));
        }
        return g;
    };
    for (auto _ : state) {
        int32_t right = 0;
        for (int i = 0; i < kLines; ++i) {
            const std::string& line = w.lines[static_cast<size_t>(i)];
            const int32_t y = i * w.font.height;
            int64_t pen = 0;
            for (size_t n = 0; n < line.size(); ++n) {
                const CachedGlyph& g = glyph(static_cast<uint8_t>(line[n]));
                const int32_t gx = static_cast<int32_t>(pen) + g.left, gy = y + w.font.baseline - g.top;
                for (int32_t r = 0; r < g.rows; ++r) {
                    const int32_t py = gy + r;
                    if (py < 0 || py >= kHeight) continue;
                    const uint8_t* a = g.bytes.data() + static_cast<size_t>(r) * g.pitch;
                    uint32_t* row = pixels + static_cast<size_t>(py) * view.rowLength;
                    for (int32_t c = 0; c < g.width; ++c) {
                        const int32_t px = gx + c;
                        if (a[c] == 0 || px < 0 || px >= kWidth) continue;
                        row[px] = a[c] == 255 ? kInk : BlendRGBFast(row[px], kInk, a[c]);
                    }
                }
                FT_Vector k{0, 0};
                if (n + 1 < line.size())
                    FT_Get_Kerning(d.face, g.index, glyph(static_cast<uint8_t>(line[n + 1])).index,
                                   FT_KERNING_UNSCALED, &k);
                const int64_t adv = (int64_t{g.advance} << 10) / d.face->size->metrics.x_ppem;
                pen += ((adv + int64_t{k.x} * 65536 / d.face->units_per_EM) * d.pixelSize) / 65536;
            }
            right = std::max(right, static_cast<int32_t>(std::min<int64_t>(pen, kWidth)));
        }
        RefreshDisplayRect(w.display->spriteFreeBuffer.get(), 0, 0, w.display, 0, 0, right,
                           std::min(kHeight, kLines * w.font.height + 1), kRefreshScaled);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kLines * kColumns);
}

#ifdef QB_BENCH_HAVE_SDL2_TTF
void BM_SDL2ttfBlended(benchmark::State& state) {
    World w;
    if (!w.ok || TTF_Init() != 0) return state.SkipWithError("no display, font or SDL_ttf");
    qbPixelView view;
    PeekPlainPixels(w.display->spriteFreeBuffer.get(), &view);
    // The same pixel size as the engine's face.
    TTF_Font* font = TTF_OpenFont("/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf",
                                  InbuiltDataOf(&w.font)->pixelSize - 1);
    SDL_Surface* target = SDL_CreateRGBSurfaceWithFormatFrom(view.pixels, kWidth, kHeight, 32, view.rowLength * 4,
                                                             SDL_PIXELFORMAT_ARGB8888);
    if (!font || !target) return state.SkipWithError("SDL_ttf could not open Vera");
    for (auto _ : state) {
        int32_t right = 0;
        for (int i = 0; i < kLines; ++i) {
            SDL_Surface* line = TTF_RenderUTF8_Blended(font, w.lines[static_cast<size_t>(i)].c_str(),
                                                       SDL_Color{255, 255, 255, 255});
            if (!line) continue;
            SDL_Rect to{0, i * w.font.height, line->w, line->h};
            SDL_BlitSurface(line, nullptr, target, &to);
            right = std::max(right, std::min(line->w, kWidth));
            SDL_FreeSurface(line);
        }
        RefreshDisplayRect(w.display->spriteFreeBuffer.get(), 0, 0, w.display, 0, 0, right,
                           std::min(kHeight, kLines * w.font.height + 1), kRefreshScaled);
        benchmark::ClobberMemory();
    }
    SDL_FreeSurface(target);
    TTF_CloseFont(font);
    TTF_Quit();
    state.SetItemsProcessed(state.iterations() * kLines * kColumns);
}
BENCHMARK(BM_SDL2ttfBlended)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace

BENCHMARK(BM_TextOutDirect)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareFreeTypeLoop)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TextOutComposedWrapped)->Unit(benchmark::kMicrosecond);
