// A video playing into its layer: the refresh thread hands pictures over
// while the main thread takes them into the layer, pauses, seeks, resumes
// and stops the video, and finally removes the layer.
#include <chrono>
#include <thread>

#include "core/errcodes.h"
#include "display/refresh.h"
#include "imaging/imagefixtures.h"
#include "libs/videolib.h"
#include "media/cdxlbuilder.h"
#include "media/video.h"
#include "objects/layers.h"
#include "objects/show_fixture.h"

namespace {

class VideoLayerThreadsTest : public ShowWorld {
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
    imagefixtures::ScratchDir dir_;
};

}  // namespace

TEST_F(VideoLayerThreadsTest, PicturesReachTheLayerWhileTheMainThreadDrivesIt) {
    cdxlbuilder::Layout s;
    s.width = 32;
    s.height = 16;
    s.planes = 1;
    s.palette = {0, 0};
    s.chunkSize = 2000;
    cdxlbuilder::Bytes out;
    for (int f = 0; f < 300; ++f) {
        cdxlbuilder::Bytes c = cdxlbuilder::Header(s, s.chunkSize, static_cast<uint32_t>(f));
        cdxlbuilder::Put16(c, 0);
        cdxlbuilder::Put16(c, static_cast<uint16_t>(0x0F80 | (f & 15)));
        c.insert(c.end(), cdxlbuilder::PlanarSize(s), 0xFF);
        c.resize(s.chunkSize, 0);
        out.insert(out.end(), c.begin(), c.end());
    }
    const std::string path = dir_.File("clip.cdxl");
    imagefixtures::WriteBytes(path, out);
    VmPushNumber(L_, 1);
    VmPushString(L_, path.c_str());
    ASSERT_EQ(Run("OpenVideo", 2), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Show("PlayVideo", {1, 5, 5}, [&] { SetTableFieldInt(L_, "uselayer", 1); }), 0);
    qbVideo* v = nullptr;
    ASSERT_EQ(GetVideo(ObjectID{1, nullptr}, &v), 0);
    const auto pump = [&](int ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) {
            FlushDisplayBlitQueue(L_);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    for (int round = 0; round < 4; ++round) {
        pump(30);
        ASSERT_EQ(RunNumbers("PauseLayer", {1}), 0);
        ASSERT_EQ(RunNumbers("SeekLayer", {1, 100.0 * round}), 0);
        pump(5);
        ASSERT_EQ(RunNumbers("ResumeLayer", {1}), 0);
        pump(20);
        ASSERT_EQ(RunNumbers("StopLayer", {1}), 0);
        ASSERT_EQ(RunNumbers("PlayLayer", {1}), 0);
    }
    for (int i = 0; i < 1000 && (Window(5, 5) & 0xFFFF00u) != 0xFF8800u; ++i) pump(2);
    EXPECT_EQ(Window(5, 5) & 0xFFFF00u, 0xFF8800u);
    ASSERT_EQ(RunNumbers("RemoveLayer", {1}), 0);
    EXPECT_EQ(v->state, kVideoStopped);
}
