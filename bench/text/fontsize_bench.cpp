// The cost of a font size: opening DejaVu Sans at a size the cache has not
// seen (through OpenFontCached, as SetFont does) and drawing its "A", and
// asking again for a size seen before and drawing the "A" again, against
// FreeType's own FT_Set_Char_Size and one glyph render on one face at the
// same heights: the least a new size can cost. And finding a font, old or
// new, after 20,000 others were asked for.

#include <benchmark/benchmark.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include "imaging/bitmap.h"
#include "platform/platform.h"
#include "text/font.h"
#include "text/fontcache.h"
#include "text/textlib.h"

namespace {

// Pixel heights from 12; 2,000 new ones, or 49 seen again.
constexpr int32_t kFirstHeight = 12;
constexpr int32_t kHeights = 49;
constexpr int kNewSizes = 2000;
const char* const kSansFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct Fonts {
    Fonts() {
        SetPlatformBackend(&LinuxPlatformOps());
        plane.reset(AllocAlphaChannel(96, 96, true, nullptr, 0));
    }
    ~Fonts() {
        FreeFontCache(nullptr);
        ShutdownFontEngines();
        SetPlatformBackend(nullptr);
    }
    int Draw(int32_t height, int32_t cache) {
        qbFont* font = nullptr;
        if (int err = OpenFontCached("DejaVu Sans", height, kFontEngineNative, cache, 0, &font)) return err;
        GetTextStyle()->font = font;
        return RenderFontText(font, plane.get(), nullptr, 0, 0, "A", 1, kTextAntialias, 0, {0, 0, 96, 96},
                              kFontPenMask);
    }
    BitmapPtr plane;
};

// Heights the face has not been opened at, 12 pixels up, in a zoom's order
// (each next to the last) or scattered (each far from the last).
int32_t ZoomHeight(int n) { return kFirstHeight + n; }
int32_t ScatteredHeight(int n) { return kFirstHeight + (n * 997) % kNewSizes; }

int32_t FirstCache(int) { return 1; }
int32_t CycledHeight(int n) { return kFirstHeight + n % kHeights; }
int32_t CycleCache(int n) { return 1 + n / kHeights; }

// Opens and draws, pass n, at Height(n) with the cache value Cache(n).
template <int32_t (*Height)(int), int32_t (*Cache)(int)>
void DrawEach(benchmark::State& state, Fonts& fonts) {
    int n = 0;
    for (auto _ : state) {
        if (fonts.Draw(Height(n), Cache(n)) != 0) {
            state.SkipWithError("DejaVu Sans does not open (fonts-dejavu-core)");
            break;
        }
        ++n;
    }
    GetTextStyle()->font = nullptr;
}

template <int32_t (*Height)(int)>
void BM_NewSize(benchmark::State& state) {
    Fonts fonts;
    DrawEach<Height, FirstCache>(state, fonts);
}

// Heights 12 to 60 seen before on the face, each time a font record of its
// own (told apart by the cache value, part of a font's identity in the
// cache): what a font put to sleep costs to wake.
void BM_NewRecordSeenHeight(benchmark::State& state) {
    Fonts fonts;
    DrawEach<CycledHeight, CycleCache>(state, fonts);
}

void BM_SeenSize(benchmark::State& state) {
    Fonts fonts;
    for (int32_t h = 0; h < kHeights; ++h) fonts.Draw(kFirstHeight + h, 1);
    DrawEach<CycledHeight, FirstCache>(state, fonts);
}

// After state.range(0) fonts were asked for (DejaVu Sans at 20 pixels,
// each with a "cache" value of its own, so each a font of its own): a font
// asked for again and "A" measured in it, as SetFont and TextWidth do, or a
// new font asked for: finding a font costs the same whatever came before.
void Measure(Fonts& fonts, int32_t cache, benchmark::State& state) {
    qbFont* font = nullptr;
    qbTextExtents e;
    if (OpenFontCached("DejaVu Sans", 20, kFontEngineNative, cache, 0, &font) != 0 ||
        MeasureFontText(font, "A", 1, 0, 0, &e) != 0) {
        state.SkipWithError("DejaVu Sans does not open (fonts-dejavu-core)");
        return;
    }
    GetTextStyle()->font = font;
    (void)fonts;
    benchmark::DoNotOptimize(e.width);
}

void BM_SeenAfterFonts(benchmark::State& state) {
    Fonts fonts;
    for (int64_t n = 0; n < state.range(0); ++n) Measure(fonts, static_cast<int32_t>(-1 - n), state);
    for (auto _ : state) Measure(fonts, 1, state);
    GetTextStyle()->font = nullptr;
}

void BM_NewFontAfterFonts(benchmark::State& state) {
    Fonts fonts;
    int32_t cache = 0;
    for (; cache < state.range(0); ++cache) Measure(fonts, -1 - cache, state);
    for (auto _ : state) Measure(fonts, -1 - cache++, state);
    GetTextStyle()->font = nullptr;
}

// The point size for a height ("A" is 1493 of 2048 units tall), set and
// the "A" rendered, on one face.
template <int32_t (*Height)(int)>
void BM_FreeTypeSetSizeAndRender(benchmark::State& state) {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    if (FT_Init_FreeType(&library) != 0 || FT_New_Face(library, kSansFile, 0, &face) != 0) {
        state.SkipWithError("no FreeType face");
        return;
    }
    int n = 0;
    for (auto _ : state) {
        const FT_F26Dot6 points = FT_F26Dot6{(Height(n) * 2048 + 1492) / 1493} * 64;
        FT_Set_Char_Size(face, 0, points, 72, 72);
        FT_Load_Char(face, 'A', FT_LOAD_TARGET_NORMAL | FT_LOAD_RENDER);
        benchmark::DoNotOptimize(face->glyph->bitmap.buffer);
        ++n;
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_NewSize, ZoomHeight)->Iterations(kNewSizes)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_FreeTypeSetSizeAndRender, ZoomHeight)->Iterations(kNewSizes)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_NewSize, ScatteredHeight)->Iterations(kNewSizes)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_FreeTypeSetSizeAndRender, ScatteredHeight)->Iterations(kNewSizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NewRecordSeenHeight)->Iterations(kNewSizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SeenSize)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_FreeTypeSetSizeAndRender, CycledHeight)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SeenAfterFonts)->Arg(0)->Arg(20000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NewFontAfterFonts)->Arg(0)->Arg(20000)->Iterations(2000)->Unit(benchmark::kMicrosecond);
