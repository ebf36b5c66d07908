// Pixel format conversions. Pixels are read and written through memcpy so
// that rows of any alignment can be served.
#include "core/pixelformats.h"

#include <cstring>

namespace {

constexpr int kBytes16 = 2;
constexpr int kBytes24 = 3;
constexpr int kBytes32 = 4;

constexpr uint32_t kByteMask = 0xFF;
constexpr uint32_t kField5 = 0x1F;
constexpr uint32_t kField6 = 0x3F;
// Where the fields of a 16-bit word start.
constexpr int kShiftTop555 = 10;
constexpr int kShiftTop565 = 11;
constexpr int kShiftMiddle = 5;
// How far a 5- or 6-bit field is from the top of a byte.
constexpr int kWiden5 = 3;
constexpr int kWiden6 = 2;

constexpr int kShiftByte1 = 8;
constexpr int kShiftByte2 = 16;
constexpr int kShiftByte3 = 24;

uint16_t SwapBytes(uint16_t v) { return static_cast<uint16_t>((v >> kShiftByte1) | (v << kShiftByte1)); }

struct Rgb565Fields {
    uint32_t r5, g6, b5;
};

Rgb565Fields Split565(uint16_t v) {
    return {(v >> kShiftTop565) & kField5, (v >> kShiftMiddle) & kField6, v & kField5};
}

uint16_t Join565(uint32_t r5, uint32_t g6, uint32_t b5) {
    return static_cast<uint16_t>((r5 << kShiftTop565) | (g6 << kShiftMiddle) | b5);
}

uint16_t Join555(uint32_t top, uint32_t g5, uint32_t low) {
    return static_cast<uint16_t>((top << kShiftTop555) | (g5 << kShiftMiddle) | low);
}

bool IsSwapped16(int format) {
    return format == kFormatRGB555Swapped || format == kFormatBGR555Swapped ||
           format == kFormatRGB565Swapped || format == kFormatBGR565Swapped;
}

}  // namespace

int BytesPerPixel(int format) {
    if (IsPixelFormat16(format)) return kBytes16;
    if (format == kFormatRGB24 || format == kFormatBGR24) return kBytes24;
    if (IsPixelFormat32(format)) return kBytes32;
    return 0;
}

bool IsPixelFormat16(int format) { return format >= kFormatRGB555 && format <= kFormatBGR565Swapped; }

bool IsPixelFormat32(int format) { return format >= kFormatARGB && format <= kFormatABGR; }

uint32_t ARGBToPixel32(int format, uint32_t colour) {
    const uint32_t r = (colour >> kShiftByte2) & kByteMask;
    const uint32_t g = (colour >> kShiftByte1) & kByteMask;
    const uint32_t b = colour & kByteMask;
    switch (format) {
        case kFormatBGRA: return (b << kShiftByte3) | (g << kShiftByte2) | (r << kShiftByte1);
        case kFormatRGBA: return (r << kShiftByte3) | (g << kShiftByte2) | (b << kShiftByte1);
        case kFormatABGR: return (b << kShiftByte2) | (g << kShiftByte1) | r;
        default: return colour;
    }
}

uint32_t Pixel32ToARGB(int format, uint32_t pixel) {
    const uint32_t top = (pixel >> kShiftByte3) & kByteMask;
    const uint32_t upper = (pixel >> kShiftByte2) & kByteMask;
    const uint32_t lower = (pixel >> kShiftByte1) & kByteMask;
    const uint32_t low = pixel & kByteMask;
    switch (format) {
        case kFormatBGRA: return (lower << kShiftByte2) | (upper << kShiftByte1) | top;
        case kFormatRGBA: return (top << kShiftByte2) | (upper << kShiftByte1) | lower;
        case kFormatABGR: return (low << kShiftByte2) | (lower << kShiftByte1) | upper;
        default: return pixel;
    }
}

