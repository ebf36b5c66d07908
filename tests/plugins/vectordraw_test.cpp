// DrawPath under a vector-engine plugin: text added under the inbuilt engine
// reaches the plugin with the plugin's own font handle, a path layer keeps
// drawing with the plugin until the plugin goes, and an engine this platform
// cannot call fails to draw.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/errcodes.h"
#include "plugins/pluginlist.h"
#include "plugins/plugins.h"
#include "plugins/pluginvector.h"
#include "text/font.h"
#include "text/fontcache.h"
#include "text/text.h"
#include "text/textlib.h"
#include "vector/path_fixture.h"
#include "vector/pathlayers.h"

namespace {

namespace fs = std::filesystem;

class VectorDrawTest : public PathWorld {
protected:
    void SetUp() override {
        PathWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitTextLibrary(L_), 0);
        VmSetTop(L_, 0);
        InstallPluginVectorEngines();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / ("qb_vectordraw_" + std::to_string(::getpid()) + "_" + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        ::setenv("QB_TEST_PLUGIN_LOG", (dir_ / "calls.log").c_str(), 1);
    }
    void TearDown() override {
        FreeVectorLibrary(L_);
        FreePluginList();
        FreeTextLibrary(L_);
        ::unsetenv("QB_TEST_PLUGIN_LOG");
        fs::remove_all(dir_);
        PathWorld::TearDown();
    }

    void Load(const std::string& variant) {
        const fs::path target = dir_ / (variant + ".qbp");
        fs::copy_file(fs::path(QB_TEST_PLUGIN_DIR) / (variant + ".qbp"), target, fs::copy_options::overwrite_existing);
        qbPluginNode* node = nullptr;
        ASSERT_EQ(LoadPluginByPath(target.c_str(), 1, &node), 0);
        VmSetTop(L_, 0);
        VmPushString(L_, variant.c_str());
        ASSERT_EQ(Run("SetVectorEngine", 1), 0);
    }
    // The log lines of one hook.
    std::vector<std::string> Lines(const std::string& hook) const {
        std::ifstream in(dir_ / "calls.log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            if (line.find(": " + hook) != std::string::npos) lines.push_back(line);
        return lines;
    }
    std::string EngineOfLayer(int32_t n) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, n);
        EXPECT_EQ(Run("GetLayerStyle", 1, 1), 0);
        const std::string name = GetTableFieldText(L_, -1, "vectorengine");
        VmSetTop(L_, 0);
        return name;
    }

    fs::path dir_;
};

TEST_F(VectorDrawTest, TextReachesThePluginWithItsOwnHandleAndLayersKeepThePlugin) {
    qbFont* font = nullptr;
    ASSERT_EQ(OpenFontCached(":::default_sans", 12, kFontEngineInbuilt, 1, 0, &font), 0);
    GetTextStyle()->font = font;
    ASSERT_EQ(Cmd("StartPath", {1}), 0);
    VmSetTop(L_, 0);
    VmPushNumber(L_, 1);
    VmPushString(L_, "x");
    ASSERT_EQ(Run("AddTextToPath", 2), 0);

    Load("vecplaced");
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    Clear(0);
    ASSERT_EQ(Cmd("DrawPath", {1, 10, 30, 0xFF0000}), 0);
    ASSERT_EQ(Lines("DrawPath").size(), 1u);
    EXPECT_NE(Lines("DrawPath")[0].find("T own 12 \"x\""), std::string::npos) << Lines("DrawPath")[0];
    // The plugin covers its whole raster: the text's box, 6 x 12 above the pen.
    EXPECT_EQ(Shown(12, 25), 0xFF0000u);
    EXPECT_EQ(Shown(12, 32), 0u);

    // A layer drawn by the plugin is turned by it too.
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(Cmd("DrawPath", {1, 50, 50, 0x00FF00}), 0);
    EXPECT_EQ(EngineOfLayer(1), "vecplaced");
    ASSERT_EQ(Cmd("RotateLayer", {1, 90}), 0);
    const std::string turned = Lines("DrawPath").back();
    EXPECT_NE(turned.find(",-1,1,"), std::string::npos) << turned;
    EXPECT_NE(turned.find("T own 12"), std::string::npos) << turned;

    // Once the plugin goes, the inbuilt engine draws the layer.
    FreePluginList();
    EXPECT_EQ(EngineOfLayer(1), "default");
    const size_t drawn = Lines("DrawPath").size();
    ASSERT_EQ(Cmd("RotateLayer", {1, 45}), 0);
    EXPECT_EQ(Lines("DrawPath").size(), drawn);
    EXPECT_NE(GetLayerByIndex(display_->bgpic, 1)->transformedstate->xfbitmap, nullptr);
    // So does DrawPath for the path itself.
    ASSERT_EQ(Cmd("DrawPath", {1, 10, 30, 0xFF0000}), 0);
}

TEST_F(VectorDrawTest, AnEngineThisPlatformCannotCallDrawsNothing) {
    Load("vecmarshalled");
    Polygon(1, {10, 10, 40, 10, 20, 30});
    ASSERT_EQ(Cmd("SetFillStyle", {FILLCOLOR}), 0);
    Clear(0);
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFF0000}), ERR_DRAWPATH);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    EXPECT_EQ(Cmd("DrawPath", {1, 0, 0, 0xFF0000}), ERR_DRAWPATH);
    EXPECT_EQ(CountLayers(display_->bgpic), 0);
    EXPECT_TRUE(Lines("Path").empty());
    int lit = 0;
    for (uint32_t p : Picture()) lit += p != 0;
    EXPECT_EQ(lit, 0);
}

}  // namespace
