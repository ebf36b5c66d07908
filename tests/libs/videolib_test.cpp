// The video commands as a script calls them, on the in-memory display
// backend: opening what nothing takes, playing twice and after the end,
// the seek range, the display's own refresh going round a video, a scaling
// display, the window going away and back, the cores reached through a
// sound channel, locked videos, size, position and volume, frame grabs, the
// default driver, and a native driver's video in the window, dumped and
// refused as a layer.
#include <cmath>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/settings.h"
#include "display/displaylib_fixture.h"
#include "display/displaywindow.h"
#include "display/positions.h"
#include "display/refresh.h"
#include "draw/attributes.h"
#include "imaging/imagefixtures.h"
#include "imaging/scale.h"
#include "libs/videolib.h"
#include "media/cdxlbuilder.h"
#include "media/ffclips.h"
#include "media/video.h"
#include "media/videoplayback.h"
#include "objects/brushes.h"
#include "platform/linux/avdecoder.h"
#include "platform/mixer/mixer.h"
#include "sound/channels.h"
#include "sound/sound.h"
#include "sound/soundlib.h"
#include "wait_for.h"

using test_wait::WaitFor;

namespace {

constexpr uint32_t kBackdrop = 0x204060;

class VideoLibTest : public DisplayLibWorld {
protected:
    void SetUp() override {
        DisplayLibWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitVideoLibrary(L_), 0);
        VmSetTop(L_, 0);
        ASSERT_EQ(Create(1, [&] {
                      Field("active", 1);
                      Field("color", static_cast<int32_t>(kBackdrop));
                  }),
                  0);
        ASSERT_EQ(StartDisplays(L_), 0);
        display_ = Find(1);
    }
    void TearDown() override {
        FreeAllVideos(L_);
        DisplayLibWorld::TearDown();
    }

    // A clip of 32 x 16 pictures filled with 0x0F80 (0xFF8800), `frames`
    // long, fast (its chunks are small). Numbered pictures carry their
    // 0-based number in the blue nibble (0xFF8800 + 0x11 x n).
    std::string WriteClip(int frames, bool numbered = false, uint32_t chunkSize = 2000) {
        cdxlbuilder::Layout s;
        s.width = 32;
        s.height = 16;
        s.planes = 1;
        s.palette = {0x0000, 0x0F80};
        s.chunkSize = chunkSize;  // 2000: 76.8 pictures a second; 6144: 25
        cdxlbuilder::Bytes out;
        for (int f = 0; f < frames; ++f) {
            cdxlbuilder::Bytes c = cdxlbuilder::Header(s, s.chunkSize, static_cast<uint32_t>(f));
            for (uint16_t p : s.palette) cdxlbuilder::Put16(c, numbered && p ? static_cast<uint16_t>(p | (f & 15)) : p);
            c.insert(c.end(), cdxlbuilder::PlanarSize(s), 0xFF);
            c.resize(s.chunkSize, 0);
            out.insert(out.end(), c.begin(), c.end());
        }
        const std::string path = dir_.File((numbered ? "numbered" : "clip") + std::to_string(frames) + "-" +
                                           std::to_string(chunkSize) + ".cdxl");
        imagefixtures::WriteBytes(path, out);
        return path;
    }
    int Open(int32_t id, const std::string& file, const char* loader = nullptr) {
        VmPushNumber(L_, id);
        VmPushString(L_, file.c_str());
        if (loader) {
            VmPushNewTable(L_);
            SetTableFieldString(L_, "loader", loader);
        }
        return Run("OpenVideo", loader ? 3 : 2);
    }
    static qbVideo* Video(int32_t id) {
        qbVideo* v = nullptr;
        GetVideo(ObjectID{id, nullptr}, &v);
        return v;
    }
    uint32_t Pixel(int x, int y) const {
        const null_backend::Surface* s = null_backend::GetSurface(display_);
        return s ? s->At(x, y) & 0xFFFFFF : 0;
    }

    imagefixtures::ScratchDir dir_;
    qbDisplay* display_ = nullptr;
};

}  // namespace

TEST_F(VideoLibTest, AFileNothingTakesNamesItself) {
    const std::string text = dir_.File("note.txt");
    imagefixtures::WriteBytes(text, std::vector<uint8_t>(300, 'x'));
    SetErrorDetail("");
    EXPECT_EQ(Open(1, text, "inbuilt"), ERR_LOADVIDEO);
    EXPECT_EQ(std::string(GetErrorDetail()), text);
    VmPushString(L_, text.c_str());
    ASSERT_EQ(Run("IsVideo", 1, 1), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 0);
    VmPushString(L_, WriteClip(3).c_str());
    ASSERT_EQ(Run("IsVideo", 1, 1), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 1);
}

