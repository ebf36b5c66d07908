// RenderInbuiltText of a 100-character Latin-1 line at 24 px, anti-aliased,
// into a 640x480 ARGB bitmap, against bare FreeType loops that draw the same
// glyphs at the same pen positions with the same blend: with the glyph cache
// warm against a loop with its own cache of rendered glyphs, and with the
// cache off against FT_Load_Glyph + FT_Render_Glyph per character. The line
// is wider than the bitmap, so both sides clip its tail alike. Before timing,
// each pair draws once into a cleared bitmap and must give the same pixels.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "core/nativebitmap.h"
#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/kernels.h"
#include "text/font.h"
#include "text/inbuiltfont.h"
#include "text/textlib.h"

namespace {

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 480;
constexpr int32_t kSize = 24;
constexpr uint32_t kInk = 0xFFCC00;
constexpr int32_t kY = 200;

std::string Line() {
    std::string line;
    for (int i = 0; line.size() < 100; ++i) {
        const int c = 32 + (i * 37) % 224;
        if (c >= 127 && c < 161) continue;
        line += static_cast<char>(c);
    }
    return line;
}

struct Glyph {
    FT_UInt index = 0;
    int32_t left = 0, top = 0;
    FT_Pos advance = 0;
    int32_t width = 0, rows = 0, pitch = 0;
    std::vector<uint8_t> bytes;
};

// The blend of the alpha-channel kernel: full coverage stores the colour,
// any other weight mixes it in.
void Blend(uint32_t* pixels, int32_t rowLength, const uint8_t* rows, int32_t pitch, int32_t width, int32_t height,
           int32_t x, int32_t y) {
    int32_t sx = 0, sy = 0;
    if (x < 0) sx = -x, width += x, x = 0;
    if (y < 0) sy = -y, height += y, y = 0;
    width = std::min(width, kWidth - x);
    height = std::min(height, kHeight - y);
    for (int32_t j = 0; j < height; ++j) {
        const uint8_t* a = rows + static_cast<size_t>(sy + j) * pitch + sx;
        uint32_t* d = pixels + static_cast<size_t>(y + j) * rowLength + x;
        for (int32_t i = 0; i < width; ++i) {
            if (a[i] == 0) continue;
            d[i] = a[i] == 255 ? kInk : BlendRGBFast(d[i], kInk, a[i]);
        }
    }
}

struct Page {
    explicit Page(int32_t cache) {
        SetPlatformPixelFormat(kFormatARGB);
        StartInbuiltEngine();
        ok = OpenInbuiltFont("Bitstream Vera Sans", kSize, cache, &font) == 1;
        bitmap.reset(AllocBitmap(kWidth, kHeight, 0, nullptr));
        ok = ok && bitmap && PeekPlainPixels(bitmap.get(), &view) && view.bytesPerPixel == 4;
        if (ok) data = InbuiltDataOf(&font);
    }
    ~Page() {
        CloseInbuiltFont(&font);
        StopInbuiltEngine();
    }
    uint32_t* Pixels() const { return static_cast<uint32_t*>(view.pixels); }
    void Clear() const {
        for (int32_t j = 0; j < kHeight; ++j) std::memset(Pixels() + static_cast<size_t>(j) * view.rowLength, 0, kWidth * 4);
    }
    std::vector<uint32_t> Snapshot() const {
        std::vector<uint32_t> out;
        for (int32_t j = 0; j < kHeight; ++j)
            out.insert(out.end(), Pixels() + static_cast<size_t>(j) * view.rowLength,
                       Pixels() + static_cast<size_t>(j) * view.rowLength + kWidth);
        return out;
    }
    void Player() {
        RenderInbuiltText(&font, bitmap.get(), nullptr, 0, kY, line.data(), line.size(), kTextAntialias,
                          kEncodingLatin1, clip, kInk);
    }
    // The pen step of the engine's formula.
    int64_t Step(FT_Pos advance, FT_UInt index, FT_UInt next) const {
        FT_Vector k{0, 0};
        if (next && FT_HAS_KERNING(data->face)) FT_Get_Kerning(data->face, index, next, FT_KERNING_UNSCALED, &k);
        const int64_t a = (int64_t{advance} << 10) / data->face->size->metrics.x_ppem;
        return ((a + int64_t{k.x} * 65536 / data->face->units_per_EM) * data->pixelSize) / 65536;
    }
    void BareCached() {
        std::array<FT_UInt, 100> indexes{};
        for (size_t i = 0; i < line.size(); ++i) {
            const auto c = static_cast<uint8_t>(line[i]);
            if (!cache[c]) {
                FT_Load_Glyph(data->face, FT_Get_Char_Index(data->face, c), FT_LOAD_NO_AUTOHINT);
                FT_Render_Glyph(data->face->glyph, FT_RENDER_MODE_NORMAL);
                const FT_GlyphSlot s = data->face->glyph;
                Glyph g{FT_Get_Char_Index(data->face, c), s->bitmap_left, s->bitmap_top, s->metrics.horiAdvance,
                        static_cast<int32_t>(s->bitmap.width), static_cast<int32_t>(s->bitmap.rows), s->bitmap.pitch,
                        {}};
                g.bytes.assign(s->bitmap.buffer, s->bitmap.buffer + static_cast<size_t>(g.rows) * g.pitch);
                glyphs[c] = std::move(g);
                cache[c] = true;
            }
            indexes[i] = glyphs[c].index;
        }
        int64_t pen = 0;
        for (size_t i = 0; i < line.size(); ++i) {
            const Glyph& g = glyphs[static_cast<uint8_t>(line[i])];
            if (!g.bytes.empty())
                Blend(Pixels(), view.rowLength, g.bytes.data(), g.pitch, g.width, g.rows,
                      static_cast<int32_t>(pen) + g.left, kY + font.baseline - g.top);
            pen += Step(g.advance, g.index, i + 1 < line.size() ? indexes[i + 1] : 0);
        }
    }
    void BareUncached() {
        int64_t pen = 0;
        FT_UInt next = FT_Get_Char_Index(data->face, static_cast<uint8_t>(line[0]));
        for (size_t i = 0; i < line.size(); ++i) {
            const FT_UInt index = next;
            next = i + 1 < line.size() ? FT_Get_Char_Index(data->face, static_cast<uint8_t>(line[i + 1])) : 0;
            if (FT_Load_Glyph(data->face, index, FT_LOAD_NO_AUTOHINT) ||
                FT_Render_Glyph(data->face->glyph, FT_RENDER_MODE_NORMAL))
                continue;
            const FT_GlyphSlot s = data->face->glyph;
            if (s->bitmap.pitch > 0)
                Blend(Pixels(), view.rowLength, s->bitmap.buffer, s->bitmap.pitch, static_cast<int32_t>(s->bitmap.width),
                      static_cast<int32_t>(s->bitmap.rows), static_cast<int32_t>(pen) + s->bitmap_left,
                      kY + font.baseline - s->bitmap_top);
            pen += Step(s->metrics.horiAdvance, index, next);
        }
    }
    // Both sides once into a cleared bitmap: the pixels must match.
    bool Same(void (Page::*bare)()) {
        Clear();
        Player();
        const std::vector<uint32_t> ours = Snapshot();
        Clear();
        (this->*bare)();
        return ours == Snapshot();
    }

