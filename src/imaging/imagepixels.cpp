// Pixel buffers of decoded pictures: one checked size computation for all
// readers, so that no header can ask for an undersized allocation.
#include <atomic>
#include <new>

#include "core/errcodes.h"
#include "imaging/imageformats.h"

namespace {
std::atomic<uint64_t> maxPixels{kDefaultMaxImagePixels};
}

void SetMaxImagePixels(uint64_t count) { maxPixels.store(count ? count : kDefaultMaxImagePixels); }

uint64_t GetMaxImagePixels() { return maxPixels.load(); }

int AllocImagePixels(int64_t width, int64_t height, PixelBuffer* out) {
    out->reset();
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return ERR_MEM;
    // Both sides are below 2^31, so the product fits 64 bits.
    const uint64_t count = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (count > maxPixels.load() || count > SIZE_MAX / sizeof(uint32_t)) return ERR_MEM;
    out->reset(new (std::nothrow) uint32_t[count]);
    return *out ? 0 : ERR_MEM;
}
