// Fuzz target of the layer filters: the input becomes a small bitmap of
// format 4 (RGB565) or 10 (ARGB) with or without a mask and an alpha plane,
// and a filter set whose arguments come from tables that hold the numbers
// the kernels must refuse (NaN, infinities, huge radii and counts) beside
// ordinary ones; the set then runs, all of it or the geometric filters only.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "core/nativebitmap.h"
#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "objects/layerfilters.h"
#include "pixelsfuzz.h"

namespace {

const float kFloats[] = {std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(),
                         -1.0f, 0.0f, 0.5f, 1.0f, 2.0f, 3.0f, 5.0f, 1e12f, 1e38f, 100.0f, 200.0f, -0.5f, 40.0f};
const int32_t kInts[] = {0, 1, 2, 3, 10, 128, 255, 300, -5, std::numeric_limits<int32_t>::max(),
                         std::numeric_limits<int32_t>::min(), 0xFFFFFF, 0x123456, 204, 16, 33};
constexpr size_t kTable = 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    SetPlatformPixelFormat((data[0] & 1) ? kFormatRGB565 : kFormatARGB);
    const int32_t w = 1 + data[1] % 16, h = 1 + data[2] % 16;
    const uint8_t flags = data[3];
    BitmapPtr bitmap(AllocBitmap(w, h, 0, nullptr));
    BitmapPtr mask((flags & 1) ? AllocMask(bitmap.get(), w, h, true, nullptr, 0) : nullptr);
    BitmapPtr alpha((flags & 2) ? AllocAlphaChannel(w, h, true, nullptr, 0) : nullptr);
    if (!bitmap) return 0;
    // Pixels and planes from the input, repeated as far as needed.
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y * w + x) * 3;
            const uint32_t rgb = uint32_t{data[i % size]} << 16 | uint32_t{data[(i + 1) % size]} << 8 | data[(i + 2) % size];
            WriteBitmapPixel(bitmap.get(), x, y, rgb, false);
            if (mask) WriteBitmapPixel(mask.get(), x, y, rgb & 1, true);
            if (alpha) alpha->plane->data[static_cast<size_t>(y) * alpha->plane->rowBytes + x] = static_cast<uint8_t>(rgb);
        }
    qbFilterSet set;
    for (size_t i = 4; i + 3 < size; i += 4) {
        qbFilterSlot& s = set.slot[data[i] % kFilterSlots];
        s.enabled = 1;
        s.priority = data[i + 1];
        for (size_t k = 0; k < 4; ++k) {
            s.ints[k] = kInts[(data[i + 2] + k) % kTable];
            s.floats[k] = kFloats[(data[i + 3] + k * 5) % kTable];
        }
    }
    ApplyLayerFilters(set, bitmap.get(), mask.get(), alpha.get(), w, h, (flags & 4) != 0);
    FuzzNoteImages(bitmap.get(), mask.get(), alpha.get());
    SetPlatformPixelFormat(kPixelFormatUnset);
    return 0;
}
