// Shared by the kernel and scaling benches: test images, the sizes, the
// memcpy/memset calibration that the percentage counters divide by, and the
// comparison of two results before either is timed.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#ifdef QB_BENCH_HAVE_PIXMAN
#include <pixman.h>
#endif

namespace pixelbench {

struct Size {
    int32_t w;
    int32_t h;
};

// 3840x2160 is far past every cache, so it shows the memory-bound ceiling
// that the smaller sizes hide.
inline const std::vector<Size>& Sizes() {
    static const std::vector<Size> sizes{{64, 64}, {640, 480}, {1920, 1080}, {3840, 2160}};
    return sizes;
}

inline void SizeArgs(benchmark::internal::Benchmark* b) {
    for (const Size& s : Sizes()) b->Args({s.w, s.h});
}

// A fixed generator so every run and every competitor sees the same pixels.
struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t Next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return static_cast<uint32_t>(s >> 16);
    }
};

// The 32-bit xorshift the display benches fill their pictures with.
inline uint32_t Noise(uint32_t& s) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

inline std::vector<uint32_t> RandomPixels(size_t n, uint64_t seed, uint32_t orMask = 0) {
    std::vector<uint32_t> v(n);
    Rng r(seed);
    for (auto& p : v) p = r.Next() | orMask;
    return v;
}

// Alpha with the runs of 0 and 255 that real sprites have (edges are the
// only partial pixels), so kernels that skip those cases are measured on
// what they meet, not on noise.
inline std::vector<uint8_t> SpriteAlpha(int32_t w, int32_t h, int32_t rowBytes, uint64_t seed) {
    std::vector<uint8_t> a(static_cast<size_t>(rowBytes) * h, 0);
    Rng r(seed);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t v = r.Next() & 255;
            a[static_cast<size_t>(y) * rowBytes + x] =
                v < 96 ? 0 : v < 192 ? 255 : static_cast<uint8_t>(r.Next());
        }
    return a;
}

// Bytes per second of memcpy and memset over one w x h 4-byte image, timed
// once per size before any benchmark, so every kernel can be expressed as a
// share of what the memory system gives a plain copy or store.
struct Ceiling {
    double copyBytesPerSec = 0;
    double setBytesPerSec = 0;
};

inline Ceiling MeasureCeiling(Size s) {
    const size_t bytes = static_cast<size_t>(s.w) * s.h * 4;
    std::vector<uint8_t> a(bytes, 1), b(bytes, 2);
    using clock = std::chrono::steady_clock;
    auto rate = [&](auto&& op) {
        double best = 0;
        for (int round = 0; round < 5; ++round) {
            size_t reps = 0;
            const auto t0 = clock::now();
            auto t1 = t0;
            // Batches keep the clock's own cost out of the 64x64 figure.
            do {
                for (int k = 0; k < 16; ++k) op();
                reps += 16;
                t1 = clock::now();
            } while (t1 - t0 < std::chrono::milliseconds(40));
            const double sec = std::chrono::duration<double>(t1 - t0).count();
            best = std::max(best, static_cast<double>(reps) * bytes / sec);
        }
        return best;
    };
    Ceiling c;
    c.copyBytesPerSec = rate([&] {
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::ClobberMemory();
    });
    c.setBytesPerSec = rate([&] {
        std::memset(b.data(), 0x5A, bytes);
        benchmark::ClobberMemory();
    });
    return c;
}

inline const Ceiling& CeilingFor(Size s) {
    static std::map<std::pair<int32_t, int32_t>, Ceiling> cache;
    auto it = cache.find({s.w, s.h});
    if (it == cache.end()) it = cache.emplace(std::make_pair(s.w, s.h), MeasureCeiling(s)).first;
    return it->second;
}

