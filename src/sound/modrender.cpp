// Rendering a module: per internal sample the channels' bytes are summed
// by pan into two sides, optionally low-pass filtered, clamped, and pairs
// of internal samples make one output frame.
#include <algorithm>

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

// Two passes of the one-pole low-pass over one side; h holds x_prev and
// y_prev of each pass. The caller keeps h in locals so that the two
// sides' chains run side by side.
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

}  // namespace

void RenderModule(ModPlayer& p, int16_t* first, int16_t* second, int stride, int frames) {
    TakePendingJump(p);
    constexpr int kBlockFrames = 256;
    int32_t a[2 * kBlockFrames], b[2 * kBlockFrames];
    for (int done = 0; done < frames;) {
        const int n = std::min(kBlockFrames, frames - done);
        const int m = 2 * n;
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
        double left[4], right[4];
        std::copy_n(p.filterHistory.begin(), 4, left);
        std::copy_n(p.filterHistory.begin() + 4, 4, right);
        const double fa = p.filterA, fb = p.filterB;
        for (int f = 0; f < n; ++f) {
            int64_t sum[2] = {0, 0};
            for (int half = 0; half < 2; ++half) {
                const int32_t x = a[2 * f + half] >> 7, y = b[2 * f + half] >> 7;
                if (p.filterOn) {
                    sum[0] += Clamp16(Filter(left, fa, fb, static_cast<double>(x)));
                    sum[1] += Clamp16(Filter(right, fa, fb, static_cast<double>(y)));
                } else {
                    sum[0] += std::clamp(x, -32768, 32767);
                    sum[1] += std::clamp(y, -32768, 32767);
                }
            }
            const ptrdiff_t at = static_cast<ptrdiff_t>(done + f) * stride;
            first[at] = static_cast<int16_t>(sum[0] * p.masterVolume >> 9);
            second[at] = static_cast<int16_t>(sum[1] * p.masterVolume >> 9);
        }
        std::copy_n(left, 4, p.filterHistory.begin());
        std::copy_n(right, 4, p.filterHistory.begin() + 4);
        done += n;
    }
}

void RenderModuleAudio(void* module, int16_t* out, int frames) {
    auto* player = static_cast<ModPlayer*>(static_cast<qbModulePosition*>(module));
    RenderModule(*player, out + 1, out, 2, frames);
}
