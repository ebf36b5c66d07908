// SaveAnim and the anim stream commands called as a script calls them: GIF
// files read back with giflib, AVI files with ffprobe and ffmpeg, frame
// placement and the option and lookup errors.
#include <gtest/gtest.h>

#include "core/objectlist.h"
#include "avitest.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "display/display.h"
#include "media/animlib.h"
#include "media/anims.h"
#include "objects/brush_fixture.h"

#ifdef QB_TEST_HAVE_GIFLIB
#include <gif_lib.h>
#endif

namespace {

class AnimStreamTest : public BrushWorld {
protected:
    void SetUp() override {
        BrushWorld::SetUp();
        SetPicturesPending(false);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitAnimLibrary(L_), 0);
        VmSetTop(L_, 0);
    }
    void TearDown() override {
        FreeAllAnims(L_);
        SetPicturesPending(true);
        BrushWorld::TearDown();
    }

    // A brush of the pixels, with an alpha plane of their alpha bytes when asked.
    void Brush(int32_t id, const std::vector<uint32_t>& pixels, int w, int h, bool withAlpha = false) {
        qbBitmap *bitmap = nullptr, *alpha = nullptr;
        ASSERT_EQ(CreateBitmapFromARGB(pixels.data(), -1, w, h, w, false, 0, 0, &bitmap, nullptr, nullptr), 0);
        if (withAlpha) alpha = CreateAlphaFromARGB(pixels.data(), w, h, w);
        qbBrush* made = nullptr;
        ASSERT_EQ(AllocBrushRecord(NewObjectID{id, 0}, kBrushPixels, w, h, w, 0, nullptr, bitmap, -1, nullptr, alpha,
                                   ObjectID{}, &made),
                  0);
    }
    // An anim in memory of the pictures, with their delays in milliseconds.
    void Anim(int32_t id, const std::vector<std::vector<uint32_t>>& pictures, int w, int h,
              const std::vector<uint32_t>& delays) {
        qbAnimContents c;
        c.width = w;
        c.height = h;
        c.frameCount = static_cast<int32_t>(pictures.size());
        for (const auto& p : pictures) {
            qbAnimFrame f;
            qbBitmap* bitmap = nullptr;
            ASSERT_EQ(CreateBitmapFromARGB(p.data(), -1, w, h, w, false, 0, 0, &bitmap, nullptr, nullptr), 0);
            f.bitmap.reset(bitmap);
            c.frames.push_back(std::move(f));
        }
        c.delays = delays;
        qbAnim* made = nullptr;
        ASSERT_EQ(AllocAnimRecord(NewObjectID{id, 0}, &c, &made), 0);
    }

    using Fields = std::initializer_list<std::pair<const char*, int32_t>>;
    void Table(Fields fields) {
        VmPushNewTable(L_);
        for (const auto& [k, v] : fields) SetTableFieldInt(L_, k, v);
    }
    int Begin(int32_t id, const std::string& file, int w, int h, int format = 0, Fields fields = {}) {
        VmPushNumber(L_, id);
        VmPushString(L_, file.c_str());
        VmPushNumber(L_, w);
        VmPushNumber(L_, h);
        VmPushNumber(L_, format);
        Table(fields);
        return Run("BeginAnimStream", 6);
    }
    int Write(int32_t stream, int32_t brush, Fields fields = {}) {
        VmPushNumber(L_, stream);
        VmPushNumber(L_, brush);
        Table(fields);
        return Run("WriteAnimFrame", 3);
    }
    int Finish(int32_t stream) {
        VmPushNumber(L_, stream);
        return Run("FinishAnimStream", 1);
    }
    int Save(int32_t anim, const std::string& file, int format = 0, Fields fields = {}) {
        VmPushNumber(L_, anim);
        VmPushString(L_, file.c_str());
        VmPushNumber(L_, format);
        Table(fields);
        return Run("SaveAnim", 4);
    }

    imagefixtures::ScratchDir dir_;
};

std::vector<uint32_t> Filled(int w, int h, uint32_t colour) {
    return std::vector<uint32_t>(static_cast<size_t>(w) * static_cast<size_t>(h), colour);
}

