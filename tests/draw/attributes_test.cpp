// GetAttribute: the general rules, the rows of the objects that exist, and
// a walk over the whole attribute table that holds every missing row to
// the list of rows that wait for their objects.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "attribute_table.h"
#include "core/errcodes.h"
#include "draw/asyncdraw.h"
#include "draw/attributes.h"
#include "display/eventlib.h"
#include "objects/show_fixture.h"
#include "objects/spriteframes.h"
#include "objects/sprites.h"

namespace {

enum : int32_t {
    kWidth = 0, kHeight = 1, kMaxWidth = 2, kXPos = 7, kType = 9, kNumFrames = 11, kHasMask = 16, kHostWidth = 28,
    kFrameDelay = 37, kTitle = 51, kOutputDevice = 54, kDoubleBuffer = 55, kFunction = 58, kUserData = 59,
    kCount = 60, kRawXPos = 65, kZPos = 74, kID = 82, kLoader = 91, kXServer = 90, kMode = 42, kMonitor = 86,
    kDisplayAttr = 85, kLayers = 6,
};

const auto& kPartTable = attribute_table::kPairs;

// The rows that the libraries above this one add when they open (the
// player's walk holds them to their objects): whole types, and the text
// rows of displays (cursor, font, margins).
const std::set<int32_t> kWaitingTypes = {2, 4, 8, 33, 39, 43, 44, 45, 50};
const std::set<std::pair<int32_t, int32_t>> kWaitingRows = {
    {21, 21}, {21, 22}, {21, 30}, {21, 31}, {21, 32}, {21, 33}, {21, 34}, {21, 35}, {21, 52}, {21, 53},
};

class AttributeTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        ASSERT_EQ(Run("EnableLayers", 0), 0);
    }
    // GetAttribute(type, id, attribute): the error, the results left on
    // the stack.
    int Get(int32_t type, double id, int32_t attribute) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, type);
        VmPushNumber(L_, id);
        VmPushNumber(L_, attribute);
        return Run("GetAttribute", 3, -1);
    }
    int GetID(int32_t type, ObjectID id, int32_t attribute) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, type);
        PushObjectID(L_, id);
        VmPushNumber(L_, attribute);
        return Run("GetAttribute", 3, -1);
    }
    int GetNamed(int32_t type, const char* id, int32_t attribute) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, type);
        VmPushString(L_, id);
        VmPushNumber(L_, attribute);
        return Run("GetAttribute", 3, -1);
    }
    double Answer(int32_t type, double id, int32_t attribute) {
        EXPECT_EQ(Get(type, id, attribute), 0) << type << " " << attribute;
        return VmGetTop(L_) ? VmToNumber(L_, 1) : -12345;
    }
    std::string Str(int idx) { return VmToCString(L_, idx) ? VmToCString(L_, idx) : "(none)"; }
    // Sprite 1 cut from brush 1 at its whole size, shown at x, y.
    void ShowSprite(int32_t width, int32_t height, int32_t x, int32_t y) {
        std::unique_ptr<qbSprite> sprite = NewSpriteRecord();
        qbBrush* brush = nullptr;
        ASSERT_EQ(GetBrushRecord(L_, ObjectID{1, nullptr}, &brush, 0), 0);
        const qbSpriteGrid grid{};
        ASSERT_EQ(CutSpriteFrames(brush->bitmap, brush->mask, brush->alpha, width, height, grid, sprite.get()), 0);
        qbSprite* made = nullptr;
        ASSERT_EQ(AddSpriteRecord(L_, std::move(sprite), &made), 0);
        ASSERT_EQ(AdoptSpriteID(L_, made, NewObjectID{1, 0}), 0);
        ASSERT_EQ(AddSpriteInstance(display_->bgpic, x, y, width, height, 1, made, nullptr, nullptr,
                                    ObjectID{1, nullptr}, nullptr),
                  0);
    }
};

