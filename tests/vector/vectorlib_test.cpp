// The vectorgraphics library's commands as a script calls them.
#include <gtest/gtest.h>

#include <string>

#include "core/errcodes.h"
#include "libs/libcall_fixture.h"
#include "vector/path.h"
#include "vector/vectorlib.h"

namespace {

// The text Run gives for an error: built by appending, which g++ 12 at -O3
// does not take for an overlapping copy.
std::string Err(int code) {
    std::string text = "E";
    text += std::to_string(code);
    return text;
}

class VectorLibTest : public libstest::LibCallFixture {
protected:
    void SetUp() override {
        LibCallFixture::SetUp();
        VmPushValue(L, kGlobalsIndex);
        ASSERT_EQ(InitVectorLibrary(L), 0);
        VmSetTop(L, 0);
    }
    void TearDown() override {
        FreeVectorLibrary(L);
        LibCallFixture::TearDown();
    }
    qbPath* Find(int id) {
        qbPath* p = nullptr;
        EXPECT_EQ(GetPath(ObjectID{id, nullptr}, &p), 0);
        return p;
    }
};

TEST_F(VectorLibTest, EmptinessFollowsTheCommandBuffer) {
    EXPECT_EQ(Run("StartPath", {1.0}), "");
    EXPECT_EQ(Run("IsPathEmpty", {1.0}), "1");
    EXPECT_EQ(Run("StartSubPath", {1.0}), "");
    EXPECT_EQ(Run("IsPathEmpty", {1.0}), "0");
    EXPECT_EQ(Run("ClearPath", {1.0}), "");
    EXPECT_EQ(Run("IsPathEmpty", {1.0}), "1");
    EXPECT_EQ(Run("ClosePath", {1.0}), "");
    EXPECT_EQ(Run("IsPathEmpty", {1.0}), "0");
    EXPECT_EQ(Run("GetCurrentPoint", {1.0}), "0|0");
    EXPECT_EQ(Run("StartPath", {1.0}), "");  // replaces the path
    EXPECT_EQ(Run("IsPathEmpty", {1.0}), "1");
}

TEST_F(VectorLibTest, MissingPathsNameTheirId) {
    EXPECT_EQ(Run("TranslatePath", {7.0, 0.0, 0.0}), Err(ERR_FINDPATH));
    int dummy = 0;
    EXPECT_EQ(Run("TranslatePath", {static_cast<void*>(&dummy), 0.0, 0.0}), Err(ERR_FINDARRAY));
    ASSERT_EQ(Raw("StartPath", {nullptr}), 0);
    ASSERT_EQ(VmType(L, 1), kTypeLightUserdata);
    void* handle = VmToUserdata(L, 1);
    EXPECT_EQ(Run("MoveTo", {handle, 3.0, 4.0}), "");
    EXPECT_EQ(Run("GetCurrentPoint", {handle}), "3|4");
    EXPECT_EQ(Run("FreePath", {handle}), "");
    EXPECT_EQ(Run("FreePath", {handle}), Err(ERR_FINDARRAY));
}

TEST_F(VectorLibTest, DashesAndStyle) {
    EXPECT_EQ(Run("SetDash", {5.0, 10.0}), "");
    EXPECT_EQ(GetLineStyle().dashCount, 1);
    EXPECT_EQ(GetLineStyle().dashOffset, 5);
    EXPECT_EQ(GetLineStyle().dashes[0], 10);
    EXPECT_EQ(Run("SetDash", {3.0, 1.0, 2.0, 3.0}), "");
    EXPECT_EQ(GetLineStyle().dashCount, 3);
    EXPECT_EQ(Run("SetDash", {0.0, -1.0, 4.0}), "");
    EXPECT_EQ(GetLineStyle().dashCount, 0);
    EXPECT_EQ(GetLineStyle().dashes, nullptr);
    EXPECT_EQ(Run("SetLineJoin", {7.0}), "");  // kept unchecked
    EXPECT_EQ(GetLineStyle().join, 7);
}

TEST_F(VectorLibTest, CopyingReplacesWithoutSharing) {
    EXPECT_EQ(Run("StartPath", {1.0}), "");
    EXPECT_EQ(Run("MoveTo", {1.0, 5.0, 6.0}), "");
    EXPECT_EQ(Run("CopyPath", {1.0, 1.0}), Err(ERR_WRONGUSAGE));
    EXPECT_EQ(Run("StartPath", {2.0}), "");
    EXPECT_EQ(Run("LineTo", {2.0, 50.0, 60.0}), "");
    VmPushNumber(L, 1);
    ASSERT_EQ(SetObjectDataEntry(L, "tag", -1, &Find(1)->data), 0);
    EXPECT_EQ(Run("CopyPath", {1.0, 2.0}), "");
    qbPath* copy = Find(2);
    EXPECT_EQ(copy->data, nullptr);
    EXPECT_NE(copy->commands.get(), Find(1)->commands.get());
    EXPECT_EQ(Run("GetCurrentPoint", {2.0}), "5|6");
    EXPECT_EQ(Run("LineTo", {2.0, 9.0, 9.0}), "");
    EXPECT_EQ(Run("GetCurrentPoint", {1.0}), "5|6");
}

TEST_F(VectorLibTest, AppendingTakesTheWholeSource) {
    EXPECT_EQ(Run("StartPath", {1.0}), "");
    EXPECT_EQ(Run("StartPath", {2.0}), "");
    EXPECT_EQ(Run("MoveTo", {1.0, 1.0, 1.0}), "");
    const size_t before = Find(1)->writeOffset;
    EXPECT_EQ(Run("AppendPath", {1.0, 2.0}), "");
    EXPECT_EQ(Find(1)->writeOffset, before);
    EXPECT_EQ(Run("AppendPath", {1.0, 1.0}), Err(ERR_WRONGUSAGE));
    // Some 1 MB of lines.
    for (int i = 0; i < 44000; ++i) ASSERT_EQ(Run("LineTo", {2.0, double(i), 2.0}), "");
    EXPECT_GE(Find(2)->writeOffset, 1000000u);
    EXPECT_EQ(Run("AppendPath", {1.0, 2.0}), "");
    EXPECT_EQ(Find(1)->writeOffset, before + Find(2)->writeOffset);
    EXPECT_EQ(PathStreamLength(Find(1)->commands.get()), Find(1)->writeOffset);
    EXPECT_EQ(Run("GetCurrentPoint", {1.0}), "43999|2");
}

TEST_F(VectorLibTest, BoxCornersAreClampedAndOverridden) {
    EXPECT_EQ(Run("StartPath", {1.0}), "");
    VmSetTop(L, 0);
    for (double v : {1.0, 0.0, 0.0, 100.0, 100.0}) VmPushNumber(L, v);
    VmPushNewTable(L);
    VmPushString(L, "roundlevel");
    VmPushNumber(L, 150);
    VmRawSet(L, -3);
    VmPushString(L, "cornerb");
    VmPushNumber(L, -5);
    VmRawSet(L, -3);
    ASSERT_EQ(CallCommand(L, "AddBoxToPath", 6, 0), 0);
    const uint8_t* box = Find(1)->commands.get() + 4;
    EXPECT_EQ(ReadPathInt(box + 32), 100);
    EXPECT_EQ(ReadPathInt(box + 36), 0);
    EXPECT_EQ(ReadPathInt(box + 40), 100);
    EXPECT_EQ(ReadPathInt(box + 44), 100);
}

TEST_F(VectorLibTest, MeasuringMovingAndNormalising) {
    EXPECT_EQ(Run("StartPath", {1.0}), "");
    EXPECT_EQ(Run("GetPathExtents", {1.0}), "0|0|0|0");
    EXPECT_EQ(Run("AddEllipseToPath", {1.0, 100.0, 100.0, 50.0, 25.0}), "");
    EXPECT_EQ(Run("RelLineTo", {1.0, 30.0, 0.0}), "");
    EXPECT_EQ(Run("GetCurrentPoint", {1.0}), "180|100");
    EXPECT_EQ(Run("TranslatePath", {1.0, 10.0, 0.0}), "");
    EXPECT_EQ(Run("GetCurrentPoint", {1.0}), "190|100");
    EXPECT_EQ(Run("NormalizePath", {1.0}), "");
    GetDrawState()->fillStyle = FILLCOLOR;
    EXPECT_EQ(Run("GetPathExtents", {1.0}), "0|0|130|50");
    GetDrawState()->fillStyle = FILLNONE;
    EXPECT_EQ(Run("GetPathExtents", {1.0}), "-0.5|-0.5|130|50.5");
    EXPECT_EQ(Run("TranslatePath", {1.0, 0.0, 0.0}), "");
}

}  // namespace
