// The video commands as a script calls them, on the in-memory display
// backend: opening what nothing takes, playing twice and after the end,
// the seek range, the display's own refresh going round a video, a scaling
// display, the window going away and back, the cores reached through a
// sound channel, and locked videos.
#include <chrono>
#include <thread>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/settings.h"
#include "display/displaylib_fixture.h"
#include "display/displaywindow.h"
#include "display/refresh.h"
#include "imaging/imagefixtures.h"
#include "libs/videolib.h"
#include "media/cdxlbuilder.h"
#include "media/video.h"
#include "media/videoplayback.h"
#include "platform/mixer/mixer.h"
#include "sound/channels.h"
#include "sound/sound.h"
#include "sound/soundlib.h"

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
    // long, fast (its chunks are small).
    std::string WriteClip(int frames) {
        cdxlbuilder::Layout s;
        s.width = 32;
        s.height = 16;
        s.planes = 1;
        s.palette = {0x0000, 0x0F80};
        s.chunkSize = 2000;  // 76.8 pictures a second
        cdxlbuilder::Bytes out;
        for (int f = 0; f < frames; ++f) {
            cdxlbuilder::Bytes c = cdxlbuilder::Header(s, s.chunkSize, static_cast<uint32_t>(f));
            for (uint16_t p : s.palette) cdxlbuilder::Put16(c, p);
            c.insert(c.end(), cdxlbuilder::PlanarSize(s), 0xFF);
            c.resize(s.chunkSize, 0);
            out.insert(out.end(), c.begin(), c.end());
        }
        const std::string path = dir_.File("clip" + std::to_string(frames) + ".cdxl");
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
    template <class Done>
    static bool WaitFor(Done done) {
        for (int i = 0; i < 2500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return done();
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
