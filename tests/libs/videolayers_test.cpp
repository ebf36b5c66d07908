// Videos shown as layers: DisplayVideoFrame's refusals, the picture as a
// layer, hidden copies for busy videos, and a closed video that waits for
// its last layer.

#include "core/objectlist.h"
#include "core/errcodes.h"
#include "display/refresh.h"
#include "draw/attributes.h"
#include "imaging/imagefixtures.h"
#include "lib/assembler.h"
#include "libs/videolib.h"
#include "media/cdxlbuilder.h"
#include "media/video.h"
#include "objects/layers.h"
#include "objects/layersources.h"
#include "objects/show_fixture.h"
#include "wait_for.h"

using test_wait::WaitFor;

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
        for (qbObject* o = VideoListHead()->head; o; o = o->next) ++n;
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
    // The picture whose time holds the place asked: the third.
    EXPECT_EQ(Window(50, 0), 0xFF8800u | 2 * 0x11u);

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

TEST_F(VideoLayerTest, PlayVideoWithUseLayerPlaysIntoItsLayer) {
    ASSERT_EQ(Open(1, WriteClip(400)), 0);
    const auto playAsLayer = [&](double x, double y) {
        return Show("PlayVideo", {1, x, y}, [&] { SetTableFieldInt(L_, "uselayer", 1); });
    };
    EXPECT_EQ(playAsLayer(10, 20), ERR_NOLAYERS);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(playAsLayer(10, 20), 0);
    ASSERT_EQ(CountLayers(display_->bgpic), 1);
    EXPECT_EQ(GetLayerByIndex(display_->bgpic, 1)->type, kLayerVideo);
    qbVideo* v = Video(1);
    EXPECT_TRUE(v->layer);
    EXPECT_EQ(v->state, kVideoPlaying);
    // A layer's video keeps the layer's place and size.
    EXPECT_EQ(RunNumbers("SetVideoPosition", {1, 0, 0}), ERR_VIDLAYERFUNC);
    // The pictures reach the layer, in its place, on the main thread.
    ASSERT_TRUE(WaitFor([&] {
        FlushDisplayBlitQueue(L_);
        return (Window(10, 20) & 0xFFFF00u) == 0xFF8800u;
    }));
    EXPECT_EQ(Window(41, 35) & 0xFFFF00u, 0xFF8800u);
    EXPECT_EQ(Window(42, 35), Window(9, 20));

    // The layer commands drive the layer's video.
    ASSERT_EQ(RunNumbers("PauseLayer", {1}), 0);
    EXPECT_EQ(v->state, kVideoPaused);
    EXPECT_EQ(RunNumbers("PauseLayer", {1}), ERR_VIDNOTPLAYING);
    ASSERT_EQ(RunNumbers("SeekLayer", {1, 0}), 0);
    EXPECT_EQ(RunNumbers("SeekLayer", {1, static_cast<double>(v->duration)}), ERR_SEEKRANGE);
    ASSERT_EQ(RunNumbers("ResumeLayer", {1}), 0);
    EXPECT_EQ(v->state, kVideoPlaying);
    EXPECT_EQ(RunNumbers("ResumeLayer", {1}), ERR_VIDNOTPAUSED);
    VmPushNumber(L_, 1);
    VmPushString(L_, "50%");
    ASSERT_EQ(Run("SetLayerVolume", 2), 0);
    EXPECT_EQ(v->volume, 32);
    ASSERT_EQ(RunNumbers("StopLayer", {1}), 0);
    EXPECT_EQ(v->state, kVideoStopped);
    EXPECT_EQ(RunNumbers("StopLayer", {1}), ERR_VIDSTOPPED);
    ASSERT_EQ(RunNumbers("PlayLayer", {1}), 0);
    EXPECT_EQ(v->state, kVideoPlaying);
    EXPECT_EQ(RunNumbers("PlayLayer", {1}), ERR_VIDPLAYING);
    EXPECT_EQ(CountLayers(display_->bgpic), 1);
    // A plain play of a layer's video is refused.
    EXPECT_EQ(RunNumbers("PlayVideo", {1, 0, 0}), ERR_VIDPLAYING);

    // Brush layers have no video to drive.
    MakeBrush(1, 4, 4, 0x00FF00);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 0, 0}), 0);
    for (const char* command : {"PlayLayer", "StopLayer", "PauseLayer", "ResumeLayer"})
        EXPECT_EQ(RunNumbers(command, {2}), ERR_BADLAYERTYPE) << command;
    EXPECT_EQ(RunNumbers("SeekLayer", {2, 0}), ERR_BADLAYERTYPE);
    EXPECT_EQ(RunNumbers("SetLayerVolume", {2, 10}), ERR_BADLAYERTYPE);

    // The video stops with its layer.
    ASSERT_EQ(RunNumbers("RemoveLayer", {1}), 0);
    EXPECT_EQ(v->state, kVideoStopped);
    EXPECT_FALSE(v->layer);
}

