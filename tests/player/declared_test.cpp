// Declared objects: each declaration calls its command by its lower-case
// global name with exactly the option table it describes; shared loads;
// warnings; displays after everything else; the first failure ends it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/applet.h"
#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/preproc.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "libs/errorhandler.h"
#include "libs/prefs.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "player/options.h"
#include "vm/vm.h"

namespace {

std::vector<std::string> calls;
int failWith = 0;  // the code the stand-ins return

std::string Describe(ScriptState* L, int idx);

std::string DescribeTable(ScriptState* L, int idx) {
    std::vector<std::pair<std::string, std::string>> entries;
    VmPushNil(L);
    while (VmNext(L, idx)) {
        entries.emplace_back(Describe(L, VmGetTop(L) - 1), Describe(L, VmGetTop(L)));
        VmSetTop(L, -2);
    }
    std::sort(entries.begin(), entries.end());
    std::string text = "{";
    for (const auto& [key, value] : entries) text += (text.size() > 1 ? " " : "") + key + "=" + value;
    return text + "}";
}

std::string Describe(ScriptState* L, int idx) {
    switch (VmType(L, idx)) {
    case kTypeNumber: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%g", VmToNumber(L, idx));
        return buf;
    }
    case kTypeString: return std::string("'") + VmToCString(L, idx) + "'";
    case kTypeTable: return DescribeTable(L, idx);
    default: return "?";
    }
}

// Records "name(arg, arg, ...)"; the name is its upvalue.
int StandIn(ScriptState* L) {
    std::string text = std::string(VmToCString(L, VmUpvalueIndex(1))) + "(";
    for (int i = 1; i <= VmGetTop(L); ++i) text += (i > 1 ? ", " : "") + Describe(L, i);
    calls.push_back(text + ")");
    return failWith;
}

class DeclaredTest : public ::testing::Test {
protected:
    void SetUp() override {
        calls.clear();
        failWith = 0;
        StartupFlags = qbStartupFlags{};
        InstallVmHost(OfferToErrorHandler, cmdGetLastError);
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        SetRuntimeTag(kTagRaiseErrors, 1);
        cl_.appletFlag = 1;
        std::snprintf(cl_.scriptPath, sizeof cl_.scriptPath, "/x/app.qba");
    }
    void TearDown() override { VmClose(L_); }

    void Provide(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            VmPushString(L_, name);
            VmPushString(L_, name);
            VmPushCClosure(L_, StandIn, 1);
            VmSetTableAt(L_, kGlobalsIndex);
        }
    }
    void ProvideAll() {
        Provide({"loadbgpic", "loadbrush", "loadanim", "openmusic", "loadsample", "createbutton", "createkeydown",
                 "loadsprite", "openfile", "openfont", "openvideo", "createmenu", "createdisplay"});
    }

    qbPreprocessorEntry& Add(int type, int32_t id, const char* name = "") {
        qbPreprocessorEntry e;
        e.type = type;
        e.id = id;
        e.name = name;
        e.flag = 1;
        EXPECT_EQ(AddPreprocessorEntry(&applet_, std::move(e)), 0);
        return applet_.preprocessorList.back();
    }

    static qbImageRecord& Image(qbPreprocessorEntry& e) { return std::get<qbImageRecord>(e.record); }

    int CreateAll() { return CreateDeclaredObjects(L_, &cl_, &applet_, 0); }

    ScriptState* L_ = nullptr;
    qbCommandLine cl_;
    qbApplet applet_;
};

}  // namespace

