// The BMP reader on files built byte by byte and on files that ImageMagick
// wrote (compared with their own decode).
#include <gtest/gtest.h>

#include "core/errcodes.h"
#include "imagefixtures.h"
#include "imaging/imageformats.h"
#include "imaging/loaderchain.h"

using namespace imagefixtures;

namespace {

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// A BMP with the 40-byte header, the palette (B, G, R, 0 each) and the data.
std::vector<uint8_t> BuildBmp(int32_t width, int32_t height, int bits, uint32_t compression,
                              const std::vector<uint32_t>& palette, const std::vector<uint8_t>& data,
                              uint32_t coloursUsed = 0) {
    std::vector<uint8_t> b;
    const uint32_t offset = 54 + static_cast<uint32_t>(palette.size()) * 4;
    b.push_back('B');
    b.push_back('M');
    Put32(b, offset + static_cast<uint32_t>(data.size()));
    Put32(b, 0);
    Put32(b, offset);
    Put32(b, 40);
    Put32(b, static_cast<uint32_t>(width));
    Put32(b, static_cast<uint32_t>(height));
    Put16(b, 1);
    Put16(b, static_cast<uint32_t>(bits));
    Put32(b, compression);
    Put32(b, static_cast<uint32_t>(data.size()));
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, coloursUsed);
    Put32(b, 0);
    for (uint32_t c : palette) Put32(b, c & 0xFFFFFF);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Decoded DecodeFile(const std::string& path) {
    return Decode(path, [](qbFile* f, int32_t* w, int32_t* h, PixelBuffer* px, int32_t*) {
        return ReadBMP(f, false, w, h, px);
    });
}

Decoded DecodeBMP(const ScratchDir& dir, const std::vector<uint8_t>& bytes) {
    WriteBytes(dir.File("t.bmp"), bytes);
    return DecodeFile(dir.File("t.bmp"));
}

TEST(BmpReader, TwentyFourBitOddWidthSkipsRowPadding) {
    ScratchDir dir;
    const int w = 5, h = 3;
    const auto pixels = TestPicture(w, h, 8);
    std::vector<uint8_t> data;
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            const uint32_t v = pixels[static_cast<size_t>(y) * w + x];
            data.push_back(static_cast<uint8_t>(v));
            data.push_back(static_cast<uint8_t>(v >> 8));
            data.push_back(static_cast<uint8_t>(v >> 16));
        }
        data.push_back(0xEE);  // 15 bytes padded to 16
    }
    const Decoded d = DecodeBMP(dir, BuildBmp(w, h, 24, 0, {}, data));
    ASSERT_EQ(d.err, 0);
    EXPECT_EQ(d.width, w);
    EXPECT_EQ(d.height, h);
    EXPECT_EQ(d.pixels, pixels);
}

TEST(BmpReader, SixteenBitIsRead565WhateverTheMasksSay) {
    ScratchDir dir;
    // Two pixels: pure red, green and blue fields at their maxima, then one mix.
    const uint16_t words[3] = {0xF800, 0x07E0, 0x001F | (0x21 << 5) | (0x0A << 11)};
    std::vector<uint8_t> data;
    for (uint16_t v : words) Put16(data, v);
    Put16(data, 0);  // 6 bytes padded to 8
    const Decoded d = DecodeBMP(dir, BuildBmp(3, 1, 16, 3, {}, data));
    ASSERT_EQ(d.err, 0);
    EXPECT_EQ(d.pixels, (std::vector<uint32_t>{0xF80000u, 0x00FC00u, (0x0Au * 8) << 16 | (0x21u * 4) << 8 | 0xF8u}));
}

TEST(BmpReader, PaletteDepthsMapThroughThePalette) {
    ScratchDir dir;
    // 1 bit, 9 wide: two bytes of bits padded to four.
    const Decoded one = DecodeBMP(dir, BuildBmp(9, 1, 1, 0, {0x000000, 0xFFFFFF}, {0b10100000, 0b10000000, 0, 0}));
    ASSERT_EQ(one.err, 0);
    EXPECT_EQ(one.pixels, (std::vector<uint32_t>{0xFFFFFF, 0, 0xFFFFFF, 0, 0, 0, 0, 0, 0xFFFFFF}));
    // 4 bits, 3 wide, high nibble first; colours used 3, the rest of the palette 0.
    const Decoded four =
        DecodeBMP(dir, BuildBmp(3, 1, 4, 0, {0x112233, 0x445566, 0x778899}, {0x21, 0x0F, 0, 0}, 3));
    ASSERT_EQ(four.err, 0);
    EXPECT_EQ(four.pixels, (std::vector<uint32_t>{0x778899, 0x445566, 0x112233}));
}

