// The player's 4-byte pixel kernels against memcpy/memset and against the
// same operations in pixman and SDL2, where the distribution has them. Each
// anchor's result is compared with the player's before either is timed; the
// counters mismatch_pct and max_delta say how far apart they are (the
// weighted blends round differently by design: the player's mix is
// d + ((c - d) * w >> 8), pixman and SDL divide by 255).

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "imaging/kernels.h"
#include "imaging/planekernels.h"
#include "pixelbench.h"

#ifdef QB_BENCH_HAVE_PIXMAN
#include <pixman.h>
#endif
#ifdef QB_BENCH_HAVE_SDL2
#include <SDL.h>
#endif

using namespace pixelbench;

namespace {

constexpr uint32_t kFormatARGB = 10;
constexpr uint32_t kFillColour = 0xFF3A7BC5u;
constexpr uint32_t kBlendLevel = 100;  // neither 0, 255 nor a power of two

Size SizeOf(const benchmark::State& state) {
    return {static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1))};
}

size_t Count(Size s) { return static_cast<size_t>(s.w) * s.h; }

PixelRows32 Rows(std::vector<uint32_t>& v, Size s) { return {v.data(), s.w, 0, 0}; }

// A 1-bit mask with the shape of a sprite: long runs of set and clear bits
// with some ragged bytes between them.
std::vector<uint8_t> SpriteMask(Size s, int32_t rowBytes, uint64_t seed) {
    std::vector<uint8_t> m(static_cast<size_t>(rowBytes) * s.h, 0);
    Rng r(seed);
    for (auto& b : m) {
        const uint32_t v = r.Next() & 255;
        b = v < 100 ? 0xFF : v < 200 ? 0x00 : static_cast<uint8_t>(r.Next());
    }
    return m;
}

int32_t Stride4(int32_t bytes) { return (bytes + 3) & ~3; }

#ifdef QB_BENCH_HAVE_PIXMAN
pixman_image_t* PixmanImage(pixman_format_code_t f, Size s, void* bits, int32_t strideBytes) {
    return pixman_image_create_bits(f, s.w, s.h, static_cast<uint32_t*>(bits), strideBytes);
}

// pixman's a1 holds the leftmost pixel in the least significant bit.
std::vector<uint8_t> ToPixmanA1(const std::vector<uint8_t>& m) {
    std::vector<uint8_t> out(m.size());
    for (size_t i = 0; i < m.size(); ++i) {
        uint8_t b = m[i], r = 0;
        for (int k = 0; k < 8; ++k) r = static_cast<uint8_t>(r | (((b >> k) & 1) << (7 - k)));
        out[i] = r;
    }
    return out;
}
#endif

#ifdef QB_BENCH_HAVE_SDL2
SDL_Surface* SdlSurface(std::vector<uint32_t>& v, Size s, uint32_t format) {
    return SDL_CreateRGBSurfaceWithFormatFrom(v.data(), s.w, s.h, 32, s.w * 4, format);
}

// Blits once and compares the destination with what the player made, then
// times the blit; frees both surfaces.
void TimeSdlBlit(benchmark::State& state, SDL_Surface* ss, SDL_Surface* ds, const char* what, const uint32_t* dst,
                 const uint32_t* expected, Size s) {
    SDL_BlitSurface(ss, nullptr, ds, nullptr);
    NoteDiff(state, what, Compare(dst, s.w, expected, s.w, s.w, s.h));
    for (auto _ : state) {
        SDL_BlitSurface(ss, nullptr, ds, nullptr);
        benchmark::ClobberMemory();
    }
    SDL_FreeSurface(ss);
    SDL_FreeSurface(ds);
    Report(state, s, 8);
}
#endif

// ---- plain copy --------------------------------------------------------

void BM_Copy_memcpy(benchmark::State& state) {
    const Size s = SizeOf(state);
    auto src = RandomPixels(Count(s), 1), dst = RandomPixels(Count(s), 2);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), Count(s) * 4);
        benchmark::ClobberMemory();
    }
    Report(state, s, 8);
}

