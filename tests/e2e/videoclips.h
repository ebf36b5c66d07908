// CDXL clips of solid pictures for the video tests: each picture one colour
// of its own, so that a saved frame tells which picture it shows.
#pragma once

#include <cstdint>

#include "media/cdxlbuilder.h"

namespace videoclips {

// Picture f's colour as a 0x0RGB word, and as the 0xRRGGBB it shows as;
// distinct and never black for f < 32.
inline uint16_t Colour12(int f) {
    return static_cast<uint16_t>((3 + 4 * (f % 4)) << 8 | (1 + 2 * (f / 4)) << 4 | 5);
}
inline uint32_t Colour(int f) {
    const uint16_t c = Colour12(f);
    return ((c >> 8) & 15) * 0x110000u + ((c >> 4) & 15) * 0x001100u + (c & 15) * 0x000011u;
}

// A silent 32x16 one-plane CDXL of `frames` solid pictures in chunks of
// chunkSize bytes: 12,000 give 12.8 pictures a second, 40,000 give 7.68.
inline cdxlbuilder::Bytes SolidPictures(int frames, uint32_t chunkSize) {
    cdxlbuilder::Layout s;
    s.width = 32;
    s.height = 16;
    s.planes = 1;
    s.chunkSize = chunkSize;
    cdxlbuilder::Bytes out;
    for (int f = 0; f < frames; ++f) {
        s.palette = {0x0000, Colour12(f)};
        cdxlbuilder::Bytes c = cdxlbuilder::Header(s, s.chunkSize, static_cast<uint32_t>(f));
        for (uint16_t p : s.palette) cdxlbuilder::Put16(c, p);
        c.insert(c.end(), cdxlbuilder::PlanarSize(s), 0xFF);
        c.resize(s.chunkSize, 0);
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

}  // namespace videoclips
