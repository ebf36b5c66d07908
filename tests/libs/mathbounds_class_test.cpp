// Every math command on both sides of each of its boundaries: domain edges,
// the integer and rounding steps, the 32-bit limits of the integer
// arguments, the limits of a double. Each value is checked against the
// exact one (a long double oracle; one rounding of a double allowed where
// the library computes a transcendental function), signed zeros and NaN
// included. Every command the math library registers must have its cases.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/settings.h"
#include "libs/libcall_fixture.h"

namespace {

using MathBoundsTest = libstest::LibCallFixture;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMax = DBL_MAX;
constexpr double kTiny = std::numeric_limits<double>::denorm_min();
constexpr double kEps = DBL_EPSILON;
constexpr long double kPi = 3.141592653589793238462643383279502884L;
// The type constants of the integer commands.
constexpr double kInteger = 1, kShort = 6, kByte = 7;

struct Case {
    std::string command;
    std::vector<double> args;
    std::vector<long double> want;  // the exact results
    int error = 0;                  // or the error instead
    int ulps = 0;                   // roundings of a double allowed
};

Case Exact(std::string c, std::vector<double> a, std::vector<long double> w) {
    return {std::move(c), std::move(a), std::move(w)};
}
Case Near(std::string c, std::vector<double> a, long double w, int ulps = 1) {
    return {std::move(c), std::move(a), {w}, 0, ulps};
}
Case Fails(std::string c, std::vector<double> a, int error) { return {std::move(c), std::move(a), {}, error}; }

std::vector<Case> Cases() {
    const double below = std::nextafter(1.0, 0.0), above = std::nextafter(1.0, 2.0);
    return {
        // Arithmetic at the ends of the double range and at the signed zeros.
        Exact("Abs", {-0.0}, {0.0L}),
        Exact("Abs", {-kTiny}, {kTiny}),
        Exact("Abs", {-kInf}, {kInf}),
        Exact("Abs", {kMax}, {kMax}),
        Exact("Add", {kMax, kMax}, {kInf}),
        Exact("Add", {kMax, -kMax}, {0.0L}),
        Exact("Add", {-0.0, -0.0}, {-0.0L}),
        Exact("Add", {-0.0, 0.0}, {0.0L}),
        Exact("Add", {1.0, kEps / 2}, {1.0L}),
        Exact("Add", {1.0, kEps}, {1.0L + kEps}),
        Exact("Sub", {-kMax, kMax}, {-kInf}),
        Exact("Sub", {-0.0, 0.0}, {-0.0L}),
        Exact("Sub", {0.0, 0.0}, {0.0L}),
        Exact("Sub", {kInf, kInf}, {kNaN}),
        Exact("Mul", {kMax, 2.0}, {kInf}),
        Exact("Mul", {kMax, 1.0}, {kMax}),
        Exact("Mul", {-0.0, 5.0}, {-0.0L}),
        Exact("Mul", {kTiny, 0.5}, {0.0L}),
        Exact("Mul", {kTiny, 1.0}, {kTiny}),
        // Division refuses a zero divisor of either sign, not the smallest
        // one beside it.
        Fails("Div", {1.0, 0.0}, ERR_ZERODIVISION),
        Fails("Div", {1.0, -0.0}, ERR_ZERODIVISION),
        Exact("Div", {1.0, kTiny}, {kInf}),
        Exact("Div", {-1.0, kInf}, {-0.0L}),
        Exact("Div", {7.0, -2.0}, {-3.5L}),
        Fails("Mod", {1.0, 0.0}, ERR_ZERODIVISION),
        Fails("Mod", {1.0, -0.0}, ERR_ZERODIVISION),
        Exact("Mod", {-7.0, 3.0}, {-1.0L}),
        Exact("Mod", {7.0, -3.0}, {1.0L}),
        Exact("Mod", {-6.0, 3.0}, {-0.0L}),
        Exact("Mod", {1.0, kInf}, {1.0L}),
        Exact("Mod", {5.0, kTiny}, {0.0L}),
        Exact("Sgn", {-kTiny}, {-1.0L}),
        Exact("Sgn", {-0.0}, {0.0L}),
        Exact("Sgn", {0.0}, {0.0L}),
        Exact("Sgn", {kTiny}, {1.0L}),
        Exact("Sgn", {kNaN}, {0.0L}),
        Exact("Sgn", {-kInf}, {-1.0L}),
        // Int cuts toward zero and saturates at the 32-bit ends.
        Exact("Int", {-2.7}, {-2.0L}),
        Exact("Int", {2.7}, {2.0L}),
        Exact("Int", {-0.9}, {0.0L}),
        Exact("Int", {2147483647.9}, {2147483647.0L}),
        Exact("Int", {2147483648.0}, {2147483647.0L}),
        Exact("Int", {-2147483648.9}, {-2147483648.0L}),
        Exact("Int", {-2147483649.0}, {-2147483648.0L}),
        Exact("Int", {kNaN}, {0.0L}),
        Exact("Int", {kInf}, {2147483647.0L}),
        Exact("Floor", {-kTiny}, {-1.0L}),
        Exact("Floor", {-0.0}, {-0.0L}),
        Exact("Floor", {below}, {0.0L}),
        Exact("Floor", {1.0}, {1.0L}),
        Exact("Floor", {-2.7}, {-3.0L}),
        Exact("Floor", {4503599627370495.5}, {4503599627370495.0L}),
        Exact("Ceil", {kTiny}, {1.0L}),
        Exact("Ceil", {-0.5}, {-0.0L}),
        Exact("Ceil", {1.0}, {1.0L}),
        Exact("Ceil", {above}, {2.0L}),
        Exact("Ceil", {-2.7}, {-2.0L}),
        // Halves go to the even neighbour; just below a half goes down.
        Exact("Round", {0.5}, {0.0L}),
        Exact("Round", {std::nextafter(0.5, 1.0)}, {1.0L}),
        Exact("Round", {0.49999999999999994}, {0.0L}),
        Exact("Round", {1.5}, {2.0L}),
        Exact("Round", {2.5}, {2.0L}),
        Exact("Round", {3.5}, {4.0L}),
        Exact("Round", {-0.5}, {-0.0L}),
        Exact("Round", {-1.5}, {-2.0L}),
        Exact("Round", {4503599627370497.0}, {4503599627370497.0L}),
        Exact("Frac", {-2.5}, {-0.5L}),
        Exact("Frac", {2.5}, {0.5L}),
        Exact("Frac", {3.0}, {0.0L}),
        Exact("Frac", {-3.0}, {-0.0L}),
        Exact("Frac", {below}, {below}),
        Exact("Frac", {kInf}, {0.0L}),
        // The first extreme met is kept: -0 before 0 stays -0.
        Exact("Min", {1.0, above}, {1.0L}),
        Exact("Min", {above, 1.0}, {1.0L}),
        Exact("Min", {-0.0, 0.0}, {-0.0L}),
        Exact("Min", {0.0, -0.0}, {0.0L}),
        Exact("Min", {3.0, 2.0, 1.0, 1.0}, {1.0L}),
        Fails("Min", {1.0}, ERR_MISSINGPARAMTR),
        Exact("Max", {1.0, below}, {1.0L}),
        Exact("Max", {below, 1.0}, {1.0L}),
        Exact("Max", {0.0, -0.0}, {0.0L}),
        Exact("Max", {-0.0, 0.0}, {-0.0L}),
        Exact("Max", {-kInf, -kMax}, {-kMax}),
        Fails("Max", {1.0}, ERR_MISSINGPARAMTR),
        // Limit: low below it, high from it up; low wins a crossed range.
        Exact("Limit", {std::nextafter(0.0, -1.0), 0.0, 1.0}, {0.0L}),
        Exact("Limit", {0.0, 0.0, 1.0}, {0.0L}),
        Exact("Limit", {below, 0.0, 1.0}, {below}),
        Exact("Limit", {above, 0.0, 1.0}, {1.0L}),
        Exact("Limit", {5.0, 10.0, 0.0}, {10.0L}),
        // Wrap: one step, from low (kept) to high (moved).
        Exact("Wrap", {-1.0, 0.0, 10.0}, {9.0L}),
        Exact("Wrap", {0.0, 0.0, 10.0}, {0.0L}),
        Exact("Wrap", {std::nextafter(10.0, 0.0), 0.0, 10.0}, {std::nextafter(10.0, 0.0)}),
        Exact("Wrap", {10.0, 0.0, 10.0}, {0.0L}),
        Exact("Wrap", {25.0, 0.0, 10.0}, {15.0L}),
        // Domain edges: the library's NaN or infinity, never an error.
        Exact("Sqrt", {-kTiny}, {kNaN}),
        Exact("Sqrt", {-0.0}, {-0.0L}),
        Exact("Sqrt", {0.0}, {0.0L}),
        Exact("Sqrt", {4.0}, {2.0L}),
        Exact("Sqrt", {kInf}, {kInf}),
        Near("Sqrt", {2.0}, std::sqrt(2.0L)),
        Exact("Pow", {0.0, -1.0}, {kInf}),
        Exact("Pow", {-0.0, -1.0}, {-kInf}),
        Exact("Pow", {-8.0, 1.0 / 3}, {kNaN}),
        Exact("Pow", {2.0, 1023.0}, {std::ldexp(1.0L, 1023)}),
        Exact("Pow", {2.0, 1024.0}, {kInf}),
        Exact("Pow", {2.0, -1074.0}, {kTiny}),
        Exact("Pow", {2.0, -1075.0}, {0.0L}),
        Exact("Pow", {kNaN, 0.0}, {1.0L}),
        Exact("Pow", {-1.0, kInf}, {1.0L}),
        // Rt: n = 0 either sign divides by zero, below it is refused, just
        // above it is a power.
        Fails("Rt", {8.0, 0.0}, ERR_ZERODIVISION),
        Fails("Rt", {8.0, -0.0}, ERR_ZERODIVISION),
        Fails("Rt", {8.0, -kTiny}, ERR_WRONGUSAGE),
        Exact("Rt", {1.0, kTiny}, {1.0L}),
        Exact("Rt", {16.0, 4.0}, {2.0L}),
        Exact("Rt", {-8.0, 3.0}, {kNaN}),
        Near("Rt", {27.0, 3.0}, 3.0L),
        Exact("Exp", {0.0}, {1.0L}),
        Near("Exp", {709.0}, std::exp(709.0L)),
        Exact("Exp", {710.0}, {kInf}),
        Exact("Exp", {-746.0}, {0.0L}),
        Near("Exp", {-745.0}, std::exp(-745.0L)),
        Exact("Exp", {-kInf}, {0.0L}),
        Exact("Ln", {0.0}, {-kInf}),
        Exact("Ln", {-0.0}, {-kInf}),
        Exact("Ln", {-kTiny}, {kNaN}),
        Exact("Ln", {1.0}, {0.0L}),
        Near("Ln", {kTiny}, std::log(static_cast<long double>(kTiny))),
        Exact("Ln", {kInf}, {kInf}),
        Exact("Ld", {0.0}, {-kInf}),
        Exact("Ld", {-kTiny}, {kNaN}),
        Exact("Ld", {1.0}, {0.0L}),
        Near("Ld", {8.0}, 3.0L, 2),
        Near("Ld", {kTiny}, -1074.0L, 2),
        Near("Ld", {kMax}, std::log2(static_cast<long double>(kMax)), 2),
        Near("Log", {100.0, 10.0}, 2.0L, 2),
        Near("Log", {8.0, 2.0}, 3.0L, 2),
        Exact("Log", {1.0, 1.0}, {kNaN}),
        Exact("Log", {2.0, 1.0}, {kInf}),
        Exact("Log", {2.0, -2.0}, {kNaN}),
        Exact("Log", {-kTiny, 2.0}, {kNaN}),
        // LdExp cuts its exponent toward zero; the double's exponent ends.
        Exact("LdExp", {1.0, 2.9}, {4.0L}),
        Exact("LdExp", {1.0, -2.9}, {0.25L}),
        Exact("LdExp", {1.0, 1023.0}, {std::ldexp(1.0L, 1023)}),
        Exact("LdExp", {1.0, 1024.0}, {kInf}),
        Exact("LdExp", {1.0, -1074.0}, {kTiny}),
        Exact("LdExp", {1.0, -1075.0}, {0.0L}),
        Exact("LdExp", {1.0, kNaN}, {1.0L}),
        Exact("FrExp", {8.0}, {0.5L, 4.0L}),
        Exact("FrExp", {0.0}, {0.0L, 0.0L}),
        Exact("FrExp", {-1.0}, {-0.5L, 1.0L}),
        Exact("FrExp", {below}, {below, 0.0L}),
        Exact("FrExp", {kTiny}, {0.5L, -1073.0L}),
        Exact("FrExp", {kMax}, {kMax / std::ldexp(1.0L, 1024), 1024.0L}),
        Exact("Hypot", {3.0, 4.0}, {5.0L}),
        Exact("Hypot", {kMax, kMax}, {kInf}),
        Exact("Hypot", {kInf, kNaN}, {kInf}),
        Near("Hypot", {1e300, 1e300}, std::sqrt(2.0L) * static_cast<long double>(1e300)),
        Exact("Hypot", {-0.0, -0.0}, {0.0L}),
        Exact("Sin", {0.0}, {0.0L}),
        Exact("Sin", {-0.0}, {-0.0L}),
        Exact("Sin", {kInf}, {kNaN}),
        Near("Sin", {1.5707963267948966}, std::sin(static_cast<long double>(1.5707963267948966))),
        Near("Sin", {1e22}, -0.8522008497671888017727L),
        Exact("Cos", {0.0}, {1.0L}),
        Exact("Cos", {-kInf}, {kNaN}),
        Near("Cos", {3.141592653589793}, std::cos(static_cast<long double>(3.141592653589793))),
        Near("Cos", {1.5707963267948966}, std::cos(static_cast<long double>(1.5707963267948966))),
        Exact("Tan", {0.0}, {0.0L}),
        Exact("Tan", {-0.0}, {-0.0L}),
        Exact("Tan", {kInf}, {kNaN}),
        Near("Tan", {0.7853981633974483}, std::tan(static_cast<long double>(0.7853981633974483))),
        Near("Tan", {1.5707963267948966}, std::tan(static_cast<long double>(1.5707963267948966))),
        Near("ASin", {1.0}, kPi / 2),
        Exact("ASin", {above}, {kNaN}),
        Near("ASin", {-1.0}, -kPi / 2),
        Exact("ASin", {-above}, {kNaN}),
        Exact("ASin", {-0.0}, {-0.0L}),
        Exact("ACos", {1.0}, {0.0L}),
        Exact("ACos", {above}, {kNaN}),
        Near("ACos", {-1.0}, kPi),
        Exact("ACos", {-above}, {kNaN}),
        Near("ACos", {below}, std::acos(static_cast<long double>(below))),
        Near("ATan", {kInf}, kPi / 2),
        Near("ATan", {-kInf}, -kPi / 2),
        Exact("ATan", {-0.0}, {-0.0L}),
        Near("ATan", {1.0}, kPi / 4),
        // The angle's sides: the negative x axis from above and below, the
        // zeros of either sign.
        Near("ATan2", {0.0, -0.0}, kPi),
        Near("ATan2", {-0.0, -0.0}, -kPi),
        Exact("ATan2", {0.0, 0.0}, {0.0L}),
        Exact("ATan2", {-0.0, 0.0}, {-0.0L}),
        Near("ATan2", {kTiny, -1.0}, kPi),
        Near("ATan2", {-kTiny, -1.0}, -kPi),
        Near("ATan2", {1.0, 0.0}, kPi / 2),
        Near("Rad", {180.0}, kPi),
        Exact("Rad", {-0.0}, {-0.0L}),
        Near("Rad", {360.0}, 2 * kPi),
        Exact("Rad", {kInf}, {kInf}),
        Near("Deg", {3.141592653589793}, 180.0L),
        Exact("Deg", {-0.0}, {-0.0L}),
        Near("Deg", {1.0}, 180.0L / kPi, 2),
        // Rnd: 0 and any n below 1 give 0; a negative n is refused.
        Exact("Rnd", {0.0}, {0.0L}),
        Exact("Rnd", {1.0}, {0.0L}),
        Exact("Rnd", {below}, {0.0L}),
        Fails("Rnd", {-kTiny}, ERR_WRONGUSAGE),
        Fails("Rnd", {-1.0}, ERR_WRONGUSAGE),
        Fails("RndF", {1.0}, ERR_TOOMANYARGS),
        // The 32-bit reading: negative values as signed integers (the least
        // one held), the rest up to 4294967295 (held there).
        Exact("BitComplement", {0.0}, {4294967295.0L}),
        Exact("BitComplement", {4294967295.0}, {0.0L}),
        Exact("BitComplement", {4294967296.0}, {0.0L}),
        Exact("BitComplement", {-1.0}, {0.0L}),
        Exact("BitComplement", {-2147483648.0}, {2147483647.0L}),
        Exact("BitComplement", {-2147483649.0}, {2147483647.0L}),
        Exact("BitComplement", {0.9}, {4294967295.0L}),
        Exact("BitComplement", {-0.9}, {4294967295.0L}),
        Exact("BitXor", {4294967295.0, 0.0}, {4294967295.0L}),
        Exact("BitXor", {-1.0, 1.0}, {4294967294.0L}),
        Exact("BitXor", {2147483648.0, -2147483648.0}, {0.0L}),
        // Bits 0 to 31; -1 and 32 are refused.
        Fails("BitSet", {0.0, -1.0}, ERR_WRONGUSAGE),
        Exact("BitSet", {0.0, 0.0}, {1.0L}),
        Exact("BitSet", {0.0, 31.0}, {2147483648.0L}),
        Fails("BitSet", {0.0, 32.0}, ERR_WRONGUSAGE),
        Fails("BitClear", {4294967295.0, -1.0}, ERR_WRONGUSAGE),
        Exact("BitClear", {4294967295.0, 0.0}, {4294967294.0L}),
        Exact("BitClear", {4294967295.0, 31.0}, {2147483647.0L}),
        Fails("BitClear", {4294967295.0, 32.0}, ERR_WRONGUSAGE),
        Fails("BitTest", {1.0, -1.0}, ERR_WRONGUSAGE),
        Exact("BitTest", {1.0, 0.0}, {1.0L}),
        Exact("BitTest", {2147483648.0, 31.0}, {1.0L}),
        Exact("BitTest", {2147483647.0, 31.0}, {0.0L}),
        Fails("BitTest", {1.0, 32.0}, ERR_WRONGUSAGE),
        // Shift counts modulo 32: 31 shifts, 32 does not, 33 shifts by 1.
        Exact("Shl", {1.0, 31.0}, {2147483648.0L}),
        Exact("Shl", {1.0, 32.0}, {1.0L}),
        Exact("Shl", {1.0, 33.0}, {2.0L}),
        Exact("Shl", {3.0, -1.0}, {2147483648.0L}),
        Exact("Shl", {4294967295.0, 1.0}, {4294967294.0L}),
        Exact("Shr", {-8.0, 1.0}, {2147483644.0L}),
        Exact("Shr", {-1.0, 31.0}, {1.0L}),
        Exact("Shr", {-1.0, 32.0}, {4294967295.0L}),
        Exact("Shr", {2.0, 33.0}, {1.0L}),
        Exact("Sar", {-8.0, 1.0}, {-4.0L}),
        Exact("Sar", {-1.0, 31.0}, {-1.0L}),
        Exact("Sar", {-8.0, 32.0}, {-8.0L}),
        Exact("Sar", {2147483647.0, 31.0}, {0.0L}),
        Exact("Sar", {-2147483648.0, 31.0}, {-1.0L}),
        // Rotations at counts 0, 1, width - 1 and width of each type; the
        // default type is #INTEGER; another type is refused.
        Exact("Rol", {2147483648.0, 1.0}, {1.0L}),
        Exact("Rol", {2147483648.0, 1.0, kInteger}, {1.0L}),
        Exact("Rol", {1.0, 31.0}, {2147483648.0L}),
        Exact("Rol", {5.0, 32.0}, {5.0L}),
        Exact("Rol", {5.0, 0.0}, {5.0L}),
        Exact("Rol", {0x81, 1.0, kByte}, {3.0L}),
        Exact("Rol", {0x81, 7.0, kByte}, {0xC0L}),
        Exact("Rol", {0x81, 8.0, kByte}, {0x81L}),
        Exact("Rol", {0x181, 0.0, kByte}, {0x81L}),
        Exact("Rol", {0x8001, 1.0, kShort}, {3.0L}),
        Exact("Rol", {0x8001, 15.0, kShort}, {0xC000L}),
        Exact("Rol", {0x8001, 16.0, kShort}, {0x8001L}),
        Fails("Rol", {1.0, 1.0, 2.0}, ERR_WRONGUSAGE),
        Exact("Ror", {1.0, 1.0}, {2147483648.0L}),
        Exact("Ror", {1.0, 31.0, kInteger}, {2.0L}),
        Exact("Ror", {5.0, 32.0}, {5.0L}),
        Exact("Ror", {1.0, 1.0, kShort}, {0x8000L}),
        Exact("Ror", {1.0, 15.0, kShort}, {2.0L}),
        Exact("Ror", {0x8001, 16.0, kShort}, {0x8001L}),
        Exact("Ror", {1.0, 1.0, kByte}, {0x80L}),
        Exact("Ror", {1.0, 8.0, kByte}, {1.0L}),
        Fails("Ror", {1.0, 1.0, 0.0}, ERR_WRONGUSAGE),
        // Cast at each width's signed edges.
        Exact("Cast", {127.0, 1.0, kByte}, {127.0L}),
        Exact("Cast", {128.0, 1.0, kByte}, {-128.0L}),
        Exact("Cast", {255.0, 1.0, kByte}, {-1.0L}),
        Exact("Cast", {256.0, 0.0, kByte}, {0.0L}),
        Exact("Cast", {255.0, 0.0, kByte}, {255.0L}),
        Exact("Cast", {32767.0, 1.0, kShort}, {32767.0L}),
        Exact("Cast", {32768.0, 1.0, kShort}, {-32768.0L}),
        Exact("Cast", {65535.0, 0.0, kShort}, {65535.0L}),
        Exact("Cast", {65536.0, 0.0, kShort}, {0.0L}),
        Exact("Cast", {2147483647.0, 1.0, kInteger}, {2147483647.0L}),
        Exact("Cast", {2147483648.0, 1.0, kInteger}, {-2147483648.0L}),
        Exact("Cast", {-1.0, 0.0, kInteger}, {4294967295.0L}),
        Exact("Cast", {255.0, 0.5, kByte}, {-1.0L}),
        Fails("Cast", {1.0, 0.0, 2.0}, ERR_WRONGUSAGE),
        Exact("EndianSwap", {0x1234, 16.0}, {0x3412L}),
        Exact("EndianSwap", {0x12345678, 16.0}, {0x7856L}),
        Exact("EndianSwap", {0x12345678, 32.0}, {0x78563412L}),
        Exact("EndianSwap", {4294967295.0, 32.0}, {4294967295.0L}),
        Fails("EndianSwap", {1.0, 15.0}, ERR_WRONGUSAGE),
        Fails("EndianSwap", {1.0, 17.0}, ERR_WRONGUSAGE),
        Fails("EndianSwap", {1.0, 31.0}, ERR_WRONGUSAGE),
        Fails("EndianSwap", {1.0, 33.0}, ERR_WRONGUSAGE),
    };
}

// The distance of got from the exact want, in units of the last place of
// the double nearest want.
long double UlpsOff(double got, long double want) {
    const double near = static_cast<double>(want);
    const long double ulp = std::nextafter(std::fabs(near), kInf) - std::fabs(near);
    return std::fabs(static_cast<long double>(got) - want) / ulp;
}

TEST_F(MathBoundsTest, EveryCommandAtBothSidesOfItsBoundaries) {
    std::map<std::string, int> perCommand;
    for (const Case& c : Cases()) {
        std::vector<libstest::CallArg> args(c.args.begin(), c.args.end());
        std::string call = c.command + "(";
        for (size_t i = 0; i < c.args.size(); ++i) call += (i ? ", " : "") + testing::PrintToString(c.args[i]);
        SCOPED_TRACE(call + ")");
        ++perCommand[c.command];
        const int err = Raw(c.command.c_str(), args);
        if (c.error) {
            EXPECT_EQ(err, c.error);
            continue;
        }
        ASSERT_EQ(err, 0);
        ASSERT_EQ(VmGetTop(L), static_cast<int>(c.want.size()));
        for (size_t i = 0; i < c.want.size(); ++i) {
            const double got = VmToNumber(L, static_cast<int>(i) + 1);
            const long double want = c.want[i];
            if (std::isnan(want)) {
                EXPECT_TRUE(std::isnan(got)) << "result " << i + 1 << " is " << got;
            } else if (c.ulps == 0 || std::isinf(want) || want == 0) {
                EXPECT_EQ(static_cast<long double>(got), want) << "result " << i + 1;
                if (want == 0) {
                    EXPECT_EQ(std::signbit(got), std::signbit(want)) << "the sign of zero, result " << i + 1;
                }
            } else {
                EXPECT_LE(UlpsOff(got, want), c.ulps) << "result " << i + 1 << " is " << got;
            }
        }
    }
    // Every command the library registers has its boundaries, on both
    // sides: at least two cases each.
    for (const CommandTableNode& node : RegisteredCommandTables()) {
        if (std::string(node.name) != "math") continue;
        for (const ScriptCommand* row = node.table; row && row->name; ++row)
            EXPECT_GE(perCommand[row->name], std::string(row->name) == "RndF" ? 1 : 2)
                << row->name << " has no boundaries";
    }
    EXPECT_GE(perCommand.size(), 49u);
}

// RndF's only boundary is its range: from 0 up to, not including, 1; Rnd's
// results are the integers 0 to n - 1, every one of them met.
TEST_F(MathBoundsTest, RandomResultsStayInsideTheirRanges) {
    std::set<double> seen;
    for (int i = 0; i < 4000; ++i) {
        const double f = Num("RndF", {});
        ASSERT_GE(f, 0.0);
        ASSERT_LT(f, 1.0);
        const double n = Num("Rnd", {7.0});
        ASSERT_EQ(n, std::trunc(n));
        ASSERT_GE(n, 0.0);
        ASSERT_LE(n, 6.0);
        seen.insert(n);
    }
    EXPECT_EQ(seen.size(), 7u);
}

}  // namespace
