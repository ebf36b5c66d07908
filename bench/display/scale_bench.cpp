// Plain (nearest) and smooth (bilinear) scaling of a 4-byte image against
// pixman's transformed SRC composite and SDL_SoftStretch /
// SDL_SoftStretchLinear. The sizes are the destination's; the source is two
// thirds of it (enlarging) or three halves (reducing), ratios that are not
// whole so no competitor gets a pixel-doubling shortcut. Where each one puts
// its sample points differs (pixel corners or centres, rounding), so the
// comparison counters measure how far apart the pictures are rather than
// expect them equal.

#include <benchmark/benchmark.h>

#include <vector>

#include "imaging/scale.h"
#include "pixelbench.h"

#ifdef QB_BENCH_HAVE_SDL2
#include <SDL.h>
#endif

using namespace pixelbench;

namespace {

struct ScaleData {
    Size dst;
    Size src;
    std::vector<uint32_t> srcPixels, dstPixels;
    explicit ScaleData(const benchmark::State& state)
        : dst{static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1))} {
        const bool reduce = state.range(2) != 0;
        src = reduce ? Size{dst.w * 3 / 2, dst.h * 3 / 2} : Size{dst.w * 2 / 3, dst.h * 2 / 3};
        srcPixels = SmoothPicture(src);
        dstPixels.assign(static_cast<size_t>(dst.w) * dst.h, 0);
    }
    // Gradients with some noise: bilinear results on pure noise say little
    // about a photograph, and pure gradients hide wrong neighbours.
    static std::vector<uint32_t> SmoothPicture(Size s) {
        std::vector<uint32_t> v(static_cast<size_t>(s.w) * s.h);
        Rng r(11);
        for (int32_t y = 0; y < s.h; ++y)
            for (int32_t x = 0; x < s.w; ++x) {
                // No channel wraps round, so a neighbour's value can only be
                // a little away and max_delta measures placement, not wrap.
                const uint32_t n = r.Next() & 15;
                const uint32_t red = std::min<uint32_t>(255, x * 240u / std::max(1, s.w - 1) + n);
                const uint32_t green = std::min<uint32_t>(255, y * 240u / std::max(1, s.h - 1) + n);
                const uint32_t blue = std::min<uint32_t>(255, (x + y) * 240u / std::max(1, s.w + s.h - 2) + n);
                v[static_cast<size_t>(y) * s.w + x] = 0xFF000000u | red << 16 | green << 8 | blue;
            }
        return v;
    }
    ScaleRequest Request(bool smooth) {
        ScaleRequest q;
        q.srcPixels = srcPixels.data();
        q.srcWidth = src.w;
        q.srcHeight = src.h;
        q.srcRowLength = src.w;
        q.dstPixels = dstPixels.data();
        q.dstWidth = dst.w;
        q.dstHeight = dst.h;
        q.dstRowLength = dst.w;
        q.bytesPerPixel = 4;
        q.pixelFormat = 10;
        q.smooth = smooth;
        return q;
    }
    std::vector<uint32_t> Ours(bool smooth) {
        ScalePixelBuffer(Request(smooth));
        return dstPixels;
    }
};

void ReportScale(benchmark::State& state, const ScaleData& d) { Report(state, d.dst, 8); }

template <bool kSmooth>
void BM_Scale_ScalePixelBuffer(benchmark::State& state) {
    ScaleData d(state);
    const ScaleRequest q = d.Request(kSmooth);
    auto got = d.Ours(kSmooth);
    std::vector<uint32_t> ref(got.size(), 0);
    ScaleRequest rq = q;
    rq.dstPixels = ref.data();
    ScalePixelBufferRef(rq);
    NoteDiff(state, kSmooth ? "smooth ScalePixelBuffer vs its reference" : "plain ScalePixelBuffer vs its reference",
             Compare(got.data(), d.dst.w, ref.data(), d.dst.w, d.dst.w, d.dst.h));
    for (auto _ : state) {
        ScalePixelBuffer(q);
        benchmark::ClobberMemory();
    }
    ReportScale(state, d);
}