TEST_F(AttributeTest, DisplaysAnswerForTheCurrentOneAtIdZero) {
    EXPECT_EQ(Answer(21, 0, kWidth), 100);
    EXPECT_EQ(Answer(21, 1, kHeight), 80);
    const double host = Answer(21, 0, kHostWidth);
    EXPECT_EQ(Answer(21, 0, kMaxWidth), host - display_->borderWidth);
    EXPECT_EQ(Answer(21, 0, kMode), 1);
    EXPECT_EQ(Answer(21, 0, kMonitor), 1);
    EXPECT_EQ(Answer(21, 0, kDoubleBuffer), 0);
    ASSERT_EQ(Get(21, 0, kOutputDevice), 0);
    ASSERT_EQ(VmGetTop(L_), 3);
    EXPECT_EQ(VmToNumber(L_, 1), 21);
    EXPECT_EQ(VmToNumber(L_, 2), 1);
    EXPECT_EQ(VmToNumber(L_, 3), 0);
    ASSERT_EQ(Get(21, 0, kTitle), 0);
    EXPECT_EQ(Str(1), display_->title);
    // The pointer: none, then one with an automatic id.
    EXPECT_EQ(Answer(21, 0, 38), -1);
    VmSetTop(L_, 0);
    VmPushNil(L_);
    VmPushNumber(L_, 36);
    VmPushNumber(L_, 1);
    ASSERT_EQ(Run("CreatePointer", 3, 1), 0);
    void* pointer = VmToUserdata(L_, -1);
    ASSERT_EQ(Run("SetPointer", 1), 0);
    ASSERT_EQ(Get(21, 0, 38), 0);
    EXPECT_EQ(VmToUserdata(L_, 1), pointer);
    EXPECT_EQ(Get(21, 7, kWidth), ERR_FINDDISPLAY);
    EXPECT_EQ(Get(21, 0, kXServer), ERR_UNKNOWNATTR);
    EXPECT_EQ(Text(ERR_UNKNOWNATTR), "Unknown attribute specified!");
}

TEST_F(AttributeTest, BrushesAndTheirCount) {
    MakeBrush(1, 32, 16, 0xFF0000);
    MakeBrush(2, 8, 8, 0x00FF00);
    VmPushNumber(L_, 3);
    VmPushNumber(L_, 4);
    VmPushNumber(L_, 4);
    VmPushNumber(L_, 0);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "mask", 1);
    ASSERT_EQ(Run("CreateBrush", 5), 0);
    EXPECT_EQ(Answer(3, 1, kWidth), 32);
    EXPECT_EQ(Answer(3, 1, kHasMask), 0);
    EXPECT_EQ(Answer(3, 3, kHasMask), 1);
    EXPECT_EQ(Answer(3, 1, kDisplayAttr), -1);
    EXPECT_EQ(Answer(3, 99, kCount), 3);
    ASSERT_EQ(Get(3, 1, kLoader), 0);
    EXPECT_EQ(Str(1), "inbuilt");
    EXPECT_EQ(Get(3, 9, kWidth), ERR_FINDBRUSH);
    EXPECT_EQ(Get(3, 1, kNumFrames), ERR_UNKNOWNATTR);
    // Every built-in type counts, whatever the id; plugin types need theirs.
    for (int32_t type = 1; type < 58; ++type) EXPECT_GE(Answer(type, -5, kCount), 0) << type;
    EXPECT_EQ(Answer(22, 0, kCount), 0);
    EXPECT_EQ(Get(58, 1, kCount), ERR_WRONGUSAGE);
    EXPECT_EQ(Get(58, 1, kWidth), ERR_WRONGUSAGE);
    EXPECT_EQ(Get(0, 1, kWidth), ERR_WRONGUSAGE);
    // Types whose objects do not exist yet give their own lookup error.
    EXPECT_EQ(Get(2, 1, kType), ERR_FINDSAMPLE);
    EXPECT_EQ(Get(4, 1, kWidth), ERR_FINDANIM);
    EXPECT_EQ(Text(ERR_FINDANIM), "Could not find anim 1!");
}

