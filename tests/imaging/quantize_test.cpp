// The colour quantiser: its exact pass, transparency, reserve and count
// limits, the formats, and libjpeg's two-pass quantiser (the same median
// cut, inverse map and dithering) as an exact oracle.
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <vector>

#include "core/pixelformats.h"
#include "imagefixtures.h"
#include "imaging/quantize.h"

namespace {

struct Result {
    int ok = 0;
    int32_t count = 0;
    int32_t transparent = -2;
    std::vector<uint32_t> palette = std::vector<uint32_t>(256, 0xDEADBEEF);
    std::vector<uint8_t> indices;
};

Result Quantize(const std::vector<uint32_t>& px, int w, int h, int32_t count, bool dither,
                uint32_t key = kNoTransparentColour, bool reserve = false) {
    Result r;
    r.count = count;
    r.indices.assign(static_cast<size_t>(w) * h, 0xEE);
    r.ok = QuantizePixels(px.data(), kFormatARGB, 4, w, h, w, r.indices.data(), r.palette.data(), &r.count, key,
                          reserve, dither, &r.transparent);
    return r;
}

std::vector<uint32_t> Photo(int w, int h, uint32_t seed) {
    std::vector<uint32_t> p(static_cast<size_t>(w) * h);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t r = static_cast<uint32_t>(128 + 100 * std::sin(x * 0.05 + y * 0.01)) + rng() % 20;
            const uint32_t g = static_cast<uint32_t>(y * 255 / h);
            const uint32_t b = static_cast<uint32_t>((x * y / 7 + rng() % 30) & 255);
            p[static_cast<size_t>(y) * w + x] = std::min(r, 255u) << 16 | g << 8 | b;
        }
    return p;
}

TEST(Quantize, ThreeColoursStayExactInOrderOfAppearance) {
    const std::vector<uint32_t> px = {0x00FF00, 0x123456, 0x00FF00, 0xABCDEF, 0x123456, 0xABCDEF};
    for (bool dither : {false, true}) {
        const Result r = Quantize(px, 3, 2, 16, dither);
        ASSERT_EQ(r.ok, 1);
        ASSERT_EQ(r.count, 3);
        EXPECT_EQ(r.palette[0], 0x00FF00u);
        EXPECT_EQ(r.palette[1], 0x123456u);
        EXPECT_EQ(r.palette[2], 0xABCDEFu);
        EXPECT_EQ(r.indices, (std::vector<uint8_t>{0, 1, 0, 2, 1, 2}));
        EXPECT_EQ(r.transparent, -1);
    }
}

TEST(Quantize, TransparentColourTakesTheLastEntry) {
    const auto photo = Photo(64, 48, 1);
    std::vector<uint32_t> px = photo;
    for (size_t i = 0; i < px.size(); i += 5) px[i] = 0xFF00FF;
    for (bool dither : {false, true}) {
        const Result r = Quantize(px, 64, 48, 256, dither, 0xFF00FF);
        ASSERT_EQ(r.ok, 1);
        ASSERT_LE(r.count, 256);
        EXPECT_EQ(r.transparent, r.count - 1);
        EXPECT_EQ(r.palette[static_cast<size_t>(r.count - 1)], 0xFF00FFu);
        for (size_t i = 0; i < px.size(); ++i)
            ASSERT_EQ(r.indices[i] == r.transparent, px[i] == 0xFF00FF) << i;
    }
    const std::vector<uint32_t> clear(100, 0xFF00FF);
    const Result r = Quantize(clear, 10, 10, 16, true, 0xFF00FF);
    EXPECT_EQ(r.count, 1);
    EXPECT_EQ(r.palette[0], 0xFF00FFu);
    EXPECT_EQ(r.transparent, 0);
}

TEST(Quantize, TwoColoursFromAPhotograph) {
    const auto px = Photo(80, 60, 2);
    Result r = Quantize(px, 80, 60, 2, true);
    EXPECT_EQ(r.count, 2);
    r = Quantize(px, 80, 60, 2, false, kNoTransparentColour, true);
    EXPECT_EQ(r.count, 3);
    EXPECT_EQ(r.palette[2], 0u);
    for (uint8_t i : r.indices) ASSERT_LT(i, 2);
}

