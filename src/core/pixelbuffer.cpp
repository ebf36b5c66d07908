// Pixel buffers of decoded pictures.
#include <sys/mman.h>

#include <atomic>

#include "core/errcodes.h"
#include "core/file.h"
#include "core/pixelbuffer.h"

namespace {

std::atomic<uint64_t> maxPixels{kDefaultMaxImagePixels};

// Buffers from this size on are aligned to, and advised onto, 2 MiB pages.
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kHugeFrom = 2 * kHugePage;

}  // namespace

void SetMaxImagePixels(uint64_t count) { maxPixels.store(count ? count : kDefaultMaxImagePixels); }

uint64_t GetMaxImagePixels() { return maxPixels.load(); }

qbPixelSource FilePixelSource(qbFile* file, qbPixelCoding coding) {
    const int64_t size = file ? GetFileSize(file) : -1;
    return {size >= 0 ? static_cast<uint64_t>(size) : UINT64_MAX, coding};
}

bool SourceCanHold(int64_t width, int64_t height, const qbPixelSource& source) {
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return false;
    const uint64_t count = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (count <= kPixelsFreeOfData || source.bytes == UINT64_MAX || source.coding.bytes == 0) return true;
    // In 128 bits: bytes and pixels may each be near 2^64.
    const unsigned __int128 most = static_cast<unsigned __int128>(source.bytes) * source.coding.pixels * 2;
    return static_cast<unsigned __int128>(count) * source.coding.bytes <= most;
}

int AllocImagePixels(int64_t width, int64_t height, const qbPixelSource& source, PixelBuffer* out) {
    out->reset();
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return ERR_MEM;
    if (!SourceCanHold(width, height, source)) return ERR_MEM;
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
