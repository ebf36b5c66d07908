// The filters and colour operations on brushes. Each handler reads and
// checks its numbers, takes the brush as about to change (never the current
// output, never a vector or hardware brush) and hands the brush's images to
// one image kernel; the brush's size never changes.
#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "core/pixelformats.h"
#include "display/gradientopts.h"
#include "imaging/bitmap.h"
#include "imaging/bitmapfilters.h"
#include "imaging/floodfill.h"
#include "imaging/kernels.h"
#include "imaging/mixbitmaps.h"
#include "imaging/planekernels.h"
#include "objects/brushes.h"
#include "objects/brushgeometry.h"
#include "objects/brushlib.h"
#include "objects/brushpixelcmds.h"
#include "vm/vm.h"

namespace {

// Convolution codes of ConvolveBitmap.
constexpr int32_t kBlur = 98, kSharpen = 115, kEmboss = 101, kEdge = 103;

bool Given(ScriptState* L, int idx) { return VmGetTop(L) >= idx && VmType(L, idx) != kTypeNil; }

int NumberArg(ScriptState* L, int idx, double* out) {
    const double v = VmCheckNumber(L, idx);
    if (!std::isfinite(v)) return ERR_WRONGUSAGE;
    *out = v;
    return 0;
}

int OptNumberArg(ScriptState* L, int idx, double fallback, double* out) {
    *out = fallback;
    return Given(L, idx) ? NumberArg(L, idx, out) : 0;
}

int OptIntArg(ScriptState* L, int idx, int32_t fallback, int32_t* out) {
    *out = fallback;
    return Given(L, idx) ? BrushIntArg(L, idx, out) : 0;
}

// A number or a percentage of 255, truncated.
int LevelArg(ScriptState* L, int idx, int32_t* out) {
    int percent = 0;
    const double v = GetNumberOrPercentArg(L, idx, 255, 1, &percent);
    if (std::isnan(v)) return ERR_WRONGUSAGE;
    *out = ClampToInt32(v);
    return 0;
}

int Target(ScriptState* L, qbBrush** out) { return GetBrushToReshape(L, 1, kBrushNoVector, out); }

// The radius-only convolutions: id[, radius (0)].
int Convolve(ScriptState* L, int32_t code, double sigma) {
    CheckArgCount(L, 1, 2, 0, 0);
    double radius = 0;
    if (int err = OptNumberArg(L, 2, 0, &radius)) return err;
    if (radius < 0) return ERR_WRONGUSAGE;
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    return ConvolveBitmap(code, b->bitmap, b->alpha, b->width, b->height, radius, sigma);
}

// id, radius with radius >= 0.
int RadiusArg(ScriptState* L, double* radius) {
    CheckArgCount(L, 2, 2, 0, 0);
    if (int err = NumberArg(L, 2, radius)) return err;
    return *radius < 0 ? ERR_WRONGUSAGE : 0;
}

// id, threshold (a level): the sepia and solarize operations.
template <class Op>
int ThresholdCommand(ScriptState* L, Op op) {
    CheckArgCount(L, 2, 2, 0, 0);
    int32_t threshold = 0;
    if (int err = LevelArg(L, 2, &threshold)) return err;
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    return op(b->bitmap, b->width, b->height, threshold);
}

// The replace-colours kernel writes whole pixels; the bits outside the
// colour (the alpha byte) that each pixel had are put back afterwards.
// False when the copy of those bits cannot be made.
bool ReplaceKeepingAlpha(const qbBitmapLock& lock, int32_t width, int32_t height, const ColourPair* pairs) {
    const uint32_t colourBits = ColourBitsMask32(lock.pixelFormat);
    auto* pixels = static_cast<uint32_t*>(lock.pixels);
    auto at = [&](int32_t x, int32_t y) -> uint32_t& { return pixels[static_cast<ptrdiff_t>(y) * lock.rowLength + x]; };
    std::vector<uint32_t> kept;
    try {
        kept.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) kept[static_cast<size_t>(y) * width + x] = at(x, y) & ~colourBits;
    ReplaceColours32({pixels, lock.rowLength, 0, 0}, width, height, pairs, colourBits);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            at(x, y) = (at(x, y) & colourBits) | kept[static_cast<size_t>(y) * width + x];
    return true;
}

}  // namespace

int cmdBlurBrush(ScriptState* L) {
    CheckArgCount(L, 1, 3, 0, 0);
    double radius = 0, sigma = 0;
    if (int err = OptNumberArg(L, 2, 0, &radius)) return err;
    if (int err = OptNumberArg(L, 3, radius / 3, &sigma)) return err;
    if (radius < 0) return ERR_WRONGUSAGE;
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    return ConvolveBitmap(kBlur, b->bitmap, b->alpha, b->width, b->height, radius, sigma);
}