TEST_F(DeclaredTest, EveryTypeCallsItsCommandWithExactlyItsOptions) {
    ProvideAll();
    qbPreprocessorEntry& bgpic = Add(kDeclBGPic, 1, "back.png");
    bgpic.valueA = 291;
    std::get<qbBGPicRecord>(bgpic.record).fillStyle = 1;
    std::get<qbBGPicRecord>(bgpic.record).fillColor = 7;
    qbPreprocessorEntry& brush = Add(kDeclBrush, 2, "b.png");
    brush.valueB = 1;
    brush.loader = "inbuilt";
    Image(brush).display = 3;
    qbPreprocessorEntry& anim = Add(kDeclAnim, 3, "a.gif");
    anim.valueB = 2;
    Image(anim).frames = 4;
    Image(anim).fromDisk = 1;
    qbPreprocessorEntry& sprite = Add(kDeclSprite, 4, "s.png");
    Image(sprite).framesPerRow = 2;
    Add(kDeclMusic, 5, "m.mod");
    Add(kDeclSample, 6, "s.wav").adapter = "plug";
    std::get<qbButtonRecord>(Add(kDeclButton, 7).record) = qbButtonRecord{1, 2, 3, 4};
    Add(kDeclKeyDown, 8, "ESC");
    Add(kDeclFile, 9, "f.txt");
    qbPreprocessorEntry& font = Add(kDeclFont, 10, ":::default_sans");
    font.valueA = 12;
    font.valueB = 0x10002;
    Add(kDeclVideo, 11, "v.avi");
    qbMenuTree tree(1);
    tree[0].name = "File";
    tree[0].submenu.resize(1);
    tree[0].submenu[0].name = "Quit";
    tree[0].submenu[0].id = "quit";
    Add(kDeclMenu, 12).record = tree;

    ASSERT_EQ(CreateAll(), 0);
    const std::vector<std::string> expected = {
        "loadbgpic(1, 'back.png', {'fillcolor'=7 'fillstyle'=1 'scaleheight'=0 'scalewidth'=0 'smoothscale'=0 "
        "'transparency'=291})",
        "loadbrush(2, 'b.png', {'display'=3 'hardware'=0 'height'=0 'loadalpha'=1 'loader'='inbuilt' "
        "'scaleheight'=0 'scalewidth'=0 'smoothscale'=0 'width'=0 'x'=0 'y'=0})",
        "loadanim(3, 'a.gif', {'deinterlace'=0 'fpr'=0 'frames'=4 'fromdisk'=1 'height'=0 'loadtransparency'=1 "
        "'skiploopframes'=0 'width'=0 'x'=0 'y'=0})",
        "loadsprite(4, 's.png', {'fpr'=2 'frames'=0 'height'=0 'width'=0 'x'=0 'y'=0})",
        "openmusic(5, 'm.mod')",
        "loadsample(6, 's.wav', {'adapter'='plug'})",
        "createbutton(7, 1, 2, 3, 4)",
        "createkeydown(8, 'ESC')",
        "openfile(9, 'f.txt', 0)",
        "openfont(10, ':::default_sans', 12, {'cache'=0 'engine'=2})",
        "openvideo(11, 'v.avi')",
        "createmenu(12, {0={'flags'=0 0='File' 1={0={'flags'=0 'id'='quit' 0='Quit'}}}})",
    };
    EXPECT_EQ(calls, expected);
}

TEST_F(DeclaredTest, EqualBrushLoadsAreSharedThroughTheCache) {
    ProvideAll();
    Add(kDeclBrush, 1, "pic.png");
    Add(kDeclBrush, 2, "PIC.png").valueB = 1;  // loads alpha
    Add(kDeclBrush, 3, "pic.png").valueB = 2;  // transparency: loads on its own
    Image(Add(kDeclBrush, 4, "pic.png")).scaleWidth = 10;
    ASSERT_EQ(ShareDeclaredImages(&applet_), 0);
    auto& list = applet_.preprocessorList;
    EXPECT_EQ(Image(list[0]).cache, 1);
    EXPECT_EQ(Image(list[0]).cacheAlpha, 1);
    EXPECT_EQ(Image(list[1]).cachedLoad, 1);
    EXPECT_EQ(Image(list[2]).cachedLoad, 0);
    EXPECT_EQ(Image(list[3]).cachedLoad, 0);
    ASSERT_EQ(CreateAll(), 0);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_NE(calls[0].find("'cache'='pic.png' 'cachealpha'=1"), std::string::npos) << calls[0];
    EXPECT_NE(calls[1].find("'cachedload'='PIC.png'"), std::string::npos) << calls[1];
    EXPECT_EQ(calls[3].find("cache"), std::string::npos) << calls[3];
}

