// PlayVideo into a new layer whose option table's "__index" plays the same
// video meanwhile, on the display or into a layer of its own: the outer play
// is refused as the video already plays, and the video goes on playing the
// way the inner play started it.

#include <string>
#include <vector>

#include "core/errcodes.h"
#include "imaging/imagefixtures.h"
#include "lib/assembler.h"
#include "libs/videolib.h"
#include "media/cdxlbuilder.h"
#include "media/video.h"
#include "objects/layers.h"
#include "objects/show_fixture.h"

namespace {

// player(t, key): the first time, PlayVideo(1, 0, 0, inner).
const char* const kPlayer = R"(.function main maxstack=2
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

class VideoLayerReentryTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitVideoLibrary(L_), 0);
        VmSetTop(L_, 0);
        std::vector<uint8_t> bytes;
        std::string error;
        ASSERT_TRUE(AssembleText(kPlayer, bytes, error)) << error;
        ASSERT_EQ(VmLoadBuffer(L_, reinterpret_cast<const char*>(bytes.data()), bytes.size(), "player"), 0);
        ASSERT_EQ(VmPCall(L_, 0, 0, 0), 0);
        VmSetTop(L_, 0);
    }
    void TearDown() override {
        FreeAllVideos(L_);
        ShowWorld::TearDown();
    }
    // 32 x 16 pictures, long enough to play on through the test.
    std::string WriteClip() {
        cdxlbuilder::Layout s;
        s.width = 32;
        s.height = 16;
        s.planes = 1;
        s.chunkSize = 2000;
        s.palette = {0, 0};
        cdxlbuilder::Bytes out;
        for (int f = 0; f < 400; ++f) {
            cdxlbuilder::Bytes c = cdxlbuilder::Header(s, s.chunkSize, static_cast<uint32_t>(f));
            cdxlbuilder::Put16(c, 0);
            cdxlbuilder::Put16(c, 0x0F80);
            c.insert(c.end(), cdxlbuilder::PlanarSize(s), 0xFF);
            c.resize(s.chunkSize, 0);
            out.insert(out.end(), c.begin(), c.end());
        }
        const std::string path = dir_.File("clip.cdxl");
        imagefixtures::WriteBytes(path, out);
        return path;
    }
    void SetGlobal(const char* name) {
        VmPushString(L_, name);
        VmInsert(L_, -2);
        VmRawSet(L_, kGlobalsIndex);
    }
    // PlayVideo(1, 0, 0, t), t = {uselayer = 1, channel = 0} whose
    // "__index" is the player: the first option the layer reads plays.
    int PlayThroughPlayer(bool innerAsLayer) {
        if (innerAsLayer) {
            VmPushNewTable(L_);
            SetTableFieldInt(L_, "uselayer", 1);
        } else {
            VmPushNil(L_);
        }
        SetGlobal("inner");
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
        const int err = Run("PlayVideo", 4);
        VmSetTop(L_, 0);
        return err;
    }
    static qbVideo* Video(int32_t id) {
        qbVideo* v = nullptr;
        GetVideo(ObjectID{id, nullptr}, &v, kVideoPendingToo);
        return v;
    }
    imagefixtures::ScratchDir dir_;
};

}  // namespace

TEST_F(VideoLayerReentryTest, TheVideoPlaysOnAsTheOptionsCodeStartedIt) {
    for (const bool innerAsLayer : {false, true}) {
        SCOPED_TRACE(innerAsLayer ? "into a layer" : "on the display");
        ASSERT_EQ(Run("EnableLayers", 0), 0);
        VmPushNumber(L_, 1);
        VmPushString(L_, WriteClip().c_str());
        ASSERT_EQ(Run("OpenVideo", 2), 0);
        VmSetTop(L_, 0);
        VmPushNil(L_);
        SetGlobal("played");
        EXPECT_EQ(PlayThroughPlayer(innerAsLayer), ERR_VIDPLAYING);
        const qbVideo* v = Video(1);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->state, kVideoPlaying);
        // Only the inner play's layer is left; a layer's video keeps its
        // layer's place, one on the display moves.
        EXPECT_EQ(CountLayers(display_->bgpic), innerAsLayer ? 1 : 0);
        EXPECT_EQ(RunNumbers("SetVideoPosition", {1, 5, 5}), innerAsLayer ? ERR_VIDLAYERFUNC : 0);
        ASSERT_EQ(RunNumbers("StopVideo", {1}), 0);
        ASSERT_EQ(RunNumbers("CloseVideo", {1}), 0);
        ASSERT_EQ(Run("DisableLayers", 0), 0);
    }
}