int cmdSharpenBrush(ScriptState* L) { return Convolve(L, kSharpen, 1.0); }
int cmdEmbossBrush(ScriptState* L) { return Convolve(L, kEmboss, 1.0); }
int cmdEdgeBrush(ScriptState* L) { return Convolve(L, kEdge, 0.0); }

int cmdCharcoalBrush(ScriptState* L) {
    double radius = 0;
    if (int err = RadiusArg(L, &radius)) return err;
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    return CharcoalBitmap(b->bitmap, b->alpha, b->width, b->height, radius, 1.0);
}

int cmdOilPaintBrush(ScriptState* L) {
    double radius = 0;
    if (int err = RadiusArg(L, &radius)) return err;
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    return OilPaintBitmap(b->bitmap, b->width, b->height, radius);
}

int cmdSwirlBrush(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    int32_t degrees = 0;
    if (int err = BrushIntArg(L, 2, &degrees)) return err;
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    return SwirlBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, degrees);
}

int cmdWaterRippleBrush(ScriptState* L) {
    CheckArgCount(L, 1, 6, 0, 0);
    int32_t waveLength = 0, amplitude = 0, phase = 0;
    double centreX = 0, centreY = 0;
    if (int err = OptIntArg(L, 2, 32, &waveLength)) return err;
    if (int err = OptIntArg(L, 3, 1, &amplitude)) return err;
    if (int err = OptIntArg(L, 4, 0, &phase)) return err;
    if (int err = OptNumberArg(L, 5, 0.5, &centreX)) return err;
    if (int err = OptNumberArg(L, 6, 0.5, &centreY)) return err;
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    return WaterRippleBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, waveLength, amplitude, phase,
                             centreX, centreY);
}

int cmdPixelateBrush(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    int32_t size = 0;
    if (int err = BrushIntArg(L, 2, &size)) return err;
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    if (size < 1 || size > std::min(b->width, b->height)) return ERR_WRONGUSAGE;
    return PixelateBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, size);
}

int cmdTintBrush(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    const auto colour = static_cast<uint32_t>(ColourBits(VmCheckNumber(L, 2)));
    int32_t level = 0;
    if (int err = LevelArg(L, 3, &level)) return err;
    level = std::clamp(level, 0, 255);
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    return TintBitmap(b->bitmap, 0, 0, b->width, b->height, colour, level);
}

int cmdBrushToGray(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    return GrayscaleBitmap(b->bitmap, b->width, b->height, false);
}

int cmdBrushToMonochrome(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    int32_t dither = 1;
    if (int err = OptIntArg(L, 2, 1, &dither)) return err;
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    return MonochromeBitmap(b->bitmap, b->width, b->height, dither != 0);
}

int cmdSepiaToneBrush(ScriptState* L) { return ThresholdCommand(L, SepiaToneBitmap); }
int cmdSolarizeBrush(ScriptState* L) { return ThresholdCommand(L, SolarizeBitmap); }

int cmdGammaBrush(ScriptState* L) {
    CheckArgCount(L, 4, 4, 0, 0);
    double red = 0, green = 0, blue = 0;
    if (int err = NumberArg(L, 2, &red)) return err;
    if (int err = NumberArg(L, 3, &green)) return err;
    if (int err = NumberArg(L, 4, &blue)) return err;
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    return GammaBitmap(b->bitmap, b->width, b->height, red, green, blue);
}

int cmdContrastBrush(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    int32_t raise = 0, steps = 1;
    if (int err = BrushIntArg(L, 2, &raise)) return err;
    if (int err = OptIntArg(L, 3, 1, &steps)) return err;
    if (steps <= 0) return ERR_WRONGUSAGE;
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    return ContrastBitmap(b->bitmap, b->width, b->height, raise != 0, steps);
}

int cmdModulateBrush(ScriptState* L) {
    CheckArgCount(L, 4, 4, 0, 0);
    double brightness = 0, saturation = 0, hue = 0;
    if (int err = NumberArg(L, 2, &brightness)) return err;
    if (int err = NumberArg(L, 3, &saturation)) return err;
    if (int err = NumberArg(L, 4, &hue)) return err;
    if (brightness < 0 || saturation < 0 || hue < 0) return ERR_WRONGUSAGE;
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    return ModulateBitmap(b->bitmap, b->width, b->height, brightness, saturation, hue);
}

