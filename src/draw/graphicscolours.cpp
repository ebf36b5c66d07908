// The graphics library's colour commands: components, mixing, the colour the
// screen really shows, random colours, pens, and rectangle overlaps.
#include <cmath>
#include <random>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "display/adapter.h"
#include "display/display.h"
#include "display/displaywindow.h"
#include "display/output.h"
#include "draw/colours.h"
#include "draw/graphicslib.h"
#include "imaging/geometry.h"
#include "platform/platform_ops.h"

namespace {

constexpr int kPenCount = 256;
constexpr int kNativeAttrDepth = 5;

// Colours are $AARRGGBB: a negative number keeps its 32 bits, others clamp.
uint32_t ColourArg(ScriptState* L, int idx) {
    const double v = VmCheckNumber(L, idx);
    if (std::isnan(v)) return 0;
    if (v < 0) return static_cast<uint32_t>(ClampToInt32(v));
    return v >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}

int PushUnsigned(ScriptState* L, uint32_t value) {
    VmPushNumber(L, static_cast<double>(value));
    return 1;
}

int Component(ScriptState* L, int shift) {
    CheckArgCount(L, 1, 1, 0, 0);
    return PushUnsigned(L, (ColourArg(L, 1) >> shift) & 0xFF);
}

int ScreenDepth() {
    if (HasDisplayAdapter()) return GetPixelFormatBits(DisplayAdapter().pixelFormat);
    qbDisplay* d = GetCurrentDisplay();
    if (!d || d->state == DISPSTATE_CLOSED) return 32;
    return static_cast<int>(GetNativeDisplayAttr(d, kNativeAttrDepth));
}

std::minstd_rand& RandomEngine() {
    static std::minstd_rand engine{std::random_device{}()};
    return engine;
}

}  // namespace

int cmdRed(ScriptState* L) { return Component(L, 16); }
int cmdGreen(ScriptState* L) { return Component(L, 8); }
int cmdBlue(ScriptState* L) { return Component(L, 0); }

int cmdRGB(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    const auto r = static_cast<uint32_t>(ClampToInt32(VmCheckNumber(L, 1)));
    const auto g = static_cast<uint32_t>(ClampToInt32(VmCheckNumber(L, 2)));
    const auto b = static_cast<uint32_t>(ClampToInt32(VmCheckNumber(L, 3)));
    return PushUnsigned(L, (r << 16) | (g << 8) | b);
}

int cmdARGB(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const auto alpha = static_cast<uint32_t>(ClampToInt32(VmCheckNumber(L, 1)));
    return PushUnsigned(L, (alpha << 24) | ColourArg(L, 2));
}

int cmdMixRGB(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    const uint32_t a = ColourArg(L, 1);
    const uint32_t b = ColourArg(L, 2);
    int percent = 0;
    const double ratio = GetNumberOrPercentArg(L, 3, 255, 1, &percent);
    // 256 would reach b exactly but is not a byte; NaN fails both tests.
    if (!(ratio >= 0 && ratio <= 255)) return ERR_WRONGUSAGE;
    return PushUnsigned(L, MixColors(a, b, static_cast<int32_t>(ratio)));
}

int cmdGetRealColor(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const uint32_t c = ColourArg(L, 1);
    switch (ScreenDepth()) {
    case 15: return PushUnsigned(L, c & 0xFFF8F8F8u);
    case 16: return PushUnsigned(L, c & 0xFFF8FCF8u);
    default: return PushUnsigned(L, c);
    }
}

int cmdGetRandomColor(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int index = static_cast<int>(unit(RandomEngine()) * kRandomColourCount);
    return PushUnsigned(L, RandomTableColour(index < kRandomColourCount ? index : kRandomColourCount - 1));
}

int cmdGetPen(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const int32_t pen = ClampToInt32(VmCheckNumber(L, 1));
    const qbOutputView out = GetCurrentOutput();
    if (!out.pens) return PushUnsigned(L, 0xFFFFFFFFu);
    return PushUnsigned(L, out.pens[pen < 0 ? 0 : pen >= kPenCount ? kPenCount - 1 : pen]);
}

int cmdIntersection(ScriptState* L) {
    CheckArgCount(L, 8, 8, 0, 0);
    int32_t v[8];
    for (int i = 0; i < 8; ++i) v[i] = ClampToInt32(VmCheckNumber(L, i + 1));
    const qbRect r = IntersectRects({v[0], v[1], v[2], v[3]}, {v[4], v[5], v[6], v[7]});
    VmPushNumber(L, r.x);
    VmPushNumber(L, r.y);
    VmPushNumber(L, r.width);
    VmPushNumber(L, r.height);
    return 4;
}
