// The Linux backend's image codecs against pictures made by ImageMagick:
// exact pixels (the high bytes of 16-bit channels), has-alpha by the
// platform rules, the loader chain's "native" and "inbuilt" tags, corrupt
// files, and PNG and JPEG encoding that leaves the caller's pixels alone.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cmath>
#include <fstream>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/pixelbuffer.h"
#include "imaging/codechooks.h"
#include "imaging/imageformats.h"
#include "imaging/imagefixtures.h"
#include "imaging/imagehandle.h"
#include "imaging/loaderchain.h"
#include "platform/imagecodecs.h"
#include "platform/platform.h"

using namespace imagefixtures;

namespace {

constexpr int kWidth = 23, kHeight = 9;

// 16-bit samples whose high and low bytes differ, so rounding shows.
uint16_t Wide(uint32_t v, int x) { return static_cast<uint16_t>(v << 8 | ((v * 37 + x * 11) & 0xFF)); }

// A PAM file (RGB or RGB_ALPHA, 8 or 16 bits) of the pixels 0xAARRGGBB.
void WritePAM(const std::string& path, const std::vector<uint32_t>& pixels, bool alpha, bool sixteen) {
    std::ofstream out(path, std::ios::binary);
    out << "P7\nWIDTH " << kWidth << "\nHEIGHT " << kHeight << "\nDEPTH " << (alpha ? 4 : 3) << "\nMAXVAL "
        << (sixteen ? 65535 : 255) << "\nTUPLTYPE " << (alpha ? "RGB_ALPHA" : "RGB") << "\nENDHDR\n";
    for (size_t i = 0; i < pixels.size(); ++i) {
        const uint32_t p = pixels[i];
        const uint32_t parts[4] = {p >> 16 & 255, p >> 8 & 255, p & 255, p >> 24};
        for (int c = 0; c < (alpha ? 4 : 3); ++c) {
            if (sixteen) {
                const uint16_t v = Wide(parts[c], static_cast<int>(i) + c);
                out.put(static_cast<char>(v >> 8)).put(static_cast<char>(v & 255));
            } else {
                out.put(static_cast<char>(parts[c]));
            }
        }
    }
}

class NativeImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
        SetPlatformBackend(&LinuxPlatformOps());
        InstallImageCodecHooks();
    }
    void TearDown() override {
        SetImageCodecHooks(nullptr);
        SetPlatformBackend(nullptr);
    }

    // The picture from ImageMagick's convert of a PAM file.
    std::string Convert(const std::vector<uint32_t>& pixels, bool alpha, bool sixteen, const std::string& options,
                        const std::string& name) {
        WritePAM(dir_.File("in.pam"), pixels, alpha, sixteen);
        const std::string out = dir_.File(name);
        EXPECT_EQ(RunQuietly("convert " + dir_.File("in.pam") + " " + options + " " + out), 0);
        return out;
    }

    struct Result {
        int err = -1;
        int32_t width = 0, height = 0, hasAlpha = -1;
        std::vector<uint32_t> pixels;
    };
    Result DecodeFile(const std::string& path, bool probe = false) {
        Result r;
        qbFilePtr file(FileOpen(path.c_str(), kImageOpenMode, nullptr));
        if (!file) return r;
        qbNativeImageRequest request;
        request.file = file.get();
        request.name = path.c_str();
        request.probeOnly = probe;
        r.err = DecodeNativeImage(&request);
        r.width = request.width;
        r.height = request.height;
        r.hasAlpha = request.hasAlpha;
        if (request.image) {
            const uint32_t* p = GetNativeImageData(request.image);
            r.pixels.assign(p, p + static_cast<size_t>(r.width) * r.height);
            FreeNativeImage(request.image);
        }
        return r;
    }

    void ExpectPixels(const Result& r, const std::vector<uint32_t>& want) {
        ASSERT_EQ(r.err, 0);
        ASSERT_EQ(r.width, kWidth);
        ASSERT_EQ(r.height, kHeight);
        ASSERT_EQ(r.pixels.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(r.pixels[i], want[i]) << "pixel " << i;
    }

    ScratchDir dir_;
};