TEST_F(VideoLibTest, PlayingTwiceIsRefusedAndAnEndedVideoStartsAgain) {
    ASSERT_EQ(Open(1, WriteClip(6)), 0);
    ASSERT_EQ(RunNumbers("PlayVideo", {1, 10, 20}), 0);
    EXPECT_EQ(RunNumbers("PlayVideo", {1}), ERR_VIDPLAYING);
    EXPECT_TRUE(IsVideoOnDisplay(display_));
    ASSERT_TRUE(WaitFor([] { return Video(1)->state == kVideoEnded; }));
    ASSERT_EQ(RunNumbers("IsVideoPlaying", {1}), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 0);
    ASSERT_EQ(RunNumbers("PlayVideo", {1}), 0);
    EXPECT_EQ(Video(1)->state, kVideoPlaying);
    ASSERT_EQ(RunNumbers("PauseVideo", {1}), 0);
    EXPECT_EQ(RunNumbers("PauseVideo", {1}), ERR_VIDNOTPLAYING);
    ASSERT_EQ(RunNumbers("ResumeVideo", {1}), 0);
    EXPECT_EQ(RunNumbers("ResumeVideo", {1}), ERR_VIDNOTPAUSED);
    ASSERT_EQ(RunNumbers("StopVideo", {1}), 0);
    EXPECT_EQ(RunNumbers("StopVideo", {1}), ERR_VIDSTOPPED);
    EXPECT_FALSE(IsVideoOnDisplay(display_));
    ASSERT_EQ(RunNumbers("CloseVideo", {1}), 0);
    EXPECT_EQ(RunNumbers("PlayVideo", {1}), ERR_FINDVIDEO);
}

TEST_F(VideoLibTest, SeeksStayInsideTheDuration) {
    ASSERT_EQ(Open(1, WriteClip(20)), 0);
    qbVideo* v = Video(1);
    ASSERT_GT(v->duration, 1u);
    EXPECT_EQ(RunNumbers("SeekVideo", {1, static_cast<double>(v->duration - 1)}), 0);
    EXPECT_EQ(RunNumbers("SeekVideo", {1, static_cast<double>(v->duration)}), ERR_SEEKRANGE);
    EXPECT_EQ(RunNumbers("SeekVideo", {1, -1}), ERR_SEEKRANGE);
    v->seekable = false;
    EXPECT_EQ(RunNumbers("SeekVideo", {1, 0}), ERR_SEEKFORMAT);
}

TEST_F(VideoLibTest, TheDisplaysRefreshGoesRoundAPlayingVideo) {
    ASSERT_EQ(Open(1, WriteClip(400)), 0);
    ASSERT_EQ(RunNumbers("PlayVideo", {1, 10, 20}), 0);
    ASSERT_TRUE(WaitFor([&] {
        FlushDisplayBlitQueue(L_);
        return Pixel(10, 20) == 0xFF8800;
    }));
    ASSERT_EQ(RunNumbers("PauseVideo", {1}), 0);
    FlushDisplayBlitQueue(L_);
    RefreshDisplay(L_, display_);
    EXPECT_EQ(Pixel(10, 20), 0xFF8800u);
    EXPECT_EQ(Pixel(41, 35), 0xFF8800u);
    EXPECT_EQ(Pixel(42, 35), kBackdrop);
    EXPECT_EQ(Pixel(9, 20), kBackdrop);
    std::vector<uint8_t> mask;
    int32_t rowBytes = 0;
    ASSERT_TRUE(BuildVideoAreaMask(display_, 64, 64, &mask, &rowBytes));
    EXPECT_EQ(mask[static_cast<size_t>(20 * rowBytes + 1)], 0x3Fu);  // x 10 to 15
    EXPECT_EQ(mask[static_cast<size_t>(19 * rowBytes + 1)], 0u);
    EXPECT_TRUE(HitTestVideos(display_, 41, 35));
    EXPECT_FALSE(HitTestVideos(display_, 42, 35));
}

TEST_F(VideoLibTest, AScalingDisplayPlacesTheVideoInItsWindowsPixels) {
    ASSERT_EQ(Open(1, WriteClip(400)), 0);
    display_->scaleX = 2.0;
    display_->scaleY = 1.5;
    ASSERT_EQ(RunNumbers("PlayVideo", {1, 10, 20}), 0);
    const qbVideo* v = Video(1);
    EXPECT_EQ(v->x, 10);
    EXPECT_EQ(v->y, 20);
    EXPECT_EQ(v->displayX, 20);
    EXPECT_EQ(v->displayY, 30);
    EXPECT_EQ(v->displayWidth, 64);
    EXPECT_EQ(v->displayHeight, 24);
    EXPECT_TRUE(HitTestVideos(display_, 83, 53));
    EXPECT_FALSE(HitTestVideos(display_, 84, 53));
    display_->scaleX = display_->scaleY = 1.0;
    ASSERT_EQ(RunNumbers("StopVideo", {1}), 0);
}

