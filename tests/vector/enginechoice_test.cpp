// The engine SetVectorEngine chooses is the one later path queries reach:
// a plugin's by its file name (".qbp" added, any case), the inbuilt one by
// "default", and the inbuilt one again after a name no plugin has.
#include <gtest/gtest.h>

#include <string>

#include "core/errcodes.h"
#include "path_fixture.h"
#include "vector/engine.h"
#include "vector/vectorengines.h"
#include "vm/casefold.h"

namespace {

qbVectorEngine gProbe;

// The probe answers every current point with 7, 9.
int ProbePoint(const uint8_t*, const qbVectorLineStyle*, double* x, double* y) {
    *x = 7;
    *y = 9;
    return 1;
}

qbVectorEngine* FindProbe(const char* file) { return StrCmpNoCase(file, "probe.qbp") == 0 ? &gProbe : nullptr; }

class EngineChoiceTest : public PathWorld {
protected:
    void SetUp() override {
        PathWorld::SetUp();
        gProbe = qbVectorEngine{};
        gProbe.hooks = InbuiltVectorEngine()->hooks;
        gProbe.hooks.getCurrentPoint = &ProbePoint;
        SetVectorPluginFinder(&FindProbe);
    }
    void TearDown() override {
        SetVectorPluginFinder(nullptr);
        SetActiveVectorEngine(nullptr);
        PathWorld::TearDown();
    }
    int Choose(const char* name) {
        VmPushString(L_, name);
        const int err = Run("SetVectorEngine", 1);
        VmSetTop(L_, 0);
        return err;
    }
    std::string CurrentPoint() {
        VmPushNumber(L_, 1);
        EXPECT_EQ(Run("GetCurrentPoint", 1, 2), 0);
        std::string s = std::to_string(static_cast<int>(VmToNumber(L_, 1)));
        s += ',';
        s += std::to_string(static_cast<int>(VmToNumber(L_, 2)));
        VmSetTop(L_, 0);
        return s;
    }
};

TEST_F(EngineChoiceTest, TheChosenEngineAnswersLaterQueries) {
    ASSERT_EQ(Cmd("StartPath", {1}), 0);
    ASSERT_EQ(Cmd("MoveTo", {1, 30, 40}), 0);
    EXPECT_EQ(CurrentPoint(), "30,40");
    ASSERT_EQ(Choose("PROBE"), 0);
    EXPECT_EQ(ActiveVectorEngine(), &gProbe);
    EXPECT_EQ(CurrentPoint(), "7,9");
    ASSERT_EQ(Choose("Default"), 0);
    EXPECT_EQ(CurrentPoint(), "30,40");
    ASSERT_EQ(Choose("probe.QBP"), 0);
    EXPECT_EQ(CurrentPoint(), "7,9");
    // A name no plugin has fails and leaves the inbuilt engine serving.
    EXPECT_EQ(Choose("nosuch"), ERR_FINDPLUGIN);
    EXPECT_EQ(CurrentPoint(), "30,40");
    // A plugin without the hook answers no current point.
    gProbe.hooks.getCurrentPoint = nullptr;
    ASSERT_EQ(Choose("probe"), 0);
    EXPECT_EQ(CurrentPoint(), "0,0");
}

}  // namespace
