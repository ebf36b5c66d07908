// The video commands over the Linux movie decoder (the rest of the backend
// in memory): ForceVideoDriver's choice of driver, GetVideoFrame walking a
// movie's pictures into brushes, and the movie's frame count and format.
#include <tuple>

#include "core/errcodes.h"
#include "display/displaylib_fixture.h"
#include "fixtures/ffmpeg_fixtures.h"
#include "libs/videolib.h"
#include "media/cdxlbuilder.h"
#include "media/video.h"
#include "objects/brushes.h"

using namespace ffmpegfixtures;

namespace {

// The in-memory backend with the Linux backend's movies and their source
// for playing.
qbPlatformOps WithLinuxMovies() {
    qbPlatformOps ops = NullPlatformOps();
    const qbPlatformOps& linux = LinuxPlatformOps();
#define QB_MOVIE_OP(ret, op, params, args) ops.op = linux.op;
    QB_PLATFORM_MOVIE_OPS(QB_MOVIE_OP)
    QB_PLATFORM_MOVIE_SOURCE_OPS(QB_MOVIE_OP)
#undef QB_MOVIE_OP
    return ops;
}

class VideoNativeLibTest : public DisplayLibWorld {
protected:
    void SetUp() override {
        if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
        DisplayLibWorld::SetUp();
        SetPlatformBackend(&ops_);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitVideoLibrary(L_), 0);
        VmSetTop(L_, 0);
        savedLoader_ = DefaultVideoLoader();
    }
    void TearDown() override {
        if (!L_) return;
        SetDefaultVideoLoader(savedLoader_);
        FreeAllVideos(L_);
        DisplayLibWorld::TearDown();
    }
    int Open(int32_t id, const std::string& file) {
        VmPushNumber(L_, id);
        VmPushString(L_, file.c_str());
        return Run("OpenVideo", 2);
    }
    static int32_t Driver(int32_t id) {
        qbVideo* v = nullptr;
        return GetVideo(ObjectID{id, nullptr}, &v) == 0 && v->stream ? v->stream->kind : -1;
    }
    // The brush's pixels, 0x00RRGGBB.
    std::vector<uint32_t> Brush(int32_t id) {
        qbBrush* b = nullptr;
        if (GetBrushRecord(L_, ObjectID{id, nullptr}, &b, 0) != 0) return {};
        std::vector<uint32_t> pixels =
            GetBitmapARGB(b->bitmap, 0, 0, b->width, b->height, nullptr, nullptr, -1, false, 0);
        for (uint32_t& p : pixels) p &= 0xFFFFFF;
        return pixels;
    }

    const qbPlatformOps ops_ = WithLinuxMovies();
    imagefixtures::ScratchDir dir_;
    std::string savedLoader_;
};

// ffmpeg's pictures without their alpha, as brushes hold them.
std::vector<uint32_t> Opaque(std::vector<uint32_t> picture) {
    for (uint32_t& p : picture) p &= 0xFFFFFF;
    return picture;
}

TEST_F(VideoNativeLibTest, OnlyTheNativeDriverOpensOnceForced) {
    const std::string clip = ffmpegfixtures::Make(dir_.File(""), Clip::MP4);
    cdxlbuilder::Layout s;
    s.width = 32;
    s.height = 16;
    s.palette = cdxlbuilder::Palette(16, 2);
    s.frames = 4;
    const std::string cdxl = dir_.File("clip.cdxl");
    imagefixtures::WriteBytes(cdxl, cdxlbuilder::Build(s));
    ASSERT_EQ(Open(1, clip), 0);
    EXPECT_EQ(Driver(1), kVideoDriverNative);
    qbVideo* v = nullptr;
    ASSERT_EQ(GetVideo(ObjectID{1, nullptr}, &v), 0);
    EXPECT_EQ(VideoFrameCount(v), 50);
    EXPECT_EQ(std::string(VideoFormatName(v)), "QuickTime / MOV");
    ASSERT_EQ(Open(2, cdxl), 0);
    EXPECT_EQ(Driver(2), kVideoDriverOwn);
    ASSERT_EQ(RunNumbers("ForceVideoDriver", {0}), 0);  // #VIDDRV_OS
    ASSERT_EQ(Open(3, clip), 0);
    EXPECT_EQ(Driver(3), kVideoDriverNative);
    // The inbuilt CDXL reader is not asked: the file opens through the
    // platform's decoder or not at all.
    if (Open(4, cdxl) == 0) {
        EXPECT_EQ(Driver(4), kVideoDriverNative);
    }
    ASSERT_EQ(RunNumbers("ForceVideoDriver", {1}), 0);  // #VIDDRV_QUENBROOK
    EXPECT_EQ(Open(5, clip), ERR_LOADVIDEO);
}

TEST_F(VideoNativeLibTest, GetVideoFrameWalksTheMovieIntoBrushes) {
    const std::string clip = ffmpegfixtures::Make(dir_.File(""), Clip::MP4);
    const auto reference = DecodeFrames(clip, 64, 48);
    ASSERT_EQ(reference.size(), 50u);
    ASSERT_EQ(Open(1, clip), 0);
    auto grab = [&](double position, double mode = 0) { return RunNumbers("GetVideoFrame", {7, position, 1, mode}); };
    EXPECT_EQ(grab(0), ERR_VIDEOFRAME);
    EXPECT_EQ(grab(51), ERR_VIDEOFRAME);
    EXPECT_EQ(grab(2000, 1), ERR_SEEKRANGE);
    for (auto [position, mode, picture] : {std::tuple{6.0, 0.0, 5}, std::tuple{3.0, 0.0, 2},
                                           std::tuple{1500.0, 1.0, 37}, std::tuple{1999.0, 1.0, 49}}) {
        ASSERT_EQ(grab(position, mode), 0) << position;
        const std::vector<uint32_t> brush = Brush(7);
        ASSERT_EQ(brush.size(), 64u * 48u);
        EXPECT_LE(LargestDifference(brush.data(), Opaque(reference[picture])), 2) << position << " mode " << mode;
    }
}

}  // namespace