#ifdef QB_BENCH_HAVE_PIXMAN
template <bool kSmooth>
void BM_Scale_pixman(benchmark::State& state) {
    ScaleData d(state);
    auto ours = d.Ours(kSmooth);
    PixmanScale scale(d.srcPixels.data(), d.src, d.dstPixels.data(), d.dst, kSmooth);
    auto run = [&] { scale.Run(); };
    run();
    NoteDiff(state, kSmooth ? "pixman bilinear vs smooth ScalePixelBuffer" : "pixman nearest vs plain ScalePixelBuffer",
             Compare(d.dstPixels.data(), d.dst.w, ours.data(), d.dst.w, d.dst.w, d.dst.h));
    for (auto _ : state) {
        run();
        benchmark::ClobberMemory();
    }
    ReportScale(state, d);
}
#endif

#ifdef QB_BENCH_HAVE_SDL2
template <bool kSmooth>
void BM_Scale_SDL(benchmark::State& state) {
    ScaleData d(state);
    auto ours = d.Ours(kSmooth);
    SDL_Surface* ss = SDL_CreateRGBSurfaceWithFormatFrom(d.srcPixels.data(), d.src.w, d.src.h, 32, d.src.w * 4,
                                                         SDL_PIXELFORMAT_RGB888);
    SDL_Surface* ds = SDL_CreateRGBSurfaceWithFormatFrom(d.dstPixels.data(), d.dst.w, d.dst.h, 32, d.dst.w * 4,
                                                         SDL_PIXELFORMAT_RGB888);
    auto run = [&] {
        if (kSmooth) SDL_SoftStretchLinear(ss, nullptr, ds, nullptr);
        else SDL_SoftStretch(ss, nullptr, ds, nullptr);
    };
    run();
    NoteDiff(state, kSmooth ? "SDL_SoftStretchLinear vs smooth ScalePixelBuffer" : "SDL_SoftStretch vs plain ScalePixelBuffer",
             Compare(d.dstPixels.data(), d.dst.w, ours.data(), d.dst.w, d.dst.w, d.dst.h));
    for (auto _ : state) {
        run();
        benchmark::ClobberMemory();
    }
    SDL_FreeSurface(ss);
    SDL_FreeSurface(ds);
    ReportScale(state, d);
}
#endif

void ScaleArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"w", "h", "reduce"});
    for (int reduce = 0; reduce <= 1; ++reduce)
        for (const Size& s : Sizes()) b->Args({s.w, s.h, reduce});
}

}  // namespace

BENCHMARK(BM_Scale_ScalePixelBuffer<false>)->Name("BM_Nearest_ScalePixelBuffer")->Apply(ScaleArgs);
#ifdef QB_BENCH_HAVE_PIXMAN
BENCHMARK(BM_Scale_pixman<false>)->Name("BM_Nearest_pixman")->Apply(ScaleArgs);
#endif
#ifdef QB_BENCH_HAVE_SDL2
BENCHMARK(BM_Scale_SDL<false>)->Name("BM_Nearest_SDL_SoftStretch")->Apply(ScaleArgs);
#endif
BENCHMARK(BM_Scale_ScalePixelBuffer<true>)->Name("BM_Bilinear_ScalePixelBuffer")->Apply(ScaleArgs);
#ifdef QB_BENCH_HAVE_PIXMAN
BENCHMARK(BM_Scale_pixman<true>)->Name("BM_Bilinear_pixman")->Apply(ScaleArgs);
#endif
#ifdef QB_BENCH_HAVE_SDL2
BENCHMARK(BM_Scale_SDL<true>)->Name("BM_Bilinear_SDL_SoftStretchLinear")->Apply(ScaleArgs);
#endif
