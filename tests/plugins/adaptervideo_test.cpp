// A display-adapter plugin installed as start-up installs it, with a video
// playing on a display that it draws: the video is an on-display instance
// above every sprite, its pictures reach the plugin's blit slot, and
// stopping it takes the instance away.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "core/runstate.h"
#include "display/displaylib_fixture.h"
#include "imaging/imagefixtures.h"
#include "libs/videolib.h"
#include "media/cdxlbuilder.h"
#include "media/video.h"
#include "objects/sprites.h"
#include "plugin_fixture.h"
#include "plugins/pluginlist.h"

namespace {

namespace fs = std::filesystem;

class AdapterVideoTest : public DisplayLibWorld {
protected:
    void SetUp() override {
        DisplayLibWorld::SetUp();
        ::setenv("QB_TEST_PLUGIN_LOG", dir_.File("calls.log").c_str(), 1);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitVideoLibrary(L_), 0);
        VmSetTop(L_, 0);
        ASSERT_EQ(Create(1, [&] { Field("active", 1); }), 0);
        ASSERT_EQ(StartDisplays(L_), 0);
        display_ = Find(1);
    }
    void TearDown() override {
        FreeAllVideos(L_);
        if (display_) ClearSpriteInstances(display_->bgpic);
        DisplayLibWorld::TearDown();
        FreePluginList();
        ::unsetenv("QB_TEST_PLUGIN_LOG");
    }

    // Loads the adapter variant from a scanned folder and requires it while
    // adapters may be installed, as start-up does.
    int RequireAdapter() {
        fs::create_directories(dir_.File("scan"));
        fs::copy_file(fs::path(QB_TEST_PLUGIN_DIR) / "adapter.qbp", dir_.File("scan/adapter.qbp"));
        if (int err = ScanPluginFolder(dir_.File("scan"), nullptr, nullptr)) return err;
        int hide = 0;
        SetAdapterWindowOpen(true);
        const int err = RequirePluginWithTags(nullptr, "adapter", 0, 0, {}, &hide);
        SetAdapterWindowOpen(false);
        return err;
    }

    // 400 pictures of 32 x 16, fast enough that some come at once.
    std::string WriteClip() {
        cdxlbuilder::Layout s;
        s.planes = 1;
        s.palette = {0x0000, 0x0F80};
        s.chunkSize = 2000;
        s.frames = 400;
        const std::string path = dir_.File("clip.cdxl");
        imagefixtures::WriteBytes(path, cdxlbuilder::Build(s));
        return path;
    }

    int AddSprite(qbSprite* sprite, int32_t id) {
        return AddSpriteInstance(display_->bgpic, 0, 0, 4, 4, 1, sprite, nullptr, nullptr, ObjectID{id, nullptr},
                                 nullptr);
    }

    // The BGPic's instances bottom up: the sprite, or the video of a video's.
    std::vector<const void*> Instances() const {
        std::vector<const void*> order;
        for (const qbSpriteInstance* i = display_->bgpic->spriteInstances.get(); i; i = i->next.get())
            order.push_back(i->sprite ? static_cast<const void*>(i->sprite) : i->video);
        return order;
    }

    std::string Log() const { return plugintest::ReadText(dir_.File("calls.log")); }

    imagefixtures::ScratchDir dir_;
    qbDisplay* display_ = nullptr;
};

}  // namespace

TEST_F(AdapterVideoTest, ThePluginGetsTheVideoAsAnInstanceAboveTheSpritesAndItsPictures) {
    VmPushNumber(L_, 1);
    VmPushString(L_, WriteClip().c_str());
    ASSERT_EQ(Run("OpenVideo", 2), 0);
    ASSERT_EQ(RequireAdapter(), 0);
    ASSERT_NE(Log().find("adapter: SetDisplayAdapter 0"), std::string::npos) << Log();

    qbSprite sprite;
    ASSERT_EQ(AddSprite(&sprite, 1), 0);
    ASSERT_EQ(RunNumbers("PlayVideo", {1, 10, 20}), 0);
    // A sprite shown later still goes below the video.
    qbSprite later;
    ASSERT_EQ(AddSprite(&later, 2), 0);
    qbVideo* video = nullptr;
    ASSERT_EQ(GetVideo(ObjectID{1, nullptr}, &video), 0);
    EXPECT_EQ(Instances(), (std::vector<const void*>{&sprite, &later, video}));
    const qbSpriteInstance* instance = display_->bgpic->spriteInstances->next->next.get();
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->x, 10);
    EXPECT_EQ(instance->y, 20);
    EXPECT_EQ(instance->width, 32);

    // Its pictures reach the plugin's blit slot, at the video's place.
    bool blitted = false;
    for (int i = 0; i < 30000 && !blitted; ++i) {
        FlushDisplayBlitQueue(L_);
        blitted = Log().find("adapter: BltBitMap 10,20 32x16") != std::string::npos;
        if (!blitted) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(blitted) << Log();

    ASSERT_EQ(RunNumbers("SetVideoPosition", {1, 30, 40}), 0);
    EXPECT_EQ(instance->x, 30);
    EXPECT_EQ(instance->y, 40);
    ASSERT_EQ(RunNumbers("StopVideo", {1}), 0);
    EXPECT_EQ(Instances(), (std::vector<const void*>{&sprite, &later}));
}