TEST_F(DeclaredTest, WarningsPrintInTheirPlaceUnlessDebugIsOff) {
    ProvideAll();
    Add(kDeclWarning, 0, "careful");
    ASSERT_EQ(AddDefaultDisplayEntry(&applet_, nullptr), 0);
    Add(kDeclWarning, 0, "after");
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(CreateAll(), 0);
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "*** WARNING careful ***\n*** WARNING after ***\n");
    StartupFlags.noDebug = 1;
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(CreateAll(), 0);
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(DeclaredTest, TheDefaultDisplayIsCreatedLastWithItsOptionTable) {
    ProvideAll();
    ASSERT_EQ(AddDefaultDisplayEntry(&applet_, nullptr), 0);
    Add(kDeclKeyDown, 1, "A");
    ASSERT_EQ(CreateAll(), 0);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "createkeydown(1, 'A')");
    EXPECT_EQ(calls[1],
              "createdisplay(1, {'__placement'='' 'active'=1 'backfill'={'hidetitlebar'=0} 'color'=0 'desktop'=0 "
              "'fillstyle'=1 "
              "'height'=480 'mode'='windowed' 'monitor'=1 'orientation'=0 'scrdepth'=0 'scrheight'=0 'scrwidth'=0 "
              "'title'='Quenbrook' 'width'=640 'x'=-100000 'y'=-100000})");

    // With a declared BGPic 1, display 1 shows it and takes its size.
    calls.clear();
    applet_.preprocessorList.clear();
    Add(kDeclBGPic, 1, "b.png");
    ASSERT_EQ(AddDefaultDisplayEntry(&applet_, nullptr), 0);
    ASSERT_EQ(CreateAll(), 0);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_NE(calls[1].find("'bgpic'=1"), std::string::npos);
    EXPECT_EQ(calls[1].find("'width'"), std::string::npos);
}

TEST_F(DeclaredTest, TheFirstFailureEndsTheCreation) {
    Provide({"loadbrush"});
    Add(kDeclBrush, 1, "a.png");
    Add(kDeclSample, 2, "s.wav");
    Add(kDeclBrush, 3, "b.png");
    // A command that does not exist yet ends it with the missing function.
    EXPECT_EQ(CreateAll(), ERR_FUNCDECLA);
    EXPECT_EQ(calls.size(), 1u);
    calls.clear();
    failWith = ERR_LOADPICTURE;
    applet_.preprocessorList.erase(applet_.preprocessorList.begin() + 1);
    EXPECT_EQ(CreateAll(), ERR_LOADPICTURE);
    EXPECT_EQ(calls.size(), 1u);
}

TEST_F(DeclaredTest, LinkedFilesAreOpenedAsChunksOfTheApplet) {
    ProvideAll();
    qbPreprocessorEntry& e = Add(kDeclFile, 1, "data.txt");
    e.linkedOffset = 100;
    e.linkedSize = 20;
    ASSERT_EQ(CreateAll(), 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].find("openfile(1, 'data.txt'"), std::string::npos);
    EXPECT_NE(calls[0].find("app.qba"), std::string::npos) << calls[0];
}

// Placements saved by an earlier run, in a preferences folder of the test's
// own, with one 1024x768 monitor.
std::string prefsFolder;

int TestPrefsPath(char* buffer, size_t size) {
    std::snprintf(buffer, size, "%s", prefsFolder.c_str());
    return 0;
}