TEST_F(VideoLibTest, VideosWaitUnseenWhileTheirWindowIsAway) {
    ASSERT_EQ(Open(1, WriteClip(400)), 0);
    ASSERT_EQ(Open(2, WriteClip(6)), 0);
    ASSERT_EQ(RunNumbers("PlayVideo", {1, 0, 0}), 0);
    ASSERT_EQ(RunNumbers("PlayVideo", {2, 40, 40}), 0);
    ASSERT_EQ(RunNumbers("PauseVideo", {1}), 0);
    ASSERT_EQ(CloseDisplayCore(L_, display_, kCloseModeSwitch), 0);
    qbVideo* paused = Video(1);
    qbVideo* ending = Video(2);
    EXPECT_EQ(paused->state, kVideoSuspended);
    EXPECT_EQ(ending->state, kVideoSuspended);
    EXPECT_TRUE(GetVideoStreamHandle(paused)->suspended);
    // Still bound to the display, which may not go meanwhile.
    EXPECT_TRUE(IsVideoOnDisplay(display_));
    EXPECT_FALSE(HitTestVideos(display_, 1, 1));
    // The short one ends unseen and is ended once the window is back.
    ASSERT_TRUE(WaitFor([&] { return VideoStreamEnded(GetVideoStreamHandle(ending)); }));
    ASSERT_EQ(RealizeDisplay(L_, display_, false, true), 0);
    EXPECT_EQ(paused->state, kVideoPaused);
    EXPECT_FALSE(GetVideoStreamHandle(paused)->suspended);
    EXPECT_TRUE(WaitFor([&] { return ending->state == kVideoEnded; }));
    // A display's videos stop with its picture.
    StopDisplayVideos(L_, display_);
    EXPECT_EQ(paused->state, kVideoStopped);
    EXPECT_EQ(ending->state, kVideoStopped);
    EXPECT_FALSE(IsVideoOnDisplay(display_));
}

TEST_F(VideoLibTest, TheCoresFindTheirVideoThroughItsSoundChannel) {
    VmPushValue(L_, kGlobalsIndex);
    ASSERT_EQ(InitSoundLibrary(L_), 0);
    VmSetTop(L_, 0);
    SetRuntimeTag(kTagNoSound, 0);
    SetRuntimeTag(kTagAudioChannels, 32);
    ASSERT_TRUE(SoundOutputReady());
    ASSERT_EQ(Open(1, WriteClip(400)), 0);
    qbVideo* v = Video(1);
    EXPECT_EQ(PauseVideoCore(nullptr), ERR_WRONGUSAGE);
    EXPECT_EQ(PauseVideoCore(nullptr, 3), ERR_WRONGUSAGE);  // nothing plays there
    audio_mixer::ResetChannel(3);
    qbAudioChannel* ch = audio_mixer::Channel(3);
    ch->owner = ObjectID{1, nullptr};
    ch->kind.store(kChannelVideo);
    EXPECT_EQ(SetVideoVolumeCore(nullptr, 100, 3), 0);
    EXPECT_EQ(v->volume, 64);
    ASSERT_EQ(RunNumbers("PlayVideo", {1}), 0);
    EXPECT_EQ(PauseVideoCore(nullptr, 3), 0);
    EXPECT_EQ(v->state, kVideoPaused);
    EXPECT_EQ(SeekVideoCore(nullptr, v->duration, 3), ERR_SEEKRANGE);
    EXPECT_EQ(ResumeVideoCore(nullptr, 3), 0);
    // The sound library's SetChannelVolume sets that video's volume.
    EXPECT_EQ(RunNumbers("SetChannelVolume", {4, 20}), 0);
    EXPECT_EQ(v->volume, 20);
    // The sound library's StopChannel stops the video whose sound plays there.
    EXPECT_EQ(RunNumbers("StopChannel", {4}), 0);
    EXPECT_EQ(v->state, kVideoStopped);
    EXPECT_EQ(StopVideoCore(L_, nullptr, true, 3), ERR_VIDSTOPPED);
    audio_mixer::ResetChannel(3);
    ShutdownAudioCore();
}

