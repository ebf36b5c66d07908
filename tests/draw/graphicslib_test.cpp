// The graphics library through its commands: the registered tables, colours
// and pens, refresh blocks, the output guards and the clip-region choice.
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <utility>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/pixelformats.h"
#include "core/plugin.h"
#include "core/settings.h"
#include "display/adapter.h"
#include "display/adapterslots.h"
#include "display/bgpics.h"
#include "display/output.h"
#include "graphics_fixture.h"
#include "test_bmp.h"

namespace {

// The library's constants in registration order, as the system lists them.
constexpr char kConstantList[] =
    "CENTER -100000, LEFT -90000, RIGHT -80000, TOP -70000, BOTTOM -60000, LEFTOUT -50000, RIGHTOUT -40000, "
    "TOPOUT -30000, BOTTOMOUT -20000, BRUSH 3, TEXTOBJECT 8, ATTRWIDTH 0, ATTRHEIGHT 1, ATTRMAXWIDTH 2, "
    "ATTRMAXHEIGHT 3, DISPLAY 21, BGPIC 1, ANIM 4, BRUSHPART 12, BGPICPART 13, PRINT 11, TEXTOUT 9, ATTRBGPIC 4, "
    "ATTRTRANSPARENTCOLOR 5, LAYER 22, ATTRLAYERS 6, HIDEBRUSH 23, INSERTBRUSH 24, HIDELAYER 25, UNDO 10, "
    "REMOVELAYER 26, NOTRANSPARENCY 4294967295, ATTRXPOS 7, ATTRYPOS 8, ATTRTYPE 9, ATTRVISIBLE 10, "
    "USELAYERPOSITION 100000, NORMALSPEED -1, FASTSPEED -2, SLOWSPEED -3, KEEPASPRAT 100000, LINEAR 2, "
    "ATTRNUMFRAMES 11, ATTRCURFRAME 12, NEXTFRAME 29, SNAPWINDOW 0, SNAPDISPLAY 1, SNAPDESKTOP 2, IMGFMT_BMP 0, "
    "SHAPE 28, NONE -1, ATTRLAYERID 13, ATTRDURATION 14, ATTRPITCH 15, SPRITE 32, ATTRHASMASK 16, ATTRHASALPHA 17, "
    "ATTRPOSITION 18, ATTRFORMAT 19, ATTRBITRATE 20, ATTRCURSORX 21, ATTRCURSORY 22, IMGFMT_PNG 1, NEXTFRAME2 34, "
    "ATTRONSCREEN 23, ATTRBORDERLEFT 24, ATTRBORDERTOP 25, ATTRBORDERRIGHT 26, ATTRBORDERBOTTOM 27, ATTRHOSTWIDTH "
    "28, ATTRHOSTHEIGHT 29, CLIPREGION 35, ATTRFONTASCENDER 30, ATTRFONTDESCENDER 31, ATTRFONTNAME 32, "
    "ATTRFONTSIZE 33, ATTRFONTSCALABLE 34, ATTRFONTAA 35, ATTRTEXT 36, IMGFMT_JPEG 2, POINTER 36, STDPTR_SYSTEM 0, "
    "STDPTR_BUSY 1, STDPTR_CUSTOM 2, ASYNCDRAW 37, ADF_FX 0, ADF_MOVEOBJECT 1, ADF_ANIM 2, ATTRFRAMEDELAY 37, "
    "DEFAULTSPEED -4, ANMFMT_GIF 0, IMGFMT_GIF 3, ANMFMT_MJPEG 1, ATTRPOINTER 38, ATTRCLIPREGION 39, ATTRSTATE 40, "
    "ATTRACTIVE 41, ATTRMODE 42, ATTRSCALEMODE 43, ATTRSCALEWIDTH 44, ATTRSCALEHEIGHT 45, IMGFMT_ILBM 4, "
    "ATTRBORDERLESS 46, ATTRFIXED 47, ATTRSIZEABLE 48, ATTRNOHIDE 49, ATTRNOMODESWITCH 50, ATTRTITLE 51, "
    "ATTRMARGINLEFT 52, ATTRMARGINRIGHT 53, ATTROUTPUTDEVICE 54, ATTRDOUBLEBUFFER 55, DOUBLEBUFFER 38, MASK 28, "
    "ALPHACHANNEL 30, ATTRHOSTDEPTH 56, MEMORY 39, ATTRSIZE 57, EVENTHANDLER 40, ATTRFUNCTION 58, ATTRUSERDATA 59, "
    "INTERVAL 41, TIMEOUT 42, FONT 43, ATTRCOUNT 60, FILE 44, DIRECTORY 45, ATTRNOCLOSE 61, ATTRGROUP 62, "
    "ATTRMASKMODE 63, ATTRALPHAINTENSITY 64, BRUSH_VS_BOX 46, LAYER_VS_BOX 47, SPRITE_VS_BOX 48, VECTORPATH 49, "
    "ATTRRAWXPOS 65, ATTRRAWYPOS 66, ATTRRAWWIDTH 67, ATTRRAWHEIGHT 68, IMAGETYPE_RASTER 0, IMAGETYPE_VECTOR 1, "
    "RADIAL 3, CONICAL 4, VIDEO 50, NOCOLOR 4294967295, ATTRLAYERSON 69, ATTRORIENTATION 70, ATTRKEYBOARD 71, "
    "ATTRCANSEEK 72, MOVELIST 51, ANIMSTREAM 52, TIMER 53, CLIENT 54, SERVER 55, UDPOBJECT 56, ATTRHARDWARE 73, "
    "ATTRZPOS 74, ATTRDRIVER 75, VIDDRV_OS 0, VIDDRV_QUENBROOK 1, ATTRPUBSCREEN 76, ATTRDENSITY 77, ATTRXDPI 78, "
    "ATTRYDPI 79, ATTRNUMSUBSONGS 80, ATTRCURSUBSONG 81, ATTRID 82, ATTRPLAYING 83, ATTRPAUSED 84, ATTRDISPLAY 85, "
    "ATTRMONITOR 86, ATTRADAPTER 87, MENU 57, ATTRMENU 88, ATTRHOSTMONITORS 89, ATTRXSERVER 90, ATTRLOADER 91";

// The whole command table in registration order; the rows marked later
// arrive with the subsystems they belong to.
const std::pair<const char*, bool> kCommandOrder[] = {
    {"Red", true},           {"Green", true},          {"Blue", true},            {"RGB", true},
    {"ARGB", true},          {"MovePointer", true},   {"HidePointer", true},     {"SetPointer", true},
    {"ShowPointer", true},   {"GetAttribute", true},  {"GetPen", true},          {"VWait", true},
    {"SetFPSLimit", true},   {"GetFPSLimit", true},    {"IsPicture", true},       {"GetRealColor", true},
    {"SaveSnapshot", true}, {"MixRGB", true},         {"CreateClipRegion", true}, {"SetClipRegion", true},
    {"FreeClipRegion", true}, {"CreatePointer", true}, {"FreePointer", true},  {"AsyncDrawFrame", true},
    {"CancelAsyncDraw", true}, {"FinishAsyncDraw", true}, {"DumpVideoTime", true}, {"GetRandomColor", true},
    {"SetDrawTagsDefault", true}, {"BeginRefresh", true}, {"EndRefresh", true}, {"Intersection", true},
};

std::vector<std::pair<std::string, double>> ParseConstantList() {
    std::vector<std::pair<std::string, double>> out;
    std::stringstream list(kConstantList);
    std::string item;
    while (std::getline(list, item, ',')) {
        std::stringstream fields(item);
        std::string name;
        double value = 0;
        fields >> name >> value;
        out.emplace_back(name, value);
    }
    return out;
}

class GraphicsLibTest : public GraphicsWorld {};

}  // namespace

