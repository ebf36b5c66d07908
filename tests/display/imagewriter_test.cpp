// The image-file writer, checked by decoders that are not ours: BMP row
// padding and order, PNG alpha, JPEG quality, and the write faults.
#include <gtest/gtest.h>
#include "core/file.h"
#include "imaging/gif.h"
#include "imaging/ilbm.h"
#include <filesystem>

#include <cstring>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "display/imagewriter.h"
#include "imaging/imagefixtures.h"

namespace {

using namespace imagefixtures;

std::string ErrorText(int code) {
    char text[kErrorTextSize];
    GetErrorText(code, text);
    return text;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}

// Decodes with an outside tool into 0x00RRGGBB pixels.
std::vector<uint32_t> DecodeWith(const std::string& command, const std::string& out, int* w, int* h) {
    std::vector<uint32_t> pixels;
    EXPECT_EQ(RunQuietly(command + " > " + out), 0) << command;
    EXPECT_TRUE(ReadPPM(out, w, h, &pixels)) << command;
    return pixels;
}

std::vector<uint32_t> Rgb(std::vector<uint32_t> p) {
    for (uint32_t& v : p) v &= 0xFFFFFFu;
    return p;
}

TEST(ImageWriter, BMPRowsArePaddedAndStoredBottomUp) {
    if (!HaveTool("bmptopnm")) GTEST_SKIP() << "netpbm missing";
    ScratchDir dir;
    const struct {
        int32_t width;
        int64_t rowBytes;
    } cases[] = {{1, 4}, {2, 8}, {3, 12}, {4, 12}, {41, 124}};
    for (const auto& c : cases) {
        const int32_t height = 3;
        const auto pixels = TestPicture(c.width, height, 5, true);
        const std::string file = dir.File("p" + std::to_string(c.width) + ".bmp");
        ASSERT_EQ(WriteImageFile(kImageFormatBMP, pixels.data(), c.width, height, file.c_str(), -1, false, {}), 0);
        EXPECT_EQ(BMPRowBytes(c.width), c.rowBytes);
        const auto bytes = ReadBytes(file);
        ASSERT_EQ(bytes.size(), static_cast<size_t>(54 + c.rowBytes * height)) << c.width;
        EXPECT_EQ(Le32(bytes, 2), bytes.size());
        EXPECT_EQ(Le32(bytes, 10), 54u);
        EXPECT_EQ(Le32(bytes, 22), static_cast<uint32_t>(height));
        // The first row stored is the picture's last; padding is zero.
        const uint32_t last = pixels[static_cast<size_t>(height - 1) * c.width];
        EXPECT_EQ(bytes[54], last & 0xFF);
        EXPECT_EQ(bytes[56], (last >> 16) & 0xFF);
        for (int64_t pad = c.width * 3; pad < c.rowBytes; ++pad) EXPECT_EQ(bytes[54 + pad], 0) << c.width;
        int w = 0, h = 0;
        const auto decoded = DecodeWith("bmptopnm " + file, dir.File("out.ppm"), &w, &h);
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, height);
        EXPECT_EQ(decoded, Rgb(pixels)) << c.width;
    }
}

TEST(ImageWriter, PNGKeepsAlphaAndJPEGTakesTheQuality) {
    if (!HaveTool("pngtopnm") || !HaveTool("djpeg")) GTEST_SKIP() << "decoders missing";
    ScratchDir dir;
    const auto pixels = TestPicture(17, 9, 3, true);
    const std::string png = dir.File("a.png");
    ASSERT_EQ(WriteImageFile(kImageFormatPNG, pixels.data(), 17, 9, png.c_str(), -1, true, {}), 0);
    int w = 0, h = 0;
    EXPECT_EQ(DecodeWith("pngtopnm " + png, dir.File("c.ppm"), &w, &h), Rgb(pixels));
    const auto alpha = DecodeWith("pngtopnm -alpha " + png, dir.File("a.pgm"), &w, &h);
    ASSERT_EQ(alpha.size(), pixels.size());
    for (size_t i = 0; i < pixels.size(); ++i) ASSERT_EQ(alpha[i] & 0xFF, pixels[i] >> 24) << i;

    // A flat picture survives JPEG almost exactly; the quality shows in the
    // size of a noisy one.
    const auto noisy = TestPicture(64, 64, 9);
    const std::string q90 = dir.File("q90.jpg"), q50 = dir.File("q50.jpg");
    ASSERT_EQ(WriteImageFile(kImageFormatJPEG, noisy.data(), 64, 64, q90.c_str(), -1, false, {}), 0);
    qbImageSaveOptions low;
    low.quality = 50;
    ASSERT_EQ(WriteImageFile(kImageFormatJPEG, noisy.data(), 64, 64, q50.c_str(), -1, false, low), 0);
    EXPECT_GT(ReadBytes(q90).size(), ReadBytes(q50).size());
    const std::vector<uint32_t> flat(16 * 8, 0x336699);
    const std::string f = dir.File("flat.jpg");
    ASSERT_EQ(WriteImageFile(kImageFormatJPEG, flat.data(), 16, 8, f.c_str(), -1, false, {}), 0);
    const auto back = DecodeWith("djpeg -pnm " + f, dir.File("f.ppm"), &w, &h);
    ASSERT_EQ(back.size(), flat.size());
    for (uint32_t p : back)
        for (int s : {0, 8, 16}) EXPECT_NEAR(int((p >> s) & 255), int((0x336699 >> s) & 255), 3);
}

