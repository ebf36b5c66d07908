// Rendering a module: per internal sample the channels' bytes are summed
// by pan into two sides, optionally low-pass filtered, clamped, and pairs
// of internal samples make one output frame.
#include <algorithm>
#include <cstddef>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "sound/modplayer.h"

namespace {

// Takes a jump asked for by the position commands before anything plays.
void TakePendingJump(ModPlayer& p) {
    qbModulePosition& shared = p;
    if (!shared.jump.exchange(false, std::memory_order_acquire)) return;
    const int to = shared.jumpTo.load(std::memory_order_relaxed);
    p.position = to >= 0 && to < p.songLength ? to : 0;
    p.patternRow = 0;
    p.tick = 0;
    p.tickCounter = 0;
    p.patternDelay = 0;
    p.delayRepeat = false;
    p.patternLoopJump = false;
    p.jumpPosition = p.breakRow = -1;
}

// At the loop end the position goes back by the loop (a pending instrument
// takes over there); at the end of a sample without a loop the channel
// stops. False when it stopped.
bool PastTheEnd(ModPlayer& p, ModChannelState& ch) {
    const ModInstrument* in = &p.instruments[static_cast<size_t>(ch.instrument - 1)];
    if (!in->loopEnd) {
        ch.active = false;
        return false;
    }
    if (ch.pendingInstrument) {
        ch.instrument = ch.pendingInstrument;
        ch.pendingInstrument = 0;
        in = &p.instruments[static_cast<size_t>(ch.instrument - 1)];
        if (!in->loopEnd) {
            ch.active = false;
            return false;
        }
    }
    // A step longer than the loop wraps as often as it must.
    if (ch.position >= in->loopStart) {
        ch.position = in->loopStart + (ch.position - in->loopStart) % in->loopLength;
    } else {
        ch.position = in->loopStart;
    }
    return true;
}

// Adds a channel's next count internal samples, by pan, to the two sides.
// The parser keeps every instrument's bytes and loop inside the data.
void MixChannel(ModPlayer& p, ModChannelState& ch, int32_t* a, int32_t* b, int count) {
    if (!ch.active || !ch.instrument) return;
    const int32_t left = ch.outVolume * ch.pan, right = ch.outVolume * (255 - ch.pan);
    for (int k = 0; k < count;) {
        const ModInstrument& in = p.instruments[static_cast<size_t>(ch.instrument - 1)];
        const uint32_t end = in.loopEnd ? in.loopEnd : in.length;
        if (ch.position >= end) {
            if (!PastTheEnd(p, ch)) return;
            continue;
        }
        const int8_t* data = p.samples.data() + in.offset;
        uint32_t pos = ch.position;
        const uint32_t step = ch.step;
        // Hard pans reach one side only: that side alone is walked.
        const int last = std::min<int64_t>(count, k + (step ? (int64_t{end} - pos + step - 1) / step : count)) ;
        if (right == 0) {
            for (; k < last; ++k, pos += step) a[k] += data[pos >> kModFixedShift] * left;
        } else if (left == 0) {
            for (; k < last; ++k, pos += step) b[k] += data[pos >> kModFixedShift] * right;
        } else {
            for (; k < last; ++k, pos += step) {
                const int32_t v = data[pos >> kModFixedShift];
                a[k] += v * left;
                b[k] += v * right;
            }
        }
        ch.position = pos;
        if (!step) return;
    }
}

#if !defined(__SSE2__)
// Two passes of the one-pole low-pass over one side; h holds x_prev and
// y_prev of each pass.
inline double Filter(double* h, double a, double b, double x) {
    for (size_t pass = 0; pass < 2; ++pass, h += 2) {
        const double y = (x + h[0]) * b + a * h[1];
        h[0] = x;
        h[1] = y;
        x = y;
    }
    return x;
}

int Clamp16(double v) { return static_cast<int>(std::clamp(v, -32768.0, 32767.0)); }
#endif

#if defined(__SSE2__)
// The filter's history as two lanes, the first side in lane 0.
struct FilterLanes {
    __m128d x1, y1, x2, y2;
};

FilterLanes LoadLanes(const ModPlayer& p) {
    const double* h = p.filterHistory.data();
    return {_mm_set_pd(h[4], h[0]), _mm_set_pd(h[5], h[1]), _mm_set_pd(h[6], h[2]), _mm_set_pd(h[7], h[3])};
}

void StoreLanes(ModPlayer& p, const FilterLanes& f) {
    double* h = p.filterHistory.data();
    const __m128d* v[4] = {&f.x1, &f.y1, &f.x2, &f.y2};
    for (size_t i = 0; i < 4; ++i) {
        _mm_storel_pd(h + i, *v[i]);
        _mm_storeh_pd(h + 4 + i, *v[i]);
    }
}

// True for the pans every module starts with and keeps: channels 1 and 2
// on the first side, 0 and 3 on the second.
bool StandardPans(const ModPlayer& p) {
    return p.channels[0].pan == 0 && p.channels[1].pan == 255 && p.channels[2].pan == 255 && p.channels[3].pan == 0;
}

// One channel's walk over a run: a silent one reads a zero byte in place.
struct Voice {
    const int8_t* data;
    uint32_t pos, step;
    int32_t volume;
};

// Readies the channel for mixing and gives how many internal samples it
// plays before its end or loop end (at most limit).
int StartVoice(ModPlayer& p, ModChannelState& ch, int limit, Voice& v) {
    static const int8_t kSilence = 0;
    v = {&kSilence, 0, 0, 0};
    if (!ch.active || !ch.instrument) return limit;
    for (;;) {
        const ModInstrument& in = p.instruments[static_cast<size_t>(ch.instrument - 1)];
        const uint32_t end = in.loopEnd ? in.loopEnd : in.length;
        if (ch.position >= end) {
            if (!PastTheEnd(p, ch)) return limit;
            continue;
        }
        v = {p.samples.data() + in.offset, ch.position, ch.step, ch.outVolume * 255};
        if (!v.step) return limit;
        return static_cast<int>(std::min<int64_t>(limit, (int64_t{end} - v.pos + v.step - 1) / v.step));
    }
}

// With the filter on and the standard pans: the four channels summed
// sample by sample, each sum filtered at once, so that the mixing's loads
// and multiplies fill the time each filter pass waits on its previous
// output. The sums, the filter arithmetic and the clamp are those of the
// general path; out gets the clamped pair of each internal sample, and a
// and b the plain sums, for a block whose filter a tick turned off.
void MixFiltered(ModPlayer& p, FilterLanes& fl, int32_t* a, int32_t* b, int32_t* out, int count) {
    const __m128d fa = _mm_set1_pd(p.filterA), fb = _mm_set1_pd(p.filterB);
    const __m128d lo = _mm_set1_pd(-32768.0), hi = _mm_set1_pd(32767.0);
    __m128d x1 = fl.x1, y1 = fl.y1, x2 = fl.x2, y2 = fl.y2;
    for (int k = 0; k < count;) {
        Voice v[kModChannels];
        int n = count - k;
        for (size_t c = 0; c < kModChannels; ++c) n = std::min(n, StartVoice(p, p.channels[c], count - k, v[c]));
        const Voice a0 = v[1], a1 = v[2], b0 = v[0], b1 = v[3];
        uint32_t pa0 = a0.pos, pa1 = a1.pos, pb0 = b0.pos, pb1 = b1.pos;
        for (int j = 0; j < n; ++j, ++k) {
            const int32_t sa = a0.data[pa0 >> kModFixedShift] * a0.volume + a1.data[pa1 >> kModFixedShift] * a1.volume;
            const int32_t sb = b0.data[pb0 >> kModFixedShift] * b0.volume + b1.data[pb1 >> kModFixedShift] * b1.volume;
            a[k] = sa;
            b[k] = sb;
            pa0 += a0.step;
            pa1 += a1.step;
            pb0 += b0.step;
            pb1 += b1.step;
            const __m128i sums = _mm_unpacklo_epi32(_mm_cvtsi32_si128(sa), _mm_cvtsi32_si128(sb));
            const __m128d x = _mm_cvtepi32_pd(_mm_srai_epi32(sums, 7));
            y1 = _mm_add_pd(_mm_mul_pd(_mm_add_pd(x, x1), fb), _mm_mul_pd(fa, y1));
            x1 = x;
            y2 = _mm_add_pd(_mm_mul_pd(_mm_add_pd(y1, x2), fb), _mm_mul_pd(fa, y2));
            x2 = y1;
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * k),
                             _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(y2, lo), hi)));
        }
        const uint32_t walked[kModChannels] = {pb0, pa0, pa1, pb1};
        for (size_t c = 0; c < kModChannels; ++c) {
            ModChannelState& ch = p.channels[c];
            if (ch.active && ch.instrument) ch.position = walked[c];
        }
    }
    fl = {x1, y1, x2, y2};
}
#endif

