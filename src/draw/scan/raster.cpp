// The engine's error variable, its aligned blocks and the coverage raster.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "draw/scan/scan.h"

namespace {

// Main thread only, like every caller of the engine.
int32_t g_scanError = 0;

constexpr uintptr_t kBlockAlignment = 32;

}  // namespace

void SetScanError(int32_t code) {
    if (code == kScanStepFailed || code == kScanStepFailedQuiet) return;
    g_scanError = code;
}

int32_t GetScanError() { return g_scanError; }

void* AlignedAlloc(size_t n) {
    if (n > kScanMaxBlock) {
        SetScanError(kScanOutOfRange);
        return nullptr;
    }
    void* block = nullptr;
    // The system keeps the block's start itself, so nothing of the address
    // has to live beside the block.
    if (posix_memalign(&block, kBlockAlignment, n ? n : 1) != 0) {
        SetScanError(kScanNoMemory);
        return nullptr;
    }
    return block;
}

void AlignedFree(void* block) {
    if (!block) return;
    if (reinterpret_cast<uintptr_t>(block) % kBlockAlignment != 0) {
        SetScanError(kScanMisaligned);
        return;
    }
    std::free(block);
}

int32_t LayoutBytesPerPixel(uint32_t code) {
    // The shift for the low three bits, two bits each: 0, 0, 1, 1, 2, 2, 3, 2.
    constexpr uint32_t kShifts = 0xBA50;
    const uint32_t shift = (kShifts >> ((code & 7) * 2)) & 3;
    return static_cast<int32_t>((((code >> 3) & 63) + 1) << shift);
}

ScanRaster* CreateCoverageRaster(int32_t width, int32_t height, uint8_t** pixels, int32_t* pitch) {
    SetScanError(0);
    if (width < 0 || height < 0) {
        SetScanError(kScanNegativeSize);
        return nullptr;
    }
    const int64_t rowPitch = (int64_t{width} + 3) & ~int64_t{3};
    const int64_t size = rowPitch * height;
    if (rowPitch > INT32_MAX || static_cast<uint64_t>(size) > kScanMaxBlock) {
        SetScanError(kScanOutOfRange);
        return nullptr;
    }
    std::unique_ptr<ScanRaster> raster(new (std::nothrow) ScanRaster);
    if (!raster) {
        SetScanError(kScanRecordMemory);
        return nullptr;
    }
    auto* block = static_cast<uint8_t*>(AlignedAlloc(static_cast<size_t>(size)));
    if (!block) return nullptr;
    std::memset(block, 0, static_cast<size_t>(size));
    raster->width = width;
    raster->height = height;
    raster->pixels = block;
    raster->pitch = static_cast<int32_t>(rowPitch);
    raster->blockSize = size;
    if (pixels) *pixels = block;
    if (pitch) *pitch = raster->pitch;
    return raster.release();
}

void FreeCoverageRaster(ScanRaster* raster) {
    if (!raster) return;
    AlignedFree(raster->pixels);
    std::unique_ptr<ScanRaster> owned(raster);
}

bool DescribeRaster(const ScanRaster* raster, ScanRasterView* view) {
    if (!raster || !view) {
        SetScanError(kScanNullArgument);
        return false;
    }
    if (raster->sizeTag != sizeof(ScanRaster)) {
        SetScanError(kScanBadRecord);
        return false;
    }
    if (raster->samplesPerPixel != 1 || raster->bitsPerSample != 8) {
        SetScanError(kScanNotRaster);
        return false;
    }
    if (raster->width < 0 || raster->height < 0 || raster->pitch < raster->width) {
        SetScanError(kScanBadPitch);
        return false;
    }
    view->layout = kScanViewTag | kScanViewContiguous;
    view->pitch = raster->pitch;
    view->height = raster->height;
    view->width = raster->width;
    view->pixels = raster->pixels;
    return true;
}
