// Pixel buffers of decoded pictures.
#include <sys/mman.h>

#include <atomic>

#include "core/errcodes.h"
#include "core/pixelbuffer.h"

namespace {

std::atomic<uint64_t> maxPixels{kDefaultMaxImagePixels};

// Buffers from this size on are aligned to, and advised onto, 2 MiB pages.
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kHugeFrom = 2 * kHugePage;

}  // namespace

void SetMaxImagePixels(uint64_t count) { maxPixels.store(count ? count : kDefaultMaxImagePixels); }

uint64_t GetMaxImagePixels() { return maxPixels.load(); }

int AllocImagePixels(int64_t width, int64_t height, PixelBuffer* out) {
    out->reset();
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return ERR_MEM;
    // Both sides are below 2^31, so the product fits 64 bits.
    const uint64_t count = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (count > maxPixels.load() || count > (SIZE_MAX - kHugePage) / sizeof(uint32_t)) return ERR_MEM;
    const size_t bytes = static_cast<size_t>(count) * sizeof(uint32_t);
    void* block;
    if (bytes >= kHugeFrom) {
        const size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
        block = std::aligned_alloc(kHugePage, rounded);
#ifdef MADV_HUGEPAGE
        if (block) madvise(block, rounded, MADV_HUGEPAGE);
#endif
    } else {
        block = std::malloc(bytes);
    }
    out->reset(static_cast<uint32_t*>(block));
    return block ? 0 : ERR_MEM;
}