TEST(BmpReader, RLE8RunsLiteralsDeltasAndEndOfBitmap) {
    ScratchDir dir;
    std::vector<uint32_t> palette(256);
    for (int i = 0; i < 256; ++i) palette[i] = static_cast<uint32_t>(i) * 0x010101u;
    palette[0] = 0x102030;
    const int w = 6, h = 5;
    // Bottom row: run 3 of 7, literal 3 (odd, padded), end of line.
    // Row 1: move right 2 and up 1 (row 1 stays index 0), then run 2 of 9.
    // Row 2: run 9 of 4 (clipped at the padded width 8), end of bitmap.
    const std::vector<uint8_t> data = {3, 7,  0, 3, 1, 2, 3, 0, 0, 0,  //
                                       0, 2, 2, 1, 2, 9,                //
                                       0, 0,                            //
                                       9, 4, 0, 1};
    const Decoded d = DecodeBMP(dir, BuildBmp(w, h, 8, 1, palette, data));
    ASSERT_EQ(d.err, 0);
    auto row = [&](int fromTop) {
        return std::vector<uint32_t>(d.pixels.begin() + fromTop * w, d.pixels.begin() + (fromTop + 1) * w);
    };
    const uint32_t z = palette[0];
    auto p = [&](int i) { return palette[i]; };
    EXPECT_EQ(row(4), (std::vector<uint32_t>{p(7), p(7), p(7), p(1), p(2), p(3)}));
    EXPECT_EQ(row(3), (std::vector<uint32_t>(w, z)));
    EXPECT_EQ(row(2), (std::vector<uint32_t>{z, z, p(9), p(9), z, z}));
    EXPECT_EQ(row(1), (std::vector<uint32_t>(w, p(4))));
    // The end of bitmap halfway up: every row above is index 0.
    EXPECT_EQ(row(0), (std::vector<uint32_t>(w, z)));
}

TEST(BmpReader, RefusalsAndErrors) {
    ScratchDir dir;
    std::vector<uint8_t> px24 = {1, 2, 3, 0};
    // Top-down and 32-bit pictures are left to the platform decoder.
    EXPECT_EQ(DecodeBMP(dir, BuildBmp(1, -1, 24, 0, {}, px24)).err, ERR_LOADPICTURE2);
    EXPECT_EQ(DecodeBMP(dir, BuildBmp(1, 1, 32, 0, {}, px24)).err, ERR_LOADPICTURE2);
    EXPECT_EQ(DecodeBMP(dir, BuildBmp(0, 1, 24, 0, {}, px24)).err, ERR_LOADPICTURE2);
    // Not even the signature: a read error.
    EXPECT_EQ(DecodeBMP(dir, {'B'}).err, ERR_READ);
    EXPECT_EQ(DecodeBMP(dir, {}).err, ERR_READ);
    // A header cut short, a wrong signature, data cut short.
    auto good = BuildBmp(4, 4, 24, 0, {}, std::vector<uint8_t>(48, 9));
    EXPECT_EQ(DecodeBMP(dir, good).err, 0);
    EXPECT_EQ(DecodeBMP(dir, std::vector<uint8_t>(good.begin(), good.begin() + 30)).err, ERR_LOADPICTURE2);
    auto wrong = good;
    wrong[1] = 'A';
    EXPECT_EQ(DecodeBMP(dir, wrong).err, ERR_LOADPICTURE2);
    EXPECT_EQ(DecodeBMP(dir, std::vector<uint8_t>(good.begin(), good.end() - 1)).err, ERR_LOADPICTURE2);
    // RLE data that ends before the header's file size says it does.
    std::vector<uint32_t> pal(256);
    auto rle = BuildBmp(4, 4, 8, 1, pal, {2, 1, 0, 0, 2, 1, 0, 0, 0, 1});
    EXPECT_EQ(DecodeBMP(dir, rle).err, 0);
    EXPECT_EQ(DecodeBMP(dir, std::vector<uint8_t>(rle.begin(), rle.end() - 3)).err, ERR_LOADPICTURE2);
}

