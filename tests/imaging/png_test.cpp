// The PNG reader and writer against files that libpng itself wrote.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>

#include "core/errcodes.h"
#include "imagefixtures.h"
#include "imaging/imageformats.h"
#include "imaging/loaderchain.h"

using namespace imagefixtures;

namespace {

Decoded DecodePNG(const std::string& path) {
    return Decode(path, [](qbFile* f, int32_t* w, int32_t* h, PixelBuffer* px, int32_t* alpha) {
        return ReadPNG(f, false, w, h, px, alpha);
    });
}

TEST(PngReader, InterlacedAndPlainTwinsDecodeAlike) {
    ScratchDir dir;
    for (bool alpha : {false, true}) {
        const int w = 37, h = 23;
        const auto pixels = TestPicture(w, h, 7, alpha);
        ASSERT_TRUE(WriteRgbPng(dir.File("plain.png"), w, h, pixels, alpha, false));
        ASSERT_TRUE(WriteRgbPng(dir.File("adam7.png"), w, h, pixels, alpha, true));
        const Decoded plain = DecodePNG(dir.File("plain.png"));
        const Decoded adam7 = DecodePNG(dir.File("adam7.png"));
        ASSERT_EQ(plain.err, 0);
        ASSERT_EQ(adam7.err, 0);
        EXPECT_EQ(plain.width, w);
        EXPECT_EQ(plain.height, h);
        EXPECT_EQ(plain.alpha, alpha ? 1 : 0);
        EXPECT_EQ(adam7.alpha, plain.alpha);
        EXPECT_EQ(plain.pixels, pixels);
        EXPECT_EQ(adam7.pixels, plain.pixels);
    }
}

TEST(PngReader, PaletteWithTrnsDecodesWithAlpha) {
    ScratchDir dir;
    PngPicture pic;
    pic.width = 5;
    pic.height = 2;
    pic.colourType = PNG_COLOR_TYPE_PALETTE;
    pic.palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}};
    pic.rows = {{0, 1, 2, 3, 0}, {3, 2, 1, 0, 3}};
    ASSERT_TRUE(WritePngWithLibpng(dir.File("opaque.png"), pic));
    pic.trnsAlpha = {0, 128, 255};  // the fourth entry stays opaque
    ASSERT_TRUE(WritePngWithLibpng(dir.File("trns.png"), pic));

    const Decoded opaque = DecodePNG(dir.File("opaque.png"));
    ASSERT_EQ(opaque.err, 0);
    EXPECT_EQ(opaque.alpha, 0);
    EXPECT_EQ(opaque.pixels[0], 0x00FF0000u);
    EXPECT_EQ(opaque.pixels[3], 0x000A141Eu);

    const Decoded trns = DecodePNG(dir.File("trns.png"));
    ASSERT_EQ(trns.err, 0);
    EXPECT_EQ(trns.alpha, 1);
    EXPECT_EQ(trns.pixels[0], 0x00FF0000u);
    EXPECT_EQ(trns.pixels[1], 0x8000FF00u);
    EXPECT_EQ(trns.pixels[2], 0xFF0000FFu);
    EXPECT_EQ(trns.pixels[3], 0xFF0A141Eu);

    // The probe of the chain walks the chunks for tRNS.
    qbImageProbe probe;
    ASSERT_EQ(ProbeImageFile(dir.File("trns.png").c_str(), nullptr, nullptr, kImageOpenMode, &probe), 1);
    EXPECT_EQ(probe.hasAlpha, 1);
    EXPECT_EQ(probe.width, 5);
    ASSERT_EQ(ProbeImageFile(dir.File("opaque.png").c_str(), nullptr, nullptr, kImageOpenMode, &probe), 1);
    EXPECT_EQ(probe.hasAlpha, 0);
}

PngPicture Raw(int width, int colourType, int bitDepth, std::vector<uint8_t> row) {
    PngPicture pic;
    pic.width = width;
    pic.height = 1;
    pic.colourType = colourType;
    pic.bitDepth = bitDepth;
    pic.rows = {std::move(row)};
    return pic;
}

TEST(PngReader, SixteenBitKeepsTheHighByteAndGreyBecomesRGB) {
    ScratchDir dir;
    struct Case {
        const char* what;
        PngPicture pic;
        int alpha;
        std::vector<uint32_t> want;
    } cases[] = {
        // Big-endian samples: R 0xABFF, G 0x12FF, B 0x3400, A 0x7F80; then 0x00FF...
        {"rgba16",
         Raw(2, PNG_COLOR_TYPE_RGB_ALPHA, 16,
             {0xAB, 0xFF, 0x12, 0xFF, 0x34, 0x00, 0x7F, 0x80, 0x00, 0xFF, 0xFF, 0x00, 0x80, 0x7F, 0xFF, 0xFF}),
         1, {0x7FAB1234u, 0xFF00FF80u}},
        {"grey16", Raw(2, PNG_COLOR_TYPE_GRAY, 16, {0xC8, 0xFF, 0x01, 0x80}), 0, {0x00C8C8C8u, 0x00010101u}},
        {"grey2", Raw(4, PNG_COLOR_TYPE_GRAY, 2, {0b00011011}), 0, {0x000000u, 0x555555u, 0xAAAAAAu, 0xFFFFFFu}},
        {"greyalpha", Raw(1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {0x40, 0x90}), 1, {0x90404040u}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WritePngWithLibpng(dir.File("t.png"), c.pic));
        const Decoded d = DecodePNG(dir.File("t.png"));
        ASSERT_EQ(d.err, 0);
        EXPECT_EQ(d.alpha, c.alpha);
        EXPECT_EQ(d.pixels, c.want);
    }
}