// A disk that fills after a number of bytes.
struct FullDisk {
    size_t room = 0;
    static size_t Write(void* context, const void*, size_t count) {
        auto* disk = static_cast<FullDisk*>(context);
        const size_t taken = count < disk->room ? count : disk->room;
        disk->room -= taken;
        return taken;
    }
};

// Collects what the writer gives its sink.
size_t Collect(void* context, const void* data, size_t count) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    out->insert(out->end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + count);
    return count;
}

TEST(ImageWriter, PackedRowsMatchAPlainReference) {
    // Widths around the four-pixel packing and its tail, rows taken from a
    // wider buffer, and pictures taller than one 64 KB block.
    uint32_t seed = 12345;
    for (int32_t width : {1, 2, 3, 4, 5, 7, 8, 9, 13, 16, 17, 31, 1000}) {
        for (int32_t extra : {0, 3}) {
            const int32_t height = width == 1000 ? 70 : 5;
            const int32_t rowPixels = width + extra;
            std::vector<uint32_t> pixels(static_cast<size_t>(rowPixels) * height);
            for (uint32_t& p : pixels) p = seed = seed * 1664525u + 1013904223u;
            std::vector<uint8_t> got;
            ASSERT_EQ(WriteBMP(qbByteSink{&Collect, &got}, pixels.data(), width, height, extra ? rowPixels : 0), 0);
            const size_t rowBytes = static_cast<size_t>(BMPRowBytes(width));
            std::vector<uint8_t> want(54 + rowBytes * height, 0);
            std::memcpy(want.data(), got.data(), 54);
            for (int32_t y = 0; y < height; ++y)
                for (int32_t x = 0; x < width; ++x)
                    for (int c = 0; c < 3; ++c)
                        want[54 + (height - 1 - y) * rowBytes + x * 3 + c] =
                            static_cast<uint8_t>(pixels[static_cast<size_t>(y) * rowPixels + x] >> (8 * c));
            EXPECT_EQ(got, want) << width << " " << extra;
        }
    }
    std::vector<uint8_t> none;
    const uint32_t one = 0;
    EXPECT_EQ(WriteBMP(qbByteSink{&Collect, &none}, &one, 2, 1, 1), ERR_WRONGUSAGE);
}