// Every colour and alpha byte non-zero: lossless codecs may clear the
// colour of fully transparent pixels.
std::vector<uint32_t> Picture(bool alpha) {
    auto p = TestPicture(kWidth, kHeight, 7, alpha);
    if (alpha)
        for (uint32_t& v : p) v |= 0x01000000u;
    return p;
}

TEST_F(NativeImageTest, TIFFsOfEightAndSixteenBitsWithAndWithoutAlpha) {
    const auto opaque = Picture(false);
    const auto clear = Picture(true);
    struct Case {
        bool alpha, sixteen;
        const char* options;
        int32_t hasAlpha;
    };
    for (const Case& c : {Case{false, false, "-depth 8", 0}, Case{false, true, "-depth 16", 0},
                          Case{true, false, "-depth 8 -define tiff:alpha=unassociated", 1},
                          Case{true, true, "-depth 16 -define tiff:alpha=unassociated", 1}}) {
        SCOPED_TRACE(c.options);
        const std::string tif = Convert(c.alpha ? clear : opaque, c.alpha, c.sixteen, c.options, "a.tif");
        const Result r = DecodeFile(tif);
        EXPECT_EQ(r.hasAlpha, c.hasAlpha);
        // 16-bit samples are Wide(v): their high byte is the 8-bit value.
        ExpectPixels(r, c.alpha ? clear : opaque);
        const Result probe = DecodeFile(tif, true);
        EXPECT_EQ(probe.err, 0);
        EXPECT_EQ(probe.width, kWidth);
        EXPECT_EQ(probe.hasAlpha, c.hasAlpha);
        EXPECT_TRUE(probe.pixels.empty());
    }
}

// A grey picture's level is each of its colour's channels; a palette
// picture's index is its palette's colour.
TEST_F(NativeImageTest, GreyLevelsAndPaletteIndicesBecomeTheirColours) {
    std::vector<uint32_t> grey;
    std::string pgm = "P5\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n255\n";
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t level = static_cast<uint32_t>(x * 11 + y * 29 + 3) & 0xFF;
            pgm.push_back(static_cast<char>(level));
            grey.push_back(level * 0x010101u);
        }
    std::ofstream(dir_.File("g.pgm"), std::ios::binary) << pgm;
    const Result g = DecodeFile(dir_.File("g.pgm"));
    EXPECT_EQ(g.hasAlpha, 0);
    ExpectPixels(g, grey);

    const auto opaque = Picture(false);
    const Result p = DecodeFile(Convert(opaque, false, false, "-type Palette -depth 8", "p.tif"));
    EXPECT_EQ(p.hasAlpha, 0);
    ExpectPixels(p, opaque);
}

TEST_F(NativeImageTest, CMYKTIFFsComeBackAsLightWithoutAlpha) {
    const auto opaque = Picture(false);
    for (const char* depth : {"-depth 8", "-depth 16"}) {
        SCOPED_TRACE(depth);
        const std::string tif = Convert(opaque, false, false, std::string("-colorspace cmyk ") + depth, "k.tif");
        const Result r = DecodeFile(tif);
        ASSERT_EQ(r.err, 0);
        EXPECT_EQ(r.hasAlpha, 0);
        ASSERT_EQ(r.pixels.size(), opaque.size());
        // Ink and back rounds each way once.
        for (size_t i = 0; i < opaque.size(); ++i)
            for (int shift : {0, 8, 16, 24}) {
                const int want = static_cast<int>(opaque[i] >> shift & 255);
                const int got = static_cast<int>(r.pixels[i] >> shift & 255);
                ASSERT_LE(std::abs(want - got), 2) << "pixel " << i << " shift " << shift;
            }
    }
}

TEST_F(NativeImageTest, AssociatedAlphaIsPremultipliedHenceNone) {
    // Alpha only 0 or 255, so the premultiplied colours are exact.
    auto pixels = Picture(false);
    std::vector<uint32_t> want(pixels.size());
    for (size_t i = 0; i < pixels.size(); ++i) {
        const bool shown = i % 3 != 0;
        pixels[i] |= shown ? 0xFF000000u : 0;
        want[i] = shown ? pixels[i] & 0xFFFFFF : 0;
    }
    for (const char* depth : {"-depth 8", "-depth 16"}) {
        SCOPED_TRACE(depth);
        const std::string tif =
            Convert(pixels, true, false, std::string(depth) + " -define tiff:alpha=associated", "p.tif");
        const Result r = DecodeFile(tif);
        EXPECT_EQ(r.hasAlpha, 0);
        ExpectPixels(r, want);
    }
}

