// Writes CDXL files for the tests and the fuzz seeds: equal chunks with the
// given palette, random planes and, optionally, sound.
#pragma once

#include <cstdint>
#include <vector>

namespace cdxlbuilder {

using Bytes = std::vector<uint8_t>;

struct Layout {
    uint16_t width = 32, height = 16;
    uint8_t planes = 4;
    uint8_t info = 0;  // bits 0-3: 1 = HAM
    std::vector<uint16_t> palette;  // 0x0RGB words
    uint16_t soundSize = 0;
    uint32_t chunkSize = 0;  // 0: just what the parts need
    uint32_t frames = 3;
    uint32_t seed = 1;
};

inline size_t RowBytes(const Layout& s) { return ((s.width + 15u) >> 3) & ~1u; }
inline size_t PlanarSize(const Layout& s) { return RowBytes(s) * s.height * s.planes; }
inline uint32_t NaturalChunk(const Layout& s) {
    return static_cast<uint32_t>(32 + s.palette.size() * 2 + PlanarSize(s) + s.soundSize);
}

inline void Put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
inline void Put32(Bytes& b, uint32_t v) {
    Put16(b, v >> 16);
    Put16(b, v & 0xFFFF);
}

// The chunk header alone, its sizes as given (for headers that lie).
inline Bytes Header(const Layout& s, uint32_t chunkSize, uint32_t frame) {
    Bytes b;
    b.push_back(1);
    b.push_back(s.info);
    Put32(b, chunkSize);
    Put32(b, frame ? chunkSize : 0);
    Put32(b, frame);
    Put16(b, s.width);
    Put16(b, s.height);
    b.push_back(0);
    b.push_back(s.planes);
    Put16(b, static_cast<uint32_t>(s.palette.size() * 2));
    Put16(b, s.soundSize);
    b.resize(b.size() + 8, 0);
    return b;
}

// Frame f's sound byte i: a value the test can predict.
inline uint8_t SoundByte(uint32_t frame, size_t i) { return static_cast<uint8_t>(frame * 37 + i * 5); }

inline Bytes Build(const Layout& s) {
    const uint32_t chunk = s.chunkSize ? s.chunkSize : NaturalChunk(s);
    uint32_t seed = s.seed;
    Bytes out;
    for (uint32_t f = 0; f < s.frames; ++f) {
        Bytes c = Header(s, chunk, f);
        for (uint16_t p : s.palette) Put16(c, p);
        for (size_t i = 0; i < PlanarSize(s); ++i) {
            seed = seed * 1664525u + 1013904223u;
            c.push_back(static_cast<uint8_t>(seed >> 24));
        }
        for (size_t i = 0; i < s.soundSize; ++i) c.push_back(SoundByte(f, i));
        c.resize(chunk, 0);
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

inline std::vector<uint16_t> Palette(size_t entries, uint32_t seed) {
    std::vector<uint16_t> p;
    for (size_t i = 0; i < entries; ++i) {
        seed = seed * 1664525u + 1013904223u;
        p.push_back(static_cast<uint16_t>((seed >> 16) & 0x0FFF));
    }
    return p;
}

}  // namespace cdxlbuilder
