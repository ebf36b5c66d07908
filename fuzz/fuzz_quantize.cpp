// Fuzz target of the colour quantiser: format, size, pitch, the colour
// count (any 16-bit value, negatives too), transparency, reserve and
// dithering from the first bytes, the pixels from the rest (repeated). The
// indices must stay below the palette size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/pixelformats.h"
#include "fuzznote.h"
#include "imaging/quantize.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    const int format = data[0] % (kLastColourFormat + 1);
    const int bytes = BytesPerPixel(format);
    const int32_t w = 1 + data[1] % 24, h = 1 + data[2] % 24, pitch = w + data[6] % 3;
    int32_t count = static_cast<int16_t>(data[3] | data[4] << 8);
    const uint8_t flags = data[5];
    std::vector<uint8_t> pixels(static_cast<size_t>(pitch) * h * bytes);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = data[7 + i % (size - 7)];
    // A few bits of the pixels only, so that the exact pass and the median
    // cut both get their turn.
    if (flags & 8)
        for (auto& b : pixels) b &= 0xC0;
    uint32_t transparent = kNoTransparentColour;
    if (flags & 1) transparent = uint32_t{data[7]} << 16 | uint32_t{data[7 % size]} << 8 | (flags & 0xF0);
    std::vector<uint8_t> indices(static_cast<size_t>(w) * h);
    uint32_t palette[256];
    int32_t transparentIndex = 0;
    const int ok = QuantizePixels(pixels.data(), format, bytes, w, h, pitch, indices.data(), palette, &count,
                                  transparent, (flags & 2) != 0, (flags & 4) != 0, &transparentIndex);
    FuzzNoteValue(ok);
    if (!ok) return 0;
    FuzzNoteValue(count);
    FuzzNoteValue(transparentIndex);
    if (count < 1 || count > 256 || transparentIndex >= count) std::abort();
    for (uint8_t i : indices)
        if (i >= count) std::abort();
    FuzzNote(indices.data(), indices.size());
    FuzzNote(palette, static_cast<size_t>(count) * sizeof palette[0]);
    return 0;
}
