// The math library's commands. Integer arguments go through the VM's
// saturating 32-bit reading, so no NaN or huge double reaches a plain cast.
#include "libs/mathlib.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "core/settings.h"

namespace {

constexpr double kRadPerDegree = 0.017453292519943295;

int Push(ScriptState* L, double value) {
    VmPushNumber(L, value);
    return 1;
}

double Arg(ScriptState* L, int idx) { return VmCheckNumber(L, idx); }
int32_t SignedArg(ScriptState* L, int idx) { return static_cast<int32_t>(VmCheckInt(L, idx)); }

// Commands of one number argument and one result.
template <double (*Fn)(double)>
int Unary(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return Push(L, Fn(Arg(L, 1)));
}

template <double (*Fn)(double, double)>
int Binary(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    return Push(L, Fn(Arg(L, 1), Arg(L, 2)));
}

double AddFn(double a, double b) { return a + b; }
double SubFn(double a, double b) { return a - b; }
double MulFn(double a, double b) { return a * b; }
double AbsFn(double x) { return std::fabs(x); }
double FloorFn(double x) { return std::floor(x); }
double CeilFn(double x) { return std::ceil(x); }
double RoundFn(double x) { return std::nearbyint(x); }
double FracFn(double x) {
    double whole = 0;
    return std::modf(x, &whole);
}
double IntFn(double x) { return ClampToInt32(x); }
double SgnFn(double x) { return x > 0 ? 1 : x < 0 ? -1 : 0; }
double SqrtFn(double x) { return std::sqrt(x); }
double PowFn(double x, double y) { return std::pow(x, y); }
double ExpFn(double x) { return std::exp(x); }
double LnFn(double x) { return std::log(x); }
double LdFn(double x) { return std::log10(x) / std::log10(2.0); }
double LogFn(double x, double base) { return std::log10(x) / std::log10(base); }
double HypotFn(double x, double y) { return std::hypot(x, y); }
double SinFn(double x) { return std::sin(x); }
double CosFn(double x) { return std::cos(x); }
double TanFn(double x) { return std::tan(x); }
double ASinFn(double x) { return std::asin(x); }
double ACosFn(double x) { return std::acos(x); }
double ATanFn(double x) { return std::atan(x); }
double ATan2Fn(double y, double x) { return std::atan2(y, x); }
double RadFn(double x) { return x * kRadPerDegree; }
double DegFn(double x) { return x / kRadPerDegree; }

int cmdDiv(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const double a = Arg(L, 1), b = Arg(L, 2);
    if (b == 0) return ERR_ZERODIVISION;
    return Push(L, a / b);
}

int cmdMod(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const double a = Arg(L, 1), b = Arg(L, 2);
    if (b == 0) return ERR_ZERODIVISION;
    return Push(L, std::fmod(a, b));
}

int cmdRt(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const double x = Arg(L, 1), n = Arg(L, 2);
    if (n == 0) return ERR_ZERODIVISION;
    if (n < 0) return ERR_WRONGUSAGE;
    return Push(L, std::pow(x, 1.0 / n));
}

// Min and Max keep the first extreme they meet.
template <bool kMax>
int Extreme(ScriptState* L) {
    CheckArgCount(L, 2, -1, 0, 0);
    double best = Arg(L, 1);
    const int n = VmGetTop(L);
    for (int i = 2; i <= n; ++i) {
        const double v = Arg(L, i);
        if (kMax ? v > best : v < best) best = v;
    }
    return Push(L, best);
}

int cmdLimit(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    const double x = Arg(L, 1), low = Arg(L, 2), high = Arg(L, 3);
    if (x < low) return Push(L, low);
    return Push(L, x < high ? x : high);
}

int cmdWrap(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    const double x = Arg(L, 1), low = Arg(L, 2), high = Arg(L, 3);
    if (x < low) return Push(L, x - low + high);
    if (x >= high) return Push(L, x - high + low);
    return Push(L, x);
}

int cmdLdExp(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const double x = Arg(L, 1);
    return Push(L, std::ldexp(x, ClampToInt32(Arg(L, 2))));
}

int cmdFrExp(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    int e = 0;
    const double m = std::frexp(Arg(L, 1), &e);
    VmPushNumber(L, m);
    VmPushNumber(L, e);
    return 2;
}

int cmdRnd(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const double n = Arg(L, 1);
    if (n < 0) return ERR_WRONGUSAGE;
    return Push(L, std::trunc(n * drand48()));
}

int cmdRndF(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    return Push(L, drand48());
}

int cmdBitComplement(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return Push(L, static_cast<uint32_t>(~VmCheckInt(L, 1)));
}

int cmdBitXor(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    return Push(L, VmCheckInt(L, 1) ^ VmCheckInt(L, 2));
}

// The bit number of BitSet, BitClear and BitTest: 0 to 31, or -1.
int BitArg(ScriptState* L, int idx) {
    const int32_t bit = SignedArg(L, idx);
    return bit >= 0 && bit <= 31 ? bit : -1;
}

int cmdBitSet(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const uint32_t x = VmCheckInt(L, 1);
    const int bit = BitArg(L, 2);
    if (bit < 0) return ERR_WRONGUSAGE;
    return Push(L, x | (1u << bit));
}

int cmdBitClear(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const uint32_t x = VmCheckInt(L, 1);
    const int bit = BitArg(L, 2);
    if (bit < 0) return ERR_WRONGUSAGE;
    return Push(L, x & ~(1u << bit));
}

int cmdBitTest(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const uint32_t x = VmCheckInt(L, 1);
    const int bit = BitArg(L, 2);
    if (bit < 0) return ERR_WRONGUSAGE;
    return Push(L, (x >> bit) & 1u);
}

int cmdShl(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const uint32_t x = VmCheckInt(L, 1);
    return Push(L, static_cast<uint32_t>(x << (VmCheckInt(L, 2) & 31u)));
}

int cmdShr(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const uint32_t x = VmCheckInt(L, 1);
    return Push(L, x >> (VmCheckInt(L, 2) & 31u));
}

int cmdSar(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const int32_t x = SignedArg(L, 1);
    // C++20 defines >> on negative values as the arithmetic shift.
    return Push(L, x >> (VmCheckInt(L, 2) & 31u));
}

// The width in bits of a type constant, or 0 for another type.
int WidthOfType(int32_t type) {
    switch (type) {
    case kMathTypeInteger: return 32;
    case kMathTypeShort: return 16;
    case kMathTypeByte: return 8;
    default: return 0;
    }
}

template <bool kLeft>
int Rotate(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    const uint32_t x = VmCheckInt(L, 1);
    const uint32_t n = VmCheckInt(L, 2) % 256u;
    const int width = WidthOfType(static_cast<int32_t>(VmOptInt(L, 3, kMathTypeInteger)));
    if (!width) return ERR_WRONGUSAGE;
    return Push(L, kLeft ? RotateLeft(x, n, width) : RotateRight(x, n, width));
}

int cmdCast(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    const uint32_t x = VmCheckInt(L, 1);
    const bool isSigned = GetFlagArg(L, 2, false);
    switch (static_cast<int32_t>(VmCheckInt(L, 3))) {
    case kMathTypeInteger: return Push(L, isSigned ? static_cast<double>(static_cast<int32_t>(x)) : x);
    case kMathTypeShort:
        return Push(L, isSigned ? static_cast<double>(static_cast<int16_t>(x & 0xFFFFu)) : (x & 0xFFFFu));
    case kMathTypeByte: return Push(L, isSigned ? static_cast<double>(static_cast<int8_t>(x & 0xFFu)) : (x & 0xFFu));
    default: return ERR_WRONGUSAGE;
    }
}

int cmdEndianSwap(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const uint32_t x = VmCheckInt(L, 1);
    switch (static_cast<int32_t>(VmCheckInt(L, 2))) {
    case 16: return Push(L, ((x & 0xFFu) << 8) | ((x >> 8) & 0xFFu));
    case 32: return Push(L, __builtin_bswap32(x));
    default: return ERR_WRONGUSAGE;
    }
}

const ScriptCommand kMathCommands[] = {
    {"Abs", Unary<AbsFn>},
    {"Add", Binary<AddFn>},
    {"Sub", Binary<SubFn>},
    {"Mul", Binary<MulFn>},
    {"Div", cmdDiv},
    {"Mod", cmdMod},
    {"Sgn", Unary<SgnFn>},
    {"Int", Unary<IntFn>},
    {"Floor", Unary<FloorFn>},
    {"Ceil", Unary<CeilFn>},
    {"Round", Unary<RoundFn>},
    {"Frac", Unary<FracFn>},
    {"Min", Extreme<false>},
    {"Max", Extreme<true>},
    {"Limit", cmdLimit},
    {"Wrap", cmdWrap},
    {"Sqrt", Unary<SqrtFn>},
    {"Pow", Binary<PowFn>},
    {"Rt", cmdRt},
    {"Exp", Unary<ExpFn>},
    {"Ln", Unary<LnFn>},
    {"Ld", Unary<LdFn>},
    {"Log", Binary<LogFn>},
    {"LdExp", cmdLdExp},
    {"FrExp", cmdFrExp},
    {"Hypot", Binary<HypotFn>},
    {"Sin", Unary<SinFn>},
    {"Cos", Unary<CosFn>},
    {"Tan", Unary<TanFn>},
    {"ASin", Unary<ASinFn>},
    {"ACos", Unary<ACosFn>},
    {"ATan", Unary<ATanFn>},
    {"ATan2", Binary<ATan2Fn>},
    {"Rad", Unary<RadFn>},
    {"Deg", Unary<DegFn>},
    {"Rnd", cmdRnd},
    {"RndF", cmdRndF},
    {"BitComplement", cmdBitComplement},
    {"BitXor", cmdBitXor},
    {"BitSet", cmdBitSet},
    {"BitClear", cmdBitClear},
    {"BitTest", cmdBitTest},
    {"Shl", cmdShl},
    {"Shr", cmdShr},
    {"Sar", cmdSar},
    {"Rol", Rotate<true>},
    {"Ror", Rotate<false>},
    {"Cast", cmdCast},
    {"EndianSwap", cmdEndianSwap},
    {nullptr, nullptr},
};
static_assert(sizeof kMathCommands / sizeof kMathCommands[0] == 50);

const ScriptConstant kMathConstants[] = {
    {"PI", nullptr, 3.141592653589793},
    {nullptr, nullptr, 0},
};

uint32_t MaskOf(int width) { return width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1u; }

}  // namespace

uint32_t RotateLeft(uint32_t value, uint32_t count, int width) {
    const uint32_t w = value & MaskOf(width);
    const uint32_t n = count % static_cast<uint32_t>(width);
    if (n == 0) return w;
    return ((w << n) | (w >> (width - n))) & MaskOf(width);
}

uint32_t RotateRight(uint32_t value, uint32_t count, int width) {
    const uint32_t n = count % static_cast<uint32_t>(width);
    return RotateLeft(value, n == 0 ? 0 : static_cast<uint32_t>(width) - n, width);
}

int InitMathLibrary(ScriptState* L) {
    // Registration raises on failure; its result only counts the tables made.
    VmRegisterCommands(L, nullptr, kMathCommands, 0);
    VmRegisterConstants(L, kMathConstants, 0);
    const auto now = std::time(nullptr);
    std::srand(static_cast<unsigned>(now));
    srand48(static_cast<long>(now));
    return RegisterCommandTable(kMathCommands, "math", kMathConstants);
}
