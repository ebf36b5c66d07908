// 10,000 lines of 80 topaz characters into a 640x480 ARGB bitmap through
// RenderBitmapText, against the same glyph rectangles drawn by
// DrawMaskInColor alone: the kernel is the floor, and the renderer's own
// work (character lookup, pen, clipping) is the difference.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "core/nativebitmap.h"
#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "text/bitmapfont.h"
#include "text/font.h"

namespace {

constexpr int kLines = 10000;
constexpr int kColumns = 80;
constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 480;
constexpr uint32_t kInk = 0xFFCC00;

std::vector<std::string> Lines() {
    std::vector<std::string> lines(kLines);
    for (int i = 0; i < kLines; ++i)
        for (int c = 0; c < kColumns; ++c) lines[static_cast<size_t>(i)] += static_cast<char>(32 + (i * 7 + c) % 95);
    return lines;
}

struct Page {
    Page() {
        SetPlatformPixelFormat(kFormatARGB);
        GetDefaultFont(&topaz);
        bitmap.reset(AllocBitmap(kWidth, kHeight, 0, nullptr));
    }
    qbFont* topaz = nullptr;
    BitmapPtr bitmap;
    std::vector<std::string> lines = Lines();
};

void BM_RenderBitmapText(benchmark::State& state) {
    Page page;
    const qbClipRect clip{0, 0, kWidth, kHeight};
    for (auto _ : state) {
        for (int i = 0; i < kLines; ++i) {
            const std::string& line = page.lines[static_cast<size_t>(i)];
            RenderBitmapText(page.topaz, page.bitmap.get(), nullptr, 0, (i % 60) * 8, line.data(), line.size(), clip,
                             kInk);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kLines * kColumns);
}

void BM_DrawMaskInColorFloor(benchmark::State& state) {
    Page page;
    const qbBitmapFontData& data = *BitmapDataOf(page.topaz);
    for (auto _ : state) {
        for (int i = 0; i < kLines; ++i) {
            const std::string& line = page.lines[static_cast<size_t>(i)];
            int32_t x = 0;
            for (unsigned char c : line) {
                const uint32_t loc = data.charLoc[static_cast<size_t>(BitmapCharIndex(data, c))];
                DrawMaskInColor(page.bitmap.get(), x, (i % 60) * 8, data.stripMask.get(),
                                static_cast<int32_t>(loc >> 16), 0, 8, 8, kInk, nullptr, 0);
                x += 8;
            }
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kLines * kColumns);
}

}  // namespace

BENCHMARK(BM_RenderBitmapText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawMaskInColorFloor)->Unit(benchmark::kMillisecond);