TEST_F(NativeImageTest, LosslessWebPKeepsItsAlpha) {
    const auto clear = Picture(true);
    const std::string webp =
        Convert(clear, true, false, "-define webp:lossless=true -define webp:exact=true", "a.webp");
    const Result r = DecodeFile(webp);
    EXPECT_EQ(r.hasAlpha, 1);
    ExpectPixels(r, clear);
}

TEST_F(NativeImageTest, LoaderTagsPickTheDecoder) {
    const auto opaque = Picture(false);
    // A 16-bit PNG through the platform decoder: high bytes, not libpng's.
    const std::string png = Convert(opaque, false, true, "-depth 16", "wide.png");
    qbImageLoadParams lp;
    lp.fileName = png.c_str();
    lp.loaderTag = "native";
    qbLoadedImage img;
    ASSERT_EQ(LoadImageThroughLoaders(lp, &img), 0);
    EXPECT_EQ(img.loader, kLoaderNative);
    EXPECT_EQ(img.hasAlpha, 0);
    const uint32_t* got = GetImageHandlePixels(img.handle.get());
    for (size_t i = 0; i < opaque.size(); ++i) ASSERT_EQ(got[i] & 0xFFFFFF, opaque[i]) << "pixel " << i;

    // A transparent GIF is a palette picture: no alpha.
    const uint32_t colours[6] = {0x102030, 0xF0E0D0, 0x00FF00, 0x0000FF, 0x808080, 0xFF0000};
    const uint32_t key = colours[3];
    std::vector<uint32_t> few(opaque.size());
    for (size_t i = 0; i < few.size(); ++i) few[i] = colours[(i * 5 + i / 7) % 6];
    WritePPM(dir_.File("g.ppm"), kWidth, kHeight, few);
    const std::string gif = dir_.File("t.gif");
    ASSERT_EQ(RunQuietly("convert " + dir_.File("g.ppm") + " -transparent '#0000FF' " + gif), 0);
    lp.fileName = gif.c_str();
    qbLoadedImage gifImage;
    ASSERT_EQ(LoadImageThroughLoaders(lp, &gifImage), 0);
    EXPECT_EQ(gifImage.hasAlpha, 0);
    got = GetImageHandlePixels(gifImage.handle.get());
    for (size_t i = 0; i < few.size(); ++i) {
        EXPECT_EQ(got[i] >> 24, 0u);
        if (few[i] != key) {
            ASSERT_EQ(got[i], few[i]) << "pixel " << i;
        }
    }

    // The inbuilt readers alone do not read a TIFF.
    const std::string tif = Convert(opaque, false, false, "", "b.tif");
    lp.fileName = tif.c_str();
    lp.loaderTag = "inbuilt";
    qbLoadedImage none;
    EXPECT_EQ(LoadImageThroughLoaders(lp, &none), ERR_LOADPICTURE2);
    EXPECT_STREQ(GetErrorDetail(), tif.c_str());
    lp.loaderTag = nullptr;
    ASSERT_EQ(LoadImageThroughLoaders(lp, &none), 0);
    EXPECT_EQ(none.loader, kLoaderNative);
}

TEST_F(NativeImageTest, CorruptAndOversizedPicturesFailQuietly) {
    const auto opaque = Picture(false);
    const std::string tif = Convert(opaque, false, false, "-compress lzw", "c.tif");
    auto bytes = ReadBytes(tif);
    ASSERT_GT(bytes.size(), 64u);
    testing::internal::CaptureStderr();
    // Cut inside the first directory; then the whole file as noise.
    WriteBytes(dir_.File("cut.tif"), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 12));
    EXPECT_EQ(DecodeFile(dir_.File("cut.tif")).err, ERR_LOADPICTURE2);
    std::vector<uint8_t> noise = bytes;
    for (size_t i = 8; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 131 + 7);
    WriteBytes(dir_.File("noise.tif"), noise);
    EXPECT_EQ(DecodeFile(dir_.File("noise.tif")).err, ERR_LOADPICTURE2);
    WriteBytes(dir_.File("text.txt"), {'h', 'e', 'l', 'l', 'o'});
    EXPECT_EQ(DecodeFile(dir_.File("text.txt")).err, ERR_LOADPICTURE2);
    // Over the picture cap: refused before anything is decoded.
    const uint64_t saved = GetMaxImagePixels();
    SetMaxImagePixels(kWidth * kHeight - 1);
    EXPECT_NE(DecodeFile(tif).err, 0);
    SetMaxImagePixels(saved);
    EXPECT_EQ(DecodeFile(tif).err, 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    qbNativeImageRequest nothing;
    EXPECT_EQ(DecodeNativeImage(&nothing), ERR_MEM);
}

