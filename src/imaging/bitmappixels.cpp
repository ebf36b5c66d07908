#include "imaging/bitmappixels.h"

#include <cstring>
#include <new>

#include "core/errcodes.h"
#include "core/pixelbuffer.h"
#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/kernels.h"

namespace {

// Pixels that a display adapter keeps are read through the blit route.
bool AdapterOwns(const qbBitmap* bitmap) {
    const qbBlitRoute* route = GetBlitRoute();
    return route && route->ownsPixels(bitmap);
}

}  // namespace

int ReadBitmapPixels(qbBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t* flag,
                     std::vector<uint32_t>* out) {
    out->clear();
    if (!bitmap || bitmap->kind != kBitmapKindColour) return ERR_LOCKBMAP;
    if (width <= 0 || height <= 0 ||
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > GetMaxImagePixels())
        return ERR_MEM;
    if (flag) *flag = bitmap->videoState;
    if (AdapterOwns(bitmap)) {
        try {
            out->assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
        const int err = GetBlitRoute()->readPixels(bitmap, x, y, width, height, out->data(), nullptr);
        if (err) out->clear();
        return err;
    }
    qbBitmapLock probe;
    if (LockBitmap(bitmap, kLockReadOnly, &probe) == 0) return ERR_LOCKBMAP;
    UnlockBitmap(&probe);
    *out = CopyBitmapRectToARGB(bitmap, x, y, width, height, 0);
    return out->empty() ? ERR_MEM : 0;
}

qbBitmap* BuildColorMask(qbBitmap* bitmap, int32_t width, int32_t height, uint32_t keyColor) {
    if (!bitmap || width <= 0 || height <= 0 || width > bitmap->width || height > bitmap->height) return nullptr;
    BitmapPtr mask(AllocMask(bitmap, width, height, true, nullptr, 0));
    if (!mask) return nullptr;
    qbBitmapLock lock;
    if (LockBitmap(bitmap, kLockReadOnly, &lock) == 0) return nullptr;
    const int format = static_cast<int>(lock.pixelFormat);
    const uint8_t rgb[3] = {static_cast<uint8_t>(keyColor >> 16), static_cast<uint8_t>(keyColor >> 8),
                            static_cast<uint8_t>(keyColor)};
    uint32_t key = 0;
    WritePixelRGB(&key, format, rgb);
    const qbBitmapPlane& plane = *mask->plane;
    const MaskRows bits{plane.data, static_cast<int32_t>(plane.rowBytes), 0, 0};
    if (lock.bytesPerPixel == 4 && (format == kFormatARGB || format == kFormatABGR)) {
        MaskFromKey32(static_cast<const uint32_t*>(lock.pixels), lock.rowLength, width, height, key, bits);
    } else if (lock.bytesPerPixel == 2) {
        MaskFromKey16(static_cast<const uint16_t*>(lock.pixels), lock.rowLength, width, height,
                      static_cast<uint16_t>(key), bits);
    } else {
        // The formats whose colour sits in the top 24 bits, and 3-byte pixels:
        // compare the colour bytes of each pixel as stored.
        const auto bytes = lock.bytesPerPixel;
        const size_t skip = bytes == 4 ? 1 : 0;  // the alpha byte is the lowest
        uint8_t keyBytes[4];
        std::memcpy(keyBytes, &key, sizeof keyBytes);
        for (int32_t row = 0; row < height; ++row) {
            const auto* line = static_cast<const uint8_t*>(lock.pixels) + static_cast<size_t>(row) * lock.rowLength * bytes;
            uint8_t* out = plane.data + static_cast<size_t>(row) * plane.rowBytes;
            for (int32_t col = 0; col < width; ++col)
                if (std::memcmp(line + static_cast<size_t>(col) * bytes + skip, keyBytes + skip, 3) != 0)
                    out[col >> 3] |= static_cast<uint8_t>(0x80 >> (col & 7));
        }
    }
    UnlockBitmap(&lock);
    return mask.release();
}

int PlainCopyOfAdapterBitmap(qbBitmap* bitmap, BitmapPtr* out, BitmapPtr* alpha) {
    out->reset();
    if (alpha) alpha->reset();
    if (!bitmap || !AdapterOwns(bitmap)) return 0;
    const int32_t width = bitmap->width, height = bitmap->height;
    if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > GetMaxImagePixels()) return ERR_MEM;
    std::vector<uint32_t> pixels;
    std::vector<uint8_t> bytes;
    try {
        pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    if (int err = GetBlitRoute()->readPixels(bitmap, 0, 0, width, height, pixels.data(), alpha ? &bytes : nullptr))
        return err;
    qbBitmap* plain = nullptr;
    if (int err = CreateBitmapFromARGB(pixels.data(), kNoKeyColour, width, height, width, false, 0, 0, &plain,
                                       nullptr, nullptr))
        return err;
    out->reset(plain);
    if (alpha && !bytes.empty()) {
        BitmapPtr plane(AllocAlphaChannel(width, height, false, nullptr, 0));
        if (!plane) {
            out->reset();
            return ERR_ALLOCALPHA;
        }
        for (int32_t row = 0; row < height; ++row)
            std::memcpy(plane->plane->data + static_cast<size_t>(row) * plane->plane->rowBytes,
                        bytes.data() + static_cast<size_t>(row) * width, static_cast<size_t>(width));
        *alpha = std::move(plane);
    }
    return 0;
}
