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

// The next byte of a channel, times its volume; the loop or the end of the
// sample is dealt with after the step.
int ChannelSample(ModPlayer& p, ModChannelState& ch) {
    if (!ch.active) return 0;
    const ModInstrument* in = &p.instruments[static_cast<size_t>(ch.instrument - 1)];
    const size_t at = in->offset + (ch.position >> kModFixedShift);
    const int value = at < p.samples.size() ? p.samples[at] * ch.outVolume : 0;
    ch.position += ch.step;
    if (in->loopEnd) {
        if (ch.position >= in->loopEnd) {
            if (ch.pendingInstrument) {
                ch.instrument = ch.pendingInstrument;
                ch.pendingInstrument = 0;
                in = &p.instruments[static_cast<size_t>(ch.instrument - 1)];
                if (!in->loopEnd) {
                    ch.active = false;
                    return value;
                }
            }
            // A step longer than the loop wraps as often as it must.
            ch.position = in->loopStart + (ch.position - in->loopStart) % in->loopLength;
            if (ch.position >= in->loopEnd) ch.position = in->loopStart;
        }
    } else if (ch.position >= in->length) {
        ch.active = false;
    }
    return value;
}

double Filter(ModPlayer& p, size_t side, double x) {
    // Two passes of the one-pole low-pass; history: x_prev, y_prev per pass.
    for (size_t pass = 0; pass < 2; ++pass) {
        double* h = &p.filterHistory[side * 4 + pass * 2];
        const double y = (x + h[0]) * p.filterB + p.filterA * h[1];
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
    for (int f = 0; f < frames; ++f) {
        int64_t sum[2] = {0, 0};
        for (int half = 0; half < 2; ++half) {
            if (p.tickCounter <= 0) {
                ModuleTick(p);
                p.tickCounter = p.samplesPerTick;
            }
            --p.tickCounter;
            int64_t a = 0, b = 0;
            for (ModChannelState& ch : p.channels) {
                const int64_t s = ChannelSample(p, ch);
                a += s * ch.pan;
                b += s * (255 - ch.pan);
            }
            a >>= 7;
            b >>= 7;
            if (p.filterOn) {
                sum[0] += Clamp16(Filter(p, 0, static_cast<double>(a)));
                sum[1] += Clamp16(Filter(p, 1, static_cast<double>(b)));
            } else {
                sum[0] += std::clamp<int64_t>(a, -32768, 32767);
                sum[1] += std::clamp<int64_t>(b, -32768, 32767);
            }
        }
        first[static_cast<ptrdiff_t>(f) * stride] = static_cast<int16_t>(sum[0] * p.masterVolume >> 9);
        second[static_cast<ptrdiff_t>(f) * stride] = static_cast<int16_t>(sum[1] * p.masterVolume >> 9);
    }
}

void RenderModuleAudio(void* module, int16_t* out, int frames) {
    auto* player = static_cast<ModPlayer*>(static_cast<qbModulePosition*>(module));
    RenderModule(*player, out + 1, out, 2, frames);
}