TEST_F(NativeImageTest, MemoryDecodesTIFFThroughFFmpegAndJPEGThroughTheInbuiltReader) {
    const auto opaque = Picture(false);
    const auto tiff = ReadBytes(Convert(opaque, false, false, "", "m.tif"));
    qbNativeImageRequest request;
    ASSERT_EQ(DecodeNativeImageFromMemory(tiff.data(), tiff.size(), &request), 0);
    ASSERT_EQ(request.width, kWidth);
    const uint32_t* p = GetNativeImageData(request.image);
    for (size_t i = 0; i < opaque.size(); ++i) ASSERT_EQ(p[i], opaque[i]) << "pixel " << i;
    FreeNativeImage(request.image);

    WritePPM(dir_.File("j.ppm"), kWidth, kHeight, opaque);
    ASSERT_EQ(RunQuietly("convert " + dir_.File("j.ppm") + " -quality 80 " + dir_.File("j.jpg")), 0);
    const auto jpeg = ReadBytes(dir_.File("j.jpg"));
    int32_t w = 0, h = 0;
    PixelBuffer inbuilt;
    ASSERT_EQ(ReadJPEGMemory(jpeg.data(), jpeg.size(), false, &w, &h, &inbuilt), 0);
    qbNativeImageRequest jr;
    ASSERT_EQ(DecodeNativeImageFromMemory(jpeg.data(), jpeg.size(), &jr), 0);
    EXPECT_EQ(jr.hasAlpha, 0);
    p = GetNativeImageData(jr.image);
    for (size_t i = 0; i < opaque.size(); ++i) ASSERT_EQ(p[i], inbuilt[i]) << "pixel " << i;
    FreeNativeImage(jr.image);
}

double PSNR(const uint32_t* a, const uint32_t* b, size_t count) {
    double sum = 0;
    for (size_t i = 0; i < count; ++i)
        for (int shift : {0, 8, 16}) {
            const double d = static_cast<double>(a[i] >> shift & 255) - static_cast<double>(b[i] >> shift & 255);
            sum += d * d;
        }
    const double mse = sum / (3.0 * static_cast<double>(count));
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

TEST_F(NativeImageTest, EncodesPNGAndJPEGWithoutTouchingThePixels) {
    const auto clear = Picture(true);
    // The same picture as the bytes A, R, G, B.
    std::vector<uint32_t> bigEndian(clear.size());
    for (size_t i = 0; i < clear.size(); ++i) bigEndian[i] = __builtin_bswap32(clear[i]);
    for (int big : {0, 1}) {
        SCOPED_TRACE(big);
        const std::vector<uint32_t> before = big ? bigEndian : clear;
        qbEncodePixels picture;
        picture.pixels = before.data();
        picture.width = kWidth;
        picture.height = kHeight;
        picture.bytesPerRow = kWidth * 4;
        picture.hasAlpha = 1;
        picture.bigEndian = big;
        const std::string path = dir_.File("e.png");
        ASSERT_EQ(EncodeNativeImage(path.c_str(), &picture, kNativeImagePNG, nullptr), 0);
        EXPECT_EQ(before, big ? bigEndian : clear);
        std::vector<uint8_t> memory;
        ASSERT_EQ(EncodeNativeImage(nullptr, &picture, kNativeImagePNG, &memory), 0);
        EXPECT_EQ(memory, ReadBytes(path));
        qbFilePtr file(FileOpen(path.c_str(), kFileModeRead, nullptr));
        int32_t w = 0, h = 0, alpha = 0;
        PixelBuffer back;
        ASSERT_EQ(ReadPNG(file.get(), false, &w, &h, &back, &alpha), 0);
        EXPECT_EQ(alpha, 1);
        for (size_t i = 0; i < clear.size(); ++i) ASSERT_EQ(back[i], clear[i]) << "pixel " << i;

        // JPEG at quality 90 of a smooth picture.
        constexpr int kSide = 64;
        std::vector<uint32_t> smooth(kSide * kSide);
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x)
                smooth[y * kSide + x] = static_cast<uint32_t>(x * 3) << 16 | static_cast<uint32_t>(y * 2 + 40) << 8 |
                                        static_cast<uint32_t>(200 - x - y);
        std::vector<uint32_t> given = smooth;
        if (big)
            for (uint32_t& v : given) v = __builtin_bswap32(v);
        const std::vector<uint32_t> kept = given;
        picture.pixels = given.data();
        picture.width = picture.height = kSide;
        picture.bytesPerRow = kSide * 4;
        picture.hasAlpha = 0;
        picture.quality = 90;
        std::vector<uint8_t> jpeg;
        ASSERT_EQ(EncodeNativeImage(nullptr, &picture, kNativeImageJPEG, &jpeg), 0);
        EXPECT_EQ(given, kept);
        PixelBuffer decoded;
        ASSERT_EQ(ReadJPEGMemory(jpeg.data(), jpeg.size(), false, &w, &h, &decoded), 0);
        EXPECT_GT(PSNR(decoded.get(), smooth.data(), smooth.size()), 40.0);
    }
}