TEST(BmpReader, HugeHeadersAreRefusedBeforeAllocating) {
    ScratchDir dir;
    // 2^31 - 1 square: far over any limit; never an undersized buffer.
    auto huge = BuildBmp(0x7FFFFFFF, 0x7FFFFFFF, 24, 0, {}, {0, 0, 0, 0});
    EXPECT_EQ(DecodeBMP(dir, huge).err, ERR_MEM);
    const uint64_t saved = GetMaxImagePixels();
    SetMaxImagePixels(100);
    EXPECT_EQ(DecodeBMP(dir, BuildBmp(11, 10, 24, 0, {}, std::vector<uint8_t>(360))).err, ERR_MEM);
    EXPECT_EQ(DecodeBMP(dir, BuildBmp(10, 10, 24, 0, {}, std::vector<uint8_t>(320))).err, 0);
    SetMaxImagePixels(saved);
}

TEST(BmpReader, TruncatedFilesThroughTheChainGiveTheFileName) {
    ScratchDir dir;
    auto good = BuildBmp(7, 3, 24, 0, {}, std::vector<uint8_t>(72, 0x40));
    const std::string name = dir.File("cut.bmp");
    for (size_t cut : {size_t{2}, size_t{20}, size_t{60}, good.size() - 5}) {
        WriteBytes(name, std::vector<uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)));
        qbImageLoadParams p;
        p.fileName = name.c_str();
        qbLoadedImage img;
        EXPECT_EQ(LoadImageThroughLoaders(p, &img), ERR_LOADPICTURE2) << cut;
        EXPECT_STREQ(GetErrorDetail(), name.c_str());
    }
}

// ImageMagick as an independent writer; their own decode of the
// same file is the reference.
// tolerance: per channel (ImageMagick widens 5 and 6 bits by scaling, the
// reader by shifting).
void ExpectSameAsConvert(const ScratchDir& dir, const std::string& bmp, int tolerance) {
    const std::string ref = dir.File("ref.ppm");
    std::remove(ref.c_str());
    ASSERT_EQ(RunQuietly("convert '" + bmp + "' -depth 8 ppm:'" + ref + "'"), 0) << bmp;
    int w, h;
    std::vector<uint32_t> want;
    ASSERT_TRUE(ReadPPM(ref, &w, &h, &want));
    const Decoded d = DecodeFile(bmp);
    ASSERT_EQ(d.err, 0) << bmp;
    ASSERT_EQ(d.width, w);
    ASSERT_EQ(d.height, h);
    for (size_t i = 0; i < want.size(); ++i)
        for (int s = 0; s < 24; s += 8)
            ASSERT_NEAR(static_cast<int>((d.pixels[i] >> s) & 255), static_cast<int>((want[i] >> s) & 255), tolerance)
                << bmp << " pixel " << i;
}

TEST(BmpReader, FilesOfImageMagickDecodeAsImageMagickReadsThem) {
    if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
    ScratchDir dir;
    const int w = 23, h = 9;
    WritePPM(dir.File("src.ppm"), w, h, TestPicture(w, h, 12));
    const std::string src = dir.File("src.ppm");
    struct Case {
        const char* name;
        const char* options;
        int bits;
        int compression;
        int tolerance;
    } cases[] = {
        {"rgb24.bmp", "-type TrueColor BMP3:", 24, 0, 0},
        {"pal8.bmp", "-colors 200 -type Palette -compress None BMP3:", 8, 0, 0},
        {"rle8.bmp", "-colors 60 -type Palette -compress RLE BMP3:", 8, 1, 0},
        {"pal4.bmp", "-colors 12 -type Palette BMP3:", 4, 0, 0},
        {"rgb565.bmp", "-define bmp:subtype=RGB565 BMP:", 16, 3, 7},
    };
    for (const Case& c : cases) {
        const std::string out = dir.File(c.name);
        ASSERT_EQ(RunQuietly("convert '" + src + "' " + c.options + "'" + out + "'"), 0) << c.name;
        // The writer made the kind of file the case is about.
        const auto bytes = ReadBytes(out);
        ASSERT_GE(bytes.size(), 54u);
        EXPECT_EQ(bytes[28], c.bits) << c.name;
        EXPECT_EQ(bytes[30], c.compression) << c.name;
        ExpectSameAsConvert(dir, out, c.tolerance);
    }
}

}  // namespace
