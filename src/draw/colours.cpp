// Colour conversions and mixing. The 16-bit formats keep the top bits of
// each component; their swapped codes hold the word with its bytes exchanged.
#include "draw/colours.h"

#include <cstddef>

#include "core/pixelformats.h"

namespace {

uint32_t Swap16(uint32_t v) { return ((v & 0xFF) << 8) | ((v >> 8) & 0xFF); }

struct Components {
    uint32_t a, r, g, b;
};

Components Split(uint32_t c) { return {c >> 24, (c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF}; }

uint32_t Join(const Components& c) { return (c.a << 24) | (c.r << 16) | (c.g << 8) | c.b; }

// The 16-bit formats as {5 or 6 green bits, red high, byte-swapped}.
struct Layout16 {
    int greenBits;
    bool redHigh;
    bool swapped;
};

bool Layout16Of(int format, Layout16* out) {
    if (format < kFormatRGB555 || format > kFormatBGR565Swapped) return false;
    out->greenBits = format >= kFormatRGB565 ? 6 : 5;
    out->redHigh = (format & 1) == 0;
    out->swapped = (format & 2) != 0;
    return true;
}

// The 32-bit formats name the word's bytes from the top.
uint32_t Pack32(int format, const Components& c) {
    switch (format) {
    case kFormatARGB: return Join(c);
    case kFormatBGRA: return (c.b << 24) | (c.g << 16) | (c.r << 8) | c.a;
    case kFormatRGBA: return (c.r << 24) | (c.g << 16) | (c.b << 8) | c.a;
    default: return (c.a << 24) | (c.b << 16) | (c.g << 8) | c.r;  // ABGR
    }
}

Components Unpack32(int format, uint32_t v) {
    const uint32_t b3 = v >> 24, b2 = (v >> 16) & 0xFF, b1 = (v >> 8) & 0xFF, b0 = v & 0xFF;
    switch (format) {
    case kFormatARGB: return {b3, b2, b1, b0};
    case kFormatBGRA: return {b0, b1, b2, b3};
    case kFormatRGBA: return {b0, b3, b2, b1};
    default: return {b3, b0, b1, b2};  // ABGR
    }
}

// Twelve-bit 0xRGB entries; each digit d stands for the byte d x 17.
constexpr uint16_t kRandomColours[kRandomColourCount] = {
    0xCCC, 0x000, 0xFFF, 0x888, 0xA20, 0xD50, 0xEB0, 0x080, 0x6B0, 0x170, 0x5BC, 0x367, 0x07B, 0x048, 0xE88,
    0xB55, 0xE72, 0xC64, 0x820, 0xFB7, 0x90F, 0x60C, 0xB70, 0x950, 0xFA5, 0xD84, 0x9B9, 0x686, 0x4A7, 0x175,
    0x333, 0xEEE, 0x666, 0x000, 0x777, 0x240, 0x620, 0x510, 0x750, 0x540, 0x350, 0x030, 0x256, 0x133, 0x035,
    0x024, 0x744, 0x522, 0x731, 0x632, 0x410, 0x753, 0x407, 0x306, 0x530, 0x420, 0x752, 0x642, 0x454, 0x343,
    0x253, 0x032, 0x111, 0x777, 0xFF0, 0xEE0, 0xDD0, 0xCC0, 0xBB0, 0xAA0, 0x990, 0x880, 0x770, 0x660, 0x550,
    0x440, 0x330, 0x220, 0x110, 0xF00, 0xE00, 0xD00, 0xC00, 0xB00, 0xA00, 0x900, 0x800, 0x700, 0x600, 0x500,
    0x400, 0x300, 0x200, 0x0F0, 0x0E0, 0x0D0, 0x0C0, 0x0B0, 0x0A0, 0x090, 0x080, 0x070, 0x060, 0x050, 0x040,
    0x030, 0x020, 0x010, 0x00F, 0x00E, 0x00D, 0x00C, 0x00B, 0x00A, 0x009, 0x008, 0x007, 0x006, 0x005, 0x004,
    0x003, 0x002, 0x0FF, 0x0EE, 0x0DD, 0x0CC, 0x0BB, 0x0AA, 0x099, 0x088, 0x077, 0x066, 0x055, 0x044, 0x033,
    0x022, 0x011, 0xF0F, 0xE0E, 0xD0D, 0xC0C, 0xB0B, 0xA0A, 0x909, 0x808, 0x707, 0x606, 0x505, 0x404, 0x303,
    0x202, 0x101, 0xFFF, 0xFFE, 0xFFD, 0xFFC, 0xFFB, 0xFFA, 0xFF9, 0xFF8, 0xFF7, 0xFF6, 0xFF5, 0xFF4, 0xFF3,
    0xFF2, 0xFF1, 0xFF0, 0xFFF, 0xEEE, 0xDDD, 0xCCC, 0xBBB, 0xAAA, 0x999, 0x888, 0x777, 0x666, 0x555, 0x444,
    0x333, 0x222, 0x111, 0xF77, 0xF87, 0xFA7, 0xFB7, 0xFC7, 0xFD7, 0xFF7, 0xEF7, 0xDF7, 0xBF7, 0xAF7, 0x9F7,
    0x8F7, 0x7F8, 0x7F9, 0x7FA, 0x7FC, 0x7FD, 0x7FE, 0x7EF, 0x7DF, 0x7CF, 0x7BF, 0x79F, 0x78F, 0x77F, 0x97F,
    0xA7F, 0xB7F, 0xC7F, 0xE7F, 0xF7F, 0xF00, 0xF20, 0xF50, 0xF70, 0xFA0, 0xFC0, 0xFE0, 0xDF0, 0xBF0, 0x8F0,
    0x6F0, 0x3F0, 0x1F0, 0x0F1, 0x0F4, 0x0F6, 0x0F9, 0x0FB, 0x0FD, 0x0EF, 0x0BF, 0x09F, 0x07F, 0x04F, 0x02F,
    0x00F, 0x30F, 0x50F, 0x80F, 0xA0F, 0xC0F,
};

}  // namespace

uint32_t ConvertColorToFormat(uint32_t colour, int format, bool withAlpha) {
    Components c = Split(colour);
    if (!withAlpha) c.a = 0;
    Layout16 l{};
    if (Layout16Of(format, &l)) {
        const uint32_t hi = (l.redHigh ? c.r : c.b) >> 3;
        const uint32_t lo = (l.redHigh ? c.b : c.r) >> 3;
        const uint32_t g = c.g >> (8 - l.greenBits);
        const uint32_t v = (hi << (5 + l.greenBits)) | (g << 5) | lo;
        return l.swapped ? Swap16(v) : v;
    }
    switch (format) {
    case kFormatRGB24: return (c.r << 16) | (c.g << 8) | c.b;
    case kFormatBGR24: return (c.b << 16) | (c.g << 8) | c.r;
    case kFormatARGB:
    case kFormatBGRA:
    case kFormatRGBA:
    case kFormatABGR: return Pack32(format, c);
    default: return 0;
    }
}

uint32_t ConvertPixelToColor(uint32_t value, int format, bool withAlpha) {
    Layout16 l{};
    if (Layout16Of(format, &l)) {
        const uint32_t v = l.swapped ? Swap16(value & 0xFFFF) : value & 0xFFFF;
        const uint32_t hi = (v >> (5 + l.greenBits)) & 0x1F;
        const uint32_t g = (v >> 5) & ((1u << l.greenBits) - 1);
        const uint32_t lo = v & 0x1F;
        const uint32_t r = l.redHigh ? hi : lo, b = l.redHigh ? lo : hi;
        return Join({0, r << 3, g << (8 - l.greenBits), b << 3});
    }
    switch (format) {
    case kFormatRGB24: return value & 0xFFFFFF;
    case kFormatBGR24: return Join({0, value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF});
    case kFormatARGB:
    case kFormatBGRA:
    case kFormatRGBA:
    case kFormatABGR: {
        Components c = Unpack32(format, value);
        if (!withAlpha) c.a = 0;
        return Join(c);
    }
    default: return 0;
    }
}

uint32_t ReadPixelColor(const qbBitmapLock& lock, int32_t x, int32_t y) {
    const int bytes = GetPixelFormatBytes(static_cast<int>(lock.pixelFormat));
    if (!lock.pixels || bytes == 0 || x < 0 || y < 0 || x >= lock.width || y >= lock.height) return 0;
    const auto* row = static_cast<const uint8_t*>(lock.pixels) +
                      static_cast<ptrdiff_t>(y) * lock.rowLength * bytes;
    uint8_t rgb[3] = {};
    ReadPixelRGB(row + static_cast<ptrdiff_t>(x) * bytes, static_cast<int>(lock.pixelFormat), rgb);
    return Join({0, rgb[0], rgb[1], rgb[2]});
}

int GetPixelFormatBits(int format) {
    if (format >= kFormatRGB555 && format <= kFormatBGR555Swapped) return 15;
    if (format >= kFormatRGB565 && format <= kFormatBGR565Swapped) return 16;
    if (format == kFormatRGB24 || format == kFormatBGR24) return 24;
    if (format >= kFormatARGB && format <= kFormatABGR) return 32;
    return 0;
}

int GetPixelFormatBytes(int format) {
    const int bits = GetPixelFormatBits(format);
    return bits == 0 ? 0 : (bits + 7) / 8;
}

uint32_t MixColors(uint32_t a, uint32_t b, int32_t weight) {
    const Components ca = Split(a), cb = Split(b);
    weight = weight < 0 ? 0 : weight > 256 ? 256 : weight;
    auto mix = [weight](uint32_t from, uint32_t to) {
        const int32_t delta = static_cast<int32_t>(to) - static_cast<int32_t>(from);
        // Arithmetic shift: a negative step rounds towards minus infinity.
        return static_cast<uint32_t>(static_cast<int32_t>(from) + ((delta * weight) >> 8)) & 0xFF;
    };
    return Join({0, mix(ca.r, cb.r), mix(ca.g, cb.g), mix(ca.b, cb.b)});
}

uint32_t RandomTableColour(int index) {
    if (index < 0 || index >= kRandomColourCount) return 0;
    const uint32_t e = kRandomColours[index];
    return Join({0, ((e >> 8) & 0xF) * 17, ((e >> 4) & 0xF) * 17, (e & 0xF) * 17});
}