// A file that refuses the encoded bytes (a full disk: a file-size cap with
// SIGXFSZ ignored, in this test's own process) is a write error.
TEST_F(NativeImageTest, AFullDiskIsAWriteError) {
    const auto pixels = Picture(false);
    qbEncodePixels picture;
    picture.pixels = pixels.data();
    picture.width = kWidth;
    picture.height = kHeight;
    picture.bytesPerRow = kWidth * 4;
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const sighandler_t handler = signal(SIGXFSZ, SIG_IGN);
    rlimit capped = old;
    capped.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &capped), 0);
    const int png = EncodeNativeImage(dir_.File("full.png").c_str(), &picture, kNativeImagePNG, nullptr);
    const int jpeg = EncodeNativeImage(dir_.File("full.jpg").c_str(), &picture, kNativeImageJPEG, nullptr);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, handler);
    EXPECT_EQ(png, ERR_WRITE);
    EXPECT_EQ(jpeg, ERR_WRITE);
}

TEST_F(NativeImageTest, EncodeErrorsNameTheirType) {
    const auto pixels = Picture(false);
    qbEncodePixels picture;
    picture.pixels = pixels.data();
    picture.width = kWidth;
    picture.height = kHeight;
    picture.bytesPerRow = kWidth * 4;
    const std::string nowhere = dir_.File("no/such/folder/x");
    EXPECT_EQ(EncodeNativeImage(nowhere.c_str(), &picture, kNativeImagePNG, nullptr), ERR_SAVEPNG);
    EXPECT_EQ(EncodeNativeImage(nowhere.c_str(), &picture, kNativeImageJPEG, nullptr), ERR_WRITEJPEG);
    EXPECT_EQ(EncodeNativeImage(nullptr, &picture, kNativeImagePNG, nullptr), ERR_MEM);
    picture.bytesPerRow = kWidth * 4 - 1;
    std::vector<uint8_t> out;
    EXPECT_EQ(EncodeNativeImage(nullptr, &picture, kNativeImagePNG, &out), ERR_WRONGUSAGE);
    picture.bytesPerRow = kWidth * 4;
    SetImageCodecHooks(nullptr);
    EXPECT_EQ(EncodeNativeImage(nullptr, &picture, kNativeImagePNG, &out), ERR_SAVEPNG);
    EXPECT_EQ(EncodeNativeImage(nullptr, &picture, kNativeImageJPEG, &out), ERR_WRITEJPEG);
    EXPECT_TRUE(out.empty());

    // The in-memory backend has no codecs.
    SetPlatformBackend(nullptr);
    qbNativeImageRequest request;
    EXPECT_EQ(DecodeNativeImageFromMemory(out.data(), 0, &request), ERR_LOADPICTURE2);
    EXPECT_EQ(EncodeNativeImage(nullptr, &picture, kNativeImagePNG, &out), ERR_SAVEPNG);
    EXPECT_TRUE(out.empty());
}

}  // namespace