TEST(PngWriter, OutputReadsBackExactly) {
    ScratchDir dir;
    for (bool alpha : {false, true}) {
        const int w = 31, h = 17;
        // The writer takes a stride wider than the row.
        const int stride = w + 3;
        auto source = TestPicture(stride, h, 11, true);
        qbPNGRequest req;
        const std::string name = dir.File(alpha ? "rgba.png" : "rgb.png");
        req.fileName = name.c_str();
        req.pixels = source.data();
        req.strideBytes = stride * 4;
        req.width = w;
        req.height = h;
        req.hasAlpha = alpha;
        WritePNG(&req);
        ASSERT_EQ(req.result, 0);
        const Decoded d = DecodePNG(name);
        ASSERT_EQ(d.err, 0);
        EXPECT_EQ(d.alpha, alpha ? 1 : 0);
        ASSERT_EQ(d.pixels.size(), static_cast<size_t>(w * h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint32_t want = source[static_cast<size_t>(y) * stride + x] & (alpha ? 0xFFFFFFFFu : 0x00FFFFFFu);
                ASSERT_EQ(d.pixels[static_cast<size_t>(y) * w + x], want) << x << "," << y;
            }
    }
}

TEST(PngWriter, UnwritableFileIsWriteFileError) {
    uint32_t pixel = 0;
    qbPNGRequest req;
    req.fileName = "/nonexistent-folder/x.png";
    req.pixels = &pixel;
    req.strideBytes = 4;
    req.width = 1;
    req.height = 1;
    WritePNG(&req);
    EXPECT_EQ(req.result, ERR_WRITEFILE);
}

TEST(PngWriter, EmptySidesAndShortRowsWriteNoFile) {
    ScratchDir dir;
    std::vector<uint32_t> pixels(8, 0xFF102030u);
    struct Case {
        const uint32_t* pixels;
        int32_t width, height, stride;
        bool ok;
    };
    int n = 0;
    // The last: the smallest stride that holds the row is taken.
    for (const Case c : {Case{nullptr, 2, 2, 8, false}, Case{pixels.data(), 0, 2, 8, false},
                         Case{pixels.data(), 2, 0, 8, false}, Case{pixels.data(), 2, 2, 7, false},
                         Case{pixels.data(), 2, 2, 8, true}}) {
        const std::string name = dir.File("case" + std::to_string(n++) + ".png");
        qbPNGRequest req;
        req.fileName = name.c_str();
        req.pixels = c.pixels;
        req.strideBytes = c.stride;
        req.width = c.width;
        req.height = c.height;
        WritePNG(&req);
        EXPECT_EQ(req.result, c.ok ? 0 : ERR_MEM) << c.width << "x" << c.height << " stride " << c.stride;
        EXPECT_EQ(DecodePNG(name).err == 0, c.ok) << n;
        EXPECT_EQ(std::filesystem::exists(name), c.ok) << n;
    }
}

// A full disk (here: a file-size cap, SIGXFSZ ignored; ctest runs each
// test in a process of its own) is a write error, never "Out of memory!",
// and the old file stays.
TEST(PngWriter, AFullDiskIsAWriteError) {
    ScratchDir dir;
    const int w = 256, h = 256;
    auto source = TestPicture(w, h, 3, true);
    const std::string name = dir.File("full.png");
    {
        std::ofstream(name, std::ios::binary) << "old";
    }
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const sighandler_t handler = signal(SIGXFSZ, SIG_IGN);
    rlimit capped = old;
    capped.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &capped), 0);
    qbPNGRequest req;
    req.fileName = name.c_str();
    req.pixels = source.data();
    req.strideBytes = w * 4;
    req.width = w;
    req.height = h;
    req.hasAlpha = true;
    WritePNG(&req);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, handler);
    EXPECT_EQ(req.result, ERR_WRITE);
    const std::vector<uint8_t> kept = ReadBytes(name);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "old");
}

TEST(PngReader, TruncatedAndCorruptFilesFailCleanlyWithTheFileName) {
    ScratchDir dir;
    const int w = 64, h = 48;
    const auto pixels = TestPicture(w, h, 5);
    ASSERT_TRUE(WriteRgbPng(dir.File("good.png"), w, h, pixels, false, false));
    ASSERT_TRUE(WriteRgbPng(dir.File("good7.png"), w, h, pixels, false, true));
    for (const char* source : {"good.png", "good7.png"}) {
        const std::vector<uint8_t> good = ReadBytes(dir.File(source));
        ASSERT_GT(good.size(), 200u);
        std::vector<std::vector<uint8_t>> bad;
        for (size_t cut : {size_t{8}, size_t{20}, size_t{40}, good.size() / 2, good.size() - 40})
            bad.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
        auto flipped = good;
        flipped[good.size() / 2] ^= 0x5A;  // inside IDAT: a CRC error
        bad.push_back(flipped);
        auto header = good;
        header[17] ^= 0x01;  // the IHDR width
        bad.push_back(header);

        testing::internal::CaptureStderr();
        for (size_t i = 0; i < bad.size(); ++i) {
            const std::string name = dir.File("bad" + std::to_string(i) + ".png");
            WriteBytes(name, bad[i]);
            EXPECT_EQ(DecodePNG(name).err, ERR_LOADPICTURE2) << source << " case " << i;
            qbImageLoadParams p;
            p.fileName = name.c_str();
            qbLoadedImage img;
            EXPECT_EQ(LoadImageThroughLoaders(p, &img), ERR_LOADPICTURE2);
            EXPECT_STREQ(GetErrorDetail(), name.c_str());
            EXPECT_FALSE(img.handle);
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
}

}  // namespace