void BM_Copy_CopyRect32(benchmark::State& state) {
    const Size s = SizeOf(state);
    auto src = RandomPixels(Count(s), 1), dst = RandomPixels(Count(s), 2);
    CopyRect32(Rows(dst, s), Rows(src, s), s.w, s.h);
    NoteDiff(state, "CopyRect32 vs memcpy", Compare(dst.data(), s.w, src.data(), s.w, s.w, s.h));
    for (auto _ : state) {
        CopyRect32(Rows(dst, s), Rows(src, s), s.w, s.h);
        benchmark::ClobberMemory();
    }
    Report(state, s, 8);
}

#ifdef QB_BENCH_HAVE_PIXMAN
void BM_Copy_pixman_SRC(benchmark::State& state) {
    const Size s = SizeOf(state);
    auto src = RandomPixels(Count(s), 1), dst = RandomPixels(Count(s), 2);
    auto* si = PixmanImage(PIXMAN_x8r8g8b8, s, src.data(), s.w * 4);
    auto* di = PixmanImage(PIXMAN_x8r8g8b8, s, dst.data(), s.w * 4);
    pixman_image_composite32(PIXMAN_OP_SRC, si, nullptr, di, 0, 0, 0, 0, 0, 0, s.w, s.h);
    NoteDiff(state, "pixman SRC vs memcpy", Compare(dst.data(), s.w, src.data(), s.w, s.w, s.h));
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, si, nullptr, di, 0, 0, 0, 0, 0, 0, s.w, s.h);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(si);
    pixman_image_unref(di);
    Report(state, s, 8);
}
#endif

#ifdef QB_BENCH_HAVE_SDL2
void BM_Copy_SDL_BlitSurface(benchmark::State& state) {
    const Size s = SizeOf(state);
    auto src = RandomPixels(Count(s), 1), dst = RandomPixels(Count(s), 2);
    SDL_Surface* ss = SdlSurface(src, s, SDL_PIXELFORMAT_RGB888);
    SDL_Surface* ds = SdlSurface(dst, s, SDL_PIXELFORMAT_RGB888);
    SDL_SetSurfaceBlendMode(ss, SDL_BLENDMODE_NONE);
    TimeSdlBlit(state, ss, ds, "SDL_BlitSurface vs memcpy", dst.data(), src.data(), s);
}
#endif

// ---- plain fill --------------------------------------------------------

void BM_Fill_memset(benchmark::State& state) {
    const Size s = SizeOf(state);
    auto dst = RandomPixels(Count(s), 2);
    for (auto _ : state) {
        std::memset(dst.data(), 0x5A, Count(s) * 4);
        benchmark::ClobberMemory();
    }
    Report(state, s, 4);
}

void BM_Fill_FillRect32(benchmark::State& state) {
    const Size s = SizeOf(state);
    auto dst = RandomPixels(Count(s), 2);
    std::vector<uint32_t> want(Count(s), kFillColour);
    FillRect32(Rows(dst, s), s.w, s.h, kFillColour);
    NoteDiff(state, "FillRect32 vs fill_n", Compare(dst.data(), s.w, want.data(), s.w, s.w, s.h));
    for (auto _ : state) {
        FillRect32(Rows(dst, s), s.w, s.h, kFillColour);
        benchmark::ClobberMemory();
    }
    Report(state, s, 4);
}

#ifdef QB_BENCH_HAVE_PIXMAN
void BM_Fill_pixman_fill(benchmark::State& state) {
    const Size s = SizeOf(state);
    auto dst = RandomPixels(Count(s), 2);
    std::vector<uint32_t> want(Count(s), kFillColour);
    auto fill = [&] {
        pixman_fill(dst.data(), s.w, 32, 0, 0, s.w, s.h, kFillColour);
    };
    fill();
    NoteDiff(state, "pixman_fill", Compare(dst.data(), s.w, want.data(), s.w, s.w, s.h));
    for (auto _ : state) {
        fill();
        benchmark::ClobberMemory();
    }
    Report(state, s, 4);
}
#endif

