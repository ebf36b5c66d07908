// The range copier. Every sample value passes through a signed 16-bit
// value: 8-bit data shifts up by 8 (unsigned data less 128 first), 8-bit
// output divides by 256 (adding 128 when unsigned).
#include "sound/rangecopy.h"

#include <cstring>

#include "core/errcodes.h"
#include "platform/platform_types.h"

namespace {

int32_t SourceValue(const qbSampleData& s, uint64_t frame, int32_t channel) {
    const uint64_t index = frame * static_cast<uint64_t>(s.channels) + static_cast<uint64_t>(channel);
    if (s.bits == 16) {
        const auto* p = static_cast<const uint8_t*>(s.pcm) + index * 2;
        uint16_t v;
        if (s.flags & kPCMBigEndian) {
            v = static_cast<uint16_t>(p[0] << 8 | p[1]);
        } else {
            std::memcpy(&v, p, 2);
        }
        return static_cast<int16_t>(v);
    }
    const uint8_t b = static_cast<const uint8_t*>(s.pcm)[index];
    const int32_t v = (s.flags & kPCMSigned) ? static_cast<int8_t>(b) : static_cast<int32_t>(b) - 128;
    return v * 256;
}

void Store(const qbPCMTarget& t, uint64_t index, int32_t v) {
    if (t.bits == 16) {
        const auto s16 = static_cast<int16_t>(v);
        std::memcpy(static_cast<uint8_t*>(t.pcm) + index * 2, &s16, 2);
        return;
    }
    const int32_t s8 = v / 256;
    static_cast<uint8_t*>(t.pcm)[index] = static_cast<uint8_t>(t.isSigned ? s8 : s8 + 128);
}

}  // namespace

int CopySampleRange(const qbSampleData& s, const qbRangeOptions& o, const qbPCMTarget& t, uint32_t frames) {
    if (o.loop < 0 || o.offset < 0 || o.start < 0 || o.end < 0) return ERR_SMPRANGE;
    if (o.end != 0 && (o.start >= o.end || o.end > int64_t{s.frames})) return ERR_SMPRANGE;
    const int64_t end = o.end != 0 ? o.end : int64_t{s.frames};
    if (o.start >= end) return ERR_SMPRANGE;
    const uint64_t length = static_cast<uint64_t>(end - o.start);
    uint64_t at = static_cast<uint64_t>(o.offset);
    if (o.loop) at %= length;
    for (uint64_t i = 0; i < frames; ++i, ++at) {
        if (o.loop && at == length) at = 0;
        const bool inside = at < length;
        const uint64_t frame = static_cast<uint64_t>(o.start) + at;
        for (int32_t c = 0; c < t.channels; ++c) {
            // A mono source feeds both sides; a stereo one gives a mono
            // target its left side.
            const int32_t from = s.channels == 2 && t.channels == 2 ? c : 0;
            Store(t, i * static_cast<uint64_t>(t.channels) + static_cast<uint64_t>(c),
                  inside ? SourceValue(s, frame, from) : 0);
        }
    }
    return 0;
}