// Pixels per second, bytes per second (bytes touched per pixel given by the
// caller) and the share of memcpy's and memset's pixel rate at this size.
// The shares are rate counters only so the library divides by the elapsed
// time; the "/s" it prints after them means nothing.
inline void Report(benchmark::State& state, Size s, size_t bytesPerPixel) {
    const int64_t px = static_cast<int64_t>(s.w) * s.h * state.iterations();
    state.SetItemsProcessed(px);
    state.SetBytesProcessed(px * static_cast<int64_t>(bytesPerPixel));
    const Ceiling& c = CeilingFor(s);
    using C = benchmark::Counter;
    // The memcpy ceiling as a pixel rate: 4 bytes per pixel copied.
    state.counters["pct_memcpy"] = C(static_cast<double>(px) * 100.0 / (c.copyBytesPerSec / 4), C::kIsRate);
    state.counters["pct_memset"] = C(static_cast<double>(px) * 100.0 / (c.setBytesPerSec / 4), C::kIsRate);
}

// How two results over w x h pixels (row lengths in pixels) differ: the
// share of pixels whose colour channels differ and the largest channel
// difference. Alpha is left out: the player's kernels define no alpha byte
// for blended pixels, and the anchors each keep their own.
struct Diff {
    double mismatchPct = 0;
    int maxDelta = 0;
};

inline Diff Compare(const uint32_t* a, int32_t aRow, const uint32_t* b, int32_t bRow, int32_t w,
                    int32_t h) {
    Diff d;
    size_t bad = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t p = a[static_cast<size_t>(y) * aRow + x];
            const uint32_t q = b[static_cast<size_t>(y) * bRow + x];
            if (((p ^ q) & 0xFFFFFFu) == 0) continue;
            ++bad;
            for (int sh = 0; sh <= 16; sh += 8) {
                const int dc = static_cast<int>((p >> sh) & 255) - static_cast<int>((q >> sh) & 255);
                d.maxDelta = std::max(d.maxDelta, dc < 0 ? -dc : dc);
            }
        }
    d.mismatchPct = 100.0 * static_cast<double>(bad) / (static_cast<double>(w) * h);
    return d;
}

// The comparison goes into the counters of the anchor's benchmark, so the
// table shows, beside each competitor's speed, whether it computes the same
// pixels; a one-line note goes to stderr when it does not.
inline void NoteDiff(benchmark::State& state, const char* what, Diff d) {
    state.counters["mismatch_pct"] = d.mismatchPct;
    state.counters["max_delta"] = d.maxDelta;
    if (d.mismatchPct > 0) {
        static std::map<std::string, bool> said;
        std::string key = std::string(what) + " " + std::to_string(state.range(0)) + "x" +
                          std::to_string(state.range(1));
        if (!said[key]) {
            said[key] = true;
            std::fprintf(stderr, "differs: %s: %.3f%% of pixels, channels up to %d apart\n",
                         key.c_str(), d.mismatchPct, d.maxDelta);
        }
    }
}

#ifdef QB_BENCH_HAVE_PIXMAN
// pixman's transformed SRC composite scaling one 32-bit buffer into another,
// nearest or bilinear, with edge pixels repeated outwards as the player's
// smooth scaling clamps.
class PixmanScale {
public:
    PixmanScale(uint32_t* src, Size s, uint32_t* dst, Size d, bool smooth)
        : d_(d),
          si_(pixman_image_create_bits(PIXMAN_x8r8g8b8, s.w, s.h, src, s.w * 4)),
          di_(pixman_image_create_bits(PIXMAN_x8r8g8b8, d.w, d.h, dst, d.w * 4)) {
        pixman_transform_t t;
        pixman_transform_init_scale(&t, pixman_double_to_fixed(static_cast<double>(s.w) / d.w),
                                    pixman_double_to_fixed(static_cast<double>(s.h) / d.h));
        pixman_image_set_transform(si_, &t);
        pixman_image_set_filter(si_, smooth ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST, nullptr, 0);
        pixman_image_set_repeat(si_, PIXMAN_REPEAT_PAD);
    }
    ~PixmanScale() {
        pixman_image_unref(si_);
        pixman_image_unref(di_);
    }
    PixmanScale(const PixmanScale&) = delete;
    PixmanScale& operator=(const PixmanScale&) = delete;
    void Run() { pixman_image_composite32(PIXMAN_OP_SRC, si_, nullptr, di_, 0, 0, 0, 0, 0, 0, d_.w, d_.h); }

private:
    Size d_;
    pixman_image_t* si_;
    pixman_image_t* di_;
};
#endif

}  // namespace pixelbench