#ifdef QB_BENCH_HAVE_SDL2
void BM_Fill_SDL_FillRect(benchmark::State& state) {
    const Size s = SizeOf(state);
    auto dst = RandomPixels(Count(s), 2);
    std::vector<uint32_t> want(Count(s), kFillColour);
    SDL_Surface* ds = SdlSurface(dst, s, SDL_PIXELFORMAT_ARGB8888);
    SDL_FillRect(ds, nullptr, kFillColour);
    NoteDiff(state, "SDL_FillRect", Compare(dst.data(), s.w, want.data(), s.w, s.w, s.h));
    for (auto _ : state) {
        SDL_FillRect(ds, nullptr, kFillColour);
        benchmark::ClobberMemory();
    }
    SDL_FreeSurface(ds);
    Report(state, s, 4);
}
#endif

// ---- alpha blend: source pixels weighted by a separate 8-bit plane -------

struct BlendData {
    Size s;
    std::vector<uint32_t> src, dst0, dst;
    std::vector<uint8_t> alpha;
    int32_t alphaRow;
    explicit BlendData(Size sz)
        : s(sz), src(RandomPixels(Count(sz), 3, 0xFF000000u)), dst0(RandomPixels(Count(sz), 4)),
          dst(dst0), alphaRow(Stride4(sz.w)) {
        alpha = SpriteAlpha(s.w, s.h, alphaRow, 5);
    }
    void Ours() {
        AlphaBlend32(Rows(dst, s), Rows(src, s), AlphaRows{alpha.data(), alphaRow, 0, 0}, s.w, s.h,
                     kFormatARGB);
    }
    std::vector<uint32_t> OursOnce() {
        dst = dst0;
        Ours();
        auto out = dst;
        dst = dst0;
        return out;
    }
};

void BM_AlphaBlend_AlphaBlend32(benchmark::State& state) {
    BlendData d(SizeOf(state));
    auto ref = d.dst0;
    AlphaBlend32Ref(Rows(ref, d.s), Rows(d.src, d.s), AlphaRows{d.alpha.data(), d.alphaRow, 0, 0},
                    d.s.w, d.s.h, kFormatARGB);
    auto got = d.OursOnce();
    NoteDiff(state, "AlphaBlend32 vs its reference",
             Compare(got.data(), d.s.w, ref.data(), d.s.w, d.s.w, d.s.h));
    for (auto _ : state) {
        d.Ours();
        benchmark::ClobberMemory();
    }
    Report(state, d.s, 9);
}

#ifdef QB_BENCH_HAVE_PIXMAN
// One pixman OVER composite of the whole picture: compared once with our
// result, then timed. The images are released afterwards.
void TimePixmanOver(benchmark::State& state, const char* what, pixman_image_t* si, pixman_image_t* mi,
                    pixman_image_t* di, const Size& s, const uint32_t* dst, const std::vector<uint32_t>& ours,
                    int bytesPerPixel) {
    auto run = [&] { pixman_image_composite32(PIXMAN_OP_OVER, si, mi, di, 0, 0, 0, 0, 0, 0, s.w, s.h); };
    run();
    NoteDiff(state, what, Compare(dst, s.w, ours.data(), s.w, s.w, s.h));
    for (auto _ : state) {
        run();
        benchmark::ClobberMemory();
    }
    for (pixman_image_t* image : {si, mi, di})
        if (image != nullptr) pixman_image_unref(image);
    Report(state, s, bytesPerPixel);
}
#endif

#ifdef QB_BENCH_HAVE_PIXMAN
// The same data as the player's: opaque source, 8-bit mask, opaque target.
void BM_AlphaBlend_pixman_OVER_a8(benchmark::State& state) {
    BlendData d(SizeOf(state));
    auto* si = PixmanImage(PIXMAN_x8r8g8b8, d.s, d.src.data(), d.s.w * 4);
    auto* mi = PixmanImage(PIXMAN_a8, d.s, d.alpha.data(), d.alphaRow);
    auto* di = PixmanImage(PIXMAN_x8r8g8b8, d.s, d.dst.data(), d.s.w * 4);
    auto ours = d.OursOnce();
    TimePixmanOver(state, "pixman OVER a8 vs AlphaBlend32", si, mi, di, d.s, d.dst.data(), ours, 9);
}

