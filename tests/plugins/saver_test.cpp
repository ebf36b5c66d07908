// Saver formats become constants and are found by id; register functions
// that never end, or end later on the storing pass than on the counting
// pass, are held to what the host can keep. Also the plugin-list export.
#include <gtest/gtest.h>

#include "core/argapi.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "display/imagewriter.h"
#include "plugin_fixture.h"
#include "plugins/pluginlibrary.h"
#include "plugins/pluginlist.h"
#include "vm/vm.h"

namespace {

using plugintest::PluginFixture;

class SaverPluginTest : public PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
    }
    void TearDown() override {
        FreeLibraryPlugins(L_);
        VmClose(L_);
        // The command tables recorded point into the plugins about to go.
        ResetRuntimeSettings();
        PluginFixture::TearDown();
    }

    int Load(const std::string& variant, const std::string& fileName, qbPluginNode** out = nullptr) {
        qbPluginNode* node = nullptr;
        if (int err = LoadPluginByPath(Place(variant, fileName).c_str(), 0, &node)) return err;
        if (out) *out = node;
        return RegisterPluginFormats(L_, node);
    }

    double Constant(const char* text) {
        double number = -1;
        EXPECT_EQ(ParseConstantString(L_, text, nullptr, nullptr, &number), 0) << text;
        return number;
    }

    ScriptState* L_ = nullptr;
};

TEST_F(SaverPluginTest, TwoFormatsGiveTwoConstantsAndTheLookupFindsThem) {
    qbPluginNode* node = nullptr;
    ASSERT_EQ(Load("saver", "saver.qbp", &node), 0);
    EXPECT_EQ(Constant("#IMGFMT_ALPHA"), 101);
    EXPECT_EQ(Constant("#IMGFMT_BETA"), 102);
    EXPECT_EQ(ParseConstantString(L_, "#IMGFMT_GAMMA", nullptr, nullptr, nullptr), ERR_FINDCST);

    qbSaverMatch match;
    ASSERT_TRUE(FindSaverFormat(PLUGINCAPS_SAVEIMAGE, 102, &match));
    EXPECT_EQ(match.plugin, &node->handle->record);
    EXPECT_STREQ(match.format->name, "beta");
    EXPECT_NE(match.plugin->SaveImage, nullptr);
    EXPECT_FALSE(FindSaverFormat(PLUGINCAPS_SAVEIMAGE, 103, &match));
    EXPECT_FALSE(FindSaverFormat(PLUGINCAPS_SAVEANIM, 101, &match));
    const qbSaverFormat* formats = node->handle->record.imageSaverFormats;
    EXPECT_EQ(formats[2].name, nullptr);
}

TEST_F(SaverPluginTest, PluginFormatsOfTheImageWriterGoToTheirSaver) {
    const uint32_t pixels[6] = {0x80FF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF, 0xFF000000, 0x40123456};
    qbImageSaveOptions options;
    const std::string ok = (dir_ / "x.img").string(), bad = (dir_ / "fail.img").string();
    EXPECT_EQ(WriteImageFile(101, pixels, 3, 2, ok.c_str(), -1, true, options), ERR_UNKNOWNIMGOUT);
    ASSERT_EQ(Load("saver", "saver.qbp"), 0);

    // True colour with alpha: the ARGB words as they are.
    ASSERT_EQ(WriteImageFile(101, pixels, 3, 2, ok.c_str(), -1, true, options), 0);
    EXPECT_EQ(Count(Log(), "saver: SaveImage ok 101 3x2 12 1 0 -1 80ff0000 40123456\n"), 1) << Log();
    // A palette format gets indices and $RRGGBB entries; a key colour
    // marks its entry transparent.
    ASSERT_EQ(WriteImageFile(102, pixels, 3, 2, ok.c_str(), 0x0000FF, true, options), 0);
    EXPECT_EQ(Count(Log(), "saver: SaveImage ok 102 3x2 3 2 6 "), 1) << Log();
    EXPECT_EQ(Count(Log(), " 00ff0000 00123456\n"), 1) << Log();
    options.colors = 2;
    ASSERT_EQ(WriteImageFile(102, pixels, 3, 2, ok.c_str(), -1, false, options), 0);
    EXPECT_EQ(Count(Log(), "saver: SaveImage ok 102 3x2 3 0 2 -1 "), 1) << Log();

    EXPECT_EQ(WriteImageFile(101, pixels, 3, 2, bad.c_str(), -1, false, options), ERR_SAVEIMAGE);
    EXPECT_EQ(ErrorText(ERR_SAVEIMAGE), "Error saving image!");
    EXPECT_EQ(WriteImageFile(103, pixels, 3, 2, ok.c_str(), -1, false, options), ERR_UNKNOWNIMGOUT);
    EXPECT_EQ(WriteImageFile(-7, pixels, 3, 2, ok.c_str(), -1, false, options), ERR_UNKNOWNIMGOUT);
    // The built-in formats never reach a plugin.
    EXPECT_EQ(WriteImageFile(4, pixels, 3, 2, ok.c_str(), -1, false, options), 0);
    EXPECT_EQ(Count(Log(), "SaveImage ok 4 "), 0) << Log();
}

TEST_F(SaverPluginTest, AListWithoutAnEndIsRefused) {
    EXPECT_EQ(Load("endless", "endless.qbp"), ERR_LOADPLUGIN);
    EXPECT_EQ(ErrorText(ERR_LOADPLUGIN), "Error loading plugin \"endless.qbp\"!");
}

TEST_F(SaverPluginTest, TheStoringPassKeepsNoMoreThanTheCountingPassSaw) {
    qbPluginNode* node = nullptr;
    ASSERT_EQ(Load("grows", "grows.qbp", &node), 0);
    const qbSaverFormat* formats = node->handle->record.imageSaverFormats;
    EXPECT_STREQ(formats[0].name, "alpha");
    EXPECT_STREQ(formats[1].name, "beta");
    EXPECT_EQ(formats[2].name, nullptr);
    EXPECT_EQ(ParseConstantString(L_, "#IMGFMT_GAMMA", nullptr, nullptr, nullptr), ERR_FINDCST);
}

TEST_F(SaverPluginTest, ExportListsPluginsTheirTextsCommandsAndConstants) {
    const std::string out = (dir_ / "plugins.txt").string();
    ASSERT_EQ(ExportPluginList(out.c_str()), 0);
    EXPECT_EQ(plugintest::ReadText(out), "::end\n");

    ASSERT_EQ(Load("testlib", "testlib.qbp"), 0);
    ASSERT_EQ(Load("testimg", "testimg.qbp"), 0);
    ASSERT_EQ(ExportPluginList(out.c_str()), 0);
    EXPECT_EQ(plugintest::ReadText(out),
              plugintest::ReadText(std::string(QB_SOURCE_DIR) + "/tests/plugins/export.golden"));
    EXPECT_EQ(ExportPluginList((dir_ / "no" / "such.txt").c_str()), ERR_WRITEFILE);
}

}  // namespace