TEST_F(VideoLibTest, ALockedVideoRefusesChangesButCloses) {
    ASSERT_EQ(Open(1, WriteClip(20)), 0);
    Video(1)->lockCount = 1;
    EXPECT_EQ(RunNumbers("PlayVideo", {1}), ERR_LOCKEDOBJ);
    EXPECT_EQ(RunNumbers("SeekVideo", {1, 0}), ERR_LOCKEDOBJ);
    ASSERT_EQ(RunNumbers("IsVideoPlaying", {1}), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 0);
    EXPECT_EQ(RunNumbers("CloseVideo", {1}), 0);
}

TEST_F(VideoLibTest, VolumeSizeAndPositionAreCheckedAndFollowedOnTheDisplay) {
    ASSERT_EQ(Open(1, WriteClip(400)), 0);
    qbVideo* v = Video(1);
    ASSERT_EQ(RunNumbers("SetVideoVolume", {1, 100}), 0);
    EXPECT_EQ(v->volume, 64);
    VmPushNumber(L_, 1);
    VmPushString(L_, "50%");
    ASSERT_EQ(Run("SetVideoVolume", 2), 0);
    EXPECT_EQ(v->volume, 32);
    EXPECT_EQ(RunNumbers("SetVideoSize", {1, 0, 10}), ERR_BADDIMENSIONS);
    v->layer = true;
    EXPECT_EQ(RunNumbers("SetVideoSize", {1, 10, 10}), ERR_VIDLAYERFUNC);
    EXPECT_EQ(RunNumbers("SetVideoPosition", {1, 0, 0}), ERR_VIDLAYERFUNC);
    v->layer = false;

    ASSERT_EQ(RunNumbers("PlayVideo", {1, 0, 0}), 0);
    ASSERT_TRUE(WaitFor([&] {
        FlushDisplayBlitQueue(L_);
        return Pixel(0, 0) == 0xFF8800;
    }));
    ASSERT_EQ(RunNumbers("PauseVideo", {1}), 0);
    // The same size and smoothing leave the video alone.
    ASSERT_EQ(RunNumbers("SetVideoSize", {1, 32, 16}), 0);
    EXPECT_EQ(v->displayWidth, 32);
    // A paused video shows its picture at the new size and place at once.
    ASSERT_EQ(RunNumbers("SetVideoSize", {1, 48, 24}), 0);
    ASSERT_EQ(RunNumbers("SetVideoPosition", {1, 8, 4}), 0);
    EXPECT_EQ(v->displayWidth, 48);
    EXPECT_EQ(v->displayX, 8);
    FlushDisplayBlitQueue(L_);
    EXPECT_EQ(Pixel(8 + 47, 4 + 23), 0xFF8800u);
    EXPECT_EQ(Pixel(8 + 48, 4 + 23), kBackdrop);
    EXPECT_EQ(Pixel(7, 4), kBackdrop);
    EXPECT_TRUE(HitTestVideos(display_, 55, 27));
    // Playing on at the new size.
    ASSERT_EQ(RunNumbers("ResumeVideo", {1}), 0);
    ASSERT_EQ(RunNumbers("SetVideoSize", {1, 16, 8}), 0);
    EXPECT_EQ(v->state, kVideoPlaying);
    ASSERT_EQ(RunNumbers("PauseVideo", {1}), 0);
    FlushDisplayBlitQueue(L_);
    RefreshDisplay(L_, display_);
    EXPECT_EQ(Pixel(8 + 15, 4 + 7), 0xFF8800u);
    EXPECT_EQ(Pixel(8 + 16, 4 + 7), kBackdrop);
    ASSERT_EQ(RunNumbers("StopVideo", {1}), 0);
}

// The position constants place a lying video by its width across and its
// height down, with an offset each, through both commands that take a place.
TEST_F(VideoLibTest, PositionConstantsTakeTheVideosOwnSideOnEachAxis) {
    ASSERT_EQ(Open(1, WriteClip(400)), 0);
    qbVideo* v = Video(1);
    ASSERT_EQ(RunNumbers("SetVideoSize", {1, 48, 20}), 0);
    const int32_t w = display_->bgpic->currentWidth, h = display_->bgpic->currentHeight;
    ASSERT_NE(w, h);
    struct Case {
        int32_t x, y, wantX, wantY;
    };
    const Case cases[] = {
        {kPositionCenter + 3, kPositionCenter + 5, (w - 48) / 2 + 3, (h - 20) / 2 + 5},
        {kPositionRight - 2, kPositionBottom - 1, w - 48 - 2, h - 20 - 1},
        {kPositionLeftOut + 1, kPositionTopOut + 2, 1 - 48, 2 - 20},
        {kPositionRightOut, kPositionBottomOut, w, h},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(RunNumbers("SetVideoPosition", {1, double(c.x), double(c.y)}), 0);
        EXPECT_EQ(v->x, c.wantX) << c.x;
        EXPECT_EQ(v->y, c.wantY) << c.y;
        ASSERT_EQ(RunNumbers("PlayVideo", {1, double(c.x), double(c.y)}), 0);
        EXPECT_EQ(v->x, c.wantX) << "play " << c.x;
        EXPECT_EQ(v->y, c.wantY) << "play " << c.y;
        ASSERT_EQ(RunNumbers("StopVideo", {1}), 0);
    }
}

