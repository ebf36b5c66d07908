// Which image kernel each filter slot runs, with which arguments, and in
// which order the slots run.
#include <algorithm>

#include "core/errcodes.h"
#include "imaging/bitmapfilters.h"
#include "imaging/convolve.h"
#include "objects/layerfilters.h"

namespace {

bool IsGeometric(int slot) {
    return slot == kFilterPixelate || slot == kFilterSwirl || slot == kFilterWaterRipple || slot == kFilterXFlip ||
           slot == kFilterYFlip;
}

}  // namespace

int RunLayerFilter(int slot, const qbFilterSlot& a, qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t width,
                   int32_t height) {
    const double f0 = a.floats[0], f1 = a.floats[1], f2 = a.floats[2];
    const int32_t i0 = a.ints[0], i1 = a.ints[1];
    switch (slot) {
    case kFilterBlur: return ConvolveBitmap(kConvolveBlur, bitmap, alpha, width, height, f0, f0 / 3);
    case kFilterCharcoal: return CharcoalBitmap(bitmap, alpha, width, height, f0, 1.0);
    case kFilterContrast: return ContrastBitmap(bitmap, width, height, i0 != 0, i1);
    case kFilterEdge: return ConvolveBitmap(kConvolveEdge, bitmap, alpha, width, height, f0, 0);
    case kFilterEmboss: return ConvolveBitmap(kConvolveEmboss, bitmap, alpha, width, height, f0, 1.0);
    case kFilterGamma: return GammaBitmap(bitmap, width, height, f0, f1, f2);
    case kFilterGrayscale: return GrayscaleBitmap(bitmap, width, height, false);
    case kFilterInvert: return InvertBitmap(bitmap, width, height);
    // The filter's arguments are percentages (100 keeps a component), the
    // operation's factors (1.0 keeps it).
    case kFilterModulate: return ModulateBitmap(bitmap, width, height, f0 / 100, f1 / 100, f2 / 100);
    case kFilterMonochrome: return MonochromeBitmap(bitmap, width, height, i0 != 0);
    case kFilterOilPaint: return OilPaintBitmap(bitmap, width, height, f0);
    case kFilterPixelate: return PixelateBitmap(bitmap, mask, alpha, width, height, i0);
    case kFilterSepiaTone: return SepiaToneBitmap(bitmap, width, height, i0);
    case kFilterSharpen: return ConvolveBitmap(kConvolveSharpen, bitmap, alpha, width, height, f0, 1.0);
    case kFilterSolarize: return SolarizeBitmap(bitmap, width, height, i0);
    // Levels outside 0..255 would blend with a weight out of range.
    case kFilterTint: return TintBitmap(bitmap, 0, 0, width, height, static_cast<uint32_t>(i0) & 0xFFFFFFu,
                                        std::clamp(i1, 0, 255));
    case kFilterXFlip: return FlipBitmap(bitmap, mask, alpha, width, height, 1);
    case kFilterYFlip: return FlipBitmap(bitmap, mask, alpha, width, height, 0);
    case kFilterSwirl: return SwirlBitmap(bitmap, mask, alpha, width, height, i0);
    case kFilterWaterRipple:
        return WaterRippleBitmap(bitmap, mask, alpha, width, height, i0, i1, a.ints[2], f0, f1);
    // A script may ask for any count; a palette holds 256.
    case kFilterQuantize: return QuantizeBitmap(bitmap, width, height, std::clamp(i0, 1, 256), i1 != 0);
    default: return ERR_WRONGUSAGE;
    }
}

void ApplyLayerFilters(const qbFilterSet& filters, qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t width,
                       int32_t height, bool geometricOnly) {
    bool applied[kFilterSlots] = {};
    for (int p = 255; p >= 0; --p)
        for (int i = 0; i < kFilterSlots; ++i) {
            const qbFilterSlot& s = filters.slot[i];
            if (!s.enabled || applied[i] || s.priority < p || (geometricOnly && !IsGeometric(i))) continue;
            applied[i] = true;
            RunLayerFilter(i, s, bitmap, mask, alpha, width, height);
        }
}