// pixman's best case for reference: alpha already premultiplied into the
// source pixels, no separate plane.
void BM_AlphaBlend_pixman_OVER_premultiplied(benchmark::State& state) {
    BlendData d(SizeOf(state));
    std::vector<uint32_t> pre(d.src.size());
    for (int32_t y = 0; y < d.s.h; ++y)
        for (int32_t x = 0; x < d.s.w; ++x) {
            const uint32_t a = d.alpha[static_cast<size_t>(y) * d.alphaRow + x];
            const uint32_t p = d.src[static_cast<size_t>(y) * d.s.w + x];
            uint32_t q = a << 24;
            for (int sh = 0; sh <= 16; sh += 8) q |= (((p >> sh) & 255) * a + 127) / 255 << sh;
            pre[static_cast<size_t>(y) * d.s.w + x] = q;
        }
    auto* si = PixmanImage(PIXMAN_a8r8g8b8, d.s, pre.data(), d.s.w * 4);
    auto* di = PixmanImage(PIXMAN_x8r8g8b8, d.s, d.dst.data(), d.s.w * 4);
    auto ours = d.OursOnce();
    TimePixmanOver(state, "pixman OVER premultiplied vs AlphaBlend32", si, nullptr, di, d.s, d.dst.data(), ours, 8);
}
#endif

#ifdef QB_BENCH_HAVE_SDL2
// SDL takes the weight from the source pixel's own alpha byte.
void BM_AlphaBlend_SDL_BlitSurface(benchmark::State& state) {
    BlendData d(SizeOf(state));
    std::vector<uint32_t> withAlpha(d.src.size());
    for (int32_t y = 0; y < d.s.h; ++y)
        for (int32_t x = 0; x < d.s.w; ++x)
            withAlpha[static_cast<size_t>(y) * d.s.w + x] =
                (d.src[static_cast<size_t>(y) * d.s.w + x] & 0xFFFFFFu) |
                (static_cast<uint32_t>(d.alpha[static_cast<size_t>(y) * d.alphaRow + x]) << 24);
    SDL_Surface* ss = SdlSurface(withAlpha, d.s, SDL_PIXELFORMAT_ARGB8888);
    SDL_Surface* ds = SdlSurface(d.dst, d.s, SDL_PIXELFORMAT_RGB888);
    SDL_SetSurfaceBlendMode(ss, SDL_BLENDMODE_BLEND);
    auto ours = d.OursOnce();
    TimeSdlBlit(state, ss, ds, "SDL_BlitSurface blend vs AlphaBlend32", d.dst.data(), ours.data(), d.s);
}
#endif

// ---- masked copy: source pixels where a 1-bit mask is set ----------------

struct MaskData {
    Size s;
    std::vector<uint32_t> src, dst0, dst;
    std::vector<uint8_t> mask;
    int32_t maskRow;
    explicit MaskData(Size sz)
        : s(sz), src(RandomPixels(Count(sz), 6, 0xFF000000u)), dst0(RandomPixels(Count(sz), 7)),
          dst(dst0), maskRow(Stride4((sz.w + 7) / 8)) {
        mask = SpriteMask(s, maskRow, 8);
    }
    bool Bit(int32_t x, int32_t y) const {
        return (mask[static_cast<size_t>(y) * maskRow + x / 8] & (0x80u >> (x % 8))) != 0;
    }
    void Ours() { MaskedCopy32(Rows(dst, s), Rows(src, s), MaskRows{mask.data(), maskRow, 0, 0}, s.w, s.h); }
    std::vector<uint32_t> OursOnce() {
        dst = dst0;
        Ours();
        auto out = dst;
        dst = dst0;
        return out;
    }
};

void BM_MaskedCopy_MaskedCopy32(benchmark::State& state) {
    MaskData d(SizeOf(state));
    auto ref = d.dst0;
    MaskedCopy32Ref(Rows(ref, d.s), Rows(d.src, d.s), MaskRows{d.mask.data(), d.maskRow, 0, 0}, d.s.w,
                    d.s.h);
    auto got = d.OursOnce();
    NoteDiff(state, "MaskedCopy32 vs its reference",
             Compare(got.data(), d.s.w, ref.data(), d.s.w, d.s.w, d.s.h));
    for (auto _ : state) {
        d.Ours();
        benchmark::ClobberMemory();
    }
    Report(state, d.s, 8);
}