#ifdef QB_TEST_HAVE_GIFLIB
struct Gif {
    GifFileType* file = nullptr;
    explicit Gif(const std::string& path) {
        int error = 0;
        file = DGifOpenFileName(path.c_str(), &error);
        if (file && DGifSlurp(file) != GIF_OK) ADD_FAILURE() << "DGifSlurp";
    }
    ~Gif() {
        int error = 0;
        if (file) DGifCloseFile(file, &error);
    }
    GraphicsControlBlock Control(int frame) const {
        GraphicsControlBlock g{};
        DGifSavedExtensionToGCB(file, frame, &g);
        return g;
    }
    int Index(int frame, int x, int y) const {
        const SavedImage& s = file->SavedImages[frame];
        return s.RasterBits[(y - s.ImageDesc.Top) * s.ImageDesc.Width + (x - s.ImageDesc.Left)];
    }
    uint32_t Colour(int frame, int index) const {
        const ColorMapObject* map = file->SavedImages[frame].ImageDesc.ColorMap;
        if (!map) map = file->SColorMap;
        const GifColorType c = map->Colors[index];
        return uint32_t{c.Red} << 16 | uint32_t{c.Green} << 8 | c.Blue;
    }
};
#endif

}  // namespace

TEST_F(AnimStreamTest, SaveAnimWritesAGifOfTheFramesDelaysAndColours) {
#ifndef QB_TEST_HAVE_GIFLIB
    GTEST_SKIP() << "no giflib";
#else
    std::vector<std::vector<uint32_t>> pictures;
    for (uint32_t colour : {0xFF0000u, 0x00FF00u, 0x123456u}) {
        std::vector<uint32_t> p = Filled(16, 8, colour);
        p[5] = 0xFFFFFF;
        pictures.push_back(p);
    }
    Anim(1, pictures, 16, 8, {100, 200, 300});
    const std::string path = dir_.File("anim.gif");
    ASSERT_EQ(Save(1, path), 0);
    Gif gif(path);
    ASSERT_NE(gif.file, nullptr);
    ASSERT_EQ(gif.file->ImageCount, 3);
    for (int f = 0; f < 3; ++f) {
        EXPECT_EQ(gif.Control(f).DelayTime, 10 * (f + 1));
        EXPECT_EQ(gif.Colour(f, gif.Index(f, 0, 0)), pictures[f][0]);
        EXPECT_EQ(gif.Colour(f, gif.Index(f, 5, 0)), 0xFFFFFFu);
        EXPECT_NE(gif.Index(f, 0, 0), gif.Control(f).TransparentColor);
    }
    // "colors" from 2 to 256.
    for (int colours : {2, 256}) EXPECT_EQ(Save(1, path, 0, {{"colors", colours}}), 0) << colours;
    for (int colours : {1, 257}) EXPECT_EQ(Save(1, path, 0, {{"colors", colours}}), ERR_WRONGUSAGE) << colours;
    EXPECT_EQ(Save(1, path, 0, {{"usealpha", 1}, {"transparency", 0}}), ERR_MASKNALPHA);
    EXPECT_EQ(Save(2, path), ERR_FINDANIM);
#endif
}

TEST_F(AnimStreamTest, TheTransparentColourTakesTheLastPaletteEntry) {
#ifndef QB_TEST_HAVE_GIFLIB
    GTEST_SKIP() << "no giflib";
#else
    // The key colour comes first in the picture and still ends up last.
    std::vector<uint32_t> p = Filled(8, 4, 0x0000FF);
    for (int x = 4; x < 8; ++x) p[static_cast<size_t>(x)] = 0xFF0000;
    p[8] = 0x00FF00;
    Brush(1, p, 8, 4);
    // A smaller brush: the rest of the frame is the key colour, or colour 0
    // without one.
    Brush(2, Filled(4, 2, 0xFF0000), 4, 2);
    const std::string path = dir_.File("keyed.gif");
    ASSERT_EQ(Begin(1, path, 8, 4), 0);
    ASSERT_EQ(Write(1, 1, {{"transparency", 0x0000FF}, {"colors", 3}}), 0);
    ASSERT_EQ(Write(1, 2, {{"transparency", 0x0000FF}}), 0);
    ASSERT_EQ(Write(1, 2, {{"x", -100000}, {"y", -100000}}), 0);  // centred
    ASSERT_EQ(Finish(1), 0);
    Gif gif(path);
    ASSERT_EQ(gif.file->ImageCount, 3);
    EXPECT_EQ(gif.Control(0).TransparentColor, 2);
    EXPECT_EQ(gif.Index(0, 0, 0), 2);
    EXPECT_EQ(gif.Colour(0, gif.Index(0, 4, 0)), 0xFF0000u);
    EXPECT_EQ(gif.Colour(0, gif.Index(0, 0, 1)), 0x00FF00u);
    EXPECT_EQ(gif.Index(1, 7, 3), gif.Control(1).TransparentColor);
    EXPECT_EQ(gif.Colour(1, gif.Index(1, 0, 0)), 0xFF0000u);
    EXPECT_EQ(gif.Colour(2, gif.Index(2, 0, 0)), 0u);
    EXPECT_EQ(gif.Colour(2, gif.Index(2, 2, 1)), 0xFF0000u);
    EXPECT_EQ(gif.Colour(2, gif.Index(2, 6, 1)), 0u);
    // Unchanged-pixel slot: no pixel of a frame without a key uses it.
    EXPECT_NE(gif.Index(2, 0, 0), gif.Control(2).TransparentColor);
#endif
}

