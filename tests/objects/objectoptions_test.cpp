// Display options: which table counts, the matrices that size, scale and
// rotation build, the clamped levels, the refused values, the filter table
// and the defaults that SetDrawTagsDefault replaces.
#include <gtest/gtest.h>

#include <string>

#include "command_call.h"
#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "objects/objectoptions.h"
#include "vm/vm.h"

namespace {

class ObjectOptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        InitDisplayObjectDefaults();
        SetRuntimeTag(kTagRaiseErrors, 1);
    }
    void TearDown() override {
        InitDisplayObjectDefaults();
        VmClose(L_);
    }
    // Parses the stack as a command's arguments, the table (if any) at arg.
    int Parse(int arg, int32_t w = 100, int32_t h = 50, uint32_t flags = kOptReset) {
        return ParseDisplayObjectOptions(L_, arg, w, h, 0, 0, 0, &t_, &l_, flags);
    }
    void Quad(const char* key, double a, double b, double c, double d) {
        VmPushString(L_, key);
        VmPushNewTable(L_);
        const double v[4] = {a, b, c, d};
        for (int i = 0; i < 4; ++i) {
            VmPushNumber(L_, v[i]);
            VmRawSetIndex(L_, -2, i);
        }
        VmSetTableAt(L_, -3);
    }
    static bool Identity(const qbTransformOptions& t) { return IsIdentityMatrix(t.matrix); }

    ScriptState* L_ = nullptr;
    qbTransformOptions t_;
    qbLayerOptions l_;
};

}  // namespace

TEST_F(ObjectOptionsTest, OnlyATableInTheLastArgumentCounts) {
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "transparency", 100);
    VmPushNumber(L_, 7);
    ASSERT_EQ(Parse(1), 0);
    EXPECT_EQ(l_.transparency, 0);
    EXPECT_EQ(Parse(2), 0);  // the last, but a number: as if none was given
    EXPECT_EQ(Parse(2, 100, 50, kOptReset | kOptTableRequired), ERR_TABEXPECTED);
}

TEST_F(ObjectOptionsTest, OwnWidthAndFullTurnsAreTheIdentityOtherSizesScaleAndRotate) {
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "width", 100);
    ASSERT_EQ(Parse(1), 0);
    EXPECT_TRUE(Identity(t_));

    SetTableFieldInt(L_, "width", 200);
    ASSERT_EQ(Parse(1), 0);
    EXPECT_DOUBLE_EQ(t_.matrix[0], 2.0);
    EXPECT_DOUBLE_EQ(t_.matrix[3], 1.0);

    VmSetTop(L_, 0);
    VmPushNewTable(L_);
    SetTableFieldFloat(L_, "rotate", 360);
    ASSERT_EQ(Parse(1), 0);
    EXPECT_EQ(t_.rotate, 0.0);
    EXPECT_TRUE(Identity(t_));

    SetTableFieldFloat(L_, "rotate", -90);
    ASSERT_EQ(Parse(1), 0);
    EXPECT_EQ(t_.rotate, -90.0);
    // A rotation by 450 degrees: rows [p, q] become [p c - q s, p s + q c] with a = 90.
    EXPECT_NEAR(t_.matrix[0], 0, 1e-12);
    EXPECT_NEAR(t_.matrix[1], 1, 1e-12);
    EXPECT_NEAR(t_.matrix[2], -1, 1e-12);
}

TEST_F(ObjectOptionsTest, LevelsAreClampedToAByteAndATintOfZeroIsOff) {
    VmPushNewTable(L_);
    SetTableFieldString(L_, "transparency", "100%");
    ASSERT_EQ(Parse(1), 0);
    EXPECT_EQ(l_.transparency, 255);
    EXPECT_EQ(l_.needseffects, 1);
    SetTableFieldInt(L_, "transparency", 300);
    ASSERT_EQ(Parse(1), 0);
    EXPECT_EQ(l_.transparency, 255);
    SetTableFieldInt(L_, "transparency", -5);
    ASSERT_EQ(Parse(1), 0);
    EXPECT_EQ(l_.transparency, 0);
    EXPECT_EQ(l_.needseffects, 0);

    SetTableFieldInt(L_, "tint", 0);
    SetTableFieldUInt(L_, "tintcolor", 0xFF0000);
    ASSERT_EQ(Parse(1), 0);
    EXPECT_EQ(l_.filters.slot[kFilterTint].enabled, 0);
    EXPECT_EQ(l_.filters.slot[kFilterTint].ints[0], 0xFF0000);
    SetTableFieldString(L_, "tint", "50%");
    ASSERT_EQ(Parse(1), 0);
    EXPECT_EQ(l_.filters.slot[kFilterTint].enabled, 1);
    EXPECT_EQ(l_.filters.slot[kFilterTint].ints[1], 127);
    EXPECT_EQ(l_.needseffects, 1);
}