// PlayVideo without a place plays where SetVideoPosition put the video;
// a height kept to the aspect ratio follows the width; StopVideo takes the
// picture off the window.
TEST_F(VideoLibTest, AVideoPlaysAtItsPlaceAndStoppingTakesItOff) {
    ASSERT_EQ(Open(1, WriteClip(400)), 0);
    ASSERT_EQ(RunNumbers("SetVideoPosition", {1, 8, 4}), 0);
    ASSERT_EQ(RunNumbers("PlayVideo", {1}), 0);
    ASSERT_TRUE(WaitFor([&] {
        FlushDisplayBlitQueue(L_);
        return Pixel(8 + 31, 4 + 15) == 0xFF8800;
    }));
    ASSERT_EQ(RunNumbers("PauseVideo", {1}), 0);
    FlushDisplayBlitQueue(L_);
    EXPECT_EQ(Pixel(8, 4), 0xFF8800u);
    EXPECT_EQ(Pixel(8, 3), kBackdrop);
    ASSERT_EQ(RunNumbers("SetVideoSize", {1, 64, kKeepAspectRatio}), 0);
    FlushDisplayBlitQueue(L_);
    EXPECT_EQ(Pixel(8 + 63, 4 + 31), 0xFF8800u);
    EXPECT_EQ(Pixel(8 + 63, 4 + 32), kBackdrop);
    ASSERT_EQ(RunNumbers("StopVideo", {1}), 0);
    FlushDisplayBlitQueue(L_);
    EXPECT_EQ(Pixel(8, 4), kBackdrop);
    EXPECT_EQ(Pixel(8 + 63, 4 + 31), kBackdrop);
}

// Into a layer with no display at all, and on one that was closed: no
// layers, not a crash.
TEST_F(VideoLibTest, PlayingIntoALayerWithoutAnOpenDisplayHasNoLayers) {
    ASSERT_EQ(Open(1, WriteClip(3)), 0);
    const auto playAsLayer = [&] {
        for (double a : {1.0, 0.0, 0.0}) VmPushNumber(L_, a);
        VmPushNewTable(L_);
        SetTableFieldInt(L_, "uselayer", 1);
        return Run("PlayVideo", 4);
    };
    ASSERT_EQ(RunNumbers("CloseDisplay", {1}), 0);
    EXPECT_EQ(playAsLayer(), ERR_NOLAYERS);
    FreeAllDisplays(L_);
    ASSERT_EQ(GetCurrentDisplay(), nullptr);
    EXPECT_EQ(playAsLayer(), ERR_NOLAYERS);
}

TEST_F(VideoLibTest, FrameGrabsWalkTheSourceAndMakeBrushes) {
    ASSERT_EQ(Open(1, WriteClip(8, true)), 0);
    qbVideo* v = Video(1);
    auto grab = [&](double frame, double mode = 0, double count = 15) {
        return RunNumbers("GetVideoFrame", {7, frame, 1, mode, count});
    };
    auto colour = [&] {
        qbBrush* b = nullptr;
        if (GetBrushRecord(L_, ObjectID{7, nullptr}, &b, 0) != 0 || b->width != 32 || b->height != 16) return 0u;
        const std::vector<uint32_t> px = GetBitmapARGB(b->bitmap, 31, 15, 1, 1, nullptr, nullptr, -1, false, 0);
        return px.empty() ? 0u : px[0] & 0xFFFFFF;
    };
    EXPECT_EQ(grab(0), ERR_VIDEOFRAME);
    EXPECT_EQ(grab(9), ERR_VIDEOFRAME);
    EXPECT_EQ(grab(1, 2), ERR_WRONGUSAGE);
    ASSERT_EQ(grab(5), 0);
    EXPECT_EQ(colour(), 0xFF8844u);
    EXPECT_EQ(GetVideoStreamHandle(v)->grabbed, 5);
    // An earlier frame walks again from the start.
    ASSERT_EQ(grab(3), 0);
    EXPECT_EQ(colour(), 0xFF8822u);
    EXPECT_EQ(GetVideoStreamHandle(v)->grabbed, 3);
    ASSERT_EQ(grab(8), 0);
    EXPECT_EQ(colour(), 0xFF8877u);
    // By time: one picture at the place, or `count` pictures on.
    const double perFrame = v->duration / 8.0;
    ASSERT_EQ(grab(std::floor(2.5 * perFrame), 1, 1), 0);
    EXPECT_EQ(colour(), 0xFF8822u);
    ASSERT_EQ(grab(0, 1, 3), 0);
    EXPECT_EQ(colour(), 0xFF8800u);
    EXPECT_EQ(grab(v->duration, 1), ERR_SEEKRANGE);
    v->seekable = false;
    EXPECT_EQ(grab(0, 1), ERR_SEEKFORMAT);
    v->seekable = true;
    // Playback after the grabs starts at the start.
    ASSERT_EQ(RunNumbers("PlayVideo", {1, 0, 0}), 0);
    EXPECT_EQ(grab(1), ERR_FGRABVIDSTATE);
    ASSERT_EQ(RunNumbers("PauseVideo", {1}), 0);
    EXPECT_EQ(grab(1), ERR_FGRABVIDSTATE);
    ASSERT_EQ(RunNumbers("StopVideo", {1}), 0);
    EXPECT_EQ(GetVideoStreamHandle(v)->grabbed, 0);
}

