// TestPixelCollision over two 512 x 512 objects lying on each other one
// pixel apart with no opaque pixel in common, so the whole intersection is
// scanned: mask against mask (the second one a bit off the byte grid),
// alpha against alpha, and mask against alpha; against memcpy of the same
// plane bytes in the same run. The scans run with the widest instruction
// set the processor has, and again with SSE2 alone (the x86 baseline).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/pixelcollision.h"

namespace {

constexpr int kSize = 512;

// A checkerboard: opaque where x + y is even. Shifted by one pixel the
// same board is opaque exactly where the other is not.
BitmapPtr Board(bool mask) {
    BitmapPtr b(mask ? AllocMask(nullptr, kSize, kSize, true, nullptr, 0)
                     : AllocAlphaChannel(kSize, kSize, true, nullptr, 0));
    qbBitmapPlane* p = b->plane.get();
    for (int y = 0; y < kSize; ++y) {
        uint8_t* row = p->data + static_cast<size_t>(p->rowBytes) * y;
        for (int x = (y & 1); x < kSize; x += 2) {
            if (mask) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
            else row[x] = 200;
        }
    }
    return b;
}

size_t PlaneBytes(const qbBitmap* b) { return static_cast<size_t>(b->plane->rowBytes) * kSize; }

void Collide(benchmark::State& state, bool maskA, bool maskB, KernelIsa isa = BestKernelIsa()) {
    const BitmapPtr a = Board(maskA), b = Board(maskB);
    qbCollider ca, cb;
    ca.box = {0, 0, kSize, kSize};
    cb.box = {1, 0, kSize, kSize};
    cb.planeX = 1;
    (maskA ? ca.mask : ca.alpha) = a.get();
    (maskB ? cb.mask : cb.alpha) = b.get();
    if (TestPixelCollisionWith(ca, cb, isa) != 0) state.SkipWithError("the boards overlap");
    for (auto _ : state) benchmark::DoNotOptimize(TestPixelCollisionWith(ca, cb, isa));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(PlaneBytes(a.get()) + PlaneBytes(b.get())));
}

void Copy(benchmark::State& state, bool maskA, bool maskB) {
    const BitmapPtr a = Board(maskA), b = Board(maskB);
    const size_t na = PlaneBytes(a.get()), nb = PlaneBytes(b.get());
    std::vector<uint8_t> out(na + nb);
    for (auto _ : state) {
        std::memcpy(out.data(), a->plane->data, na);
        std::memcpy(out.data() + na, b->plane->data, nb);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(na + nb));
}

void BM_MaskVsMask(benchmark::State& s) { Collide(s, true, true); }
void BM_MaskVsMask_memcpy(benchmark::State& s) { Copy(s, true, true); }
void BM_AlphaVsAlpha(benchmark::State& s) { Collide(s, false, false); }
void BM_AlphaVsAlpha_memcpy(benchmark::State& s) { Copy(s, false, false); }
void BM_MaskVsAlpha(benchmark::State& s) { Collide(s, true, false); }
void BM_MaskVsAlpha_memcpy(benchmark::State& s) { Copy(s, true, false); }
void BM_MaskVsMask_sse2(benchmark::State& s) { Collide(s, true, true, KernelIsa::Sse2); }
void BM_AlphaVsAlpha_sse2(benchmark::State& s) { Collide(s, false, false, KernelIsa::Sse2); }
void BM_MaskVsAlpha_sse2(benchmark::State& s) { Collide(s, true, false, KernelIsa::Sse2); }

}  // namespace

BENCHMARK(BM_MaskVsMask)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MaskVsMask_memcpy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AlphaVsAlpha)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AlphaVsAlpha_memcpy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MaskVsAlpha)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MaskVsAlpha_memcpy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MaskVsMask_sse2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AlphaVsAlpha_sse2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MaskVsAlpha_sse2)->Unit(benchmark::kMicrosecond);
