// A required plugin that answers "hidden displays" keeps display 1 closed
// when start-up opens the declared displays (in-process, on the in-memory
// backend).
#include <gtest/gtest.h>

#include "core/applet.h"
#include "core/preproc.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "display/bgpics.h"
#include "display/displaylib.h"
#include "display/displays.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "plugin_fixture.h"
#include "vm/vm.h"

namespace {

class HiddenDisplaysTest : public plugintest::PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        SetPlatformBackend(nullptr);
        null_backend::Reset();
        SetRuntimeTag(kTagQuiet, 1);
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitDisplayLibrary(L_), 0);
        VmSetTop(L_, 0);
    }
    void TearDown() override {
        FreeAllDisplays(L_);
        FreeAllBGPics(L_);
        VmClose(L_);
        null_backend::Reset();
        PluginFixture::TearDown();
    }

    // Display 1's state after start-up with the plugin required with tags.
    int DisplayOneState(const std::vector<qbRequireTag>& tags) {
        Place("good", "p.qbp", "scan");
        EXPECT_EQ(ScanPlugins((dir_ / "scan" / "player").c_str(), nullptr, nullptr), 0);
        int hide = 0;
        EXPECT_EQ(RequirePluginWithTags(L_, "p", 0, 0, tags, &hide), 0);
        qbCommandLine cl;
        qbApplet applet;
        EXPECT_EQ(AddDefaultDisplayEntry(&applet, nullptr), 0);
        EXPECT_EQ(CreateDeclaredObjects(L_, &cl, &applet, hide), 0);
        EXPECT_EQ(StartDisplays(L_), 0);
        qbDisplay* one = nullptr;
        EXPECT_EQ(GetDisplayRecord(ObjectID{1, nullptr}, &one), 0);
        return one ? one->state : -1;
    }

    ScriptState* L_ = nullptr;
};

TEST_F(HiddenDisplaysTest, TheAnswerKeepsDisplayOneClosed) {
    EXPECT_EQ(DisplayOneState({{"hidden", "", false, 1.0}}), DISPSTATE_CLOSED);
}

TEST_F(HiddenDisplaysTest, WithoutTheAnswerDisplayOneOpens) {
    EXPECT_EQ(DisplayOneState({{"mode", "fast", true, 0.0}}), DISPSTATE_OPEN);
}

}  // namespace
