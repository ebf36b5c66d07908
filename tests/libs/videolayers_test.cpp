// Videos shown as layers: DisplayVideoFrame's refusals, the picture as a
// layer, hidden copies for busy videos, and a closed video that waits for
// its last layer.
#include "core/errcodes.h"
#include "imaging/imagefixtures.h"
#include "libs/videolib.h"
#include "media/cdxlbuilder.h"
#include "media/video.h"
#include "objects/layers.h"
#include "objects/layersources.h"
#include "objects/show_fixture.h"

namespace {

class VideoLayerTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitVideoLibrary(L_), 0);
        VmSetTop(L_, 0);
    }
    void TearDown() override {
        FreeAllVideos(L_);
        ShowWorld::TearDown();
    }
    // 32 x 16 pictures, picture n filled with 0xFF8800 + 0x11 x n.
    std::string WriteClip(int frames) {
        cdxlbuilder::Layout s;
        s.width = 32;
        s.height = 16;
        s.planes = 1;
        s.chunkSize = 2000;
        s.palette = {0, 0};
        cdxlbuilder::Bytes out;
        for (int f = 0; f < frames; ++f) {
            cdxlbuilder::Bytes c = cdxlbuilder::Header(s, s.chunkSize, static_cast<uint32_t>(f));
            cdxlbuilder::Put16(c, 0);
            cdxlbuilder::Put16(c, static_cast<uint16_t>(0x0F80 | (f & 15)));
            c.insert(c.end(), cdxlbuilder::PlanarSize(s), 0xFF);
            c.resize(s.chunkSize, 0);
            out.insert(out.end(), c.begin(), c.end());
        }
        const std::string path = dir_.File("clip" + std::to_string(frames) + ".cdxl");
        imagefixtures::WriteBytes(path, out);
        return path;
    }
    int Open(int32_t id, const std::string& file) {
        VmPushNumber(L_, id);
        VmPushString(L_, file.c_str());
        return Run("OpenVideo", 2);
    }
    static qbVideo* Video(int32_t id) {
        qbVideo* v = nullptr;
        GetVideo(ObjectID{id, nullptr}, &v, kVideoPendingToo);
        return v;
    }
    static int CountVideos() {
        int n = 0;
        for (qbObject* o = *VideoListHead(); o; o = o->next) ++n;
        return n;
    }
    imagefixtures::ScratchDir dir_;
};

}  // namespace

TEST_F(VideoLayerTest, DisplayVideoFrameAddsThePictureAsALayer) {
    ASSERT_EQ(Open(1, WriteClip(20)), 0);
    EXPECT_EQ(RunNumbers("DisplayVideoFrame", {1, 0, 0, 0}), ERR_NOLAYERS);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    qbVideo* v = Video(1);
    EXPECT_EQ(RunNumbers("DisplayVideoFrame", {1, 0, 0, static_cast<double>(v->duration)}), ERR_SEEKRANGE);
    ASSERT_EQ(RunNumbers("DisplayVideoFrame", {1, 10, 20, 0}), 0);
    ASSERT_EQ(CountLayers(display_->bgpic), 1);
    const qbLayer* layer = GetLayerByIndex(display_->bgpic, 1);
    EXPECT_EQ(layer->type, kLayerVideo);
    EXPECT_EQ(Window(10, 20), 0xFF8800u);
    EXPECT_EQ(Window(41, 35), 0xFF8800u);
    EXPECT_NE(Window(42, 35), 0xFF8800u);
    // Shown by a layer, the video keeps its size and place.
    EXPECT_EQ(RunNumbers("SetVideoSize", {1, 8, 8}), ERR_VIDLAYERFUNC);
    EXPECT_EQ(RunNumbers("GetVideoFrame", {5, 1, 1}), ERR_WRONGUSAGE);
    // A second picture of a video a layer shows comes from a hidden copy.
    ASSERT_EQ(CountVideos(), 1);
    const double third = v->duration / 20.0 * 2.5;
    ASSERT_EQ(RunNumbers("DisplayVideoFrame", {1, 50, 0, third}), 0);
    EXPECT_EQ(CountVideos(), 2);
    ASSERT_EQ(CountLayers(display_->bgpic), 2);
    // Fifteen pictures on from the place asked (0xFF8800 + 0x11 x 16 wraps to 0).
    EXPECT_EQ(Window(50, 0), 0xFF8800u | ((2 + 14) & 15) * 0x11u);

    // Closed while a layer shows it, the video waits for that layer.
    ASSERT_EQ(RunNumbers("CloseVideo", {1}), 0);
    EXPECT_EQ(RunNumbers("IsVideoPlaying", {1}), ERR_FINDVIDEO);
    EXPECT_EQ(CountVideos(), 2);
    ASSERT_EQ(RunNumbers("RemoveLayer", {1}), 0);
    EXPECT_EQ(CountVideos(), 1);
    ASSERT_EQ(RunNumbers("RemoveLayer", {1}), 0);
    EXPECT_EQ(CountVideos(), 0);
}

TEST_F(VideoLayerTest, APlayingVideosFrameComesFromACopy) {
    ASSERT_EQ(Open(1, WriteClip(400)), 0);
    ASSERT_EQ(RunNumbers("PlayVideo", {1, 0, 0}), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(RunNumbers("DisplayVideoFrame", {1, 0, 0, 0}), 0);
    EXPECT_EQ(Video(1)->state, kVideoPlaying);
    EXPECT_FALSE(Video(1)->layer);
    EXPECT_EQ(CountVideos(), 2);
    ASSERT_EQ(RunNumbers("StopVideo", {1}), 0);
    // Freeing the layers frees the copy.
    ASSERT_EQ(Run("DisableLayers", 0), 0);
    FreeBGPicLayers(L_, display_->bgpic, true);
    ReleaseLayerSources(L_, kReleaseAllLayerSources);
    EXPECT_EQ(CountVideos(), 1);
}