// An object that does not exist: every built-in type answers with its own
// lookup error naming the number; a type of a plugin answers through the
// hook the plugin set, and without one is refused.
TEST_F(AttributeTest, EveryTypeNamesTheObjectItCouldNotFind) {
    const std::pair<int32_t, int> kErrors[] = {
        {1, ERR_FINDBGPIC},       {2, ERR_FINDSAMPLE},    {3, ERR_FINDBRUSH},         {4, ERR_FINDANIM},
        {8, ERR_FINDTEXTOBJECT},  {21, ERR_FINDDISPLAY},  {32, ERR_FINDSPRITE},       {33, ERR_FINDMUSIC},
        {35, ERR_FINDCLIPREGION}, {36, ERR_FINDPOINTER},  {37, ERR_FINDASYNCDRAW},    {39, ERR_FINDMEMBLK},
        {41, ERR_FINDINTERVAL},   {42, ERR_FINDTIMEOUT},  {43, ERR_FINDFONT},         {44, ERR_FINDFILE},
        {45, ERR_FINDDIR},        {49, ERR_FINDPATH},     {50, ERR_FINDVIDEO},        {51, ERR_FINDMOVE},
        {52, ERR_FINDANIMSTREAM}, {53, ERR_FINDTIMER},    {54, ERR_FINDCLIENT},       {55, ERR_FINDSERVER},
        {56, ERR_FINDUDPOBJECT},  {57, ERR_FINDMENU},
    };
    for (const auto& [type, error] : kErrors) {
        int32_t attribute = kWidth;
        for (const auto& [t, attributes] : kPartTable)
            if (t == type)
                for (int32_t a : attributes)
                    if (HasAttributeRow(type, a) && a != kCount) {
                        attribute = a;
                        break;
                    }
        // A number of each type's own, so that no earlier lookup's stays.
        const int32_t id = 9000 + type;
        EXPECT_EQ(Get(type, id, attribute), error) << type << " " << attribute;
        // A font is named by its own library's lookup.
        if (type != 43) {
            EXPECT_NE(Text(error).find(std::to_string(id)), std::string::npos) << type << " " << Text(error);
        }
        EXPECT_EQ(TypeLookupError(type), error) << type;
    }
    // Types without objects of their own to find are wrong usage.
    EXPECT_EQ(TypeLookupError(5), ERR_WRONGUSAGE);
    EXPECT_EQ(TypeLookupError(0), ERR_WRONGUSAGE);

    const int32_t plugin = NextObjectTypeNumber();
    ASSERT_GE(plugin, kFirstPluginObjectType);
    EXPECT_EQ(Get(plugin, 1, kWidth), ERR_WRONGUSAGE);
    SetAttributeTypeHook(plugin, [](ScriptState* L, int32_t type, int32_t attribute, ObjectID) {
        VmPushNumber(L, type * 1000 + attribute);
        return 1;
    });
    EXPECT_EQ(Answer(plugin, 1, kHeight), plugin * 1000 + kHeight);
    SetAttributeTypeHook(plugin, nullptr);
    EXPECT_EQ(Get(plugin, 1, kHeight), ERR_WRONGUSAGE);
    // A built-in type takes no hook.
    SetAttributeTypeHook(3, [](ScriptState*, int32_t, int32_t, ObjectID) -> int { return ERR_MEM; });
    EXPECT_EQ(Get(3, 9876, kWidth), ERR_FINDBRUSH);
}

TEST_F(AttributeTest, LayersByPositionAndName) {
    MakeBrush(1, 20, 10, 0xFF0000);
    ASSERT_EQ(Show("DisplayBrush", {1, 5, 6}), 0);
    ASSERT_EQ(Show("DisplayBrush", {1, 30, 20}, [&] {
                  SetTableFieldFloat(L_, "rotate", 180);
                  SetTableFieldString(L_, "name", "ship");
              }),
              0);
    EXPECT_EQ(Answer(22, 1, kXPos), 5);
    EXPECT_EQ(Answer(22, 1, kZPos), 1);
    ASSERT_EQ(GetNamed(22, "SHIP", kZPos), 0);
    EXPECT_EQ(VmToNumber(L_, 1), 2);
    // The turned layer shows elsewhere than it was given.
    ASSERT_EQ(GetNamed(22, "ship", kRawXPos), 0);
    EXPECT_EQ(VmToNumber(L_, 1), 30);
    ASSERT_EQ(GetNamed(22, "ship", kWidth), 0);
    EXPECT_EQ(VmToNumber(L_, 1), 20);
    ASSERT_EQ(GetNamed(22, "ship", kXPos), 0);
    EXPECT_NE(VmToNumber(L_, 1), 30);
    EXPECT_EQ(Answer(22, 2, kType), 3);
    EXPECT_EQ(Answer(22, 0, kCount), 2);
    EXPECT_EQ(Answer(22, 1, kLayers), 2);
    EXPECT_EQ(GetNamed(22, "nobody", kXPos), ERR_FINDLAYER);
    EXPECT_EQ(Get(22, 3, kXPos), ERR_LAYERRANGE);
    EXPECT_EQ(Get(22, 1, kFrameDelay), ERR_NOANMLAYER);
    EXPECT_EQ(Get(22, 1, kNumFrames), ERR_BADLAYERTYPE);
    // The layers above one that Undo takes away move down.
    ASSERT_EQ(Show("Undo", {3, 1, 2}), 0);
    ASSERT_EQ(GetNamed(22, "ship", kZPos), 0);
    EXPECT_EQ(VmToNumber(L_, 1), 1);

    // A layer of an automatic-id brush answers with the brush's handle.
    VmPushNil(L_);
    for (double v : {4.0, 4.0}) VmPushNumber(L_, v);
    ASSERT_EQ(Run("CreateBrush", 3, 1), 0);
    void* handle = VmToUserdata(L_, -1);
    ASSERT_NE(handle, nullptr);
    VmPushValue(L_, -1);
    VmPushNumber(L_, 0);
    VmPushNumber(L_, 0);
    ASSERT_EQ(Run("DisplayBrush", 3), 0);
    ASSERT_EQ(Get(22, 2, kID), 0);
    EXPECT_EQ(VmToUserdata(L_, 1), handle);

    ASSERT_EQ(Run("DisableLayers", 0), 0);
    EXPECT_EQ(Get(22, 1, kXPos), ERR_NOLAYERS);
}