#ifdef QB_BENCH_HAVE_PIXMAN
void BM_MaskedCopy_pixman_OVER_a1(benchmark::State& state) {
    MaskData d(SizeOf(state));
    auto a1 = ToPixmanA1(d.mask);
    auto* si = PixmanImage(PIXMAN_x8r8g8b8, d.s, d.src.data(), d.s.w * 4);
    auto* mi = PixmanImage(PIXMAN_a1, d.s, a1.data(), d.maskRow);
    auto* di = PixmanImage(PIXMAN_x8r8g8b8, d.s, d.dst.data(), d.s.w * 4);
    auto ours = d.OursOnce();
    TimePixmanOver(state, "pixman OVER a1 vs MaskedCopy32", si, mi, di, d.s, d.dst.data(), ours, 8);
}
#endif

#ifdef QB_BENCH_HAVE_SDL2
// SDL's way to the same result: a key colour in the source where the mask
// is clear (and nowhere else).
void BM_MaskedCopy_SDL_colorkey(benchmark::State& state) {
    MaskData d(SizeOf(state));
    constexpr uint32_t kKey = 0x00FF00FFu;
    std::vector<uint32_t> keyed(d.src.size());
    for (int32_t y = 0; y < d.s.h; ++y)
        for (int32_t x = 0; x < d.s.w; ++x) {
            uint32_t p = d.src[static_cast<size_t>(y) * d.s.w + x] & 0xFFFFFFu;
            if (p == kKey) p ^= 1;
            keyed[static_cast<size_t>(y) * d.s.w + x] = d.Bit(x, y) ? p : kKey;
        }
    // The player's copy must see the same source colours for the comparison.
    for (size_t i = 0; i < keyed.size(); ++i) d.src[i] = keyed[i];
    SDL_Surface* ss = SdlSurface(keyed, d.s, SDL_PIXELFORMAT_RGB888);
    SDL_Surface* ds = SdlSurface(d.dst, d.s, SDL_PIXELFORMAT_RGB888);
    SDL_SetColorKey(ss, SDL_TRUE, kKey);
    auto ours = d.OursOnce();
    TimeSdlBlit(state, ss, ds, "SDL colour-key blit vs MaskedCopy32", d.dst.data(), ours.data(), d.s);
}
#endif

// ---- blended fill: one colour mixed into every pixel at a fixed level ----

void BM_BlendFill_BlendFill32(benchmark::State& state) {
    const Size s = SizeOf(state);
    auto dst0 = RandomPixels(Count(s), 9);
    auto ref = dst0, dst = dst0;
    BlendFill32Ref(Rows(ref, s), s.w, s.h, kFormatARGB, kFillColour, kBlendLevel);
    BlendFill32(Rows(dst, s), s.w, s.h, kFormatARGB, kFillColour, kBlendLevel);
    NoteDiff(state, "BlendFill32 vs its reference", Compare(dst.data(), s.w, ref.data(), s.w, s.w, s.h));
    for (auto _ : state) {
        BlendFill32(Rows(dst, s), s.w, s.h, kFormatARGB, kFillColour, kBlendLevel);
        benchmark::ClobberMemory();
    }
    Report(state, s, 8);
}

std::vector<uint32_t> OursBlendFill(Size s, const std::vector<uint32_t>& dst0) {
    auto out = dst0;
    BlendFill32(Rows(out, s), s.w, s.h, kFormatARGB, kFillColour, kBlendLevel);
    return out;
}

#ifdef QB_BENCH_HAVE_PIXMAN
void BM_BlendFill_pixman_OVER_solid(benchmark::State& state) {
    const Size s = SizeOf(state);
    auto dst = RandomPixels(Count(s), 9);
    auto ours = OursBlendFill(s, dst);
    auto premul = [](uint32_t c) { return static_cast<uint16_t>((c * kBlendLevel + 127) / 255 * 257); };
    pixman_color_t colour{premul((kFillColour >> 16) & 255), premul((kFillColour >> 8) & 255),
                          premul(kFillColour & 255), static_cast<uint16_t>(kBlendLevel * 257)};
    auto* si = pixman_image_create_solid_fill(&colour);
    auto* di = PixmanImage(PIXMAN_x8r8g8b8, s, dst.data(), s.w * 4);
    TimePixmanOver(state, "pixman OVER solid vs BlendFill32", si, nullptr, di, s, dst.data(), ours, 8);
}
#endif

