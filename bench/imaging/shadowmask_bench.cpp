// BuildShadowMask over a 640x480 alpha shape (a disc), as a shadow or
// border brush or a layer shadow makes it: the two blur passes dominate,
// and their cost grows with the radius.

#include <benchmark/benchmark.h>

#include "imaging/bitmap.h"
#include "imaging/shadowmask.h"

namespace {

void BM_BuildShadowMask(benchmark::State& state) {
    const int32_t w = 640, h = 480;
    const double radius = static_cast<double>(state.range(0));
    BitmapPtr alpha(AllocAlphaChannel(w, h, true, nullptr, 0));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const int32_t dx = x - w / 2, dy = y - h / 2;
            if (dx * dx + dy * dy < 200 * 200) alpha->plane->data[static_cast<size_t>(y) * alpha->plane->rowBytes + x] = 255;
        }
    for (auto _ : state) {
        qbBitmap* out = nullptr;
        BuildShadowMask(alpha.get(), nullptr, 0, 0, w, h, radius, radius / 3, 200, false, false, &out);
        FreeBitmap(out);
    }
    state.SetItemsProcessed(state.iterations() * (w + 2 * state.range(0)) * (h + 2 * state.range(0)));
}

}  // namespace

BENCHMARK(BM_BuildShadowMask)->ArgName("radius")->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond);