TEST(ImageWriter, WriteFaults) {
    const std::vector<uint32_t> pixels(8 * 4, 0x123456);
    FullDisk header{20};
    EXPECT_EQ(WriteBMP(qbByteSink{&FullDisk::Write, &header}, pixels.data(), 8, 4), ERR_WRITE);
    FullDisk rows{54 + 24 * 2};
    EXPECT_EQ(WriteBMP(qbByteSink{&FullDisk::Write, &rows}, pixels.data(), 8, 4), ERR_WRITE);
    FullDisk room{54 + 24 * 4};
    EXPECT_EQ(WriteBMP(qbByteSink{&FullDisk::Write, &room}, pixels.data(), 8, 4), 0);

    EXPECT_EQ(WriteImageFile(kImageFormatBMP, pixels.data(), 8, 4, "/x/y.bmp", -1, false, {}), ERR_WRITEFILE);
    EXPECT_EQ(ErrorText(ERR_WRITEFILE), "Cannot write to file /x/y.bmp !");
    EXPECT_EQ(WriteImageFile(kImageFormatPNG, pixels.data(), 8, 4, "/x/y.png", -1, false, {}), ERR_WRITEFILE);
    EXPECT_EQ(WriteImageFile(9, pixels.data(), 8, 4, "/tmp/never.img", -1, false, {}), ERR_UNKNOWNIMGOUT);
    EXPECT_EQ(WriteImageFile(kImageFormatILBM, pixels.data(), 8, 4, "/x/y.iff", -1, false, {}), ERR_WRITEFILE);
    EXPECT_STREQ(GetErrorDetail(), "/x/y.iff");
    EXPECT_EQ(WriteImageFile(kImageFormatILBM, pixels.data(), 8, 4, "/dev/full", -1, false, {}), ERR_WRITE);
    EXPECT_EQ(WriteImageFile(kImageFormatGIF, pixels.data(), 8, 4, "/dev/full", -1, false, {}), ERR_WRITE);
    const std::vector<uint32_t> wide(70000);
    EXPECT_EQ(WriteImageFile(kImageFormatGIF, wide.data(), 70000, 1, "/tmp/never.gif", -1, false, {}),
              ERR_WRONGUSAGE);
    EXPECT_EQ(WriteImageFile(kImageFormatILBM, wide.data(), 70000, 1, "/tmp/never.iff", -1, false, {}),
              ERR_WRONGUSAGE);
}

// A picture of few colours keeps them exactly; the key colour comes back
// as the frame's transparency.
TEST(ImageWriter, GIFKeepsAPaletteAndTheKeyColour) {
    char dir[] = "/tmp/qb-gifsave-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string path = std::string(dir) + "/p.gif";
    std::vector<uint32_t> pixels(23 * 9);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = 0x102030u * static_cast<uint32_t>(i % 11);
    pixels[5] = 0xFF00FF;
    qbImageSaveOptions options;
    options.colors = 16;
    ASSERT_EQ(WriteImageFile(kImageFormatGIF, pixels.data(), 23, 9, path.c_str(), 0xFF00FF, false, options), 0);
    int32_t w = 0, h = 0, frames = 0;
    qbGIFReaderPtr reader(OpenGIFReader(FileOpen(path.c_str(), kFileModeRead, nullptr), &w, &h, &frames, false,
                                        true, true));
    ASSERT_TRUE(reader);
    EXPECT_EQ(frames, 1);
    uint32_t transparency = 0;
    PixelBuffer frame = GetGIFFrame(reader.get(), 0, &transparency);
    ASSERT_TRUE(frame);
    EXPECT_EQ(transparency, 1u);
    for (size_t i = 0; i < pixels.size(); ++i)
        EXPECT_EQ(frame[i], i == 5 ? 0xFF00FFu : 0xFF000000u | pixels[i]) << i;  // key colour, alpha 0
    std::filesystem::remove_all(dir);
}

// Saved pictures in ILBM keep every colour (the alpha byte is dropped), as
// our reader and netpbm's see them.
TEST(ImageWriter, ILBMKeepsEveryColour) {
    imagefixtures::ScratchDir dir;
    const std::string path = dir.File("p.iff");
    const auto pixels = imagefixtures::TestPicture(21, 6, 3, true);
    ASSERT_EQ(WriteImageFile(kImageFormatILBM, pixels.data(), 21, 6, path.c_str(), -1, true, {}), 0);
    qbFilePtr file(FileOpen(path.c_str(), kFileModeRead, nullptr));
    ILBMReadRequest request;
    ASSERT_EQ(ReadILBM(file.get(), &request), 0);
    for (size_t i = 0; i < pixels.size(); ++i) ASSERT_EQ(request.pixels[i], pixels[i] & 0xFFFFFF) << i;
    if (!imagefixtures::HaveTool("ilbmtoppm")) GTEST_SKIP() << "netpbm missing";
    ASSERT_EQ(imagefixtures::RunQuietly("ilbmtoppm " + path + " > " + dir.File("p.ppm")), 0);
    int w = 0, h = 0;
    std::vector<uint32_t> back;
    ASSERT_TRUE(imagefixtures::ReadPPM(dir.File("p.ppm"), &w, &h, &back));
    ASSERT_EQ(back.size(), pixels.size());
    for (size_t i = 0; i < pixels.size(); ++i) ASSERT_EQ(back[i], pixels[i] & 0xFFFFFF) << i;
}

}  // namespace