// Every size and position row of every kind, read on objects wider than
// high at distinct x and y, so that no row answers the other axis.
TEST_F(AttributeTest, EverySizeAndPositionRowAnswersItsOwnAxis) {
    enum : int32_t { kYPos = 8, kMaxHeight = 3, kHostHeight = 29, kRawYPos = 66, kRawWidth = 67, kRawHeight = 68 };
    enum : int32_t { kBorderLeft = 24, kBorderTop = 25, kBorderRight = 26, kBorderBottom = 27 };
    enum : int32_t { kScaleWidth = 44, kScaleHeight = 45 };
    const auto expectRows = [&](int32_t type, ObjectID id, std::initializer_list<std::pair<int32_t, double>> rows) {
        for (const auto& [attribute, want] : rows) {
            ASSERT_EQ(GetID(type, id, attribute), 0) << type << " " << attribute;
            EXPECT_EQ(VmToNumber(L_, 1), want) << type << " " << attribute;
        }
    };
    MakeBrush(1, 32, 16, 0xFF0000);
    expectRows(3, ObjectID{1, nullptr}, {{kWidth, 32}, {kHeight, 16}});
    expectRows(1, IDOf(*display_->bgpic), {{kWidth, 100}, {kHeight, 80}});

    // Layers: as shown, and as given before the turn.
    ASSERT_EQ(Show("DisplayBrush", {1, 5, 9}), 0);
    expectRows(22, ObjectID{1, nullptr},
               {{kWidth, 32}, {kHeight, 16}, {kXPos, 5}, {kYPos, 9}, {kRawXPos, 5}, {kRawYPos, 9}, {kRawWidth, 32},
                {kRawHeight, 16}});
    ASSERT_EQ(Show("DisplayBrush", {1, 40, 30}, [&] { SetTableFieldFloat(L_, "rotate", 90); }), 0);
    expectRows(22, ObjectID{2, nullptr}, {{kRawXPos, 40}, {kRawYPos, 30}, {kRawWidth, 32}, {kRawHeight, 16}});
    ASSERT_EQ(GetID(22, ObjectID{2, nullptr}, kWidth), 0);
    const double shownWidth = VmToNumber(L_, 1);
    ASSERT_EQ(GetID(22, ObjectID{2, nullptr}, kHeight), 0);
    EXPECT_GT(VmToNumber(L_, 1), shownWidth);

    ASSERT_EQ(RunNumbers("CreateClipRegion", {2, 14, 3, 7, 20, 9}), 0);
    expectRows(35, ObjectID{2, nullptr}, {{kWidth, 20}, {kHeight, 9}, {kXPos, 3}, {kYPos, 7}});
    ASSERT_EQ(RunNumbers("CreatePointer", {2, 3, 1}), 0);
    expectRows(36, ObjectID{2, nullptr}, {{kWidth, 32}, {kHeight, 16}});

    ShowSprite(32, 16, 6, 11);
    expectRows(32, ObjectID{1, nullptr}, {{kWidth, 32}, {kHeight, 16}, {kXPos, 6}, {kYPos, 11}});
    FreeAllSprites(L_);

    // The display: its place, its frame (each side its own), the room the
    // monitor leaves and the scaled size.
    display_->x = 12;
    display_->y = 34;
    display_->borderLeft = 3;
    display_->borderTop = 20;
    display_->borderWidth = 3 + 5;
    display_->borderHeight = 20 + 4;
    const ObjectID current{0, nullptr};
    expectRows(21, current,
               {{kWidth, 100}, {kHeight, 80}, {kXPos, 12}, {kYPos, 34}, {kBorderLeft, 3}, {kBorderTop, 20},
                {kBorderRight, 5}, {kBorderBottom, 4}, {kScaleWidth, 100}, {kScaleHeight, 80}});
    const double hostWidth = Answer(21, 0, kHostWidth), hostHeight = Answer(21, 0, kHostHeight);
    EXPECT_EQ(Answer(21, 0, kMaxWidth), hostWidth - 8);
    EXPECT_EQ(Answer(21, 0, kMaxHeight), hostHeight - 24);
    display_->autoscale = 1;
    display_->scaleWidth = 640;
    display_->scaleHeight = 480;
    expectRows(21, current, {{kScaleWidth, 640}, {kScaleHeight, 480}});
    display_->autoscale = 0;
}

