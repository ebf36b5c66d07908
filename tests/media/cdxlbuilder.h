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

// Frame f of a solid clip fills its picture with palette entry 1, whose
// colour is f's own: as a 0x0RGB word and as the 0xRRGGBB it shows as.
inline uint16_t SolidColour(int f) { return static_cast<uint16_t>(0x0F00 - f * 0x0100 + f * 0x0011); }
inline uint32_t SolidRGB(int f) {
    const uint16_t c = SolidColour(f);
    return ((c >> 8) & 15) * 0x110000u + ((c >> 4) & 15) * 0x001100u + (c & 15) * 0x000011u;
}

// A 32x16 one-plane clip of frames solid pictures with 800 sound bytes a
// frame, in chunks of 12,000 bytes (12.8 pictures a second).
inline Bytes SolidClip(int frames) {
    Layout s;
    s.width = 32;
    s.height = 16;
    s.planes = 1;
    s.soundSize = 800;
    s.chunkSize = 12000;
    Bytes out;
    for (int f = 0; f < frames; ++f) {
        s.palette = {0x0000, SolidColour(f)};
        Bytes c = Header(s, s.chunkSize, static_cast<uint32_t>(f));
        for (uint16_t p : s.palette) Put16(c, p);
        c.insert(c.end(), PlanarSize(s), 0xFF);
        for (size_t i = 0; i < s.soundSize; ++i) c.push_back(SoundByte(static_cast<uint32_t>(f), i));
        c.resize(s.chunkSize, 0);
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