#ifdef QB_BENCH_HAVE_SDL2
// SDL has no blended fill; the nearest is a blit of a one-colour surface at
// a constant alpha, which also reads that surface.
void BM_BlendFill_SDL_alphamod_blit(benchmark::State& state) {
    const Size s = SizeOf(state);
    auto dst = RandomPixels(Count(s), 9);
    auto ours = OursBlendFill(s, dst);
    std::vector<uint32_t> solid(Count(s), kFillColour & 0xFFFFFFu);
    SDL_Surface* ss = SdlSurface(solid, s, SDL_PIXELFORMAT_RGB888);
    SDL_Surface* ds = SdlSurface(dst, s, SDL_PIXELFORMAT_RGB888);
    SDL_SetSurfaceBlendMode(ss, SDL_BLENDMODE_BLEND);
    SDL_SetSurfaceAlphaMod(ss, static_cast<uint8_t>(kBlendLevel));
    TimeSdlBlit(state, ss, ds, "SDL alpha-mod blit vs BlendFill32", dst.data(), ours.data(), s);
}
#endif

// ---- ARGB import: an ARGB buffer converted into a bitmap's format ----------

// The player's formats and SDL's names for the same memory layout: 10 is
// ARGB itself, 11-13 move the bytes (alpha included), 4 narrows to RGB565.
struct ImportFormat {
    int32_t format;
    uint32_t sdl;
};
constexpr ImportFormat kImportFormats[] = {
#ifdef QB_BENCH_HAVE_SDL2
    {10, SDL_PIXELFORMAT_ARGB8888}, {11, SDL_PIXELFORMAT_BGRA8888}, {12, SDL_PIXELFORMAT_RGBA8888},
    {13, SDL_PIXELFORMAT_ABGR8888}, {4, SDL_PIXELFORMAT_RGB565},
#else
    {10, 0}, {11, 0}, {12, 0}, {13, 0}, {4, 0},
#endif
};

void ImportArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"w", "h", "format"});
    for (const ImportFormat& f : kImportFormats)
        for (const Size& s : Sizes()) b->Args({s.w, s.h, f.format});
}

struct ImportData {
    Size s;
    int32_t format;
    std::vector<uint32_t> src, dst;
    explicit ImportData(const benchmark::State& state)
        : s(SizeOf(state)), format(static_cast<int32_t>(state.range(2))), src(RandomPixels(Count(s), 12)),
          dst(Count(s), 0) {}
    int32_t BytesPerPixel() const { return format >= 10 ? 4 : 2; }
    void Ours() {
        const ArgbRows in{src.data(), s.w, 0, 0};
        if (format >= 10) ImportARGB32(Rows(dst, s), in, s.w, s.h, static_cast<uint32_t>(format));
        else ImportARGB16({reinterpret_cast<uint16_t*>(dst.data()), s.w, 0, 0}, in, s.w, s.h, format);
    }
    // The share of differing pixels between two results in this format.
    double MismatchPct(const std::vector<uint32_t>& other) const {
        const auto* a = reinterpret_cast<const uint8_t*>(dst.data());
        const auto* b = reinterpret_cast<const uint8_t*>(other.data());
        const size_t bpp = static_cast<size_t>(BytesPerPixel());
        size_t bad = 0;
        for (size_t i = 0; i < Count(s); ++i) bad += std::memcmp(a + i * bpp, b + i * bpp, bpp) != 0;
        return 100.0 * static_cast<double>(bad) / static_cast<double>(Count(s));
    }
};