TEST_F(VideoLayerTest, ABusyVideoPlaysAsALayerFromACopy) {
    ASSERT_EQ(Open(1, WriteClip(400)), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(RunNumbers("PlayVideo", {1, 0, 0}), 0);
    ASSERT_EQ(Show("PlayVideo", {1, 40, 40}, [&] { SetTableFieldInt(L_, "uselayer", 1); }), 0);
    // Two independent playbacks: the video on the display, a copy as the layer.
    EXPECT_EQ(CountVideos(), 2);
    EXPECT_FALSE(Video(1)->layer);
    EXPECT_EQ(Video(1)->state, kVideoPlaying);
    ASSERT_EQ(RunNumbers("StopVideo", {1}), 0);
    ASSERT_EQ(RunNumbers("PauseLayer", {1}), 0);
    ASSERT_EQ(RunNumbers("RemoveLayer", {1}), 0);
    EXPECT_EQ(CountVideos(), 1);

    // A stopped video that a layer shows plays only as a layer.
    ASSERT_EQ(RunNumbers("DisplayVideoFrame", {1, 0, 0, 0}), 0);
    EXPECT_EQ(RunNumbers("PlayVideo", {1, 0, 0}), ERR_DBVIDEOLAYER);
    // InsertLayer puts the first picture below it.
    ASSERT_EQ(RunNumbers("InsertLayer", {1, 50, 1, 60, 0}), 0);
    ASSERT_EQ(CountLayers(display_->bgpic), 2);
    EXPECT_EQ(GetLayerByIndex(display_->bgpic, 1)->type, kLayerVideo);
    EXPECT_EQ(Window(60, 0), 0xFF8800u);
    EXPECT_EQ(RunNumbers("InsertLayer", {1, 50, 9, 0, 0}), ERR_FINDVIDEO);

    // Layers off: the videos playing into layers stop.
    ASSERT_EQ(RunNumbers("PlayLayer", {2}), 0);
    qbVideo* played = Video(1);
    EXPECT_EQ(played->state, kVideoPlaying);
    ASSERT_EQ(Run("DisableLayers", 0), 0);
    EXPECT_EQ(played->state, kVideoStopped);
}

TEST_F(VideoLayerTest, TheStyleRowCutsThePictureAndKeepsTheVideo) {
    ASSERT_EQ(Open(1, WriteClip(20)), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(RunNumbers("DisplayVideoFrame", {1, 10, 20, 0}), 0);
    VmPushNumber(L_, 1);
    ASSERT_EQ(Run("GetLayerStyle", 1, 1), 0);
    int32_t partWidth = 0;
    ASSERT_TRUE(GetTableFieldInt(L_, -1, "partwidth", &partWidth, nullptr));
    EXPECT_EQ(partWidth, 32);
    VmSetTop(L_, 0);
    const auto style = [&](auto fill) { return Show("SetLayerStyle", {1}, fill); };
    EXPECT_EQ(style([&] { SetTableFieldInt(L_, "id", 7); }), ERR_WRONGUSAGE);
    EXPECT_EQ(style([&] { SetTableFieldInt(L_, "partx", 32); }), ERR_COORDSRANGE);
    EXPECT_EQ(style([&] { SetTableFieldInt(L_, "partwidth", 0); }), ERR_BADDIMENSIONS);
    // The same video named again changes nothing.
    EXPECT_EQ(style([&] { SetTableFieldInt(L_, "id", 1); }), 0);
    ASSERT_EQ(style([&] {
                  SetTableFieldInt(L_, "partx", 4);
                  SetTableFieldInt(L_, "partwidth", 8);
              }),
              0);
    const qbLayer* layer = GetLayerByIndex(display_->bgpic, 1);
    EXPECT_EQ(layer->type, kLayerVideo);
    EXPECT_EQ(layer->id, (ObjectID{1, nullptr}));
    EXPECT_EQ(layer->basestate->srcx, 4);
    EXPECT_EQ(Window(10, 20), 0xFF8800u);
    EXPECT_EQ(Window(17, 35), 0xFF8800u);
    EXPECT_NE(Window(18, 20), 0xFF8800u);
    EXPECT_EQ(style([&] { SetTableFieldInt(L_, "type", 3); }), ERR_MISSINGPARAMTR);
}

TEST_F(VideoLayerTest, AVideoLayerAnswersWithItsVideo) {
    auto get = [&](int32_t attribute) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, 22);  // #LAYER
        VmPushNumber(L_, 1);
        VmPushNumber(L_, attribute);
        const int n = cmdGetAttribute(L_);
        return n >= 1000 ? -n : VmToNumber(L_, -1);
    };
    enum : int32_t {
        kNumFrames = 11, kDuration = 14, kPosition = 18, kFormat = 19, kCanSeek = 72, kPlaying = 83, kPaused = 84
    };
    ASSERT_EQ(Open(1, WriteClip(20)), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(RunNumbers("DisplayVideoFrame", {1, 0, 0, 0}), 0);
    EXPECT_EQ(get(kNumFrames), 20);
    EXPECT_EQ(get(kDuration), Video(1)->duration);
    EXPECT_EQ(get(kCanSeek), 1);
    EXPECT_EQ(get(kPlaying), 0);
    EXPECT_EQ(get(kPaused), 0);
    get(kFormat);
    EXPECT_STREQ(VmToCString(L_, -1), "CDXL");
    const double half = Video(1)->duration / 2;
    ASSERT_EQ(RunNumbers("SeekVideo", {1, half}), 0);
    EXPECT_EQ(get(kPosition), half) << Video(1)->duration;
    MakeBrush(1, 4, 4, 0);
    ASSERT_EQ(RunNumbers("DisplayBrush", {1, 0, 0}), 0);
    VmSetTop(L_, 0);
    VmPushNumber(L_, 22);
    VmPushNumber(L_, 2);
    VmPushNumber(L_, kPlaying);
    EXPECT_EQ(cmdGetAttribute(L_), ERR_BADLAYERTYPE);
}

TEST_F(VideoLayerTest, AVideoPlayingIntoLayersStopsWithItsBGPicsLayers) {
    ASSERT_EQ(Open(1, WriteClip(400)), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("PlayVideo", {1, 0, 0}, [&] { SetTableFieldInt(L_, "uselayer", 1); }), 0);
    EXPECT_EQ(FindDisplayOfVideo(Video(1)), display_);
    FreeBGPicLayers(L_, display_->bgpic, true);
    EXPECT_EQ(Video(1)->state, kVideoStopped);
    EXPECT_FALSE(Video(1)->layer);
    // Free of layers, it plays straight onto the display again.
    EXPECT_EQ(RunNumbers("PlayVideo", {1, 0, 0}), 0);
}

// PlayVideo into a new layer whose option table's "__index" plays the same
// video meanwhile, on the display or into a layer of its own: the outer play
// is refused as the video already plays, and the video goes on playing the
// way the inner play started it.
TEST_F(VideoLayerTest, APlayStartedByTheOptionsCodeOutlivesTheRefusedLayer) {
    // player(t, key): the first time, PlayVideo(1, 0, 0, inner).
    const char* const player = R"(.function main maxstack=2
    CLOSURE 0 player
    SETGLOBAL 0 "player"
    RETURN 0 1 0
.function player params=2 maxstack=8
    GETGLOBAL 2 "played"
    EQ 1 2 #1
    JMP done
    LOADK 2 #1
    SETGLOBAL 2 "played"
    GETGLOBAL 2 "playvideo"
    LOADK 3 #1
    LOADK 4 #0
    LOADK 5 #0
    GETGLOBAL 6 "inner"
    CALL 2 5 1
done:
    RETURN 0 1 0
.end
.end
)";
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(AssembleText(player, bytes, error)) << error;
    ASSERT_EQ(VmLoadBuffer(L_, reinterpret_cast<const char*>(bytes.data()), bytes.size(), "player"), 0);
    ASSERT_EQ(VmPCall(L_, 0, 0, 0), 0);
    const auto setGlobal = [&](const char* name) {
        VmPushString(L_, name);
        VmInsert(L_, -2);
        VmRawSet(L_, kGlobalsIndex);
    };
    const std::string clip = WriteClip(400);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    for (const bool innerAsLayer : {false, true}) {
        SCOPED_TRACE(innerAsLayer ? "into a layer" : "on the display");
        ASSERT_EQ(Open(1, clip), 0);
        VmSetTop(L_, 0);
        VmPushNil(L_);
        setGlobal("played");
        if (innerAsLayer) {
            VmPushNewTable(L_);
            SetTableFieldInt(L_, "uselayer", 1);
        } else {
            VmPushNil(L_);
        }
        setGlobal("inner");
        // t = {uselayer = 1, channel = 0}: the first option the layer
        // reads runs the player.
        VmPushNumber(L_, 1);
        VmPushNumber(L_, 0);
        VmPushNumber(L_, 0);
        VmPushNewTable(L_);
        SetTableFieldInt(L_, "uselayer", 1);
        SetTableFieldInt(L_, "channel", 0);
        VmPushNewTable(L_);
        VmPushString(L_, "__index");
        VmPushString(L_, "player");
        VmRawGet(L_, kGlobalsIndex);
        VmRawSet(L_, -3);
        VmSetMetatable(L_, -2);
        EXPECT_EQ(Run("PlayVideo", 4), ERR_VIDPLAYING);
        VmSetTop(L_, 0);
        EXPECT_EQ(Video(1)->state, kVideoPlaying);
        // Only the inner play's layer is left; a layer's video keeps its
        // layer's place, one on the display moves.
        EXPECT_EQ(CountLayers(display_->bgpic), innerAsLayer ? 1 : 0);
        EXPECT_EQ(RunNumbers("SetVideoPosition", {1, 5, 5}), innerAsLayer ? ERR_VIDLAYERFUNC : 0);
        ASSERT_EQ(RunNumbers("StopVideo", {1}), 0);
        ASSERT_EQ(RunNumbers("CloseVideo", {1}), 0);
        if (innerAsLayer) {
            ASSERT_EQ(RunNumbers("RemoveLayer", {1}), 0);
        }
        EXPECT_EQ(CountVideos(), 0);
    }
}
