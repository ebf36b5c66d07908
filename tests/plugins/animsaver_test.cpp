// Anim streams through a saver plugin: the begin modes, the frame records of
// a palette format and of an ARGB format with alpha, and the refusals.
#include <gtest/gtest.h>

#include "command_call.h"
#include "core/argapi.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "display/display.h"
#include "imaging/bitmap.h"
#include "media/animlib.h"
#include "media/anims.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "plugin_fixture.h"
#include "plugins/pluginlibrary.h"
#include "plugins/pluginlist.h"
#include "vm/vm.h"

namespace {

class AnimSaverPluginTest : public plugintest::PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        SetPicturesPending(false);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBrushLibrary(L_), 0);
        ASSERT_EQ(InitAnimLibrary(L_), 0);
        VmSetTop(L_, 0);
        SetRuntimeTag(kTagRaiseErrors, 1);
    }
    void TearDown() override {
        FreeAllAnims(L_);
        FreeAllBrushes(L_);
        FreeObjectTypeRegistry();
        VmClose(L_);
        SetPicturesPending(true);
        ResetRuntimeSettings();
        PluginFixture::TearDown();
    }
    int Load() {
        qbPluginNode* node = nullptr;
        if (int err = LoadPluginByPath(Place("animsaver", "animsaver.qbp").c_str(), 0, &node)) return err;
        return RegisterPluginFormats(L_, node);
    }
    // w x 2 pixels, with an alpha plane of their alpha bytes when asked.
    void Brush(int32_t id, const std::vector<uint32_t>& pixels, int w, bool withAlpha) {
        qbBitmap *bitmap = nullptr, *alpha = nullptr;
        ASSERT_EQ(CreateBitmapFromARGB(pixels.data(), -1, w, 2, w, false, 0, 0, &bitmap, nullptr, nullptr), 0);
        if (withAlpha) alpha = CreateAlphaFromARGB(pixels.data(), w, 2, w);
        qbBrush* made = nullptr;
        ASSERT_EQ(AllocBrushRecord(NewObjectID{id, 0}, kBrushPixels, w, 2, w, 0, nullptr, bitmap, -1, nullptr, alpha,
                                   ObjectID{}, &made),
                  0);
    }
    using Fields = std::initializer_list<std::pair<const char*, int32_t>>;
    int Begin(const std::string& file, int format, Fields fields = {}) {
        VmPushNumber(L_, 1);
        VmPushString(L_, (dir_ / file).c_str());
        VmPushNumber(L_, 4);
        VmPushNumber(L_, 2);
        VmPushNumber(L_, format);
        VmPushNewTable(L_);
        for (const auto& [k, v] : fields) SetTableFieldInt(L_, k, v);
        return CallCommand(L_, "BeginAnimStream", 6, 0);
    }
    int Write(int32_t brush, Fields fields = {}) {
        VmPushNumber(L_, 1);
        VmPushNumber(L_, brush);
        VmPushNewTable(L_);
        for (const auto& [k, v] : fields) SetTableFieldInt(L_, k, v);
        return CallCommand(L_, "WriteAnimFrame", 3, 0);
    }
    int Finish() {
        VmPushNumber(L_, 1);
        return CallCommand(L_, "FinishAnimStream", 1, 0);
    }

    ScriptState* L_ = nullptr;
};

}  // namespace

TEST_F(AnimSaverPluginTest, PaletteAndARGBFormatsGetTheirModesAndRecords) {
    const std::vector<uint32_t> pixels = {0x00FF00, 0xFF0000, 0xFF0000, 0xFF0000,
                                          0xFF0000, 0xFF0000, 0xFF0000, 0x0000FF};
    std::vector<uint32_t> translucent = pixels;
    for (uint32_t& p : translucent) p |= 0xFF000000u;
    translucent.back() &= 0x00FFFFFFu;
    Brush(1, pixels, 4, false);
    Brush(2, translucent, 4, true);
    Brush(3, {0xFF123456, 0xFF123456, 0xFF123456, 0xFF123456}, 2, true);

    EXPECT_EQ(Begin("a.tanim", 301), ERR_UNKNOWNANMOUT);
    ASSERT_EQ(Load(), 0);

    // Palette frames: the key colour is the last entry, flag 2.
    ASSERT_EQ(Begin("a.tanim", 301, {{"quality", 70}, {"fps", 12}}), 0);
    EXPECT_EQ(Count(Log(), "animsaver: BeginAnimStream 4x2 mode 1 quality 70 fps 12\n"), 1) << Log();
    ASSERT_EQ(Write(1, {{"delay", 40}, {"transparency", 0x0000FF}}), 0);
    EXPECT_EQ(Count(Log(), "WriteAnimFrame 1 4 3 2 40 2 301 0000ff00 000000ff\n"), 1) << Log();
    ASSERT_EQ(Write(1), 0);
    EXPECT_EQ(Count(Log(), "WriteAnimFrame 2 4 3 -1 0 0 301 0000ff00 000000ff\n"), 1) << Log();
    // A refused frame leaves the stream open.
    EXPECT_EQ(Write(1, {{"delay", 666}}), ERR_SAVEANIM);
    ASSERT_EQ(Finish(), 0);
    EXPECT_EQ(Count(Log(), "FinishAnimStream 3\n"), 1) << Log();

    EXPECT_EQ(Begin("b.tanim", 301, {{"usealpha", 1}}), ERR_SAVERALPHA);
    EXPECT_EQ(Begin("fail.tanim", 302, {{"quality", 50}}), ERR_SAVEANIM);

    // ARGB frames with alpha: mode 4, flag 1, 4 bytes a pixel; a smaller
    // brush leaves the rest of the frame transparent.
    ASSERT_EQ(Begin("c.tanim", 302, {{"usealpha", 1}}), 0);
    EXPECT_EQ(Count(Log(), "BeginAnimStream 4x2 mode 4 quality 90 fps 25\n"), 1) << Log();
    ASSERT_EQ(Write(2, {{"delay", 20}}), 0);
    EXPECT_EQ(Count(Log(), "WriteAnimFrame 1 16 0 -1 20 1 302 ff00ff00 000000ff\n"), 1) << Log();
    ASSERT_EQ(Write(3), 0);
    EXPECT_EQ(Count(Log(), "WriteAnimFrame 2 16 0 -1 0 1 302 ff123456 00000000\n"), 1) << Log();
    ASSERT_EQ(Finish(), 0);
    // Without alpha the frames are opaque.
    ASSERT_EQ(Begin("d.tanim", 302), 0);
    EXPECT_EQ(Count(Log(), "BeginAnimStream 4x2 mode 0 quality 90 fps 25\n"), 1) << Log();
    ASSERT_EQ(Write(1), 0);
    EXPECT_EQ(Count(Log(), "WriteAnimFrame 1 16 0 -1 0 0 302 ff00ff00 ff0000ff\n"), 1) << Log();
    ASSERT_EQ(Finish(), 0);
}
