// Frame pacing of VWait under an injected clock: the rest of the frame period
// is slept in whole milliseconds, and the time after the sleep is the next
// frame's start.
#include <vector>

#include "core/plugin.h"
#include "display/displayhooks.h"
#include "display_fixture.h"

namespace {

int64_t now = 0;
std::vector<int64_t> sleeps;

class PacingTest : public DisplayWorld {
protected:
    void SetUp() override {
        DisplayWorld::SetUp();
        now = 1000000000;
        sleeps.clear();
        // Sleeping moves the injected clock on.
        SetFramePacingClock([] { return now; },
                            [](int64_t ms) {
                                sleeps.push_back(ms);
                                now += ms * 1000;
                            });
    }
};

int vblanks = 0;
int plainCalls = 0;

int CountKinds(qbDisplayHook*, int kind, const void*, void*) {
    if (kind == kDrawHookVBlank)
        ++vblanks;
    else
        ++plainCalls;
    return 0;
}

}  // namespace

TEST_F(PacingTest, SixtyFramesASecondSleepsTheRestOfSixteenThousandSixHundredSixtySixMicroseconds) {
    qbDisplay* d = MakeOpen(1);
    ASSERT_EQ(GetFPSLimit(), 60);
    ASSERT_EQ(WaitVBlank(nullptr, 0), 0);  // the first wait has no earlier frame
    EXPECT_TRUE(sleeps.empty());
    EXPECT_EQ(TimeValueToMicros(d->lastVWait), now);

    now += 5000;
    ASSERT_EQ(VWait(nullptr), 0);
    // (16666 - 5000) / 1000, truncated.
    ASSERT_EQ(sleeps, std::vector<int64_t>{11});
    EXPECT_EQ(TimeValueToMicros(d->lastVWait), now);

    now += 16665;
    ASSERT_EQ(VWait(nullptr), 0);
    EXPECT_EQ(sleeps.back(), 0);  // one microsecond left: no whole millisecond
    sleeps.clear();
    now += 16666;
    ASSERT_EQ(VWait(nullptr), 0);
    EXPECT_TRUE(sleeps.empty());
    now += 1000000 + 100;  // a second and more: the seconds are not 0
    ASSERT_EQ(VWait(nullptr), 0);
    EXPECT_TRUE(sleeps.empty());
}

TEST_F(PacingTest, TheLimitSetsThePeriod) {
    MakeOpen(1);
    SetFPSLimit(0);
    EXPECT_EQ(GetFPSLimit(), 60);
    SetFPSLimit(30);
    ASSERT_EQ(VWait(nullptr), 0);
    now += 1;
    ASSERT_EQ(VWait(nullptr), 0);
    EXPECT_EQ(sleeps, std::vector<int64_t>{33});  // (33333 - 1) / 1000
}

TEST_F(PacingTest, AClosedDisplayIsLeftAloneUnlessForced) {
    qbDisplay* d = Make(2);
    d->lastVWait = MicrosToTimeValue(now - 1000);
    PaceDisplayFrame(d, false);
    EXPECT_TRUE(sleeps.empty());
    EXPECT_EQ(TimeValueToMicros(d->lastVWait), now - 1000);
    PaceDisplayFrame(d, true);
    EXPECT_EQ(sleeps, std::vector<int64_t>{15});
}

TEST_F(PacingTest, HooksOfAClosedDisplayKeepTheFrameRhythmAndPerFrameHooksAreCalled) {
    qbDisplay* d = Make(2);
    vblanks = plainCalls = 0;
    qbAdapterTag perFrame[] = {{kHookTagPerFrame, 1}, {0, 0}};
    ASSERT_NE(AddDisplayHook(ObjectID{2, nullptr}, &CountKinds, nullptr, perFrame, 0), nullptr);
    ASSERT_EQ(WaitDisplayVBlank(nullptr, d, 0), 0);
    EXPECT_TRUE(sleeps.empty());  // only per-frame hooks: nothing forces the pacing
    EXPECT_EQ(vblanks, 1);
    ASSERT_NE(AddDisplayHook(ObjectID{2, nullptr}, &CountKinds, nullptr, nullptr, 0), nullptr);
    d->lastVWait = MicrosToTimeValue(now - 2000);
    ASSERT_EQ(WaitDisplayVBlank(nullptr, d, 0), 0);
    EXPECT_EQ(sleeps, std::vector<int64_t>{14});
    EXPECT_EQ(vblanks, 2);
    EXPECT_EQ(plainCalls, 0);
}

TEST_F(PacingTest, AnAdapterThatWaitsItselfReplacesThePacing) {
    static std::vector<intptr_t> seen;
    static qbDisplayAdapterSlots slots;
    slots.VWait = [](void*, const qbAdapterTag* tags) {
        seen.push_back(tags[0].tag);
        seen.push_back(tags[0].value);
        return 0;
    };
    qbPlugin plugin;
    plugin.capabilities = PLUGINCAPS_DISPLAYADAPTER;
    plugin.displaySlots = &slots;
    SetAdapterWindowOpen(true);
    ASSERT_EQ(SetDisplayAdapter(&plugin, kAdapterVWait, nullptr), 0);
    SetAdapterWindowOpen(false);
    qbDisplay* d = Make(1);
    int handle = 0;
    d->adapterHandle = &handle;
    d->state = DISPSTATE_OPEN;
    d->lastVWait = MicrosToTimeValue(now - 1000);
    seen.clear();
    ASSERT_EQ(WaitDisplayVBlank(nullptr, d, 5), 0);
    EXPECT_EQ(seen, (std::vector<intptr_t>{1, 5}));
    EXPECT_TRUE(sleeps.empty());
    d->state = DISPSTATE_CLOSED;
    d->adapterHandle = nullptr;
}
