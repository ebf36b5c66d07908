// Each pass keeps the rows it reads as doubles in a ring per channel (row r
// in slot r mod k) and writes an output row only once every row that reads
// its old value has been taken in, so the pixels need no copy of their own.
// The blur's horizontal results go into the ring as the byte values the
// plane path would store, so the vertical pass reads the same inputs.
#include "imaging/convolveargb.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>

#include "imaging/simdrows.h"
#include "imaging/tapsums.h"

#if QB_PIXEL_X86
#include <immintrin.h>
#endif

namespace {

// Work rows beyond this are left to the plane path, whose copies the
// player's size limits already cover.
constexpr size_t kMaxWorkDoubles = (size_t{64} << 20) / sizeof(double);

// Rings up to this size (half the second-level cache of the machines the
// player is measured on) are walked together.
constexpr size_t kCachedDoubles = (size_t{1} << 20) / sizeof(double);

constexpr int kShift[3] = {16, 8, 0};

void WidenPlain(const uint32_t* row, size_t from, size_t width, int shift, double* out) {
    for (size_t x = from; x < width; ++x) out[x] = static_cast<int32_t>((row[x] >> shift) & 0xFFu);
}

#if QB_PIXEL_X86
__attribute__((target("avx2"))) void WidenAvx2(const uint32_t* row, size_t width, int shift, double* out) {
    const __m256i ff = _mm256_set1_epi32(0xFF);
    const __m128i count = _mm_cvtsi32_si128(shift);
    size_t x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m256i v = _mm256_and_si256(
            _mm256_srl_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x)), count), ff);
        _mm256_storeu_pd(out + x, _mm256_cvtepi32_pd(_mm256_castsi256_si128(v)));
        _mm256_storeu_pd(out + x + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(v, 1)));
    }
    WidenPlain(row, x, width, shift, out);
}
#endif

// One channel of a row as doubles, after padLeft copies of its first value
// and before padRight copies of its last.
void WidenChannel(const uint32_t* row, size_t width, int shift, size_t padLeft, size_t padRight, double* out) {
    std::fill(out, out + padLeft, static_cast<double>((row[0] >> shift) & 0xFFu));
#if QB_PIXEL_X86
    if (BestKernelIsa() == KernelIsa::Avx2) WidenAvx2(row, width, shift, out + padLeft);
    else WidenPlain(row, 0, width, shift, out + padLeft);
#else
    WidenPlain(row, 0, width, shift, out + padLeft);
#endif
    std::fill(out + padLeft + width, out + padLeft + width + padRight,
              static_cast<double>((row[width - 1] >> shift) & 0xFFu));
}

// Ring rows start on 64-byte lines and span whole lines, so that the wide
// loads of the tap sums never straddle two lines: a buffer with room for
// the shift, and its first aligned element.
constexpr size_t kLineDoubles = 64 / sizeof(double);
size_t LineRound(size_t n) { return (n + kLineDoubles - 1) / kLineDoubles * kLineDoubles; }
double* LineStart(std::vector<double>& v) {
    const auto misalign = reinterpret_cast<uintptr_t>(v.data()) % 64;
    return v.data() + (misalign == 0 ? 0 : (64 - misalign) / sizeof(double));
}

// The three channel rows joined into pixels; the top byte is 0, as the
// plane path's join leaves it.
void JoinRow(const uint8_t* bytes, size_t width, uint32_t* out) {
    const uint8_t* r = bytes;
    const uint8_t* g = bytes + width;
    const uint8_t* b = bytes + 2 * width;
    for (size_t x = 0; x < width; ++x) out[x] = uint32_t{r[x]} << 16 | uint32_t{g[x]} << 8 | b[x];
}

}  // namespace

