// A line hook with a period sees every period-th line event, counted by the
// interpreter, in the fast line path and in the general tracer alike.
#include <string>
#include <vector>

#include "vm_fixture.h"

namespace {

std::vector<int>* seenLines = nullptr;

void Lines(ScriptState*, VmDebugRecord* ar, int*) {
    if (ar->event == kHookLine) seenLines->push_back(ar->currentline);
}

// Lines in and out of order, a loop, and a call into a function without line
// information (one event at its entry and one per backward jump).
const char* const kProgram = R"(.function main maxstack=8
.line 1
    CLOSURE 0 f
    LOADK 1 #0
    LOADK 2 #4
    LOADK 3 #1
    JMP check
.line 2
body:
    ADD 1 1 #1
.line 3
    MOVE 4 0
    LOADK 5 #2
    CALL 4 2 1
.line 2
check:
    FORLOOP 1 body
.line 9
    RETURN 0 1
  .function f params=1 maxstack=4
    LOADK 1 #0
    LOADK 2 #1
    JMP fcheck
  fbody:
    ADD 0 0 #1
  fcheck:
    FORLOOP 1 fbody
    RETURN 0 1
  .end
.end)";

class HookPeriodTest : public vmtest::VmFixture {
protected:
    void TearDown() override {
        VmSetHook(L, nullptr, 0, 0);
        seenLines = nullptr;
        VmFixture::TearDown();
    }
    // The lines the hook saw; `general` adds a count hook that never comes
    // due, which runs every instruction through the general tracer.
    std::vector<int> Trace(int period, bool general) {
        std::vector<int> lines;
        seenLines = &lines;
        VmSetHook(L, Lines, general ? kMaskLine | kMaskCount : kMaskLine, general ? 1 << 30 : 0);
        if (period > 1) VmSetLineHookPeriod(L, period);
        EXPECT_EQ(Run(kProgram), 0);
        VmSetHook(L, nullptr, 0, 0);
        return lines;
    }
};

TEST_F(HookPeriodTest, EveryNthEventReachesTheHookOnBothPaths) {
    const std::vector<int> all = Trace(1, false);
    ASSERT_GE(all.size(), 10u);
    EXPECT_EQ(Trace(1, true), all);
    for (int period : {2, 3, 5}) {
        std::vector<int> expected;
        for (size_t n = period - 1; n < all.size(); n += period) expected.push_back(all[n]);
        EXPECT_EQ(Trace(period, false), expected) << "period " << period;
        EXPECT_EQ(Trace(period, true), expected) << "period " << period << ", general tracer";
    }
}

TEST_F(HookPeriodTest, AHookSetLaterSeesEveryEvent) {
    // Left at 64 it would pass on none of the program's events.
    VmSetLineHookPeriod(L, 64);
    EXPECT_GE(Trace(1, false).size(), 10u);
}

}  // namespace
