// The resampling kernel: linear interpolation at a 32.32 fixed-point phase,
// over readers that turn each PCM layout into float frames. The kernel does
// no boundary test per frame; callers cut runs so that every frame it reads
// lies inside the data.
#pragma once

#include <cstdint>
#include <cstring>

namespace audio_mixer {

struct StereoFrame {
    float left = 0.0f;
    float right = 0.0f;
};

constexpr uint64_t kPhaseOne = uint64_t{1} << 32;
constexpr float kPhaseScale = 1.0f / 4294967296.0f;

inline int16_t Load16(const uint8_t* p, bool bigEndian) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    if (bigEndian) v = static_cast<uint16_t>((v >> 8) | (v << 8));
    return static_cast<int16_t>(v);
}

// One reader per internal PCM code; full scale is +-1.0 and unsigned 128 is 0.
template <int Code, bool BigEndian = false>
struct PcmReader {
    const uint8_t* p;
    StereoFrame At(uint32_t i) const {
        if constexpr (Code == 0) {
            const float s = (static_cast<float>(p[i]) - 128.0f) * (1.0f / 128.0f);
            return {s, s};
        } else if constexpr (Code == 1) {
            return {(static_cast<float>(p[2 * size_t{i}]) - 128.0f) * (1.0f / 128.0f),
                    (static_cast<float>(p[2 * size_t{i} + 1]) - 128.0f) * (1.0f / 128.0f)};
        } else if constexpr (Code == 2) {
            const float s = static_cast<float>(static_cast<int8_t>(p[i])) * (1.0f / 128.0f);
            return {s, s};
        } else if constexpr (Code == 3) {
            return {static_cast<float>(static_cast<int8_t>(p[2 * size_t{i}])) * (1.0f / 128.0f),
                    static_cast<float>(static_cast<int8_t>(p[2 * size_t{i} + 1])) * (1.0f / 128.0f)};
        } else if constexpr (Code == 4) {
            const float s = static_cast<float>(Load16(p + 2 * size_t{i}, BigEndian)) * (1.0f / 32768.0f);
            return {s, s};
        } else {
            return {static_cast<float>(Load16(p + 4 * size_t{i}, BigEndian)) * (1.0f / 32768.0f),
                    static_cast<float>(Load16(p + 4 * size_t{i} + 2, BigEndian)) * (1.0f / 32768.0f)};
        }
    }
};

// Frames already converted (streamed sources go through a staging buffer).
struct FloatReader {
    const StereoFrame* p;
    StereoFrame At(uint32_t i) const { return p[i]; }
};

// Reads frames below end from the data and frame `next` in place of frame
// end: the loop's first frame when the sample wraps, its own last frame when
// it stops.
template <class R>
struct EdgeReader {
    R r;
    uint32_t end;
    uint32_t next;
    StereoFrame At(uint32_t i) const { return r.At(i < end ? i : next); }
};

// Adds n frames, starting at phase, into the accumulators with the gains,
// and advances the phase by n steps. Reads frames phase>>32 and the one after.
template <class R>
inline void MixRun(const R& r, uint64_t& phase, uint64_t step, uint32_t n, float* left, float* right, float gainL,
                   float gainR) {
    uint64_t ph = phase;
    for (uint32_t k = 0; k < n; ++k) {
        const uint32_t idx = static_cast<uint32_t>(ph >> 32);
        const float f = static_cast<float>(static_cast<uint32_t>(ph)) * kPhaseScale;
        const StereoFrame a = r.At(idx);
        const StereoFrame b = r.At(idx + 1);
        left[k] += (a.left + (b.left - a.left) * f) * gainL;
        right[k] += (a.right + (b.right - a.right) * f) * gainR;
        ph += step;
    }
    phase = ph;
}

// How many frames from phase stay below bound (bound > phase, step > 0).
inline uint64_t FramesBelow(uint64_t phase, uint64_t bound, uint64_t step) {
    return (bound - phase + step - 1) / step;
}

}  // namespace audio_mixer