int cmdInvertBrush(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    return InvertBitmap(b->bitmap, b->width, b->height);
}

int cmdFlipBrush(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    int32_t direction = 0;
    if (int err = BrushIntArg(L, 2, &direction)) return err;
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    return FlipBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, direction);
}

int cmdQuantizeBrush(ScriptState* L) {
    CheckArgCount(L, 1, 3, 0, 0);
    int32_t colours = 256, dither = 1;
    if (int err = OptIntArg(L, 2, 256, &colours)) return err;
    if (int err = OptIntArg(L, 3, 1, &dither)) return err;
    if (colours < 1 || colours > 256) return ERR_WRONGUSAGE;
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    return QuantizeBitmap(b->bitmap, b->width, b->height, colours, dither != 0);
}

int cmdReduceAlphaChannel(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    int32_t level = 0;
    if (int err = LevelArg(L, 2, &level)) return err;
    if (level < 0 || level > 255) return ERR_WRONGUSAGE;
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    if (!b->alpha || !b->alpha->plane) return ERR_WRONGUSAGE;
    qbBitmapPlane& plane = *b->alpha->plane;
    const AlphaRows rows{plane.data, static_cast<int32_t>(plane.rowBytes), 0, 0};
    MultiplyAlpha(rows, rows, b->width, b->height, static_cast<uint32_t>(level));
    return 0;
}

int cmdMixBrush(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    int32_t ratio = 0;
    if (int err = LevelArg(L, 3, &ratio)) return err;
    ratio = std::clamp(ratio, 0, 255);
    qbBrush* dest = nullptr;
    if (int err = Target(L, &dest)) return err;
    qbBrush* source = nullptr;
    if (int err = GetBrushRecord(L, GetObjectIDArg(L, 2), &source, 0)) return err;
    const int32_t width = std::min(dest->width, source->width);
    const int32_t height = std::min(dest->height, source->height);
    return MixBitmaps(dest->bitmap, source->bitmap, source->mask, 0, 0, 0, 0, width, height, ratio, source->alpha,
                      source->width, source->height);
}

int cmdReplaceColors(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    VmCheckTable(L, 2);
    // Pairs up to the first old colour of -1; a table that starts with it
    // changes nothing, so the brush is not even looked up.
    std::vector<ColourPair> pairs;
    for (int i = 0;; i += 2) {
        double values[2] = {0, 0};
        for (int k = 0; k < 2; ++k) {
            VmRawGetIndex(L, 2, i + k);
            const bool number = VmType(L, -1) == kTypeNumber;
            values[k] = VmToNumber(L, -1);
            VmSetTop(L, -2);
            if (!number) {
                SetErrorDetail("colortable");
                return ERR_NUMTABLEARG;
            }
            if (k == 0 && ColourBits(values[0]) == -1) break;
        }
        if (ColourBits(values[0]) == -1) break;
        pairs.push_back({static_cast<uint32_t>(ColourBits(values[0])) & 0xFFFFFFu,
                         static_cast<uint32_t>(ColourBits(values[1])) & 0xFFFFFFu});
    }
    if (pairs.empty()) return 0;
    qbBrush* b = nullptr;
    if (int err = Target(L, &b)) return err;
    qbBitmapLock lock;
    if (LockBitmap(b->bitmap, 0, &lock) == 0) return ERR_LOCKBMAP;
    const int format = static_cast<int>(lock.pixelFormat);
    for (ColourPair& p : pairs) {
        if (lock.bytesPerPixel == 4) {
            p.from = ARGBToPixel32(format, static_cast<uint32_t>(p.from));
            p.to = ARGBToPixel32(format, p.to);
        } else {
            const auto narrow = [format](uint32_t c) {
                return RGB565ToPixel16(format, static_cast<uint16_t>(((c >> 8) & 0xF800u) | ((c >> 5) & 0x7E0u) |
                                                                     ((c >> 3) & 0x1Fu)));
            };
            p.from = narrow(static_cast<uint32_t>(p.from));
            p.to = narrow(p.to);
        }
    }
    pairs.push_back(ColourPair{});
    if (lock.bytesPerPixel == 4) {
        if (!ReplaceKeepingAlpha(lock, b->width, b->height, pairs.data())) {
            UnlockBitmap(&lock);
            return ERR_MEM;
        }
    } else if (lock.bytesPerPixel == 2) {
        ReplaceColours16({static_cast<uint16_t*>(lock.pixels), lock.rowLength, 0, 0}, b->width, b->height,
                         pairs.data());
    }
    UnlockBitmap(&lock);
    return 0;
}