TEST(Quantize, FirstDitheredPixelGetsNoError) {
    const auto px = Photo(40, 30, 3);
    const Result plain = Quantize(px, 40, 30, 16, false);
    const Result dithered = Quantize(px, 40, 30, 16, true);
    EXPECT_EQ(plain.indices[0], dithered.indices[0]);
    EXPECT_EQ(std::vector<uint32_t>(plain.palette.begin(), plain.palette.begin() + 16),
              std::vector<uint32_t>(dithered.palette.begin(), dithered.palette.begin() + 16));
    EXPECT_NE(plain.indices, dithered.indices);
}

TEST(Quantize, CountsAreCutToThePalette) {
    std::vector<uint32_t> px(300);
    for (uint32_t i = 0; i < 300; ++i) px[i] = i * 0x010305u;
    for (int32_t asked : {0, -5, 257, 1000000}) {
        const Result r = Quantize(px, 20, 15, asked, true);
        ASSERT_EQ(r.ok, 1);
        EXPECT_GE(r.count, 1);
        EXPECT_LE(r.count, 256);
        for (uint8_t i : r.indices) ASSERT_LT(i, r.count) << asked;
    }
    // 256 colours in 256 histogram cells.
    std::vector<uint32_t> distinct(256);
    for (uint32_t i = 0; i < 256; ++i) distinct[i] = (i & 15) << 20 | (i >> 4) << 4;
    const Result r = Quantize(distinct, 16, 16, 256, false, kNoTransparentColour, true);
    EXPECT_EQ(r.count, 256);
    EXPECT_EQ(r.palette[255], 0u);
    EXPECT_EQ(std::set<uint8_t>(r.indices.begin(), r.indices.end()).size(), 255u);
    for (uint8_t i : r.indices) ASSERT_LT(i, 255);
}

TEST(Quantize, FormatsAgree) {
    const int w = 50, h = 40;
    const auto photo = Photo(w, h, 4);
    std::vector<uint32_t> reference;
    std::vector<uint8_t> refIndices;
    for (int format = kFormatRGB24; format <= kFormatABGR; ++format) {
        const int bytes = BytesPerPixel(format);
        std::vector<uint8_t> buf(static_cast<size_t>(w) * h * bytes);
        for (size_t i = 0; i < photo.size(); ++i) {
            const uint8_t rgb[3] = {static_cast<uint8_t>(photo[i] >> 16), static_cast<uint8_t>(photo[i] >> 8),
                                    static_cast<uint8_t>(photo[i])};
            if (format == kFormatRGB24) std::copy(rgb, rgb + 3, &buf[i * 3]);
            else if (format == kFormatBGR24) buf[i * 3] = rgb[2], buf[i * 3 + 1] = rgb[1], buf[i * 3 + 2] = rgb[0];
            else WritePixelRGB(&buf[i * bytes], format, rgb);
        }
        std::vector<uint32_t> pal(256);
        std::vector<uint8_t> idx(photo.size());
        int32_t n = 64;
        ASSERT_EQ(QuantizePixels(buf.data(), format, bytes, w, h, w, idx.data(), pal.data(), &n,
                                 kNoTransparentColour, false, true),
                  1);
        pal.resize(static_cast<size_t>(n));
        if (reference.empty()) reference = pal, refIndices = idx;
        EXPECT_EQ(pal, reference) << format;
        EXPECT_EQ(idx, refIndices) << format;
    }
    // 16-bit pixels: the quantiser sees the 5- and 6-bit fields shifted left.
    std::vector<uint16_t> p565(photo.size()), p555(photo.size());
    std::vector<uint32_t> wide565(photo.size()), wide555(photo.size());
    for (size_t i = 0; i < photo.size(); ++i) {
        const uint32_t r = photo[i] >> 16 & 255, g = photo[i] >> 8 & 255, b = photo[i] & 255;
        p565[i] = static_cast<uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | b >> 3);
        p555[i] = static_cast<uint16_t>((r >> 3) << 10 | (g >> 3) << 5 | b >> 3);
        wide565[i] = (r & 0xF8) << 16 | (g & 0xFC) << 8 | (b & 0xF8);
        wide555[i] = (r & 0xF8) << 16 | (g & 0xF8) << 8 | (b & 0xF8);
    }
    for (auto [format, pixels, wide] : {std::tuple{kFormatRGB565, &p565, &wide565},
                                        std::tuple{kFormatRGB555, &p555, &wide555}}) {
        std::vector<uint32_t> pal(256);
        std::vector<uint8_t> idx(photo.size());
        int32_t n = 32;
        ASSERT_EQ(QuantizePixels(pixels->data(), format, 2, w, h, w, idx.data(), pal.data(), &n,
                                 kNoTransparentColour, false, true),
                  1);
        const Result want = Quantize(*wide, w, h, 32, true);
        EXPECT_EQ(n, want.count);
        EXPECT_EQ(std::vector<uint32_t>(pal.begin(), pal.begin() + n),
                  std::vector<uint32_t>(want.palette.begin(), want.palette.begin() + n));
        EXPECT_EQ(idx, want.indices);
    }
}