// A frame's "x" moves the brush across and its "y" down, each alone, both,
// and each centred on its own axis of a stream wider than high.
TEST_F(AnimStreamTest, AFrameIsPlacedAtItsOwnXAndY) {
#ifndef QB_TEST_HAVE_GIFLIB
    GTEST_SKIP() << "no giflib";
#else
    Brush(1, Filled(4, 2, 0xFF0000), 4, 2);
    const std::string path = dir_.File("placed.gif");
    ASSERT_EQ(Begin(1, path, 12, 6), 0);
    struct Place {
        Fields fields;
        int x, y;
    };
    const Place kPlaces[] = {
        {{{"x", 5}}, 5, 0},
        {{{"y", 3}}, 0, 3},
        {{{"x", 7}, {"y", 1}}, 7, 1},
        {{{"x", -100000}, {"y", 3}}, 4, 3},
        {{{"x", 1}, {"y", -100000}}, 1, 2},
    };
    for (const Place& p : kPlaces) ASSERT_EQ(Write(1, 1, p.fields), 0);
    ASSERT_EQ(Finish(1), 0);
    Gif gif(path);
    ASSERT_EQ(gif.file->ImageCount, 5);
    for (int f = 0; f < 5; ++f) {
        const GifImageDesc& d = gif.file->SavedImages[f].ImageDesc;
        int red = 0;
        for (int y = d.Top; y < d.Top + d.Height; ++y)
            for (int x = d.Left; x < d.Left + d.Width; ++x) {
                const Place& p = kPlaces[f];
                const bool inside = x >= p.x && x < p.x + 4 && y >= p.y && y < p.y + 2;
                const uint32_t colour = gif.Colour(f, gif.Index(f, x, y));
                red += colour == 0xFF0000u;
                EXPECT_EQ(colour, inside ? 0xFF0000u : 0u) << f << " " << x << "," << y;
            }
        EXPECT_EQ(red, 8) << f;
    }
#endif
}

