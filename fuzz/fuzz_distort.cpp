// Fuzz target of the distortion engine: any method, argument count and
// numbers (NaN, infinities, horizons, huge radii) on small bitmaps, with
// and without planes and smoothing. Outputs the geometry step would make
// large are skipped so that a run stays quick; everything else is drawn.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/distort.h"
#include "pixelsfuzz.h"

namespace {

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    uint32_t Byte() { return pos < size ? data[pos++] : 0; }
    // Mostly small numbers, sometimes any double at all.
    double Number() {
        const uint32_t kind = Byte();
        if (kind < 160) return (static_cast<double>(Byte()) - 128) / 4;
        if (kind < 200) return (static_cast<double>(Byte() << 8 | Byte()) - 32768) / 64;
        if (kind < 210) return NAN;
        if (kind < 220) return kind & 1 ? INFINITY : -INFINITY;
        double v = 0;
        uint8_t bytes[8];
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(Byte());
        std::memcpy(&v, bytes, 8);
        return v;
    }
};

constexpr int32_t kMethods[] = {kDistortPerspective, kDistortArc, kDistortPolar, kDistortBarrel, 0};
constexpr int64_t kMaxOutputPixels = 1 << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    const int32_t width = static_cast<int32_t>(in.Byte() % 24) + 1, height = static_cast<int32_t>(in.Byte() % 24) + 1;
    const uint32_t flags = in.Byte();
    const int32_t method = kMethods[in.Byte() % 5];
    const int32_t count = static_cast<int32_t>(in.Byte() % 18);
    std::vector<double> args(static_cast<size_t>(count) + 1);
    for (int32_t i = 0; i < count; ++i) args[static_cast<size_t>(i)] = in.Number();

    qbDistortRequest q;
    q.method = method;
    q.argumentCount = count;
    q.arguments = args.data();
    q.source.width = width;
    q.source.height = height;
    const int geometry = ComputeDistortGeometry(&q);
    FuzzNoteValue(geometry);
    if (geometry == 0) {
        FuzzNoteValue(q.outWidth);
        FuzzNoteValue(q.outHeight);
        FuzzNoteValue(q.outX);
        FuzzNoteValue(q.outY);
        for (double c : q.coefficients) FuzzNoteNumber(c);
    }
    if (geometry == 0 && int64_t{q.outWidth} * q.outHeight > kMaxOutputPixels) return 0;

    BitmapPtr source(AllocBitmap(width, height, 0, nullptr));
    if (!source) return 0;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) WriteBitmapPixel(source.get(), x, y, in.Byte() * 0x010203u, false);
    BitmapPtr mask, alpha;
    if (flags & 1) {
        mask.reset(AllocMask(source.get(), width, height, true, nullptr, 0));
        FillMaskRect(mask.get(), 0, 0, width / 2 + 1, height, kMaskVisible);
    }
    if (flags & 2) {
        alpha.reset(AllocAlphaChannel(width, height, true, nullptr, 0));
        FillAlphaRect(alpha.get(), 0, 0, width, height / 2 + 1, 200);
    }
    qbBitmap *b = nullptr, *m = nullptr, *a = nullptr;
    int32_t w = 0, h = 0;
    const int err = DistortBitmap(source.get(), mask.get(), alpha.get(), width, height, method, count, args.data(),
                                  (flags & 4) != 0, &b, &m, &a, &w, &h);
    BitmapPtr outBitmap(b), outMask(m), outAlpha(a);
    FuzzNoteValue(err);
    FuzzNoteValue(w);
    FuzzNoteValue(h);
    FuzzNoteImages(b, m, a);
    // Exactly one plane on success, nothing on an error.
    if (err == 0 && (!b || (m != nullptr) == (a != nullptr) || w < 1 || h < 1)) __builtin_trap();
    if (err != 0 && (b || m || a)) __builtin_trap();
    return 0;
}
