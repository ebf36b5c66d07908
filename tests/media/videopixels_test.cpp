// A video's pictures into pixels: the RGB rows into every bitmap format
// with row padding on both sides, and YUV frames scaled smoothly or refused
// when their planes are too short.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imaging/yuvframes.h"
#include "media/videopixels.h"
#include "media/videoplayback.h"

namespace {

// Two rows of two big-endian pixels (A, R, G, B bytes) and 4 bytes of padding.
const uint8_t kRows[] = {0x11, 0xF8, 0xFC, 0x08, 0x22, 0x10, 0x20, 0x30, 0xEE, 0xEE, 0xEE, 0xEE,
                         0x00, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0xEE, 0xEE, 0xEE, 0xEE};

template <class T>
std::vector<T> Convert(int32_t format, int32_t bytesPerPixel, int32_t padding = 2) {
    const size_t rowBytes = 2 * static_cast<size_t>(bytesPerPixel) + static_cast<size_t>(padding);
    std::vector<uint8_t> out(2 * rowBytes, 0xAB);
    ConvertRGBRowsToPixelFormat(kRows, out.data(), 2, 2, 4, padding, format);
    std::vector<T> pixels;
    for (size_t row = 0; row < 2; ++row) {
        for (size_t x = 0; x < 2; ++x) {
            T v{};
            std::memcpy(&v, out.data() + row * rowBytes + x * bytesPerPixel, sizeof v);
            pixels.push_back(v);
        }
        // The padding is left alone.
        EXPECT_EQ(out[row * rowBytes + 2 * bytesPerPixel], 0xAB) << format;
    }
    return pixels;
}

}  // namespace

TEST(VideoPixelsTest, RgbRowsBecomeEachFormatsPixels) {
    EXPECT_EQ(Convert<uint32_t>(10, 4), (std::vector<uint32_t>{0x11F8FC08, 0x22102030, 0x000000FF, 0x00FF0000}));
    EXPECT_EQ(Convert<uint32_t>(11, 4), (std::vector<uint32_t>{0x08FCF800, 0x30201000, 0xFF000000, 0x0000FF00}));
    EXPECT_EQ(Convert<uint32_t>(12, 4), (std::vector<uint32_t>{0xF8FC0800, 0x10203000, 0x0000FF00, 0xFF000000}));
    // RGB565 keeps 5, 6 and 5 top bits; its swapped form the same bytes reversed.
    EXPECT_EQ(Convert<uint16_t>(4, 2), (std::vector<uint16_t>{0xFFE1, 0x1106, 0x001F, 0xF800}));
    EXPECT_EQ(Convert<uint16_t>(6, 2), (std::vector<uint16_t>{0xE1FF, 0x0611, 0x1F00, 0x00F8}));
    EXPECT_EQ(Convert<uint16_t>(5, 2), (std::vector<uint16_t>{0x0FFF, 0x3102, 0xF800, 0x001F}));
    EXPECT_EQ(Convert<uint16_t>(0, 2), (std::vector<uint16_t>{0x7FE1, 0x0886, 0x001F, 0x7C00}));
    EXPECT_EQ(Convert<uint16_t>(1, 2), (std::vector<uint16_t>{0x07FF, 0x1882, 0x7C00, 0x001F}));
    EXPECT_EQ(Convert<uint16_t>(3, 2), (std::vector<uint16_t>{0xFF07, 0x8218, 0x007C, 0x1F00}));
    // Three bytes: R, G, B and B, G, R.
    const std::vector<uint32_t> rgb = Convert<uint32_t>(8, 3, 1);
    EXPECT_EQ(rgb[0] & 0xFFFFFF, 0x08FCF8u);
    EXPECT_EQ(rgb[2] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(Convert<uint32_t>(9, 3, 1)[0] & 0xFFFFFF, 0xF8FC08u);
    // Other formats write nothing.
    std::vector<uint8_t> untouched(16, 0xAB);
    ConvertRGBRowsToPixelFormat(kRows, untouched.data(), 2, 2, 4, 0, 13);
    EXPECT_EQ(untouched, std::vector<uint8_t>(16, 0xAB));
}

TEST(VideoPixelsTest, YuvPicturesScaleSmoothlyAndShortPlanesAreRefused) {
    constexpr int32_t kW = 4, kH = 2;
    std::vector<uint8_t> y(kW * kH, 81), u(2, 90), v(2, 240);
    qbOwnVideoStream stream;
    stream.frameWidth = kW;
    stream.frameHeight = kH;
    qbVideoPlayback p;
    p.stream = &stream;
    p.drawWidth = 2 * kW;
    p.drawHeight = 2 * kH;
    p.params.smooth = true;
    p.swapped.assign(kW * kH, 0);
    qbVideoFrame frame;
    frame.planes[0] = y.data();
    frame.planes[1] = u.data();
    frame.planes[2] = v.data();
    frame.pitches[0] = kW;
    frame.pitches[1] = frame.pitches[2] = kW / 2;
    std::vector<uint32_t> out(4 * kW * kH, 0x123456);
    ConvertVideoPicture(&p, frame, out.data());
    const YUVColour c = YUVToRGB(81, 90, 240);
    const uint32_t colour = uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b;
    for (uint32_t px : out) ASSERT_EQ(px & 0xFFFFFF, colour);

    // A chroma row shorter than half the width would be read past its end.
    frame.pitches[1] = 1;
    std::vector<uint32_t> kept(4 * kW * kH, 0x123456);
    ConvertVideoPicture(&p, frame, kept.data());
    EXPECT_EQ(kept, std::vector<uint32_t>(4 * kW * kH, 0x123456));
}