bool BlurArgb(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch, const std::vector<double>& kernel) {
    const size_t k = kernel.size();
    if (!pixels || width < 1 || height < 1 || k == 0) return false;
    const auto w = static_cast<size_t>(width);
    const auto hgt = static_cast<int64_t>(height);
    if (k > 4 * w || k > 4 * static_cast<size_t>(height) || k * (w + k) > kMaxWorkDoubles / 3) return false;
    const auto half = static_cast<int64_t>(k / 2);
    // All three channels in one walk while their rings fit the nearer
    // caches together; else one channel per walk, each writing only its
    // own byte of the pixels (the later walks read only theirs).
    const size_t group = 3 * k * w <= kCachedDoubles ? 3 : 1;
    std::vector<double> line, acc, ring;
    std::vector<const double*> lineBases, bases;
    std::vector<uint8_t> bytes;
    try {
        line.resize(w + k);
        acc.resize(w);
        ring.resize(group * k * LineRound(w) + kLineDoubles);
        lineBases.resize(k);
        bases.resize(k);
        bytes.resize(3 * w);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (size_t t = 0; t < k; ++t) lineBases[t] = line.data() + t;
    double* const rows = LineStart(ring);
    const size_t stride = LineRound(w);
    const auto slot = [&](size_t g, int64_t r) {
        return rows + (g * k + static_cast<size_t>(r % static_cast<int64_t>(k))) * stride;
    };
    for (size_t first = 0; first < 3; first += group) {
        int64_t taken = -1;
        for (int64_t y = 0; y < hgt; ++y) {
            for (const int64_t need = std::min(hgt - 1, y + half); taken < need;) {
                ++taken;
                const uint32_t* in = pixels + static_cast<ptrdiff_t>(taken) * pitch;
                for (size_t g = 0; g < group; ++g) {
                    WidenChannel(in, w, kShift[first + g], k / 2, k - k / 2, line.data());
                    SumTapsToValues(lineBases.data(), kernel.data(), k, w, slot(g, taken));
                }
            }
            for (size_t g = 0; g < group; ++g) {
                for (size_t t = 0; t < k; ++t)
                    bases[t] = slot(g, std::clamp<int64_t>(y + static_cast<int64_t>(t) - half, 0, hgt - 1));
                SumTapsToBytes(bases.data(), kernel.data(), k, w, acc.data(), bytes.data() + (first + g) * w);
            }
            uint32_t* out = pixels + static_cast<ptrdiff_t>(y) * pitch;
            if (group == 3) {
                JoinRow(bytes.data(), w, out);
                continue;
            }
            // The first walk also clears the top byte, as the join does.
            const int shift = kShift[first];
            const uint32_t keep = first == 0 ? 0x0000FFFFu : ~(0xFFu << shift);
            const uint8_t* v = bytes.data() + first * w;
            for (size_t x = 0; x < w; ++x) out[x] = (out[x] & keep) | uint32_t{v[x]} << shift;
        }
    }
    return true;
}

bool Convolve2DArgb(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch, const std::vector<double>& kernel,
                    int64_t k) {
    if (!pixels || width < 1 || height < 1 || k < 1 || k > width || k > height) return false;
    const auto kk = static_cast<size_t>(k);
    const auto w = static_cast<size_t>(width);
    const size_t span = w + kk - 1;
    if (kk * span > kMaxWorkDoubles / 3 || kernel.size() != kk * kk) return false;
    const auto hgt = static_cast<int64_t>(height);
    const int64_t half = k / 2;
    // The taps in summing order, those of weight 0 left out, as for planes.
    KernelTaps taps;
    std::vector<double> acc, ring;
    std::vector<const double*> bases;
    std::vector<uint8_t> bytes;
    try {
        CollectTaps(kernel.data(), kk, &taps);
        bases.resize(taps.weights.size());
        acc.resize(w);
        ring.resize(3 * kk * LineRound(span) + kLineDoubles);
        bytes.resize(3 * w);
    } catch (const std::bad_alloc&) {
        return false;
    }
    double* const rows = LineStart(ring);
    const size_t stride = LineRound(span);
    const auto slot = [&](size_t c, size_t e) { return rows + (c * kk + e % kk) * stride; };
    // Extended row e is the pixels' row clamp(e - k/2), extended by k/2 on
    // the left and the rest of the window on the right.
    const auto widen = [&](size_t e) {
        const int64_t r = std::clamp<int64_t>(static_cast<int64_t>(e) - half, 0, hgt - 1);
        const uint32_t* in = pixels + static_cast<ptrdiff_t>(r) * pitch;
        for (size_t c = 0; c < 3; ++c)
            WidenChannel(in, w, kShift[c], static_cast<size_t>(half), kk - 1 - static_cast<size_t>(half), slot(c, e));
    };
    for (size_t e = 0; e + 1 < kk; ++e) widen(e);
    for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
        widen(y + kk - 1);
        for (size_t c = 0; c < 3; ++c) {
            for (size_t i = 0; i < taps.weights.size(); ++i) bases[i] = slot(c, y + taps.rowOf[i]) + taps.columnOf[i];
            SumTapsToBytes(bases.data(), taps.weights.data(), bases.size(), w, acc.data(), bytes.data() + c * w);
        }
        JoinRow(bytes.data(), w, pixels + static_cast<ptrdiff_t>(y) * pitch);
    }
    return true;
}
