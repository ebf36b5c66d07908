#include "media/videopixels.h"

#include <cstring>

namespace {

uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

// The 16-bit forms keep the top bits of each channel.
uint16_t To16(int32_t format, uint32_t r, uint32_t g, uint32_t b) {
    uint32_t v = 0;
    switch (format & ~2) {
        case 0: v = (r & 0xF8) << 7 | (g & 0xF8) << 2 | (b & 0xF8) >> 3; break;
        case 1: v = (b & 0xF8) << 7 | (g & 0xF8) << 2 | (r & 0xF8) >> 3; break;
        case 4: v = (r & 0xF8) << 8 | (g & 0xFC) << 3 | (b & 0xF8) >> 3; break;
        default: v = (b & 0xF8) << 8 | (g & 0xFC) << 3 | (r & 0xF8) >> 3; break;
    }
    return (format & 2) ? Swap16(static_cast<uint16_t>(v)) : static_cast<uint16_t>(v);
}

int32_t BytesPerPixel(int32_t format) {
    if (format >= 0 && format <= 7) return 2;
    if (format == 8 || format == 9) return 3;
    if (format >= 10 && format <= 12) return 4;
    return 0;
}

}  // namespace

void ConvertRGBRowsToPixelFormat(const void* source, void* destination, int32_t width, int32_t height,
                                 int32_t sourceModulo, int32_t destinationModulo, int32_t format) {
    const int32_t bpp = BytesPerPixel(format);
    if (!bpp || !source || !destination || width <= 0 || height <= 0) return;
    const auto* in = static_cast<const uint8_t*>(source);
    auto* out = static_cast<uint8_t*>(destination);
    const bool aligned = ((reinterpret_cast<uintptr_t>(in) | reinterpret_cast<uintptr_t>(out) |
                           static_cast<uintptr_t>(sourceModulo) | static_cast<uintptr_t>(destinationModulo)) &
                          3) == 0;
    for (int32_t row = 0; row < height; ++row) {
        if (format == 10 && aligned) {
            // The native word of the big-endian one; word pointers that
            // cannot overlap let the compiler swap many at once.
            const auto* __restrict words = reinterpret_cast<const uint32_t*>(in);
            auto* __restrict native = reinterpret_cast<uint32_t*>(out);
            for (int32_t x = 0; x < width; ++x) native[x] = __builtin_bswap32(words[x]);
        } else if (format == 10) {
            for (int32_t x = 0; x < width; ++x) {
                uint32_t w;
                std::memcpy(&w, in + 4 * x, 4);
                w = __builtin_bswap32(w);
                std::memcpy(out + 4 * x, &w, 4);
            }
        } else {
            for (int32_t x = 0; x < width; ++x) {
                const uint32_t r = in[4 * x + 1], g = in[4 * x + 2], b = in[4 * x + 3];
                uint8_t* px = out + static_cast<size_t>(bpp) * static_cast<size_t>(x);
                if (bpp == 2) {
                    const uint16_t v = To16(format, r, g, b);
                    std::memcpy(px, &v, 2);
                } else if (bpp == 3) {
                    px[0] = static_cast<uint8_t>(format == 8 ? r : b);
                    px[1] = static_cast<uint8_t>(g);
                    px[2] = static_cast<uint8_t>(format == 8 ? b : r);
                } else {
                    const uint32_t v = format == 11 ? (b << 24 | g << 16 | r << 8) : (r << 24 | g << 16 | b << 8);
                    std::memcpy(px, &v, 4);
                }
            }
        }
        in += static_cast<size_t>(width) * 4 + static_cast<size_t>(sourceModulo);
        out += static_cast<size_t>(width) * static_cast<size_t>(bpp) + static_cast<size_t>(destinationModulo);
    }
}