// At 25 pictures a second, 1160 ms is picture 29 (0-based), 2280 ms 57 and
// 2320 ms 58, for a seek and for a grab by time alike.
TEST_F(VideoLibTest, TimesFindThePictureThatRunsThen) {
    ASSERT_EQ(Open(1, WriteClip(75, true, 6144)), 0);
    const auto colour = [&] {
        qbBrush* b = nullptr;
        if (GetBrushRecord(L_, ObjectID{7, nullptr}, &b, 0) != 0) return 0u;
        const std::vector<uint32_t> px = GetBitmapARGB(b->bitmap, 0, 0, 1, 1, nullptr, nullptr, -1, false, 0);
        return px.empty() ? 0u : px[0] & 0xFFFFFF;
    };
    for (auto [ms, picture] : {std::pair{1160, 29u}, std::pair{2280, 57u}, std::pair{2320, 58u}, std::pair{1199, 29u}}) {
        SCOPED_TRACE(ms);
        const uint32_t want = 0xFF8800u + 0x11u * (picture & 15);
        ASSERT_EQ(RunNumbers("GetVideoFrame", {7, static_cast<double>(ms), 1, 1, 1}), 0);
        EXPECT_EQ(colour(), want);
        ASSERT_EQ(RunNumbers("PlayVideo", {1, 10, 20}), 0);
        ASSERT_EQ(RunNumbers("PauseVideo", {1}), 0);
        ASSERT_EQ(RunNumbers("SeekVideo", {1, static_cast<double>(ms)}), 0);
        EXPECT_TRUE(WaitFor([&] {
            FlushDisplayBlitQueue(L_);
            RefreshDisplay(L_, display_);
            return Pixel(10, 20) == want;
        })) << std::hex << Pixel(10, 20);
        ASSERT_EQ(RunNumbers("StopVideo", {1}), 0);
    }
}

TEST_F(VideoLibTest, ForceVideoDriverSetsTheDefaultLoader) {
    const std::string before = DefaultVideoLoader();
    ASSERT_EQ(RunNumbers("ForceVideoDriver", {0}), 0);
    EXPECT_EQ(DefaultVideoLoader(), "native");
    // The native driver is the platform's: it does not read CDXL.
    EXPECT_EQ(Open(1, WriteClip(3)), ERR_LOADVIDEO);
    ASSERT_EQ(RunNumbers("ForceVideoDriver", {1}), 0);
    EXPECT_EQ(DefaultVideoLoader(), "inbuilt|plugin");
    EXPECT_EQ(Open(1, WriteClip(3)), 0);
    ASSERT_EQ(RunNumbers("ForceVideoDriver", {7}), 0);
    EXPECT_EQ(DefaultVideoLoader(), "inbuilt|plugin");
    SetDefaultVideoLoader(before);
}

