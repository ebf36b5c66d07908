// The JPEG reader against libjpeg's own djpeg (libjpeg-turbo-progs), on
// files written by cjpeg and by libjpeg directly; the writer round trip.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>
#include <jpeglib.h>

#include "core/errcodes.h"
#include "imagefixtures.h"
#include "imaging/imageformats.h"
#include "imaging/loaderchain.h"

using namespace imagefixtures;

namespace {

Decoded DecodeJPEG(const std::string& path) {
    return Decode(path, [](qbFile* f, int32_t* w, int32_t* h, PixelBuffer* px, int32_t*) {
        return ReadJPEG(f, false, w, h, px);
    });
}

// djpeg's decode of the file as 0x00RRGGBB (grey pictures replicated).
bool Djpeg(const ScratchDir& dir, const std::string& jpeg, int* w, int* h, std::vector<uint32_t>* pixels) {
    const std::string out = dir.File("djpeg.pnm");
    std::remove(out.c_str());
    RunQuietly("djpeg -pnm -outfile '" + out + "' '" + jpeg + "'");
    return ReadPPM(out, w, h, pixels);
}

#define REQUIRE_TOOLS()                                                                        \
    do {                                                                                       \
        if (!HaveTool("djpeg") || !HaveTool("cjpeg"))                                          \
            GTEST_SKIP() << "djpeg/cjpeg (libjpeg-turbo-progs) are not installed";            \
    } while (0)

void ExpectSameAsDjpeg(const ScratchDir& dir, const std::string& jpeg) {
    int w = 0, h = 0;
    std::vector<uint32_t> reference;
    ASSERT_TRUE(Djpeg(dir, jpeg, &w, &h, &reference)) << jpeg;
    const Decoded d = DecodeJPEG(jpeg);
    ASSERT_EQ(d.err, 0) << jpeg;
    EXPECT_EQ(d.width, w);
    EXPECT_EQ(d.height, h);
    EXPECT_TRUE(d.pixels == reference) << jpeg << " differs from djpeg";
}

TEST(JpegReader, DecodesExactlyAsDjpeg) {
    REQUIRE_TOOLS();
    ScratchDir dir;
    const int w = 61, h = 47;
    WritePPM(dir.File("src.ppm"), w, h, TestPicture(w, h, 21));
    const std::string ppm = dir.File("src.ppm");
    struct Variant {
        const char* name;
        const char* options;
    } variants[] = {
        {"baseline.jpg", "-quality 85"},
        {"progressive.jpg", "-quality 70 -progressive"},
        {"grey.jpg", "-grayscale"},
        {"s444.jpg", "-sample 1x1 -quality 95"},
        {"restart.jpg", "-restart 2 -optimize"},
    };
    for (const Variant& v : variants) {
        const std::string jpeg = dir.File(v.name);
        ASSERT_EQ(RunQuietly(std::string("cjpeg ") + v.options + " -outfile '" + jpeg + "' '" + ppm + "'"), 0) << v.name;
        ExpectSameAsDjpeg(dir, jpeg);
    }
}

// The offset just past the start-of-scan header.
size_t EndOfScanHeader(const std::vector<uint8_t>& b) {
    size_t p = 2;
    while (p + 4 <= b.size()) {
        if (b[p] != 0xFF) return 0;
        const uint8_t marker = b[p + 1];
        const size_t length = static_cast<size_t>(b[p + 2]) << 8 | b[p + 3];
        if (marker == 0xDA) return p + 2 + length;
        p += 2 + length;
    }
    return 0;
}

TEST(JpegReader, CutAfterTheHeaderIsFilledInCutInsideItFails) {
    REQUIRE_TOOLS();
    ScratchDir dir;
    const int w = 96, h = 80;
    WritePPM(dir.File("src.ppm"), w, h, TestPicture(w, h, 4));
    const std::string jpeg = dir.File("full.jpg");
    ASSERT_EQ(RunQuietly("cjpeg -quality 90 -outfile '" + jpeg + "' '" + dir.File("src.ppm") + "'"), 0);
    const auto bytes = ReadBytes(jpeg);
    const size_t sos = EndOfScanHeader(bytes);
    ASSERT_GT(sos, 0u);

    testing::internal::CaptureStderr();
    // Cut in the scan data: the library fills the rest as djpeg does.
    for (size_t cut : {sos, sos + 1, sos + (bytes.size() - sos) / 3}) {
        const std::string name = dir.File("cut" + std::to_string(cut) + ".jpg");
        WriteBytes(name, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
        ExpectSameAsDjpeg(dir, name);
        qbImageLoadParams p;
        p.fileName = name.c_str();
        qbLoadedImage img;
        EXPECT_EQ(LoadImageThroughLoaders(p, &img), 0);
        EXPECT_EQ(img.width, w);
    }
    // Cut inside the header: an error with the file name.
    for (size_t cut : {size_t{2}, size_t{3}, size_t{21}, sos / 2, sos - 3}) {
        const std::string name = dir.File("head" + std::to_string(cut) + ".jpg");
        WriteBytes(name, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
        EXPECT_EQ(DecodeJPEG(name).err, ERR_LOADPICTURE2) << cut;
        qbImageLoadParams p;
        p.fileName = name.c_str();
        qbLoadedImage img;
        EXPECT_EQ(LoadImageThroughLoaders(p, &img), ERR_LOADPICTURE2) << cut;
        EXPECT_STREQ(GetErrorDetail(), name.c_str());
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// A flat CMYK picture written with libjpeg, with or without the Adobe marker.
std::vector<uint8_t> CmykJpeg(bool adobe, const uint8_t cmyk[4], int w, int h) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = w;
    c.image_height = h;
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    c.write_Adobe_marker = adobe ? TRUE : FALSE;
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(w) * 4);
    for (int x = 0; x < w; ++x) std::copy(cmyk, cmyk + 4, row.begin() + 4 * x);
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> bytes(out, out + size);
    free(out);
    return bytes;
}

// The CMYK samples that libjpeg decodes from the data.
std::vector<uint8_t> RawCmyk(const std::vector<uint8_t>& bytes) {
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, bytes.data(), bytes.size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_CMYK;
    jpeg_start_decompress(&d);
    std::vector<uint8_t> all;
    std::vector<uint8_t> row(static_cast<size_t>(d.output_width) * 4);
    while (d.output_scanline < d.output_height) {
        JSAMPROW r = row.data();
        jpeg_read_scanlines(&d, &r, 1);
        all.insert(all.end(), row.begin(), row.end());
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return all;
}

uint32_t CmykFormula(const uint8_t* s, bool inverted) {
    uint32_t c = s[0], m = s[1], y = s[2], k = s[3];
    if (inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    return ((255 - c) * (255 - k) / 255) << 16 | ((255 - m) * (255 - k) / 255) << 8 | ((255 - y) * (255 - k) / 255);
}

TEST(JpegReader, AdobeCmykIsInvertedAgainstPlainCmyk) {
    const uint8_t cmyk[4] = {20, 90, 160, 40};
    const int w = 16, h = 8;
    for (bool adobe : {false, true}) {
        const auto bytes = CmykJpeg(adobe, cmyk, w, h);
        const auto raw = RawCmyk(bytes);
        int32_t dw = 0, dh = 0;
        PixelBuffer px;
        ASSERT_EQ(ReadJPEGMemory(bytes.data(), bytes.size(), false, &dw, &dh, &px), 0);
        ASSERT_EQ(dw, w);
        for (int i = 0; i < w * h; ++i) ASSERT_EQ(px[i], CmykFormula(&raw[4 * i], adobe)) << adobe << " " << i;
    }
}

TEST(JpegWriter, RoundTripStaysClose) {
    // Two colours; chroma subsampling blends them near their edge, which
    // the comparison leaves out.
    const int w = 48, h = 32;
    std::vector<uint32_t> flat(static_cast<size_t>(w) * h);
    for (int i = 0; i < w * h; ++i) flat[i] = 0xFF000000u | (i % w < 16 ? 0x3366CCu : 0xCC9933u);
    for (int order : {0, 1}) {
        std::vector<uint32_t> src = flat;
        if (order == 1)
            for (uint32_t& v : src) v = ((v & 0xFF0000) >> 8) | ((v & 0xFF00) << 8) | ((v & 0xFF) << 24);
        qbJPEGRequest req;
        req.pixels = src.data();
        req.strideBytes = w * 4;
        req.width = w;
        req.height = h;
        req.quality = 95;
        req.byteOrder = order;
        WriteJPEG(&req);
        ASSERT_EQ(req.result, 0);
        ASSERT_GT(req.size, 100u);
        int32_t dw, dh;
        PixelBuffer px;
        ASSERT_EQ(ReadJPEGMemory(req.data.get(), req.size, false, &dw, &dh, &px), 0);
        ASSERT_EQ(dw, w);
        ASSERT_EQ(dh, h);
        for (int i = 0; i < w * h; ++i) {
            const uint32_t want = flat[i] & 0xFFFFFF, got = px[i];
            ASSERT_EQ(got >> 24, 0u);
            if (i % w >= 8 && i % w < 24) continue;
            for (int s = 0; s < 24; s += 8)
                ASSERT_NEAR(static_cast<int>((got >> s) & 255), static_cast<int>((want >> s) & 255), 12) << i;
        }
    }
}

TEST(JpegWriter, GrowsPastItsFirstBlock) {
    // Noise at quality 100 takes more than width x height x 3 bytes: here
    // more than twice the first 64 KiB block, so the block doubles twice.
    const int w = 300, h = 300;
    std::mt19937 rng(99);
    std::vector<uint32_t> noise(static_cast<size_t>(w) * h);
    for (uint32_t& v : noise) v = rng() & 0xFFFFFF;
    qbJPEGRequest req;
    req.pixels = noise.data();
    req.strideBytes = w * 4;
    req.width = w;
    req.height = h;
    req.quality = 100;
    WriteJPEG(&req);
    ASSERT_EQ(req.result, 0);
    EXPECT_GT(req.size, size_t{2} * 65536);
    int32_t dw, dh;
    PixelBuffer px;
    ASSERT_EQ(ReadJPEGMemory(req.data.get(), req.size, false, &dw, &dh, &px), 0);
    EXPECT_EQ(dw, w);
    EXPECT_EQ(dh, h);
    // Quality 100 keeps the brightness of each pixel (the colour is shared
    // among four): every byte the growth moved came through.
    auto luma = [](uint32_t c) { return 0.299 * (c >> 16 & 255) + 0.587 * (c >> 8 & 255) + 0.114 * (c & 255); };
    for (int i = 0; i < w * h; i += 7) ASSERT_NEAR(luma(px[i]), luma(noise[i]), 16) << i;
}

TEST(JpegWriter, SidesPast65500AndShortRowsAreRefused) {
    // The library's sides stop at 65500 (the format's at 65535): one row or
    // column of that length encodes, one more is refused, as are sides the
    // format cannot hold, empty sides and rows shorter than the width.
    std::vector<uint32_t> line(65536, 0xFF336699u);
    struct Case {
        int32_t width, height, stride;
        bool ok;
    };
    for (const Case c : {Case{65500, 1, 65500 * 4, true}, Case{1, 65500, 4, true}, Case{65501, 1, 65501 * 4, false},
                         Case{1, 65501, 4, false}, Case{65536, 1, 65536 * 4, false}, Case{1, 65536, 4, false}, Case{0, 1, 4, false}, Case{1, 0, 4, false},
                         Case{4, 1, 15, false}}) {
        qbJPEGRequest req;
        req.pixels = line.data();
        req.strideBytes = c.stride;
        req.width = c.width;
        req.height = c.height;
        req.quality = 50;
        WriteJPEG(&req);
        if (c.ok) {
            EXPECT_EQ(req.result, 0) << c.width << "x" << c.height;
            int32_t dw = 0, dh = 0;
            PixelBuffer px;
            EXPECT_EQ(ReadJPEGMemory(req.data.get(), req.size, false, &dw, &dh, &px), 0);
            EXPECT_EQ(dw, c.width);
            EXPECT_EQ(dh, c.height);
        } else {
            EXPECT_EQ(req.result, ERR_MEM) << c.width << "x" << c.height << " stride " << c.stride;
            EXPECT_EQ(req.data, nullptr);
            EXPECT_EQ(req.size, 0u);
        }
    }
    qbJPEGRequest none;
    none.width = none.height = 1;
    none.strideBytes = 4;
    WriteJPEG(&none);
    EXPECT_EQ(none.result, ERR_MEM);
}

}  // namespace