TEST_F(GraphicsLibTest, RegistersTheConstantsWithTheirValuesInOrder) {
    const auto expected = ParseConstantList();
    ASSERT_EQ(expected.size(), 177u);
    const ScriptConstant* c = GraphicsConstants();
    size_t i = 0;
    for (; c[i].name; ++i) {
        ASSERT_LT(i, expected.size());
        EXPECT_EQ(c[i].name, expected[i].first) << i;
        EXPECT_EQ(c[i].num, expected[i].second) << c[i].name;
        EXPECT_EQ(c[i].str, nullptr);
    }
    EXPECT_EQ(i, expected.size());
    // And the script sees them.
    for (const auto& [name, value] : expected) {
        const char* text = nullptr;
        double number = 0;
        ASSERT_EQ(VmLookupConstant(L_, name.c_str(), &text, &number), 1) << name;
        EXPECT_EQ(number, value) << name;
    }
}

TEST_F(GraphicsLibTest, RegistersItsBuiltCommandsInTheTablesOrder) {
    const ScriptCommand* c = GraphicsCommands();
    size_t row = 0;
    for (const auto& [name, built] : kCommandOrder) {
        if (!built) {
            EXPECT_EQ(FindCommandSpelling(name), nullptr) << name;
            continue;
        }
        ASSERT_NE(c[row].name, nullptr) << name;
        EXPECT_STREQ(c[row].name, name);
        EXPECT_STREQ(FindCommandSpelling(name), name);
        ++row;
    }
    EXPECT_EQ(c[row].name, nullptr);
}