TEST_F(VideoLibTest, DumpVideoWritesEveryPictureAndTheSoundTrack) {
    cdxlbuilder::Layout s;
    s.planes = 1;
    s.palette = {0x0F80, 0x0F80};
    s.soundSize = 101;
    s.frames = 5;
    const std::string withSound = dir_.File("sound.cdxl");
    imagefixtures::WriteBytes(withSound, cdxlbuilder::Build(s));
    ASSERT_EQ(Open(1, withSound), 0);
    ASSERT_EQ(Open(2, WriteClip(3)), 0);
    auto dump = [&](double id, double x, double y, const std::string& name, double format) {
        VmPushNumber(L_, id);
        VmPushNumber(L_, x);
        VmPushNumber(L_, y);
        VmPushString(L_, name.c_str());
        VmPushNumber(L_, format);
        return Run("DumpVideo", 5);
    };
    auto le32 = [](const std::vector<uint8_t>& b, size_t at) {
        return b.size() < at + 4 ? 0u : uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
                                            uint32_t{b[at + 3]} << 24;
    };
    EXPECT_EQ(dump(1, 0, 0, dir_.File("x"), 5), ERR_WRONGUSAGE);
    // The WAVE file is made first: without it nothing is decoded or drawn.
    EXPECT_EQ(dump(1, 0, 0, dir_.File("none/out"), 1), ERR_WRITEFILE);
    EXPECT_EQ(std::string(GetErrorDetail()), dir_.File("none/out") + ".wav");
    EXPECT_EQ(Pixel(0, 0), kBackdrop);

    // Wholly off the display: the files still come, nothing is drawn.
    const std::string out = dir_.File("out");
    ASSERT_EQ(dump(1, -40, 0, out, 1), 0);
    EXPECT_EQ(Pixel(0, 0), kBackdrop);
    for (int i = 0; i < 5; ++i) {
        const std::vector<uint8_t> png = imagefixtures::ReadBytes(out + std::to_string(i) + ".png");
        ASSERT_GT(png.size(), 8u) << i;
        EXPECT_EQ(png[1], 'P');
    }
    EXPECT_TRUE(imagefixtures::ReadBytes(out + "5.png").empty());
    // 8-bit sound widened to 16 bits, a frame's bytes after another, padded
    // to a multiple of 4.
    const std::vector<uint8_t> wav = imagefixtures::ReadBytes(out + ".wav");
    const uint32_t data = 5 * 101 * 2;
    ASSERT_EQ(wav.size(), 44u + data + 2);
    EXPECT_EQ(le32(wav, 4), data + 2 + 36);
    EXPECT_EQ(le32(wav, 40), data);
    EXPECT_EQ(le32(wav, 24), static_cast<uint32_t>(GetVideoStreamHandle(Video(1))->audioRate));
    bool same = true;
    for (uint32_t f = 0; f < 5; ++f)
        for (size_t i = 0; i < 101; ++i) {
            const size_t at = 44 + (f * 101 + i) * 2;
            const auto sample = static_cast<int16_t>(wav[at] | wav[at + 1] << 8);
            same = same && sample == static_cast<int8_t>(cdxlbuilder::SoundByte(f, i)) * 256;
        }
    EXPECT_TRUE(same);

    // Without sound the data chunk is empty; on the display the last
    // picture stays.
    const std::string quiet = dir_.File("quiet");
    ASSERT_EQ(dump(2, 4, 6, quiet, 0), 0);
    EXPECT_EQ(Pixel(4, 6), 0xFF8800u);
    EXPECT_EQ(Pixel(3, 6), kBackdrop);
    EXPECT_EQ(Pixel(4, 5), kBackdrop);
    const std::vector<uint8_t> empty = imagefixtures::ReadBytes(quiet + ".wav");
    ASSERT_EQ(empty.size(), 44u);
    EXPECT_EQ(le32(empty, 4), 36u);
    EXPECT_EQ(le32(empty, 40), 0u);
    EXPECT_FALSE(imagefixtures::ReadBytes(quiet + "2.bmp").empty());
    // Played afterwards, the video starts at its start; playing, it is refused.
    ASSERT_EQ(RunNumbers("PlayVideo", {2, 0, 0}), 0);
    EXPECT_EQ(dump(2, 0, 0, quiet, 0), ERR_WRONGUSAGE);
    ASSERT_EQ(RunNumbers("StopVideo", {2}), 0);
}

TEST_F(VideoLibTest, VideosAnswerGetAttribute) {
    auto get = [&](double id, int32_t attribute) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, kObjectTypeVideo);
        VmPushNumber(L_, id);
        VmPushNumber(L_, attribute);
        const int n = cmdGetAttribute(L_);
        return n >= 1000 ? -n : VmToNumber(L_, -1);
    };
    enum : int32_t {
        kWidth = 0, kNumFrames = 11, kDuration = 14, kFormat = 19, kScaleMode = 43, kScaleWidth = 44, kCanSeek = 72,
        kDriver = 75, kPlaying = 83, kPaused = 84, kLoader = 91, kPitch = 15,
    };
    ASSERT_EQ(Open(1, WriteClip(20)), 0);
    ASSERT_EQ(RunNumbers("SetVideoSize", {1, 64, 32, 1}), 0);
    EXPECT_EQ(get(1, kWidth), 32);
    EXPECT_EQ(get(1, kScaleWidth), 64);
    EXPECT_EQ(get(1, kScaleMode), 1);
    EXPECT_EQ(get(1, kNumFrames), 20);
    EXPECT_EQ(get(1, kDuration), Video(1)->duration);
    EXPECT_EQ(get(1, kCanSeek), 1);
    EXPECT_EQ(get(1, kDriver), 1);
    EXPECT_EQ(get(1, kPlaying), 0);
    EXPECT_EQ(get(1, kPaused), 0);
    EXPECT_EQ(get(1, kPitch), -ERR_UNKNOWNATTR);
    EXPECT_EQ(get(2, kWidth), -ERR_FINDVIDEO);
    get(1, kFormat);
    EXPECT_STREQ(VmToCString(L_, -1), "CDXL");
    get(1, kLoader);
    EXPECT_STREQ(VmToCString(L_, -1), "inbuilt");
    ASSERT_EQ(RunNumbers("PlayVideo", {1, 0, 0}), 0);
    ASSERT_EQ(RunNumbers("PauseVideo", {1}), 0);
    EXPECT_EQ(get(1, kPaused), 1);
    ASSERT_EQ(RunNumbers("StopVideo", {1}), 0);
}