// Filters, clamps and pairs one block of internal samples into n output
// frames. The two sides' chains are independent: with SSE2 they run as the
// two lanes of one vector, each lane doing exactly the scalar arithmetic.
void FinishBlock(ModPlayer& p, const int32_t* a, const int32_t* b, int16_t* first, int16_t* second,
                 ptrdiff_t stride, int n) {
    const int64_t master = p.masterVolume;
    if (!p.filterOn) {
        for (int f = 0; f < n; ++f) {
            const int64_t l = std::clamp(a[2 * f] >> 7, -32768, 32767) + std::clamp(a[2 * f + 1] >> 7, -32768, 32767);
            const int64_t r = std::clamp(b[2 * f] >> 7, -32768, 32767) + std::clamp(b[2 * f + 1] >> 7, -32768, 32767);
            first[f * stride] = static_cast<int16_t>(l * master >> 9);
            second[f * stride] = static_cast<int16_t>(r * master >> 9);
        }
        return;
    }
    double* h = p.filterHistory.data();  // x1 y1 x2 y2 of the left, then of the right
#if defined(__SSE2__)
    // Lane 0 the left side, lane 1 the right.
    __m128d x1 = _mm_set_pd(h[4], h[0]), y1 = _mm_set_pd(h[5], h[1]);
    __m128d x2 = _mm_set_pd(h[6], h[2]), y2 = _mm_set_pd(h[7], h[3]);
    const __m128d fa = _mm_set1_pd(p.filterA), fb = _mm_set1_pd(p.filterB);
    const __m128d lo = _mm_set1_pd(-32768.0), hi = _mm_set1_pd(32767.0);
    auto step = [&](__m128d x) {
        y1 = _mm_add_pd(_mm_mul_pd(_mm_add_pd(x, x1), fb), _mm_mul_pd(fa, y1));
        x1 = x;
        y2 = _mm_add_pd(_mm_mul_pd(_mm_add_pd(y1, x2), fb), _mm_mul_pd(fa, y2));
        x2 = y1;
        return _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(y2, lo), hi));
    };
    for (int f = 0; f < n; ++f) {
        // a[2f], b[2f], a[2f+1], b[2f+1], each >> 7.
        const __m128i pair = _mm_srai_epi32(
            _mm_unpacklo_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + 2 * f)),
                               _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + 2 * f))),
            7);
        const __m128i s0 = step(_mm_cvtepi32_pd(pair));
        const __m128i s1 = step(_mm_cvtepi32_pd(_mm_unpackhi_epi64(pair, pair)));
        const __m128i sum = _mm_add_epi32(s0, s1);
        first[f * stride] = static_cast<int16_t>(_mm_cvtsi128_si32(sum) * master >> 9);
        second[f * stride] = static_cast<int16_t>(_mm_cvtsi128_si32(_mm_shuffle_epi32(sum, 1)) * master >> 9);
    }
    _mm_storel_pd(h + 0, x1);
    _mm_storeh_pd(h + 4, x1);
    _mm_storel_pd(h + 1, y1);
    _mm_storeh_pd(h + 5, y1);
    _mm_storel_pd(h + 2, x2);
    _mm_storeh_pd(h + 6, x2);
    _mm_storel_pd(h + 3, y2);
    _mm_storeh_pd(h + 7, y2);