    qbFont font;
    qbInbuiltFontData* data = nullptr;
    BitmapPtr bitmap;
    qbPixelView view;
    bool ok = false;
    const std::string line = Line();
    const qbClipRect clip{0, 0, kWidth, kHeight};
    std::array<Glyph, 256> glyphs{};
    std::array<bool, 256> cache{};
};

void Run(benchmark::State& state, int32_t cache, void (Page::*draw)(), void (Page::*bare)()) {
    Page page(cache);
    if (!page.ok) return state.SkipWithError("no font or bitmap");
    if (!page.Same(bare)) return state.SkipWithError("the player's pixels differ from FreeType's");
    for (auto _ : state) {
        (page.*draw)();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 100);
}

void BM_RenderInbuiltTextCached(benchmark::State& s) { Run(s, 1, &Page::Player, &Page::BareCached); }
void BM_BareFreeTypeCached(benchmark::State& s) { Run(s, 1, &Page::BareCached, &Page::BareCached); }
void BM_RenderInbuiltTextUncached(benchmark::State& s) { Run(s, 0, &Page::Player, &Page::BareUncached); }
void BM_BareFreeTypeUncached(benchmark::State& s) { Run(s, 0, &Page::BareUncached, &Page::BareUncached); }

}  // namespace

BENCHMARK(BM_RenderInbuiltTextCached)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareFreeTypeCached)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderInbuiltTextUncached)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareFreeTypeUncached)->Unit(benchmark::kMicrosecond);