// libjpeg decodes the same JPEG twice: as RGB, and through its two-pass
// quantiser; the quantiser of the RGB decode must give the same palette
// and indices.
struct Decoded {
    std::vector<uint8_t> rgb;
    std::vector<uint8_t> indices;
    std::vector<uint32_t> palette;
};

Decoded DecodeJpeg(const std::vector<uint8_t>& jpeg, int colours, bool dither) {
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), jpeg.size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    if (colours) {
        d.quantize_colors = TRUE;
        d.two_pass_quantize = TRUE;
        d.desired_number_of_colors = colours;
        d.dither_mode = dither ? JDITHER_FS : JDITHER_NONE;
    }
    jpeg_start_decompress(&d);
    Decoded out;
    const size_t stride = static_cast<size_t>(d.output_width) * d.output_components;
    std::vector<uint8_t> all(stride * d.output_height);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &all[d.output_scanline * stride];
        jpeg_read_scanlines(&d, &row, 1);
    }
    if (colours) {
        out.indices = all;
        for (int i = 0; i < d.actual_number_of_colors; ++i)
            out.palette.push_back(uint32_t{d.colormap[0][i]} << 16 | uint32_t{d.colormap[1][i]} << 8 |
                                  d.colormap[2][i]);
    } else {
        out.rgb = all;
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return out;
}

std::vector<uint8_t> EncodeJpeg(const std::vector<uint32_t>& px, int w, int h) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    for (int i = 0; i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint32_t v = px[static_cast<size_t>(y) * w + x];
            row[3 * x] = static_cast<uint8_t>(v >> 16);
            row[3 * x + 1] = static_cast<uint8_t>(v >> 8);
            row[3 * x + 2] = static_cast<uint8_t>(v);
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> bytes(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
}

TEST(Quantize, MatchesLibjpegTwoPassQuantiser) {
    const int w = 173, h = 121;
    const auto jpeg = EncodeJpeg(imagefixtures::TestPicture(w, h, 7), w, h);
    const Decoded rgb = DecodeJpeg(jpeg, 0, false);
    for (int n : {8, 16, 64, 200, 256})
        for (bool dither : {false, true}) {
            const Decoded want = DecodeJpeg(jpeg, n, dither);
            std::vector<uint32_t> pal(256);
            std::vector<uint8_t> idx(static_cast<size_t>(w) * h);
            int32_t count = n;
            ASSERT_EQ(QuantizePixels(rgb.rgb.data(), kFormatRGB24, 3, w, h, w, idx.data(), pal.data(), &count,
                                     kNoTransparentColour, false, dither),
                      1);
            pal.resize(static_cast<size_t>(count));
            EXPECT_EQ(pal, want.palette) << n << " " << dither;
            EXPECT_EQ(idx, want.indices) << n << " " << dither;
        }
}

}  // namespace

// Every row's first pixel is looked up on its own, whatever its raw value,
// black with no alpha (all bits clear) included.
TEST(Quantize, EveryRowStartsItsOwnLookup) {
    const std::vector<uint32_t> px = {0x00FF00, 0x000000, 0x000000, 0x00FF00, 0x000000, 0x000000};
    const Result r = Quantize(px, 2, 3, 16, false);
    ASSERT_EQ(r.ok, 1);
    ASSERT_EQ(r.count, 2);
    EXPECT_EQ(r.palette[1], 0u);
    EXPECT_EQ(r.indices, (std::vector<uint8_t>{0, 1, 1, 0, 1, 1}));
}
