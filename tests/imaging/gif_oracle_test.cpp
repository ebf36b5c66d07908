// The GIF reader and writer against giflib and ImageMagick: files written by
// ImageMagick and by giflib's own encoder (gifbuild) decode to giflib's
// rasters and to ImageMagick's coalesced frames; our writer's files read
// back through giflib with the same indices, palettes and control blocks.
#ifdef QB_TEST_HAVE_GIFLIB
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "imaging/gif.h"
#include "imagefixtures.h"
#include "giffixtures.h"

using namespace imagefixtures;
using namespace giffixtures;

namespace {

struct Slurped {
    GifFileType* gif = nullptr;
    explicit Slurped(const std::string& path) {
        int error = 0;
        gif = DGifOpenFileName(path.c_str(), &error);
        if (gif && DGifSlurp(gif) != GIF_OK) {
            DGifCloseFile(gif, &error);
            gif = nullptr;
        }
    }
    ~Slurped() {
        int error = 0;
        if (gif) DGifCloseFile(gif, &error);
    }
};

uint32_t MapColour(const ColorMapObject* map, int index) {
    if (!map || index >= map->ColorCount) return 0;
    const GifColorType& c = map->Colors[index];
    return static_cast<uint32_t>(c.Red) << 16 | static_cast<uint32_t>(c.Green) << 8 | c.Blue;
}

// Every frame of the file against giflib (its rectangle) and ImageMagick
// (the whole coalesced frame: alpha everywhere, colour where opaque).
void CheckAgainstOracles(const ScratchDir& dir, const std::string& path) {
    SCOPED_TRACE(path);
    Slurped g(path);
    ASSERT_TRUE(g.gif);
    Reader r = OpenReader(path);
    ASSERT_TRUE(r.reader);
    ASSERT_EQ(r.frames, g.gif->ImageCount);
    const std::string raw = dir.File("coalesced.rgba");
    ASSERT_EQ(RunQuietly("convert '" + path + "' -coalesce -depth 8 rgba:'" + raw + "'"), 0);
    const std::vector<uint8_t> frames = ReadBytes(raw);
    const size_t frameBytes = static_cast<size_t>(r.width) * static_cast<size_t>(r.height) * 4;
    ASSERT_EQ(frames.size(), frameBytes * static_cast<size_t>(r.frames));
    for (int k = 0; k < r.frames; ++k) {
        SCOPED_TRACE("frame " + std::to_string(k));
        const std::vector<uint32_t> ours = Frame(r, static_cast<uint32_t>(k));
        ASSERT_EQ(ours.size(), frameBytes / 4);
        const SavedImage& s = g.gif->SavedImages[k];
        GraphicsControlBlock gcb{};
        gcb.TransparentColor = NO_TRANSPARENT_COLOR;
        DGifSavedExtensionToGCB(g.gif, k, &gcb);
        const ColorMapObject* map = s.ImageDesc.ColorMap ? s.ImageDesc.ColorMap : g.gif->SColorMap;
        int wrong = 0;
        for (int y = 0; y < s.ImageDesc.Height; ++y)
            for (int x = 0; x < s.ImageDesc.Width; ++x) {
                const int cx = s.ImageDesc.Left + x, cy = s.ImageDesc.Top + y;
                const int index = s.RasterBits[y * s.ImageDesc.Width + x];
                if (cx >= r.width || cy >= r.height || index == gcb.TransparentColor) continue;
                wrong += ours[static_cast<size_t>(cy * r.width + cx)] != (0xFF000000u | MapColour(map, index));
            }
        EXPECT_EQ(wrong, 0);
        int alphaWrong = 0, colourWrong = 0;
        for (size_t i = 0; i < ours.size(); ++i) {
            const uint8_t* m = &frames[static_cast<size_t>(k) * frameBytes + i * 4];
            const uint32_t alpha = ours[i] >> 24;
            alphaWrong += (alpha != 0) != (m[3] != 0);
            if (alpha && m[3])
                colourWrong += (ours[i] & 0xFFFFFF) != (static_cast<uint32_t>(m[0]) << 16 | m[1] << 8 | m[2]);
        }
        EXPECT_EQ(alphaWrong, 0);
        EXPECT_EQ(colourWrong, 0);
    }
}

TEST(GIFOracleTest, FilesOfImageMagickAndGiflibDecodeAlike) {
    if (!HaveTool("convert") || !HaveTool("gifbuild")) GTEST_SKIP() << "ImageMagick or giflib-tools missing";
    ScratchDir dir;
    const std::string base = "convert -seed 7 ";
    struct Made {
        std::string name, command;
    };
    const std::vector<Made> made = {
        {"interlaced.gif", base + "-size 61x37 plasma:fractal -colors 200 -interlace GIF"},
        {"two.gif", base + "-size 33x20 plasma:fractal -colors 2"},
        {"transparent.gif", base + "-size 40x30 xc:none -fill red -draw 'circle 20,15 20,4' -colors 3"},
        // An anim with every disposal, frames of their own size and
        // palette (local tables) and transparency.
        {"anim.gif", base + "-delay 7 -size 48x32 xc:white -dispose None "
                            "\\( -size 20x10 plasma:fractal -colors 17 -repage +5+4 \\) -dispose Background "
                            "\\( -size 10x12 xc:blue -repage +30+18 \\) -dispose Previous "
                            "\\( -size 14x14 xc:none -fill green -draw 'circle 7,7 7,1' -repage +10+10 \\) "
                            "-dispose None \\( -size 48x32 plasma:fractal -colors 256 -repage +0+0 \\) "
                            "\\( -size 9x9 xc:yellow -repage +40+25 \\)"},
    };
    for (const Made& m : made) {
        const std::string path = dir.File(m.name);
        ASSERT_EQ(RunQuietly(m.command + " '" + path + "'"), 0) << m.command;
        CheckAgainstOracles(dir, path);
        // The same file again through giflib's own encoder.
        const std::string again = dir.File("giflib-" + m.name);
        ASSERT_EQ(RunQuietly("gifbuild -d '" + path + "' | gifbuild > '" + again + "'"), 0);
        CheckAgainstOracles(dir, again);
    }
}

TEST(GIFOracleTest, DeferredClearDecodesLikeGiflib) {
    std::vector<int> codes = {256};
    std::mt19937 rng(9);
    for (int i = 0; i < 4000; ++i) codes.push_back(static_cast<int>(rng() & 0xFF));
    codes.push_back(1000);
    codes.push_back(4000);
    codes.push_back(257);
    GifFile g(4004, 1, 256);
    g.Codes(0, 0, 4004, 1, codes, 8);
    ScratchDir dir;
    const std::string path = dir.File("deferred.gif");
    WriteBytes(path, g.Bytes());
    Slurped s(path);
    ASSERT_TRUE(s.gif);
    Reader r = OpenReader(path);
    const std::vector<uint32_t> ours = Frame(r, 0);
    ASSERT_EQ(ours.size(), 4004u);
    for (int x = 0; x < 4004; ++x)
        ASSERT_EQ(ours[static_cast<size_t>(x)], 0xFF000000u | MapColour(s.gif->SColorMap, s.gif->SavedImages[0].RasterBits[x]))
            << x;
}

TEST(GIFOracleTest, OurFilesReadBackThroughGiflib) {
    ScratchDir dir;
    const std::string path = dir.File("ours.gif");
    constexpr int32_t kW = 71, kH = 43;
    std::mt19937 rng(5);
    qbGIFWriter* w = nullptr;
    ASSERT_EQ(WriteGIF(path.c_str(), nullptr, kW, kH, &w), 0);
    struct Written {
        std::vector<uint8_t> indices;
        std::vector<uint32_t> palette;
        int flags;
        int transparent;
    };
    std::vector<Written> written;
    for (int k = 0; k < 4; ++k) {
        Written f;
        const int32_t colours = k == 0 ? 2 : k == 1 ? 5 : k == 2 ? 129 : 256;
        f.palette.resize(static_cast<size_t>(colours));
        for (auto& p : f.palette) p = rng() & 0xFFFFFF;
        f.indices.resize(kW * kH);
        for (auto& v : f.indices) v = static_cast<uint8_t>(rng() % static_cast<uint32_t>(colours - (k == 1 ? 1 : 0)));
        qbGIFFrame frame;
        frame.indices = f.indices.data();
        frame.width = kW;
        frame.height = kH;
        frame.delayMs = 125;
        frame.palette = f.palette.data();
        frame.colourCount = colours;
        frame.transparentIndex = k == 2 ? 3 : -1;
        frame.transparentSlot = k == 1;
        f.flags = k == 2 ? 9 : k == 1 ? 5 : 4;
        f.transparent = k == 2 ? 3 : colours - 1;
        ASSERT_EQ(WriteAnimGIF(w, frame), 0);
        written.push_back(f);
    }
    ASSERT_EQ(CloseGIFWriter(w), 0);

    Slurped g(path);
    ASSERT_TRUE(g.gif);
    ASSERT_EQ(g.gif->ImageCount, 4);
    for (int k = 0; k < 4; ++k) {
        const SavedImage& s = g.gif->SavedImages[k];
        const Written& f = written[static_cast<size_t>(k)];
        ASSERT_TRUE(s.ImageDesc.ColorMap);
        for (size_t i = 0; i < f.palette.size(); ++i) EXPECT_EQ(MapColour(s.ImageDesc.ColorMap, static_cast<int>(i)), f.palette[i]);
        EXPECT_EQ(std::memcmp(s.RasterBits, f.indices.data(), f.indices.size()), 0) << "frame " << k;
        bool netscape = false;
        int flags = -1, transparent = -1, delay = -1;
        for (int e = 0; e < s.ExtensionBlockCount; ++e) {
            const ExtensionBlock& b = s.ExtensionBlocks[e];
            if (b.Function == APPLICATION_EXT_FUNC_CODE && b.ByteCount == 11 &&
                std::memcmp(b.Bytes, "NETSCAPE2.0", 11) == 0)
                netscape = true;
            if (b.Function == GRAPHICS_EXT_FUNC_CODE && b.ByteCount >= 4) {
                flags = b.Bytes[0];
                delay = b.Bytes[1] | b.Bytes[2] << 8;
                transparent = b.Bytes[3];
            }
        }
        EXPECT_EQ(netscape, k == 0);
        EXPECT_EQ(flags, f.flags);
        EXPECT_EQ(transparent, f.transparent);
        EXPECT_EQ(delay, 13);  // 125 ms rounded to hundredths
    }
    if (HaveTool("giftext")) {
        const std::string listing = dir.File("listing.txt");
        ASSERT_EQ(RunQuietly("giftext '" + path + "' > '" + listing + "'"), 0);
        const std::vector<uint8_t> bytes = ReadBytes(listing);
        const std::string text(bytes.begin(), bytes.end());
        auto count = [&](const std::string& what) {
            int n = 0;
            for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
            return n;
        };
        // One looping block; the control blocks as giftext reads them:
        // flags 4 and 5 leave the frame in place, 9 restores the background.
        EXPECT_EQ(count("application block"), 1);
        EXPECT_EQ(count("Disposal Mode: 1"), 3);
        EXPECT_EQ(count("Disposal Mode: 2"), 1);
        EXPECT_EQ(count("Transparency on: yes"), 2);
    }
}

}  // namespace
#endif
