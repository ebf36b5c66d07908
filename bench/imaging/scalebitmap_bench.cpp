// ScaleBitmap (a bitmap rectangle to a new bitmap, allocation included, or
// into a bitmap made once) against pixman's transformed SRC composite into a
// buffer it is given, at
// the two sizes the brush and BGPic code meet most: a full-HD picture shown
// at 720p, and a VGA picture blown up to full HD. Nearest and smooth
// sampling; pixman's sample points differ (pixel centres), so the counters
// say how far apart the pictures are rather than expect them equal.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "../display/pixelbench.h"
#include "imaging/bitmap.h"
#include "imaging/scalebitmap.h"


using namespace pixelbench;

namespace {

struct Case {
    Size src;
    Size dst;
};

Case CaseOf(const benchmark::State& state) {
    return {{static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1))},
            {static_cast<int32_t>(state.range(2)), static_cast<int32_t>(state.range(3))}};
}

// Gradients with a little noise, never wrapping round.
std::vector<uint32_t> Picture(Size s) {
    std::vector<uint32_t> v(static_cast<size_t>(s.w) * s.h);
    Rng r(7);
    for (int32_t y = 0; y < s.h; ++y)
        for (int32_t x = 0; x < s.w; ++x) {
            const uint32_t n = r.Next() & 15;
            const uint32_t red = std::min<uint32_t>(255, x * 240u / (s.w - 1) + n);
            const uint32_t green = std::min<uint32_t>(255, y * 240u / (s.h - 1) + n);
            v[static_cast<size_t>(y) * s.w + x] = 0xFF000000u | red << 16 | green << 8 | (n << 3);
        }
    return v;
}

BitmapPtr SourceBitmap(Size s) {
    const std::vector<uint32_t> pixels = Picture(s);
    qbBitmap* b = nullptr;
    CreateBitmapFromARGB(pixels.data(), kNoKeyColour, s.w, s.h, s.w, false, 0, 0, &b, nullptr, nullptr);
    return BitmapPtr(b);
}

std::vector<uint32_t> Scaled(qbBitmap* source, Case c, bool smooth) {
    qbBitmap* out = nullptr;
    ScaleBitmap(source, nullptr, nullptr, 0, 0, nullptr, c.src.w, c.src.h, c.dst.w, c.dst.h, smooth, &out, nullptr,
                nullptr);
    BitmapPtr owner(out);
    return CopyBitmapRectToARGB(out, 0, 0, c.dst.w, c.dst.h, 0);
}

// kInto: into a destination bitmap made once, as pixman writes into a
// buffer it is given; else a new bitmap every time, as brushes get them.
template <bool kSmooth, bool kInto>
void BM_ScaleBitmap(benchmark::State& state) {
    const Case c = CaseOf(state);
    BitmapPtr source = SourceBitmap(c.src);
    BitmapPtr into(kInto ? AllocBitmap(c.dst.w, c.dst.h, 0, nullptr) : nullptr);
    for (auto _ : state) {
        qbBitmap* out = nullptr;
        ScaleBitmap(source.get(), nullptr, nullptr, 0, 0, into.get(), c.src.w, c.src.h, c.dst.w, c.dst.h, kSmooth,
                    &out, nullptr, nullptr);
        if (!kInto) FreeBitmap(out);
        benchmark::ClobberMemory();
    }
    Report(state, c.dst, 8);
}

#ifdef QB_BENCH_HAVE_PIXMAN
template <bool kSmooth>
void BM_pixman(benchmark::State& state) {
    const Case c = CaseOf(state);
    std::vector<uint32_t> src = Picture(c.src);
    std::vector<uint32_t> dst(static_cast<size_t>(c.dst.w) * c.dst.h);
    BitmapPtr source = SourceBitmap(c.src);
    const std::vector<uint32_t> ours = Scaled(source.get(), c, kSmooth);
    PixmanScale scale(src.data(), c.src, dst.data(), c.dst, kSmooth);
    auto run = [&] { scale.Run(); };
    run();
    if (ours.size() == dst.size())
        NoteDiff(state, kSmooth ? "pixman bilinear vs smooth ScaleBitmap" : "pixman nearest vs plain ScaleBitmap",
                 Compare(dst.data(), c.dst.w, ours.data(), c.dst.w, c.dst.w, c.dst.h));
    for (auto _ : state) {
        run();
        benchmark::ClobberMemory();
    }
    Report(state, c.dst, 8);
}
#endif

void Cases(benchmark::internal::Benchmark* b) {
    b->ArgNames({"sw", "sh", "dw", "dh"});
    b->Args({1920, 1080, 1280, 720});
    b->Args({640, 480, 1920, 1080});
    b->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(BM_ScaleBitmap<false, false>)->Name("BM_Nearest_ScaleBitmap_new")->Apply(Cases);
BENCHMARK(BM_ScaleBitmap<false, true>)->Name("BM_Nearest_ScaleBitmap_into")->Apply(Cases);
BENCHMARK(BM_ScaleBitmap<true, false>)->Name("BM_Smooth_ScaleBitmap_new")->Apply(Cases);
BENCHMARK(BM_ScaleBitmap<true, true>)->Name("BM_Smooth_ScaleBitmap_into")->Apply(Cases);
#ifdef QB_BENCH_HAVE_PIXMAN
BENCHMARK(BM_pixman<false>)->Name("BM_Nearest_pixman")->Apply(Cases);
BENCHMARK(BM_pixman<true>)->Name("BM_Smooth_pixman")->Apply(Cases);
#endif
