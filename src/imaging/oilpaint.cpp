// The brightness of every copy pixel is worked out once, into a byte plane
// beside the copy, rather than k x k times.
#include "imaging/oilpaint.h"

#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "imaging/channels.h"
#include "imaging/convolve.h"

namespace {

template <typename T, typename Read>
void OilPaint(const qbOilPaintRequest& r, Read read) {
    if (!r.pixels || r.height < 1 || r.width < 1) return;
    if (r.width > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
        r.height > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
        return;
    const auto width = static_cast<int32_t>(r.width), height = static_cast<int32_t>(r.height);
    const int64_t k = GetKernelWidth2D(r.radius > 0 ? r.radius : 0, 0.5, std::numeric_limits<int64_t>::max());
    std::vector<T> copy;
    int64_t l = 0;
    if constexpr (sizeof(T) == 4)
        l = CopyEdgeExtended32(static_cast<const uint32_t*>(r.pixels), width, height,
                               static_cast<int32_t>(r.pitch), k, &copy);
    else
        l = CopyEdgeExtended16(static_cast<const uint16_t*>(r.pixels), width, height,
                               static_cast<int32_t>(r.pitch), k, &copy);
    if (l == 0) return;
    std::vector<uint8_t> bright;
    try {
        bright.resize(copy.size());
    } catch (const std::bad_alloc&) {
        return;
    }
    for (size_t i = 0; i < copy.size(); ++i) {
        const qbChannels c = read(copy[i]);
        bright[i] = static_cast<uint8_t>(static_cast<uint32_t>(0.299 * c.r + 0.587 * c.g + 0.114 * c.b) & 255);
    }
    uint32_t count[256];
    std::memset(count, 0, sizeof count);
    T* pixels = static_cast<T*>(r.pixels);
    for (int64_t y = 0; y < height; ++y) {
        T* out = pixels + y * static_cast<int64_t>(r.pitch);
        for (int64_t x = 0; x < width; ++x) {
            // Branch-free: which window pixel wins is data the predictor
            // cannot learn, so the choice is made with selects.
            uint32_t best = 0;
            size_t chosen = static_cast<size_t>(y * l + x);
            for (int64_t t = 0; t < k; ++t) {
                const size_t at = static_cast<size_t>((y + t) * l + x);
                const uint8_t* b = bright.data() + at;
                for (int64_t q = 0; q < k; ++q) {
                    const uint32_t c = ++count[b[q]];
                    const bool more = c > best;
                    best = more ? c : best;
                    chosen = more ? at + static_cast<size_t>(q) : chosen;
                }
            }
            out[x] = copy[chosen];
            // Clearing all 256 counters is a few wide stores, cheaper than
            // one store per window pixel for any window past 4 x 4.
            if (k <= 3) {
                for (int64_t t = 0; t < k; ++t) {
                    const uint8_t* b = bright.data() + static_cast<size_t>((y + t) * l + x);
                    for (int64_t q = 0; q < k; ++q) count[b[q]] = 0;
                }
            } else {
                std::memset(count, 0, sizeof count);
            }
        }
    }
}

}  // namespace

void OilPaint32(const qbOilPaintRequest& r) {
    OilPaint<uint32_t>(r, [f = r.pixelFormat](uint32_t p) { return ReadChannels32(f, p); });
}

void OilPaint16(const qbOilPaintRequest& r) {
    OilPaint<uint16_t>(r, [f = r.pixelFormat](uint16_t p) { return ReadChannels16(f, p); });
}