TEST_F(AttributeTest, EventHandlersByNameWithoutLetterCase) {
    ASSERT_EQ(GetNamed(40, "OnKeyDown", kFunction), 0);
    EXPECT_EQ(VmToNumber(L_, 1), 0);
    VmPushNumber(L_, 4242);
    display_->handlers[0].function = VmMakeRef(L_, kRegistryIndex);
    ASSERT_EQ(GetNamed(40, "oNkEyDoWn", kFunction), 0);
    EXPECT_EQ(VmToNumber(L_, 1), 4242);
    ASSERT_EQ(GetNamed(40, "OnSampleEnd", kUserData), 0);
    EXPECT_EQ(VmToNumber(L_, 1), 0);
    VmReleaseRef(L_, kRegistryIndex, display_->handlers[0].function);
    display_->handlers[0].function = -1;
    EXPECT_EQ(GetNamed(40, "OnNothing", kFunction), ERR_UNKNOWNTAG);
    EXPECT_NE(Text(ERR_UNKNOWNTAG).find("OnNothing"), std::string::npos) << Text(ERR_UNKNOWNTAG);
    EXPECT_EQ(Get(41, 1, 14), ERR_FINDINTERVAL);
}

TEST_F(AttributeTest, EveryRowAnswersAndEveryMissingRowWaitsForItsObjects) {
    // One object of each kind that exists.
    MakeBrush(1, 6, 6, 0xFF);
    ASSERT_EQ(Show("DisplayBrush", {1, 0, 0}), 0);
    ASSERT_EQ(RunNumbers("CreateClipRegion", {1, 14, 0, 0, 5, 5}), 0);
    ASSERT_EQ(RunNumbers("CreatePointer", {1, 36, 1}), 0);
    // An interval and a timeout of number 1.
    for (CommandHandler set : {&cmdSetInterval, &cmdSetTimeout}) {
        VmPushCClosure(L_, set, 0);
        VmPushNumber(L_, 1);
        VmPushCClosure(L_, [](ScriptState*) { return 0; }, 0);
        VmPushNumber(L_, 1000);
        ASSERT_EQ(VmPCall(L_, 3, 0, 0), 0);
    }
    qbAsyncDraw* async = nullptr;
    ASSERT_EQ(AddAsyncDraw(ADF_FX, qbAsyncDrawCallbacks{}, nullptr, &async), 0);
    // Sprite 1, shown (its position rows need it on screen).
    ShowSprite(6, 6, 0, 0);
    std::map<int32_t, ObjectID> ids = {{1, IDOf(*display_->bgpic)}, {37, IDOf(*async)}};
    // Errors a row may give on the fixture: the layer rows of other kinds.
    const std::set<int> refusals = {ERR_BADLAYERTYPE, ERR_NOANMLAYER, ERR_NOTXTLAYER};
    std::set<std::pair<int32_t, int32_t>> missing;
    for (const auto& [type, attributes] : kPartTable) {
        for (int32_t attribute : attributes) {
            const ObjectID id = ids.count(type) ? ids[type] : ObjectID{1, nullptr};
            if (HasAttributeRow(type, attribute)) {
                const int err = type == 40 ? GetNamed(type, "onkeydown", attribute) : GetID(type, id, attribute);
                EXPECT_TRUE(err == 0 || (type == 22 && refusals.count(err))) << type << " " << attribute << " " << err;
                if (!err) {
                    EXPECT_GE(VmGetTop(L_), 1) << type << " " << attribute;
                }
                continue;
            }
            missing.insert({type, attribute});
            const int err = GetID(type, id, attribute);
            EXPECT_TRUE(err == ERR_UNKNOWNATTR || err == TypeLookupError(type)) << type << " " << attribute;
        }
    }
    EXPECT_EQ(missing, attribute_table::PairsOf(kWaitingTypes, kWaitingRows));
    FreeIntervalsAndTimeouts(L_);
    FreeAllSprites(L_);
    // Rows answer only the attributes of their own type.
    EXPECT_EQ(Get(35, 1, kTitle), ERR_UNKNOWNATTR);
    EXPECT_EQ(Get(36, 1, kLoader), ERR_UNKNOWNATTR);
}

}  // namespace