#else
    double left[4], right[4];
    std::copy_n(h, 4, left);
    std::copy_n(h + 4, 4, right);
    const double fa = p.filterA, fb = p.filterB;
    for (int f = 0; f < n; ++f) {
        int64_t l = 0, r = 0;
        for (int half = 0; half < 2; ++half) {
            l += Clamp16(Filter(left, fa, fb, static_cast<double>(a[2 * f + half] >> 7)));
            r += Clamp16(Filter(right, fa, fb, static_cast<double>(b[2 * f + half] >> 7)));
        }
        first[f * stride] = static_cast<int16_t>(l * master >> 9);
        second[f * stride] = static_cast<int16_t>(r * master >> 9);
    }
    std::copy_n(left, 4, h);
    std::copy_n(right, 4, h + 4);
#endif
}

}  // namespace

void RenderModule(ModPlayer& p, int16_t* first, int16_t* second, int stride, int frames) {
    TakePendingJump(p);
    constexpr int kBlockFrames = 256;
    int32_t a[2 * kBlockFrames], b[2 * kBlockFrames];
    for (int done = 0; done < frames;) {
        const int n = std::min(kBlockFrames, frames - done);
        const int m = 2 * n;
        int16_t* const firstOut = first + static_cast<ptrdiff_t>(done) * stride;
        int16_t* const secondOut = second + static_cast<ptrdiff_t>(done) * stride;
        done += n;
#if defined(__SSE2__)
        // The filter setting a block ends with holds for all of it.
        if (p.filterOn && StandardPans(p)) {
            int32_t filtered[4 * kBlockFrames];
            FilterLanes fl = LoadLanes(p);
            for (int i = 0; i < m;) {
                if (p.tickCounter <= 0) {
                    ModuleTick(p);
                    p.tickCounter = p.samplesPerTick;
                }
                const int run = std::min(m - i, p.tickCounter);
                MixFiltered(p, fl, a + i, b + i, filtered + 2 * i, run);
                p.tickCounter -= run;
                i += run;
            }
            if (p.filterOn) {
                StoreLanes(p, fl);
                const int64_t master = p.masterVolume;
                for (int f = 0; f < n; ++f) {
                    const int32_t* q = filtered + 4 * f;
                    firstOut[f * stride] = static_cast<int16_t>((int64_t{q[0]} + q[2]) * master >> 9);
                    secondOut[f * stride] = static_cast<int16_t>((int64_t{q[1]} + q[3]) * master >> 9);
                }
            } else {
                FinishBlock(p, a, b, firstOut, secondOut, stride, n);
            }
            continue;
        }
#endif
        std::fill_n(a, m, 0);
        std::fill_n(b, m, 0);
        // Ticks fall between internal samples: mix up to each in one run.
        for (int i = 0; i < m;) {
            if (p.tickCounter <= 0) {
                ModuleTick(p);
                p.tickCounter = p.samplesPerTick;
            }
            const int run = std::min(m - i, p.tickCounter);
            for (ModChannelState& ch : p.channels) MixChannel(p, ch, a + i, b + i, run);
            p.tickCounter -= run;
            i += run;
        }
        FinishBlock(p, a, b, firstOut, secondOut, stride, n);
    }
}

void RenderModuleAudio(void* module, int16_t* out, int frames) {
    auto* player = static_cast<ModPlayer*>(static_cast<qbModulePosition*>(module));
    RenderModule(*player, out + 1, out, 2, frames);
}
