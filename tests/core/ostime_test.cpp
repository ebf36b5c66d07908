// Time values: borrow and carry of the arithmetic, ordering, the two clocks.
#include <gtest/gtest.h>

#include <ctime>

#include "core/ostime.h"

namespace {

TimeValue T(uint32_t s, uint32_t us) { return {s, us}; }

void ExpectTime(const TimeValue& t, uint32_t s, uint32_t us) {
    EXPECT_EQ(t.seconds, s);
    EXPECT_EQ(t.microseconds, us);
}

}  // namespace

TEST(TimeValues, SubTimeBorrowsASecond) {
    TimeValue a = T(5, 100);
    const TimeValue b = T(2, 200);
    SubTime(&a, &b);
    ExpectTime(a, 2, 999900);

    TimeValue same = T(7, 5);
    SubTime(&same, &same);
    ExpectTime(same, 0, 0);

    // An age can't be negative, even when the clock was set back.
    TimeValue early = T(3, 0);
    const TimeValue late = T(3, 1);
    SubTime(&early, &late);
    ExpectTime(early, 0, 0);
}

TEST(TimeValues, AddTimeCarriesIntoTheSeconds) {
    TimeValue a = T(1, 600000);
    const TimeValue b = T(0, 500000);
    AddTime(&a, &b);
    ExpectTime(a, 2, 100000);

    // A record whose microseconds were never normalised still adds up.
    TimeValue loose = T(1, 2500000);
    const TimeValue zero = T(0, 0);
    AddTime(&loose, &zero);
    ExpectTime(loose, 3, 500000);
}

TEST(TimeValues, CmpTimeOrdersBySecondsThenMicroseconds) {
    const TimeValue a = T(2, 999999), b = T(3, 0), c = T(3, 1);
    EXPECT_EQ(CmpTime(&a, &b), -1);
    EXPECT_EQ(CmpTime(&c, &b), 1);
    EXPECT_EQ(CmpTime(&b, &b), 0);
}

TEST(TimeValues, WallClockAndMonotonicClock) {
    TimeValue now;
    GetSysTime(&now);
    EXPECT_LT(now.microseconds, 1000000u);
    EXPECT_NEAR(static_cast<double>(now.seconds), static_cast<double>(std::time(nullptr)), 2.0);
    TimeValue m1;
    GetMonotonicTime(&m1);
    const int64_t u1 = GetMonotonicMicros();
    EXPECT_LE(TimeValueToMicros(m1), u1);
    EXPECT_LE(u1, GetMonotonicMicros());
}