uint16_t RGB565ToPixel16(int format, uint16_t value) {
    const auto [r, g, b] = Split565(value);
    const uint32_t g5 = g >> 1;
    switch (format) {
        case kFormatRGB555: return Join555(r, g5, b);
        case kFormatBGR555: return Join555(b, g5, r);
        case kFormatRGB555Swapped: return SwapBytes(Join555(r, g5, b));
        case kFormatBGR555Swapped: return SwapBytes(Join555(b, g5, r));
        case kFormatRGB565: return value;
        case kFormatBGR565: return Join565(b, g, r);
        case kFormatRGB565Swapped: return SwapBytes(value);
        case kFormatBGR565Swapped: return SwapBytes(Join565(b, g, r));
        default: return value;
    }
}

uint16_t Pixel16ToRGB565(int format, uint16_t pixel) {
    if (!IsPixelFormat16(format)) return pixel;
    const uint16_t word = IsSwapped16(format) ? SwapBytes(pixel) : pixel;
    switch (format) {
        case kFormatRGB555:
        case kFormatRGB555Swapped:
        case kFormatBGR555:
        case kFormatBGR555Swapped: {
            const uint32_t top = (word >> kShiftTop555) & kField5;
            const uint32_t g6 = ((word >> kShiftMiddle) & kField5) << 1;
            const uint32_t low = word & kField5;
            const bool rgb = format == kFormatRGB555 || format == kFormatRGB555Swapped;
            return rgb ? Join565(top, g6, low) : Join565(low, g6, top);
        }
        case kFormatRGB565:
        case kFormatRGB565Swapped: return word;
        default: {
            const auto [top, g, low] = Split565(word);
            return Join565(low, g, top);
        }
    }
}

void ReadPixelRGB(const void* pixel, int format, uint8_t rgb[3]) {
    uint32_t colour = 0;
    if (IsPixelFormat16(format)) {
        uint16_t word = 0;
        std::memcpy(&word, pixel, sizeof word);
        const auto [r, g, b] = Split565(Pixel16ToRGB565(format, word));
        colour = (r << (kShiftByte2 + kWiden5)) | (g << (kShiftByte1 + kWiden6)) | (b << kWiden5);
    } else if (IsPixelFormat32(format)) {
        uint32_t word = 0;
        std::memcpy(&word, pixel, sizeof word);
        colour = Pixel32ToARGB(format, word);
    } else if (format == kFormatRGB24 || format == kFormatBGR24) {
        // Memory order B, G, R for 0xRRGGBB and R, G, B for 0xBBGGRR.
        const auto* bytes = static_cast<const uint8_t*>(pixel);
        const bool rgbValue = format == kFormatRGB24;
        rgb[0] = rgbValue ? bytes[2] : bytes[0];
        rgb[1] = bytes[1];
        rgb[2] = rgbValue ? bytes[0] : bytes[2];
        return;
    }
    rgb[0] = static_cast<uint8_t>(colour >> kShiftByte2);
    rgb[1] = static_cast<uint8_t>(colour >> kShiftByte1);
    rgb[2] = static_cast<uint8_t>(colour);
}

void WritePixelRGB(void* pixel, int format, const uint8_t rgb[3]) {
    if (IsPixelFormat16(format)) {
        const uint16_t value = Join565(rgb[0] >> kWiden5, rgb[1] >> kWiden6, rgb[2] >> kWiden5);
        const uint16_t word = RGB565ToPixel16(format, value);
        std::memcpy(pixel, &word, sizeof word);
    } else if (IsPixelFormat32(format)) {
        const uint32_t colour = (uint32_t{rgb[0]} << kShiftByte2) | (uint32_t{rgb[1]} << kShiftByte1) | rgb[2];
        const uint32_t word = ARGBToPixel32(format, colour);
        std::memcpy(pixel, &word, sizeof word);
    } else if (format == kFormatRGB24 || format == kFormatBGR24) {
        auto* bytes = static_cast<uint8_t*>(pixel);
        const bool rgbValue = format == kFormatRGB24;
        bytes[0] = rgbValue ? rgb[2] : rgb[0];
        bytes[1] = rgb[1];
        bytes[2] = rgbValue ? rgb[0] : rgb[2];
    }
}
