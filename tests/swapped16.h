// Byte-swapped 16-bit formats against their plain twins: a road run on the
// same pixels, given byte-swapped, must give the plain result byte-swapped,
// word for word.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/bitmaplock.h"
#include "core/nativebitmap.h"
#include "core/pixelformats.h"
#include "imaging/bitmap.h"

namespace swapped16 {

struct FormatPair {
    int plain;
    int swapped;
};
inline constexpr FormatPair kPairs[] = {{kFormatRGB555, kFormatRGB555Swapped},
                                        {kFormatBGR555, kFormatBGR555Swapped},
                                        {kFormatRGB565, kFormatRGB565Swapped},
                                        {kFormatBGR565, kFormatBGR565Swapped}};
inline constexpr int32_t kW = 13, kH = 7;

inline uint16_t Swap(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

// Words that vary every channel across the picture, one set per salt.
inline uint16_t Word(int32_t x, int32_t y, uint32_t salt) {
    uint32_t h = (static_cast<uint32_t>(x) * 73856093u) ^ (static_cast<uint32_t>(y) * 19349663u) ^ (salt * 83492791u);
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    return static_cast<uint16_t>(h ^ (h >> 15));
}

inline std::vector<uint16_t> Words(uint32_t salt, bool swap) {
    std::vector<uint16_t> v(static_cast<size_t>(kW) * kH);
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) {
            const uint16_t w = Word(x, y, salt);
            v[static_cast<size_t>(y) * kW + x] = swap ? Swap(w) : w;
        }
    return v;
}

// The words of a 16-bit bitmap read or written through its lock.
inline std::vector<uint16_t> Transfer(qbBitmap* bitmap, const std::vector<uint16_t>* in) {
    std::vector<uint16_t> out;
    qbBitmapLock lock;
    EXPECT_NE(LockBitmap(bitmap, 0, &lock), 0u);
    EXPECT_EQ(lock.bytesPerPixel, 2u);
    auto* pixels = static_cast<uint16_t*>(lock.pixels);
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) {
            uint16_t& p = pixels[static_cast<ptrdiff_t>(y) * lock.rowLength + x];
            if (in) p = (*in)[static_cast<size_t>(y) * kW + x];
            out.push_back(p);
        }
    UnlockBitmap(&lock);
    return out;
}

// A bitmap of the format holding the salt's words, byte-swapped when asked.
inline BitmapPtr WordBitmap(int format, uint32_t salt, bool swap) {
    SetPlatformPixelFormat(format);
    BitmapPtr b(AllocBitmap(kW, kH, 0, nullptr));
    SetPlatformPixelFormat(kPixelFormatUnset);
    const std::vector<uint16_t> words = Words(salt, swap);
    if (b) Transfer(b.get(), &words);
    return b;
}

inline void ExpectSwapped(const std::vector<uint16_t>& plain, const std::vector<uint16_t>& swapped, int format) {
    ASSERT_EQ(plain.size(), swapped.size());
    for (size_t i = 0; i < plain.size(); ++i)
        ASSERT_EQ(swapped[i], Swap(plain[i])) << "format " << format << " pixel " << i % kW << "," << i / kW;
}

// road(destination, source, format) over bitmaps of each plain format and its
// swapped twin; the plain result must also differ from the destination's
// words, so that the road did its arithmetic.
template <typename Road>
void ExpectBitmapTwins(Road road) {
    for (const FormatPair& f : kPairs) {
        std::vector<uint16_t> result[2];
        for (const bool swap : {false, true}) {
            const int format = swap ? f.swapped : f.plain;
            BitmapPtr dst = WordBitmap(format, 1, swap), src = WordBitmap(format, 2, swap);
            ASSERT_TRUE(dst && src);
            SetPlatformPixelFormat(format);
            road(dst.get(), src.get(), format);
            SetPlatformPixelFormat(kPixelFormatUnset);
            result[swap] = Transfer(dst.get(), nullptr);
        }
        ASSERT_NE(result[0], Words(1, false)) << "format " << f.plain << " was left alone";
        ExpectSwapped(result[0], result[1], f.swapped);
    }
}

// road(pixels, rowLength, format) over a raw buffer of the words.
template <typename Road>
void ExpectBufferTwins(Road road) {
    for (const FormatPair& f : kPairs) {
        std::vector<uint16_t> result[2];
        for (const bool swap : {false, true}) {
            result[swap] = Words(1, swap);
            road(result[swap].data(), kW, swap ? f.swapped : f.plain);
        }
        ASSERT_NE(result[0], Words(1, false)) << "format " << f.plain << " was left alone";
        ExpectSwapped(result[0], result[1], f.swapped);
    }
}

}  // namespace swapped16
