// The math library: rounding and integer conversions, the argument errors,
// the bit operations and rotations, and the random generators.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <chrono>
#include <set>
#include <string>
#include <thread>

#include "libs/libcall_fixture.h"

namespace {

using MathTest = libstest::LibCallFixture;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST_F(MathTest, RoundingGoesAsDocumented) {
    EXPECT_EQ(Run("Round", {2.5}), "2");
    EXPECT_EQ(Run("Round", {3.5}), "4");
    EXPECT_EQ(Run("Int", {-2.7}), "-2");
    EXPECT_EQ(Run("Floor", {-2.7}), "-3");
    EXPECT_EQ(Run("Ceil", {-2.7}), "-2");
    EXPECT_EQ(Run("Frac", {-2.5}), "-0.5");
    EXPECT_EQ(Run("Sgn", {kNaN}), "0");
    EXPECT_EQ(Run("Sgn", {-3.0}), "-1");
}

TEST_F(MathTest, RangesWrapOneStepAndLimitPrefersLow) {
    EXPECT_EQ(Run("Wrap", {12.0, 0.0, 10.0}), "2");
    EXPECT_EQ(Run("Wrap", {25.0, 0.0, 10.0}), "15");
    EXPECT_EQ(Run("Wrap", {-3.0, 0.0, 10.0}), "7");
    EXPECT_EQ(Run("Limit", {5.0, 10.0, 0.0}), "10");
    EXPECT_EQ(Run("Limit", {50.0, 0.0, 10.0}), "10");
    // Min and Max keep the first extreme: -0 and 0 compare equal.
    EXPECT_TRUE(std::signbit(Num("Min", {-0.0, 3.0, 0.0, 5.0, 1.0})));
    EXPECT_FALSE(std::signbit(Num("Max", {0.0, -1.0, -0.0, -5.0, -2.0})));
    EXPECT_EQ(Run("Min", {4.0, 3.0, 9.0, -1.0, 2.0}), "-1");
    EXPECT_EQ(Run("Max", {4.0, 3.0, 9.0, -1.0, 2.0}), "9");
    EXPECT_EQ(Run("Min", {4.0}), "E1014");
}

TEST_F(MathTest, DivisionAndRootErrors) {
    EXPECT_EQ(Run("Div", {1.0, 0.0}), "E1089");
    EXPECT_EQ(Run("Mod", {1.0, 0.0}), "E1089");
    EXPECT_EQ(Run("Rt", {8.0, 0.0}), "E1089");
    EXPECT_EQ(Run("Rt", {8.0, -3.0}), "E1055");
    EXPECT_EQ(Run("Rt", {8.0, 3.0}), "2");
    EXPECT_EQ(Run("Mod", {-7.0, 3.0}), "-1");
    EXPECT_EQ(Run("Div", {7.0, 2.0}), "3.5");
    EXPECT_EQ(Run("FrExp", {8.0}), "0.5|4");
    EXPECT_EQ(Run("Log", {8.0, 2.0}), "3");
    EXPECT_EQ(Run("Ld", {1024.0}), "10");
    EXPECT_TRUE(std::isnan(Num("Sqrt", {-1.0})));
    EXPECT_EQ(Run("Ln", {0.0}), "-inf");
    EXPECT_NEAR(Num("Deg", {Num("Rad", {90.0})}), 90.0, 1e-12);
}

TEST_F(MathTest, BitOperationsWorkOnThirtyTwoBits) {
    EXPECT_EQ(Run("BitComplement", {0.0}), "4294967295");
    EXPECT_EQ(Run("Sar", {-8.0, 1.0}), "-4");
    EXPECT_EQ(Run("Shr", {-8.0, 1.0}), "2147483644");
    EXPECT_EQ(Run("BitTest", {1.0, 32.0}), "E1055");
    EXPECT_EQ(Run("BitSet", {0.0, -1.0}), "E1055");
    EXPECT_EQ(Run("BitTest", {-1.0, 31.0}), "1");
    EXPECT_EQ(Run("BitSet", {0.0, 31.0}), "2147483648");
    EXPECT_EQ(Run("BitSet", {4.0, 0.0}), "5");
    EXPECT_EQ(Run("BitClear", {-1.0, 0.0}), "4294967294");
    EXPECT_EQ(Run("BitXor", {5.0, 3.0}), "6");
    EXPECT_EQ(Run("Shl", {1.0, 33.0}), "2");
    EXPECT_EQ(Run("Shl", {1.0, 31.0}), "2147483648");
}

TEST_F(MathTest, RotationsStayWithinTheTypeWidth) {
    EXPECT_EQ(Run("Rol", {129.0, 1.0, 7.0}), "3");
    EXPECT_EQ(Run("Ror", {1.0, 1.0, 6.0}), "32768");
    EXPECT_EQ(Run("Rol", {1.0, 1.0}), "2");
    EXPECT_EQ(Run("Ror", {1.0, 1.0}), "2147483648");
    EXPECT_EQ(Run("Rol", {1.0, 1.0, 3.0}), "E1055");
    // Counts past the width rotate by the count modulo the width.
    for (int n = 17; n <= 255; ++n) {
        for (double type : {6.0, 7.0}) {
            const int width = type == 6.0 ? 16 : 8;
            const double x = type == 6.0 ? 0x8421 : 0x81;
            ASSERT_EQ(Num("Rol", {x, double(n), type}), Num("Rol", {x, double(n % width), type})) << n;
            ASSERT_EQ(Num("Ror", {x, double(n), type}), Num("Ror", {x, double(n % width), type})) << n;
        }
    }
    EXPECT_EQ(RotateLeft(0x8001, 1, 16), 0x0003u);
    EXPECT_EQ(RotateRight(0x0003, 1, 8), 0x81u);
}

TEST_F(MathTest, CastAndEndianSwap) {
    EXPECT_EQ(Run("Cast", {255.0, 1.0, 7.0}), "-1");
    EXPECT_EQ(Run("Cast", {65535.0, 0.0, 6.0}), "65535");
    EXPECT_EQ(Run("Cast", {4294967295.0, 1.0, 1.0}), "-1");
    EXPECT_EQ(Run("Cast", {1.0, 1.0, 12.0}), "E1055");
    EXPECT_EQ(Run("EndianSwap", {double(0x1234), 16.0}), "13330");
    EXPECT_EQ(Run("EndianSwap", {double(0x12345678), 32.0}), "2018915346");
    EXPECT_EQ(Run("EndianSwap", {1.0, 24.0}), "E1055");
}

TEST_F(MathTest, ConversionsOfNonFiniteNumbersAreDefined) {
    EXPECT_EQ(Run("Int", {kNaN}), "0");
    EXPECT_EQ(Run("Int", {kInf}), "2147483647");
    EXPECT_EQ(Run("Int", {-kInf}), "-2147483648");
    EXPECT_EQ(Run("Int", {1e300}), "2147483647");
    EXPECT_EQ(Run("LdExp", {1.0, kNaN}), "1");
    EXPECT_EQ(Run("LdExp", {1.0, 1e300}), "inf");
    EXPECT_EQ(Run("LdExp", {3.0, 2.0}), "12");
    EXPECT_EQ(Run("Cast", {kNaN, 1.0, 1.0}), "0");
    EXPECT_EQ(Run("Cast", {kInf, 0.0, 6.0}), "65535");
    EXPECT_EQ(Run("Cast", {-kInf, 1.0, 1.0}), "-2147483648");
    EXPECT_EQ(Run("Cast", {1e300, 0.0, 1.0}), "4294967295");
}

TEST_F(MathTest, RandomNumbers) {
    EXPECT_EQ(Run("Rnd", {-1.0}), "E1055");
    EXPECT_EQ(Run("Rnd", {0.0}), "0");
    std::set<double> seen, tenths;
    for (int i = 0; i < 10000; ++i) {
        ASSERT_EQ(Num("Rnd", {1.0}), 0.0);
        const double v = Num("Rnd", {10.0});
        ASSERT_TRUE(v >= 0 && v <= 9 && v == std::floor(v)) << v;
        seen.insert(v);
        const double f = Num("RndF", {});
        ASSERT_TRUE(f >= 0 && f < 1) << f;
        tenths.insert(std::floor(f * 10));
    }
    EXPECT_EQ(seen.size(), 10u);
    EXPECT_EQ(tenths.size(), 10u) << "RndF's numbers spread over the whole range";
}

TEST_F(MathTest, OpeningSeedsFromTheClockAndRegistersPi) {
    auto draw = [&] {
        std::string s;
        for (int i = 0; i < 8; ++i) s += Run("Rnd", {1000000.0}) + ",";
        return s;
    };
    const std::string first = draw();
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    VmPushValue(L, kGlobalsIndex);
    ASSERT_EQ(InitMathLibrary(L), 0);
    EXPECT_NE(draw(), first);
    double pi = 0;
    const char* text = nullptr;
    ASSERT_NE(VmLookupConstant(L, "PI", &text, &pi), 0);
    EXPECT_EQ(pi, 3.141592653589793);
}

}  // namespace