// The movie source of the Linux backend beside the in-memory display.
TEST_F(VideoLibTest, ANativeDriversVideoPlaysAndDumpsButIntoNoLayer) {
    const ffclips::MovieSourceBackend movies;
    // The native driver's open is stood in for: the video's stream becomes
    // the movie's.
    ASSERT_EQ(Open(1, WriteClip(3)), 0);
    qbVideo* v = Video(1);
    auto stream = std::make_unique<qbVideoStream>();
    stream->kind = kVideoDriverNative;
    stream->nativePath = ffclips::SilentMP4();
    ASSERT_EQ(AttachNativeVideoEngine(stream.get()), 0);
    v->stream = std::move(stream);
    v->fileWidth = v->width = v->displayWidth = 64;
    v->fileHeight = v->height = v->displayHeight = 48;
    v->duration = v->stream->own->duration;

    EXPECT_EQ(PlayVideoIntoLayers(L_, v, -1), ERR_VIDEOLAYERDRV);
    ASSERT_EQ(RunNumbers("PlayVideo", {1, 10, 20}), 0);
    EXPECT_TRUE(HitTestVideos(display_, 10 + 63, 20 + 47));
    EXPECT_FALSE(HitTestVideos(display_, 10 + 64, 20 + 47));
    // The refresh thread ends it, as the own driver's videos end. The
    // pictures are drawn as the main loop draws them: undrawn, the end
    // waits for them a while longer.
    ASSERT_TRUE(WaitFor([&] {
        FlushDisplayBlitQueue(L_);
        return Video(1)->state == kVideoEnded;
    }));
    ASSERT_EQ(RunNumbers("StopVideo", {1}), 0);

    // DumpVideo walks the same source: every picture drawn and written.
    const std::string out = dir_.File("movie");
    VmPushNumber(L_, 1);
    VmPushNumber(L_, 0);
    VmPushNumber(L_, 0);
    VmPushString(L_, out.c_str());
    VmPushNumber(L_, 1);
    ASSERT_EQ(Run("DumpVideo", 5), 0);
    EXPECT_FALSE(imagefixtures::ReadBytes(out + "49.png").empty());
    EXPECT_TRUE(imagefixtures::ReadBytes(out + "50.png").empty());
    EXPECT_NE(Pixel(32, 24), kBackdrop);
    FreeAllVideos(L_);
}

// A stream that fails at every packet after its first picture: the dump
// walks it to its end at the cost of one fresh decoder, not one a packet
// (the decoder's opens in this process are counted).
TEST_F(VideoLibTest, ADamagedRunCostsTheDumpOneFreshDecoder) {
    const std::string clip = ffclips::AV1DamagedRun(19999);
    if (clip.empty()) GTEST_SKIP() << "ffmpeg made no AV1 key frame";
    const ffclips::MovieSourceBackend movies;
    ASSERT_EQ(Open(1, WriteClip(3)), 0);
    qbVideo* v = Video(1);
    auto stream = std::make_unique<qbVideoStream>();
    stream->kind = kVideoDriverNative;
    stream->nativePath = clip;
    const int64_t before = av_common::DecoderOpens();
    ASSERT_EQ(AttachNativeVideoEngine(stream.get()), 0);
    v->stream = std::move(stream);
    v->fileWidth = v->width = v->displayWidth = 16;
    v->fileHeight = v->height = v->displayHeight = 16;
    v->duration = v->stream->own->duration;
    ASSERT_EQ(RunNumbers("DumpVideo", {1, 0, 0}), 0);
    // The open, the one after the damage and the one the drain at the end
    // takes.
    EXPECT_LE(av_common::DecoderOpens() - before, 3);
    FreeAllVideos(L_);
}