void BM_Import_ImportARGB(benchmark::State& state) {
    ImportData d(state);
    auto ref = d.dst;
    const ArgbRows in{d.src.data(), d.s.w, 0, 0};
    if (d.format >= 10) ImportARGB32Ref(Rows(ref, d.s), in, d.s.w, d.s.h, static_cast<uint32_t>(d.format));
    else ImportARGB16Ref({reinterpret_cast<uint16_t*>(ref.data()), d.s.w, 0, 0}, in, d.s.w, d.s.h, d.format);
    d.Ours();
    state.counters["mismatch_pct"] = d.MismatchPct(ref);
    for (auto _ : state) {
        d.Ours();
        benchmark::ClobberMemory();
    }
    Report(state, d.s, 4 + static_cast<size_t>(d.BytesPerPixel()));
}

#ifdef QB_BENCH_HAVE_SDL2
void BM_Import_SDL_ConvertPixels(benchmark::State& state) {
    ImportData d(state);
    d.Ours();
    const auto ours = d.dst;
    uint32_t sdlFormat = 0;
    for (const ImportFormat& f : kImportFormats)
        if (f.format == d.format) sdlFormat = f.sdl;
    const int pitch = d.s.w * d.BytesPerPixel();
    auto run = [&] {
        SDL_ConvertPixels(d.s.w, d.s.h, SDL_PIXELFORMAT_ARGB8888, d.src.data(), d.s.w * 4, sdlFormat, d.dst.data(),
                          pitch);
    };
    run();
    state.counters["mismatch_pct"] = d.MismatchPct(ours);
    for (auto _ : state) {
        run();
        benchmark::ClobberMemory();
    }
    Report(state, d.s, 4 + static_cast<size_t>(d.BytesPerPixel()));
}
#endif

}  // namespace

BENCHMARK(BM_Copy_memcpy)->Apply(SizeArgs);
BENCHMARK(BM_Copy_CopyRect32)->Apply(SizeArgs);
#ifdef QB_BENCH_HAVE_PIXMAN
BENCHMARK(BM_Copy_pixman_SRC)->Apply(SizeArgs);
#endif
#ifdef QB_BENCH_HAVE_SDL2
BENCHMARK(BM_Copy_SDL_BlitSurface)->Apply(SizeArgs);
#endif
BENCHMARK(BM_Fill_memset)->Apply(SizeArgs);
BENCHMARK(BM_Fill_FillRect32)->Apply(SizeArgs);
#ifdef QB_BENCH_HAVE_PIXMAN
BENCHMARK(BM_Fill_pixman_fill)->Apply(SizeArgs);
#endif
#ifdef QB_BENCH_HAVE_SDL2
BENCHMARK(BM_Fill_SDL_FillRect)->Apply(SizeArgs);
#endif
BENCHMARK(BM_AlphaBlend_AlphaBlend32)->Apply(SizeArgs);
#ifdef QB_BENCH_HAVE_PIXMAN
BENCHMARK(BM_AlphaBlend_pixman_OVER_a8)->Apply(SizeArgs);
BENCHMARK(BM_AlphaBlend_pixman_OVER_premultiplied)->Apply(SizeArgs);
#endif
#ifdef QB_BENCH_HAVE_SDL2
BENCHMARK(BM_AlphaBlend_SDL_BlitSurface)->Apply(SizeArgs);
#endif
BENCHMARK(BM_MaskedCopy_MaskedCopy32)->Apply(SizeArgs);
#ifdef QB_BENCH_HAVE_PIXMAN
BENCHMARK(BM_MaskedCopy_pixman_OVER_a1)->Apply(SizeArgs);
#endif
#ifdef QB_BENCH_HAVE_SDL2
BENCHMARK(BM_MaskedCopy_SDL_colorkey)->Apply(SizeArgs);
#endif
BENCHMARK(BM_BlendFill_BlendFill32)->Apply(SizeArgs);
#ifdef QB_BENCH_HAVE_PIXMAN
BENCHMARK(BM_BlendFill_pixman_OVER_solid)->Apply(SizeArgs);
#endif
#ifdef QB_BENCH_HAVE_SDL2
BENCHMARK(BM_BlendFill_SDL_alphamod_blit)->Apply(SizeArgs);
#endif
BENCHMARK(BM_Import_ImportARGB)->Apply(ImportArgs);
#ifdef QB_BENCH_HAVE_SDL2
BENCHMARK(BM_Import_SDL_ConvertPixels)->Apply(ImportArgs);
#endif