TEST_F(AnimStreamTest, StreamLookupsOptionsAndUnwritableFiles) {
    Brush(1, Filled(4, 4, 0x808080), 4, 4);
    EXPECT_EQ(Finish(7), ERR_FINDANIMSTREAM);
    EXPECT_EQ(Write(7, 1), ERR_FINDANIMSTREAM);
    EXPECT_EQ(Begin(1, "", 4, 4), ERR_WRONGUSAGE);
    EXPECT_EQ(Begin(1, dir_.File("a.gif"), 0, 4), ERR_WRONGUSAGE);
    const std::string bad = dir_.File("missing/a.gif");
    EXPECT_EQ(Begin(1, bad, 4, 4), ERR_WRITEFILE);
    EXPECT_EQ(std::string(GetErrorDetail()), bad);
    EXPECT_EQ(Begin(1, dir_.File("missing/a.avi"), 4, 4, 1), ERR_WRITEFILE);
    EXPECT_EQ(Begin(1, dir_.File("a.avi"), 4, 4, 1, {{"fps", 44000}}), ERR_WRONGUSAGE);
    EXPECT_EQ(Begin(1, dir_.File("a.avi"), 4, 4, 1, {{"fps", 2000000}}), ERR_WRONGUSAGE);
    EXPECT_EQ(Begin(1, dir_.File("a.xyz"), 4, 4, 77), ERR_UNKNOWNANMOUT);

    ASSERT_EQ(Begin(1, dir_.File("a.avi"), 4, 4, 1, {{"usealpha", 1}}), 0);
    EXPECT_EQ(Write(1, 1, {{"transparency", 0}}), ERR_MASKNALPHA);
    for (int colours : {1, 257}) EXPECT_EQ(Write(1, 1, {{"colors", colours}}), ERR_WRONGUSAGE);
    EXPECT_EQ(Write(1, 2), ERR_FINDBRUSH);
    EXPECT_EQ(Write(1, 1), 0);
    // The same id again finishes the first stream.
    ASSERT_EQ(Begin(1, dir_.File("b.gif"), 4, 4), 0);
    for (int colours : {2, 256}) EXPECT_EQ(Write(1, 1, {{"colors", colours}}), 0);
    ASSERT_EQ(Finish(1), 0);
    EXPECT_EQ(Finish(1), ERR_FINDANIMSTREAM);
    {
        const avitest::Bytes b = imagefixtures::ReadBytes(dir_.File("a.avi"));
        ASSERT_GT(b.size(), 12u);
        EXPECT_EQ(avitest::U32(b, 4), b.size() - 8);
    }

    // An automatic id comes back as the stream's handle.
    VmPushNil(L_);
    VmPushString(L_, dir_.File("c.gif").c_str());
    VmPushNumber(L_, 4);
    VmPushNumber(L_, 4);
    ASSERT_EQ(Run("BeginAnimStream", 4, 1), 0);
    ASSERT_EQ(VmType(L_, -1), kTypeLightUserdata);
    void* handle = VmToUserdata(L_, -1);
    VmSetTop(L_, 0);
    VmPushLightUserdata(L_, handle);
    EXPECT_EQ(Run("FinishAnimStream", 1), 0);
    VmPushLightUserdata(L_, handle);
    EXPECT_EQ(Run("FinishAnimStream", 1), ERR_FINDARRAY);
}

TEST_F(AnimStreamTest, OpenStreamsAreCompletedAtShutdown) {
    Brush(1, Filled(4, 4, 0x808080), 4, 4);
    const std::string gif = dir_.File("open.gif"), avi = dir_.File("open.avi");
    ASSERT_EQ(Begin(1, gif, 4, 4), 0);
    ASSERT_EQ(Begin(2, avi, 4, 4, 1), 0);
    ASSERT_EQ(Write(1, 1), 0);
    ASSERT_EQ(Write(2, 1), 0);
    FreeAllAnims(L_);
    EXPECT_EQ(AnimStreamListHead()->head, nullptr);
    EXPECT_EQ(imagefixtures::ReadBytes(gif).back(), 0x3B);
    const avitest::Bytes b = imagefixtures::ReadBytes(avi);
    EXPECT_EQ(avitest::U32(b, 4), b.size() - 8);
    EXPECT_EQ(avitest::U32(b, 48), 1u);  // avih's frame count
}

TEST_F(AnimStreamTest, SaveAnimAndAStreamWriteAVIsThatFfmpegPlays) {
    if (!imagefixtures::HaveTool("ffprobe") || !imagefixtures::HaveTool("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
    std::vector<std::vector<uint32_t>> pictures;
    for (int f = 0; f < 3; ++f) {
        pictures.push_back(avitest::Scene(640, 480, f));
        Brush(f + 1, pictures.back(), 640, 480);
    }
    Anim(1, pictures, 640, 480, {40, 40, 40});
    const std::string saved = dir_.File("saved.avi"), streamed = dir_.File("streamed.avi");
    ASSERT_EQ(Save(1, saved, 1, {{"fps", 25}}), 0);
    ASSERT_EQ(Begin(1, streamed, 640, 480, 1, {{"fps", 25}}), 0);
    for (int f = 0; f < 3; ++f) ASSERT_EQ(Write(1, f + 1), 0);
    ASSERT_EQ(Finish(1), 0);
    for (const std::string& path : {saved, streamed}) {
        const std::string probe = avitest::Probe(path);
        for (const char* line : {"codec_name=pcm_s16le", "sample_rate=44100", "channels=2", "codec_name=mjpeg",
                                 "width=640", "height=480", "r_frame_rate=25/1", "nb_read_frames=3"})
            EXPECT_NE(probe.find(line), std::string::npos) << line << "\n" << probe;
        EXPECT_EQ(avitest::Capture("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "");
        const auto decoded = avitest::Decode(path, 640, 480);
        ASSERT_EQ(decoded.size(), 3u);
        for (int f = 0; f < 3; ++f) EXPECT_GE(avitest::PSNR(decoded[f], pictures[f]), 38.0) << path << " " << f;
    }
}
