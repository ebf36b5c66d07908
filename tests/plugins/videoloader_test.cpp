// A VIDEO plugin as a video source: its nine slots installed at load, the
// loader tag deciding whether it may open a file, and its planar YUV
// pictures reaching the playback's sink converted, at the frame's size and
// scaled.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "core/errcodes.h"
#include "core/plugincaps.h"
#include "imaging/yuvframes.h"
#include "media/videoplayback.h"
#include "media/videostream.h"
#include "plugin_fixture.h"
#include "plugins/pluginlist.h"

namespace {

using plugintest::PluginFixture;

struct FirstPicture {
    std::mutex lock;
    std::vector<uint32_t> pixels;
    int32_t width = 0;
    static void Picture(void* user, const uint32_t* pixels, int32_t width, int32_t height, int32_t rowLength,
                        double) {
        auto* f = static_cast<FirstPicture*>(user);
        std::lock_guard g(f->lock);
        if (!f->pixels.empty()) return;
        for (int32_t y = 0; y < height; ++y)
            f->pixels.insert(f->pixels.end(), pixels + static_cast<size_t>(y) * rowLength,
                             pixels + static_cast<size_t>(y) * rowLength + width);
        f->width = width;
    }
};

uint32_t Rgb(uint32_t y, uint32_t u, uint32_t v) {
    const YUVColour c = YUVToRGB(y, u, v);
    return uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b;
}

class VideoPluginTest : public PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        Place("testvid", "testvid.qbp", "scan");
        ASSERT_EQ(ScanPluginFolder((dir_ / "scan").string(), nullptr, nullptr), 0);
    }

    // The first picture of a playback at the drawing size.
    std::vector<uint32_t> Play(qbOwnVideoStream* s, int32_t width, int32_t height) {
        FirstPicture first;
        qbVideoPlayParams params;
        params.width = width;
        params.height = height;
        params.sink.picture = FirstPicture::Picture;
        params.sink.user = &first;
        EXPECT_EQ(StartVideoPlayback(s, params), 0);
        for (int i = 0; i < 30000; ++i) {
            {
                std::lock_guard g(first.lock);
                if (!first.pixels.empty()) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        StopVideoStream(s);
        std::lock_guard g(first.lock);
        return first.pixels;
    }
};

}  // namespace

TEST_F(VideoPluginTest, ItsSlotsServeAsTheSourceAndItsPicturesAreConverted) {
    const std::string file = (dir_ / "a.tvid").string();
    std::ofstream(file) << "TVID 8 4 3 81 90 240\n";

    const qbAdapterNode* node = GetPluginList(PLUGINCAPS_VIDEO);
    ASSERT_NE(node, nullptr);
    const qbVideoPluginSlots* slots = GetVideoPluginSlots(node->plugin);
    ASSERT_NE(slots, nullptr);
    EXPECT_NE(slots->open, nullptr);
    EXPECT_NE(slots->ops.decodeVideoFrame, nullptr);
    EXPECT_NE(slots->ops.flushVideo, nullptr);

    qbVideoStreamOpened opened;
    EXPECT_EQ(OpenVideoStream(file.c_str(), "inbuilt", nullptr, &opened), ERR_LOADVIDEO);
    EXPECT_EQ(Count(Log(), "OpenVideo("), 0) << Log();
    ASSERT_EQ(OpenVideoStream(file.c_str(), nullptr, nullptr, &opened), 0);
    EXPECT_EQ(opened.width, 8);
    EXPECT_EQ(opened.height, 4);
    EXPECT_EQ(opened.duration, 120u);
    EXPECT_EQ(opened.seekable, 1);
    qbOwnVideoStream* s = opened.handle->own.get();
    EXPECT_EQ(s->source->kind, kVideoSourcePlugin);

    const uint32_t black = Rgb(16, 90, 240), colour = Rgb(81, 90, 240);
    ASSERT_NE(black, colour);
    const std::vector<uint32_t> same = Play(s, 8, 4);
    ASSERT_EQ(same.size(), 32u);
    EXPECT_EQ(same[0], black);
    EXPECT_EQ(same[7], black);
    EXPECT_EQ(same[8], colour);
    EXPECT_EQ(same[31], colour);
    // Twice the size, nearest pixel: the black row covers two rows.
    const std::vector<uint32_t> twice = Play(s, 16, 8);
    ASSERT_EQ(twice.size(), 128u);
    EXPECT_EQ(twice[16], black);
    EXPECT_EQ(twice[32], colour);
    EXPECT_EQ(twice[127], colour);

    CloseVideoStream(std::move(opened.handle));
    EXPECT_EQ(Count(Log(), "CloseVideo"), 1) << Log();
}