TEST_F(ObjectOptionsTest, RefusedValues) {
    VmPushNewTable(L_);
    Quad("transform", 0, 1, -1, 1);
    EXPECT_EQ(Parse(1), ERR_WRONGUSAGE);
    Quad("transform", 1, 0.5, 0, 2);
    ASSERT_EQ(Parse(1), 0);
    EXPECT_EQ(t_.matrixset, 1);
    EXPECT_EQ(t_.matrix[1], 0.5);

    VmSetTop(L_, 0);
    VmPushNewTable(L_);
    SetTableFieldFloat(L_, "anchorx", 1.5);
    EXPECT_EQ(Parse(1), ERR_WRONGUSAGE);
    SetTableFieldFloat(L_, "anchorx", 0.5);
    SetTableFieldFloat(L_, "shadowradius", 0.5);  // not read while the shadow is off
    EXPECT_EQ(Parse(1), 0);
    SetTableFieldInt(L_, "shadow", 1);
    EXPECT_EQ(Parse(1), ERR_WRONGUSAGE);
    SetTableFieldFloat(L_, "shadowradius", 2);
    SetTableFieldInt(L_, "border", 1);
    SetTableFieldInt(L_, "bordersize", 0);
    EXPECT_EQ(Parse(1), ERR_WRONGUSAGE);
    // A border whose picture no bitmap could hold would never show.
    SetTableFieldInt(L_, "bordersize", 40000);
    EXPECT_EQ(Parse(1), ERR_WRONGUSAGE);
    SetTableFieldInt(L_, "bordersize", 3);
    ASSERT_EQ(Parse(1), 0);
    EXPECT_EQ(l_.shadow.radius, 2);
    EXPECT_EQ(l_.border.size, 3);
}

TEST_F(ObjectOptionsTest, FiltersTakeTheirArgumentsInOrderAndDefaultsForTheRest) {
    VmPushNewTable(L_);
    VmPushString(L_, "filters");
    VmPushNewTable(L_);
    VmPushNewTable(L_);  // {name = "WaterRipple", priority = 300, args = {8, 2}}
    SetTableFieldString(L_, "name", "WaterRipple");
    SetTableFieldInt(L_, "priority", 300);
    VmPushString(L_, "args");
    VmPushNewTable(L_);
    VmPushNumber(L_, 8.9);
    VmRawSetIndex(L_, -2, 0);
    VmPushNumber(L_, 2);
    VmRawSetIndex(L_, -2, 1);
    VmSetTableAt(L_, -3);
    VmRawSetIndex(L_, -2, 0);
    VmSetTableAt(L_, -3);
    ASSERT_EQ(Parse(1), 0);
    const qbFilterSlot& s = l_.filters.slot[kFilterWaterRipple];
    EXPECT_EQ(s.enabled, 1);
    EXPECT_EQ(s.priority, 300 % 256);
    EXPECT_EQ(s.ints[0], 8);
    EXPECT_EQ(s.ints[1], 2);
    EXPECT_EQ(s.ints[2], 0);
    EXPECT_FLOAT_EQ(s.floats[0], 0.5f);
    EXPECT_TRUE(HasGeometricFilters(l_.filters));
    EXPECT_EQ(l_.needseffects, 1);

    VmPushString(L_, "filters");
    VmPushNewTable(L_);
    VmPushNewTable(L_);
    SetTableFieldString(L_, "name", "fog");
    VmRawSetIndex(L_, -2, 0);
    VmSetTableAt(L_, -3);
    EXPECT_EQ(Parse(1), ERR_UNKNOWNFILTER);
}

TEST_F(ObjectOptionsTest, SetDrawTagsDefaultReplacesTheDefaultsButNeverTheName) {
    VmPushString(L_, "setdrawtagsdefault");
    VmPushCClosure(L_, cmdSetDrawTagsDefault, 0);
    VmSetTableAt(L_, kGlobalsIndex);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "transparency", 40);
    SetTableFieldString(L_, "tint", "50%");
    SetTableFieldInt(L_, "width", 300);  // size keys are not defaults
    SetTableFieldFloat(L_, "anchorx", 0.5);
    SetTableFieldString(L_, "name", "kept?");
    ASSERT_EQ(CallCommand(L_, "SetDrawTagsDefault", 1, 0), 0);
    EXPECT_EQ(DefaultLayerOptions().transparency, 40);
    EXPECT_EQ(DefaultLayerOptions().name[0], '\0');
    EXPECT_EQ(DefaultTransformOptions().width, 0);
    EXPECT_EQ(DefaultTransformOptions().anchorx, 0.5);
    ASSERT_EQ(Parse(0), 0);
    EXPECT_EQ(l_.transparency, 40);
    // A table that names no level keeps the default ones.
    VmSetTop(L_, 0);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "hidden", 0);
    ASSERT_EQ(Parse(1), 0);
    EXPECT_EQ(l_.transparency, 40);
    EXPECT_EQ(l_.filters.slot[kFilterTint].enabled, 1);
    EXPECT_EQ(l_.filters.slot[kFilterTint].ints[1], 127);
    VmPushNumber(L_, 1);
    EXPECT_EQ(CallCommand(L_, "SetDrawTagsDefault", 1, 0), ERR_TABEXPECTED);
}
