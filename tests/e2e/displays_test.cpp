// Displays from start-up to the script: the declared display 1 created and
// opened in-process on the in-memory backend (its window read back), and the
// player binary on SDL's dummy driver running scripts that close, reopen and
// query it, or failing at once where no video driver works.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#include "core/applet.h"
#include "core/errcodes.h"
#include "core/preproc.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "display/bgpics.h"
#include "display/displaylib.h"
#include "display/displays.h"
#include "e2e/e2e_util.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "vm/vm.h"

namespace fs = std::filesystem;

namespace {

class DeclaredDisplaysTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPlatformBackend(nullptr);
        null_backend::Reset();
        SetRuntimeTag(kTagQuiet, 1);
        SetRuntimeTag(kTagRaiseErrors, 1);
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitDisplayLibrary(L_), 0);
        VmSetTop(L_, 0);
        cl_.appletFlag = 1;
        std::snprintf(applet_.title, sizeof applet_.title, "My Applet");
    }
    void TearDown() override {
        FreeAllDisplays(L_);
        FreeAllBGPics(L_);
        VmClose(L_);
        null_backend::Reset();
    }

    ScriptState* L_ = nullptr;
    qbCommandLine cl_;
    qbApplet applet_;
};

class PlayerDisplaysTest : public e2e::E2eFixture {
protected:
    // A script whose one line prints "never": start-up must end before it.
    fs::path NeverReached() {
        return Chunk(R"(
.function main maxstack=4
.line 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "never"
    CALL 0 2 1
    RETURN 0 1 0
.end
)",
                     "disp");
    }
};

}  // namespace

TEST_F(DeclaredDisplaysTest, WithoutDeclarationsDisplayOneOpensCentredAndTitledQuenbrook) {
    ASSERT_EQ(AddDefaultDisplayEntry(&applet_, nullptr), 0);
    ASSERT_EQ(CreateDeclaredObjects(L_, &cl_, &applet_, 0), 0);
    ASSERT_EQ(StartDisplays(L_), 0);
    qbDisplay* d = GetCurrentDisplay();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->id, 1);
    EXPECT_EQ(d->state, DISPSTATE_OPEN);
    EXPECT_EQ(d->width, 640);
    EXPECT_EQ(d->height, 480);
    EXPECT_EQ(d->x, (1920 - 640) / 2);
    EXPECT_EQ(d->y, (1080 - 480) / 2);
    EXPECT_STREQ(d->title, "Quenbrook");
    EXPECT_STREQ(d->view.title, "Quenbrook");
    const null_backend::Surface* s = null_backend::GetSurface(d);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->width, 640);
    EXPECT_EQ(s->height, 480);
    EXPECT_EQ(s->At(320, 240), 0xFF000000u);
}

TEST_F(DeclaredDisplaysTest, AHiddenDeclaredDisplayStaysClosed) {
    ASSERT_EQ(AddDefaultDisplayEntry(&applet_, nullptr), 0);
    qbPreprocessorEntry entry;
    entry.type = kDeclDisplay;
    entry.id = 2;
    qbDisplayDeclaration decl;
    InitDisplayDeclaration(decl);
    decl.flags = kDispHidden;
    decl.width = 100;
    decl.height = 60;
    decl.color = 0x00FF00;
    entry.record = decl;
    ASSERT_EQ(AddPreprocessorEntry(&applet_, std::move(entry)), 0);
    ASSERT_EQ(CreateDeclaredObjects(L_, &cl_, &applet_, 0), 0);
    ASSERT_EQ(StartDisplays(L_), 0);
    qbDisplay* two = nullptr;
    ASSERT_EQ(GetDisplayRecord(ObjectID{2, nullptr}, &two), 0);
    EXPECT_EQ(two->state, DISPSTATE_CLOSED);
    EXPECT_EQ(null_backend::GetSurface(two), nullptr);
    EXPECT_EQ(two->bgpic->currentWidth, 100);
}

TEST_F(PlayerDisplaysTest, AScriptClosesAndReopensDisplayOne) {
    e2e::RunResult r = PlayScript(R"(
.function main maxstack=4
.line 1
    GETGLOBAL 0 "closedisplay"
    LOADK 1 #1
    CALL 0 2 1
.line 2
    GETGLOBAL 0 "opendisplay"
    LOADK 1 #1
    CALL 0 2 1
.line 3
    GETGLOBAL 0 "settitle"
    LOADK 1 "renamed"
    CALL 0 2 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "reopened"
    CALL 0 2 1
    RETURN 0 1 0
.end
)");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "reopened\n");
}

TEST_F(PlayerDisplaysTest, OpeningTheOpenDisplayOneFailsInTheScript) {
    e2e::RunResult r = PlayScript(R"(
.function main maxstack=4
.line 1
    GETGLOBAL 0 "opendisplay"
    LOADK 1 #1
    CALL 0 2 1
    RETURN 0 1 0
.end
)");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("In function: OpenDisplay"), std::string::npos) << r.err;
}

TEST_F(PlayerDisplaysTest, DeclaredMenusAndWarningsAreMadeBeforeTheScriptRuns) {
    const char* source = R"(
.function main maxstack=4
.line 1
    GETGLOBAL 0 "freemenu"
    LOADK 1 #2
    CALL 0 2 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "freed"
    CALL 0 2 1
    RETURN 0 1 0
.end
)";
    const char* declared = "--display-decl 1:320:200:Mine --menu 2:File{Quit#quit} --declare 14:0:3:careful";
    e2e::RunResult r = PlayScript(source, "-quiet", declared, "disp");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "*** WARNING careful ***\nfreed\n");
    r = PlayScript(source, "-quiet -nodebug", declared, "disp");
    EXPECT_EQ(r.out, "freed\n");
}

TEST_F(PlayerDisplaysTest, ADeclaredObjectThatFailsToLoadEndsStartUp) {
    const fs::path qbb = NeverReached();
    const fs::path qba = Pack(qbb, dir_ / "anim.qba", "--include disp.qbs:1:1000:0 --declare 2:1:7:pic.anim");
    e2e::RunResult r = Run(std::string(QB_PLAYER_PATH) + " " + qba.string() + " -quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("pic.anim"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("File: disp.qbs (current line: 7 - In function: LoadAnim)"), std::string::npos) << r.err;
}

TEST_F(PlayerDisplaysTest, WithoutAUsableVideoDriverStartUpEndsWithTheWindowErrorAndSDLsReason) {
    const fs::path qbb = NeverReached();
    const fs::path qba = Pack(qbb, dir_ / "novideo.qba", "--include disp.qbs:1:1000:0");
    e2e::RunResult r = Run("SDL_VIDEODRIVER=no-such-driver QB_NO_ERROR_BOX=1 " + std::string(QB_PLAYER_PATH) + " " +
                           qba.string() + " -quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("SDL: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(Text(ERR_WINDOW)), std::string::npos) << r.err;
}

TEST_F(PlayerDisplaysTest, FullScreenFromTheCommandLineMakesTheMonitorTheDisplaysSize) {
    e2e::RunResult r = PlayScript(R"(
.function main maxstack=6
.line 1
    GETGLOBAL 0 "getmonitors"
    CALL 0 1 2
    GETTABLE 0 0 #0
    GETGLOBAL 1 "debugprint"
    GETTABLE 2 0 "width"
    CALL 1 2 1
    GETGLOBAL 1 "debugprint"
    GETTABLE 2 0 "height"
    CALL 1 2 1
    RETURN 0 1 0
.end
)",
                                  "-quiet -fullscreen", "--display-decl 1:320:400:Mine", "disp");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "320\n400\n");
}