TEST_F(GraphicsLibTest, ColourComponentsAndComposition) {
    EXPECT_EQ(Number("Red", {0x123456}), 0x12);
    EXPECT_EQ(Number("Green", {0x123456}), 0x34);
    EXPECT_EQ(Number("Blue", {0x123456}), 0x56);
    EXPECT_EQ(Number("RGB", {0x12, 0x34, 0x56}), 0x123456);
    // No range check: a component spills into its neighbour.
    EXPECT_EQ(Number("RGB", {0, 0x1FF, 0}), 0x1FF00);
    EXPECT_EQ(Number("ARGB", {0xFF, 0x123456}), 4279383126.0);  // unsigned 0xFF123456
    EXPECT_EQ(Number("Red", {-1}), 0xFF);
}

TEST_F(GraphicsLibTest, MixRGBReachesTheSecondColourAndRefusesRatiosOutsideAByte) {
    for (uint32_t b : {0x000000u, 0xFFFFFFu, 0x80FF01u, 0x01807Fu}) {
        for (uint32_t a : {0x000000u, 0xFFFFFFu, 0x7F0080u}) {
            const auto mixed = static_cast<uint32_t>(Number("MixRGB", {double(a), double(b), 255}));
            for (int shift : {0, 8, 16}) {
                const int got = (mixed >> shift) & 0xFF, want = (b >> shift) & 0xFF;
                EXPECT_LE(std::abs(got - want), 1) << std::hex << a << " " << b;
            }
        }
    }
    EXPECT_EQ(Number("MixRGB", {0x000000, 0xFFFFFF, 0}), 0);
    VmPushNumber(L_, 0);
    VmPushNumber(L_, 0xFF00FF);
    VmPushString(L_, "50%");
    ASSERT_EQ(Run("MixRGB", 3, 1), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 0x7E007E);  // ratio 127
    VmSetTop(L_, 0);
    EXPECT_EQ(RunNumbers("MixRGB", {0, 0xFFFFFF, 256}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("MixRGB", {0, 0xFFFFFF, -1}), ERR_WRONGUSAGE);
    VmPushNumber(L_, 0);
    VmPushNumber(L_, 0);
    VmPushString(L_, "101%");
    EXPECT_EQ(Run("MixRGB", 3), ERR_WRONGUSAGE);
}

TEST_F(GraphicsLibTest, GetPenClampsTheIndexAndAnswersNoColourWithoutPens) {
    qbDisplay* d = OpenDisplayOne();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(Number("GetPen", {3}), 4294967295.0);
    d->bgpic->palette = std::make_unique<uint32_t[]>(256);
    for (uint32_t i = 0; i < 256; ++i) d->bgpic->palette[i] = 0x010000 * i + 7;
    SetCurrentOutputBGPic(d->bgpic);
    EXPECT_EQ(Number("GetPen", {300}), 0x010000 * 255 + 7);
    EXPECT_EQ(Number("GetPen", {-5}), 7);
    EXPECT_EQ(Number("GetPen", {10, 99}), 0x0A0007);
    EXPECT_EQ(RunNumbers("GetPen", {1, 2, 3}), ERR_TOOMANYARGS);
}

TEST_F(GraphicsLibTest, RandomColoursComeFromTheTable) {
    std::set<uint32_t> seen;
    for (int i = 0; i < 200; ++i) {
        const auto c = static_cast<uint32_t>(Number("GetRandomColor", {}));
        // Every byte is a 4-bit digit times 17.
        for (int shift : {0, 8, 16}) EXPECT_EQ(((c >> shift) & 0xFF) % 17, 0u);
        EXPECT_EQ(c >> 24, 0u);
        seen.insert(c);
    }
    EXPECT_GE(seen.size(), 10u) << "the colours vary";
}

TEST_F(GraphicsLibTest, FrameRateLimitAndIntersection) {
    EXPECT_EQ(RunNumbers("SetFPSLimit", {25}), 0);
    EXPECT_EQ(Number("GetFPSLimit", {}), 25);
    EXPECT_EQ(RunNumbers("SetFPSLimit", {0}), 0);
    EXPECT_EQ(Number("GetFPSLimit", {}), 60);
    // One frame a second is the least rate kept.
    EXPECT_EQ(RunNumbers("SetFPSLimit", {1}), 0);
    EXPECT_EQ(Number("GetFPSLimit", {}), 1);
    for (double v : {10.0, 20.0, 100.0, 50.0, 60.0, 0.0, 100.0, 100.0}) VmPushNumber(L_, v);
    ASSERT_EQ(Run("Intersection", 8, 4), 0);
    EXPECT_EQ(VmToNumber(L_, 1), 60);
    EXPECT_EQ(VmToNumber(L_, 2), 20);
    EXPECT_EQ(VmToNumber(L_, 3), 50);
    EXPECT_EQ(VmToNumber(L_, 4), 50);
    VmSetTop(L_, 0);
    // Rectangles that only touch do not overlap.
    for (double v : {0.0, 0.0, 10.0, 10.0, 10.0, 0.0, 10.0, 10.0}) VmPushNumber(L_, v);
    ASSERT_EQ(Run("Intersection", 8, 4), 0);
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(VmToNumber(L_, i), 0);
    VmSetTop(L_, 0);
    EXPECT_EQ(Number("DumpVideoTime", {}), -1);
}

TEST_F(GraphicsLibTest, RefreshBlocksOpenOnceAndCloseWithARefresh) {
    qbDisplay* d = OpenDisplayOne();
    // With both back buffers the block opens whatever the flag says.
    ASSERT_TRUE(d->spriteFreeBuffer && d->backBuffer);
    EXPECT_EQ(RunNumbers("BeginRefresh", {}), 0);
    EXPECT_EQ(d->refreshBlock, 1);
    EXPECT_EQ(RunNumbers("EndRefresh", {}), 0);
    EXPECT_EQ(d->refreshBlock, 0);
    // Without them only on request.
    BitmapPtr kept = std::move(d->spriteFreeBuffer);
    EXPECT_EQ(RunNumbers("BeginRefresh", {}), 0);
    EXPECT_EQ(d->refreshBlock, 0);
    VmPushNil(L_);
    EXPECT_EQ(Run("BeginRefresh", 1), 0);  // Nil asks for nothing either
    EXPECT_EQ(d->refreshBlock, 0);
    EXPECT_EQ(RunNumbers("BeginRefresh", {1}), 0);
    EXPECT_EQ(d->refreshBlock, 1);
    EXPECT_EQ(RunNumbers("BeginRefresh", {1}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("EndRefresh", {}), 0);
    EXPECT_EQ(d->refreshBlock, 0);
    EXPECT_EQ(RunNumbers("EndRefresh", {}), 0);
    d->spriteFreeBuffer = std::move(kept);
}

TEST_F(GraphicsLibTest, EachOutputGuardGivesItsOwnCode) {
    qbDisplay* d = OpenDisplayOne();
    struct Case {
        int32_t type, selected, doubleBuffer, refreshCode, asyncCode;
    };
    const Case cases[] = {
        {kObjectTypeDisplay, 0, 0, 0, 0},
        {kOutputBrush, 0, 1, ERR_ENDDOUBLEBUFFER, ERR_ENDDOUBLEBUFFER},
        {kOutputBrush, kOutputAnim, 0, ERR_SELECTANIM, ERR_SELECTANIM},
        {kOutputBrush, 3, 0, ERR_SELECTBRUSH, ERR_SELECTBRUSH},
        {kOutputMask, 0, 0, ERR_SELECTMASK, ERR_SELECTMASK},
        {kOutputAlphaChannel, 0, 0, ERR_SELECTALPHACHANNEL, ERR_SELECTALPHACHANNEL},
        {kOutputBGPic, 0, 0, ERR_SELECTBG, 0},
    };
    for (const Case& c : cases) {
        d->output.type = c.type;
        d->output.selected = c.selected;
        d->softDoubleBuffer = c.doubleBuffer;
        EXPECT_EQ(CheckOutputGuard(d, OutputGuard::Refresh), c.refreshCode) << c.type;
        EXPECT_EQ(CheckOutputGuard(d, OutputGuard::AsyncDraw), c.asyncCode) << c.type;
        EXPECT_EQ(RunNumbers("BeginRefresh", {1}), c.refreshCode) << c.type;
        d->refreshBlock = 0;
    }
    d->output.type = kObjectTypeDisplay;
    d->output.selected = 0;
    d->softDoubleBuffer = 0;
}

TEST_F(GraphicsLibTest, SetClipRegionChecksTheRegionAgainstTheOutput) {
    qbDisplay* d = OpenDisplayOne(640, 480);
    AddRegion(1, 600, 0, 41, 10);
    AddRegion(2, 100, 50, 200, 100);
    AddRegion(3, 0, 0, 640, 480);
    EXPECT_EQ(RunNumbers("SetClipRegion", {1}), ERR_WRONGCLIPREG);
    EXPECT_EQ(std::string(GetMessageText(GetErrorMessageNumber(ERR_WRONGCLIPREG))),
              "Clip region does not fit into the output device's dimensions!");
    EXPECT_EQ(d->clipRegion, nullptr);
    EXPECT_EQ(RunNumbers("SetClipRegion", {3}), 0);
    EXPECT_EQ(RunNumbers("SetClipRegion", {2}), 0);
    EXPECT_EQ(d->clipRegion, regions_[1]);
    EXPECT_EQ(d->clipLeft, 100);
    EXPECT_EQ(d->clipRight, 299);
    EXPECT_EQ(RunNumbers("SetClipRegion", {7}), ERR_FINDCLIPREGION);
    EXPECT_EQ(RunNumbers("SetClipRegion", {-1}), 0);
    EXPECT_EQ(d->clipRegion, nullptr);
    EXPECT_EQ(d->clipRight, 639);
    d->output.type = kOutputMask;
    EXPECT_EQ(RunNumbers("SetClipRegion", {2}), ERR_WRONGUSAGE);
    d->output.type = kObjectTypeDisplay;
}

TEST_F(GraphicsLibTest, PointerVisibilityIsKeptOnTheDisplay) {
    qbDisplay* d = OpenDisplayOne();
    EXPECT_EQ(RunNumbers("HidePointer", {}), 0);
    EXPECT_EQ(d->pointerHidden, 1);
    EXPECT_EQ(RunNumbers("HidePointer", {1}), ERR_TOOMANYARGS);
    EXPECT_EQ(RunNumbers("ShowPointer", {1}), 0);  // its argument is ignored
    EXPECT_EQ(d->pointerHidden, 0);
}

TEST_F(GraphicsLibTest, GetRealColorDropsTheBitsTheScreenCannotShow) {
    EXPECT_EQ(Number("GetRealColor", {0x123457}), 0x123457);  // no display: true colour
    qbDisplayAdapterSlots slots;
    qbPlugin plugin;
    plugin.capabilities = PLUGINCAPS_DISPLAYADAPTER;
    plugin.displaySlots = &slots;
    const std::pair<int, uint32_t> depths[] = {{kFormatRGB565, 0xF8FCF8u}, {kFormatRGB555, 0xF8F8F8u}};
    for (const auto& [format, kept] : depths) {
        ClearDisplayAdapters();
        const qbAdapterTag tags[] = {{kAdapterTagPixelFormat, static_cast<uint32_t>(format)}, {0, 0}};
        SetAdapterWindowOpen(true);
        ASSERT_EQ(SetDisplayAdapter(&plugin, 0, tags), 0);
        SetAdapterWindowOpen(false);
        EXPECT_EQ(Number("GetRealColor", {0xFFFFFF}), kept) << format;
    }
    ClearDisplayAdapters();
}

TEST_F(GraphicsLibTest, IsPictureProbesAFileWithoutLoadingIt) {
    const std::string file = test_bmp::WriteBmp(7, 3);
    VmPushString(L_, file.c_str());
    ASSERT_EQ(Run("IsPicture", 1, 2), 0);
    EXPECT_EQ(VmType(L_, -2), kTypeNumber);
    EXPECT_EQ(VmToNumber(L_, -2), 1);
    int32_t width = 0, height = 0, alpha = -1, transparency = -1;
    GetTableFieldInt(L_, -1, "width", &width, nullptr);
    GetTableFieldInt(L_, -1, "height", &height, nullptr);
    GetTableFieldInt(L_, -1, "alpha", &alpha, nullptr);
    GetTableFieldInt(L_, -1, "transparency", &transparency, nullptr);
    EXPECT_EQ(width, 7);
    EXPECT_EQ(height, 3);
    EXPECT_EQ(alpha, 0);
    EXPECT_EQ(transparency, 0);  // said, even when the file declares none
    VmSetTop(L_, 0);

    const std::string text = testing::TempDir() + "not_a_picture.txt";
    FILE* f = std::fopen(text.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("hello, this is no picture at all\n", f);
    std::fclose(f);
    VmPushString(L_, text.c_str());
    ASSERT_EQ(Run("IsPicture", 1, 2), 0);
    EXPECT_EQ(VmType(L_, -2), kTypeNumber);
    EXPECT_EQ(VmToNumber(L_, -2), 0);
}