class PlacementRestoreTest : public DeclaredTest {
protected:
    void SetUp() override {
        DeclaredTest::SetUp();
        dir_ = std::filesystem::temp_directory_path() / ("qb_placement_" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        prefsFolder = dir_.string();
        std::snprintf(applet_.identifier, sizeof applet_.identifier, "placement.test");
        VmRegistrySetLightUserdata(L_, "applet", &applet_);
        ops_ = NullPlatformOps();
        ops_.GetPrefsPath = &TestPrefsPath;
        SetPlatformBackend(&ops_);
        null_backend::Reset();
        null_backend::SetMonitors({{0, 0, 1024, 768}});
        ProvideAll();
    }
    void TearDown() override {
        null_backend::Reset();
        SetPlatformBackend(nullptr);
        std::filesystem::remove_all(dir_);
        DeclaredTest::TearDown();
    }

    // Saves {__placement = {[2] = entry}}; entry is filled on the stack top.
    template <class Fill>
    void Save(Fill fill) {
        VmPushNewTable(L_);
        VmPushString(L_, "__placement");
        VmPushNewTable(L_);
        VmPushNewTable(L_);
        fill();
        VmRawSetIndex(L_, -2, 2);
        VmRawSet(L_, -3);
        ASSERT_EQ(WritePrefsFile(L_, VmGetTop(L_)), 0);
        VmSetTop(L_, 0);
    }
    void SaveWindow(int32_t x, int32_t y, int32_t sizeable) {
        Save([&] {
            SetTableFieldInt(L_, "active", 1);
            SetTableFieldInt(L_, "x", x);
            SetTableFieldInt(L_, "y", y);
            SetTableFieldInt(L_, "width", 300);
            SetTableFieldInt(L_, "height", 200);
            SetTableFieldInt(L_, "scalewidth", 0);
            SetTableFieldInt(L_, "scaleheight", 0);
            SetTableFieldInt(L_, "autoscale", 0);
            SetTableFieldInt(L_, "layerscale", 0);
            SetTableFieldInt(L_, "sizeable", sizeable);
            SetTableFieldString(L_, "osdata", "");
        });
    }
    // The createdisplay call of display 2 declared with the flags.
    std::string Declare(uint32_t flags) {
        calls.clear();
        applet_.preprocessorList.clear();
        qbPreprocessorEntry& e = Add(kDeclDisplay, 2);
        qbDisplayDeclaration decl;
        InitDisplayDeclaration(decl);
        decl.flags = flags;
        decl.x = 7;
        decl.y = 9;
        decl.width = 320;
        decl.height = 240;
        e.record = decl;
        EXPECT_EQ(CreateAll(), 0);
        return calls.empty() ? "" : calls.back();
    }

    std::filesystem::path dir_;
    qbPlatformOps ops_;
};

TEST_F(PlacementRestoreTest, ASavedWindowReplacesTheDeclaredPositionWhenItsScalingAndSizeabilityMatch) {
    SaveWindow(100, 80, 1);
    const uint32_t remember = kDispRememberPosition | kDispSizeable | kDispKeepProportions;
    const std::string call = Declare(remember);
    EXPECT_NE(call.find("'x'=100 'y'=80"), std::string::npos) << call;
    EXPECT_NE(call.find("'__restoreheight'=200 '__restorewidth'=300"), std::string::npos) << call;
    // Restored windows are placed as saved, not fitted again.
    EXPECT_EQ(call.find("'keepproportions'"), std::string::npos) << call;
    // A saved "sizeable" that differs, or no flag: the declaration stands.
    for (const std::string& other : {Declare(kDispRememberPosition), Declare(kDispSizeable)}) {
        EXPECT_NE(other.find("'x'=7 'y'=9"), std::string::npos) << other;
        EXPECT_EQ(other.find("__restorewidth"), std::string::npos) << other;
    }
    StartupFlags.overridePlacement = 1;
    EXPECT_NE(Declare(remember).find("'x'=7 'y'=9"), std::string::npos);
}

TEST_F(PlacementRestoreTest, APositionNoMonitorShowsIsDroppedButTheSizeIsKept) {
    SaveWindow(5000, 5000, 0);
    const std::string call = Declare(kDispRememberPosition);
    EXPECT_NE(call.find("'x'=7 'y'=9"), std::string::npos) << call;
    EXPECT_NE(call.find("'__restoreheight'=200 '__restorewidth'=300"), std::string::npos) << call;
}

TEST_F(PlacementRestoreTest, InactiveOrMalformedEntriesAndAMissingFileRestoreNothing) {
    const std::string none = Declare(kDispRememberPosition);
    EXPECT_NE(none.find("'x'=7 'y'=9"), std::string::npos) << none;
    Save([&] {
        SetTableFieldInt(L_, "active", 0);
        SetTableFieldInt(L_, "x", 100);
    });
    EXPECT_NE(Declare(kDispRememberPosition).find("'x'=7 'y'=9"), std::string::npos);
    // Someone edited the file: fields of the wrong kind count as missing.
    Save([&] {
        SetTableFieldInt(L_, "active", 1);
        SetTableFieldString(L_, "x", "left");
        SetTableFieldInt(L_, "y", 3);
    });
    const std::string edited = Declare(kDispRememberPosition);
    EXPECT_NE(edited.find("'x'=7 'y'=9"), std::string::npos) << edited;
    EXPECT_EQ(VmGetTop(L_), 0);
}

// The fill of a declared picture and of a declared display, in every style,
// with the display's regions and back fill: each field reaches the command.
TEST_F(DeclaredTest, FillsRegionsAndBackFillsReachTheirCommands) {
    ProvideAll();
    qbGradientOptions gradient;
    gradient.style = 3;
    gradient.startColor = 4660;
    gradient.endColor = 22136;
    gradient.angle = 45;
    gradient.centerX = 0.25;
    gradient.centerY = 0.75;
    gradient.balance = 0.125;
    gradient.border = 0.5;
    gradient.stops = {{65280, 0.0}, {119, 0.5}};
    auto& shaded = std::get<qbBGPicRecord>(Add(kDeclBGPic, 2, "g.png").record);
    shaded.fillStyle = 2;
    shaded.gradient = gradient;
    auto& textured = std::get<qbBGPicRecord>(Add(kDeclBGPic, 3, "t.png").record);
    textured.fillStyle = 3;
    textured.textureBrush = 9;
    textured.textureX = 5;
    textured.textureY = 6;
    Add(kDeclFile, 4, "f.txt").adapter = "zipfs";

    qbDisplayDeclaration tiled;
    tiled.fillStyle = 3;
    tiled.textureBrush = 8;
    tiled.textureX = 3;
    tiled.textureY = 4;
    tiled.dragRegions = {{1, 10, 20, 30, 40}};
    tiled.sizeRegions = {{0, 1, 2, 3, 4}, {2, 5, 6, 7, 8}};
    tiled.backfill.type = 3;
    tiled.backfill.startColor = 0x010203;
    tiled.backfill.endColor = 0x040506;
    tiled.backfill.x = 11;
    tiled.backfill.y = 12;
    tiled.backfill.brush = 13;
    tiled.backfill.scalePicture = 1;
    tiled.backfill.smoothScale = 1;
    tiled.hideTitleBar = 1;
    Add(kDeclDisplay, 5).record = tiled;
    qbDisplayDeclaration graded;
    graded.fillStyle = 2;
    graded.gradient = gradient;
    Add(kDeclDisplay, 6).record = graded;
    qbDisplayDeclaration pictured;
    pictured.flags = kDispUseBGPic;
    pictured.bgpic = 3;
    Add(kDeclDisplay, 7).record = pictured;

    ASSERT_EQ(CreateAll(), 0);
    ASSERT_EQ(calls.size(), 6u);
    const std::string fields =
        "'gradientangle'=45 'gradientbalance'=0.125 'gradientborder'=0.5 'gradientcenterx'=0.25 "
        "'gradientcentery'=0.75 'gradientcolors'={0=65280 1=0 2=119 3=0.5} 'gradientendcolor'=22136 "
        "'gradientstartcolor'=4660 'gradientstyle'=3";
    EXPECT_EQ(calls[0], "loadbgpic(2, 'g.png', {'fillstyle'=2 " + fields +
                            " 'scaleheight'=0 'scalewidth'=0 'smoothscale'=0})");
    EXPECT_EQ(calls[1], "loadbgpic(3, 't.png', {'fillstyle'=3 'scaleheight'=0 'scalewidth'=0 'smoothscale'=0 "
                        "'texturebrush'=9 'texturex'=5 'texturey'=6})");
    EXPECT_EQ(calls[2], "openfile(4, 'f.txt', 0, {'adapter'='zipfs'})");
    EXPECT_NE(calls[3].find("'backfill'={'brush'=13 'color'=66051 'endcolor'=263430 'hidetitlebar'=1 "
                            "'scalepicture'=1 'smoothscale'=1 'startcolor'=66051 'type'='texture' 'x'=11 'y'=12}"),
              std::string::npos)
        << calls[3];
    EXPECT_NE(calls[3].find("'dragregion'={0={'height'=40 'type'=1 'width'=30 'x'=10 'y'=20}}"), std::string::npos)
        << calls[3];
    EXPECT_NE(calls[3].find("'sizeregion'={0={'height'=4 'type'=0 'width'=3 'x'=1 'y'=2} "
                            "1={'height'=8 'type'=2 'width'=7 'x'=5 'y'=6}}"),
              std::string::npos)
        << calls[3];
    EXPECT_NE(calls[3].find("'fillstyle'=3 'height'=480"), std::string::npos) << calls[3];
    EXPECT_NE(calls[3].find("'texturebrush'=8 'texturex'=3 'texturey'=4"), std::string::npos) << calls[3];
    EXPECT_EQ(calls[3].find("'color'=0"), std::string::npos) << calls[3];
    EXPECT_NE(calls[4].find("'fillstyle'=2 " + fields + " 'height'=480"), std::string::npos) << calls[4];
    EXPECT_EQ(calls[4].find("texture"), std::string::npos) << calls[4];
    // A display on a picture takes the picture's size and fill.
    EXPECT_NE(calls[5].find("'bgpic'=3"), std::string::npos) << calls[5];
    EXPECT_EQ(calls[5].find("'width'"), std::string::npos) << calls[5];
    EXPECT_EQ(calls[5].find("fillstyle"), std::string::npos) << calls[5];

    // A display whose creation fails ends it with that code.
    calls.clear();
    failWith = ERR_WRONGUSAGE;
    applet_.preprocessorList.erase(applet_.preprocessorList.begin(), applet_.preprocessorList.begin() + 3);
    EXPECT_EQ(CreateAll(), ERR_WRONGUSAGE);
    EXPECT_EQ(calls.size(), 1u);
}
