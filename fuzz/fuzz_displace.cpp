// Fuzz target of the swirl and water ripple operations: picture size,
// format, planes and every argument (angle, wave length, amplitude, phase,
// centre) from the input, numbers drawn from tables that hold the extremes.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "core/nativebitmap.h"
#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/bitmapfilters.h"
#include "imaging/blit.h"
#include "pixelsfuzz.h"

namespace {

const int32_t kInts[] = {0, 1, -1, 2, 32, 359, 360, 720, -720, 100000, std::numeric_limits<int32_t>::max(),
                         std::numeric_limits<int32_t>::min(), 1000000000, -1000000000, 7, 180};
const double kDoubles[] = {0.0, 0.5, 1.0, -1.0, 2.0, 1e300, -1e300, std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN(), 0.25, 0.999, 1e-300, 0.75, 0.1, 0.9, 3.0};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 10) return 0;
    SetPlatformPixelFormat((data[0] & 1) ? kFormatRGB565 : kFormatARGB);
    const int32_t w = 1 + data[1] % 40, h = 1 + data[2] % 40;
    BitmapPtr bitmap(AllocBitmap(w, h, 0, nullptr));
    BitmapPtr mask((data[0] & 2) ? AllocMask(bitmap.get(), w, h, true, nullptr, 0) : nullptr);
    BitmapPtr alpha((data[0] & 4) ? AllocAlphaChannel(w, h, true, nullptr, 0) : nullptr);
    if (!bitmap) return 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t v = data[static_cast<size_t>(y * w + x) % size];
            WriteBitmapPixel(bitmap.get(), x, y, v * 0x010203u, false);
            if (mask) WriteBitmapPixel(mask.get(), x, y, v & 1, true);
            if (alpha) alpha->plane->data[static_cast<size_t>(y) * alpha->plane->rowBytes + x] = v;
        }
    // Sizes larger than the bitmap are cut to it.
    const int32_t fw = (data[0] & 8) ? w + 5 : w, fh = (data[0] & 16) ? h + 3 : h;
    const int err = (data[0] & 32) ? SwirlBitmap(bitmap.get(), mask.get(), alpha.get(), fw, fh, kInts[data[3] % 16])
                                   : WaterRippleBitmap(bitmap.get(), mask.get(), alpha.get(), fw, fh, kInts[data[4] % 16],
                                                       kInts[data[5] % 16], kInts[data[6] % 16], kDoubles[data[7] % 16],
                                                       kDoubles[data[8] % 16]);
    FuzzNoteValue(err);
    FuzzNoteImages(bitmap.get(), mask.get(), alpha.get());
    SetPlatformPixelFormat(kPixelFormatUnset);
    return 0;
}
