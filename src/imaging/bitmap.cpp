// Bitmaps and their planes. No display adapter can own pixels on this
// platform yet, so every colour bitmap is a platform offscreen bitmap and
// every plane a qbBitmapPlane of our own.
#include "imaging/bitmap.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/errcodes.h"
#include "core/pixelformats.h"
#include "imaging/kernels.h"
#include "imaging/planekernels.h"
#include "platform/platform_ops.h"

namespace {

// Installed by the display layer while a display adapter is.
const qbVideoBitmapHooks* videoHooks = nullptr;

// Far below what the allocator could hand out, so that an absurd size from
// a script is refused instead of exhausting memory.
constexpr int64_t kMaxBitmapBytes = int64_t{1} << 31;

// Colour bitmap rows are padded to this many pixels.
constexpr int64_t kColourRowPixelAlign = 4;
constexpr uint32_t kAlphaRowByteAlign = 4;
// Mask rows grow by one 16-bit word per started 16 pixels.
constexpr int64_t kMaskWordPixels = 16;
constexpr int kBitsPerByte = 8;
constexpr uint8_t kTopBit = 0x80;

constexpr uint32_t kCapsVideoBitmaps = 8;
constexpr int kPlaneAttrHeight = 1;

constexpr uint32_t kRgbMask = 0x00FFFFFF;
constexpr uint32_t kAlphaOpaque = 0xFF;
constexpr int kAlphaShift = 24;
constexpr int kRedShift = 16;
constexpr int kGreenShift = 8;

int PlatformFormat() { return GetPreferredPixelFormat(); }

bool PlaneFits(int64_t rowBytes, int32_t height) { return rowBytes * height <= kMaxBitmapBytes; }

qbBitmap* MakePlane(int32_t kind, int32_t width, int32_t height, bool clear, uint8_t* data, uint32_t rowBytes,
                    uint32_t ownRowBytes) {
    if (width <= 0 || height <= 0) return nullptr;
    try {
        auto plane = std::make_unique<qbBitmapPlane>();
        plane->type = kind;
        plane->width = width;
        plane->height = height;
        if (data) {
            plane->data = data;
            plane->rowBytes = rowBytes;
            plane->external = 1;
        } else {
            if (!PlaneFits(ownRowBytes, height)) return nullptr;
            const auto size = static_cast<size_t>(int64_t{ownRowBytes} * height);
            // A fresh vector is zero-filled whether or not the caller asked.
            (void)clear;
            plane->storage.resize(size);
            plane->data = plane->storage.data();
            plane->rowBytes = ownRowBytes;
        }
        auto bitmap = std::make_unique<qbBitmap>();
        bitmap->kind = kind;
        bitmap->width = width;
        bitmap->height = height;
        bitmap->native = plane.get();
        bitmap->plane = std::move(plane);
        return bitmap.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

qbBitmapPlane* PlaneOf(const qbBitmap* bitmap, int32_t kind) {
    return bitmap && bitmap->kind == kind ? bitmap->plane.get() : nullptr;
}

bool Inside(const qbBitmapPlane& plane, int32_t x, int32_t y) {
    return x >= 0 && y >= 0 && x < plane.width && y < plane.height;
}

uint8_t BitOf(int32_t x) { return static_cast<uint8_t>(kTopBit >> (x % kBitsPerByte)); }

bool MaskBit(const uint8_t* data, uint32_t rowBytes, int32_t x, int32_t y) {
    return (data[static_cast<size_t>(y) * rowBytes + static_cast<size_t>(x / kBitsPerByte)] & BitOf(x)) != 0;
}

void SetMaskBit(uint8_t* data, uint32_t rowBytes, int32_t x, int32_t y, bool on) {
    uint8_t& byte = data[static_cast<size_t>(y) * rowBytes + static_cast<size_t>(x / kBitsPerByte)];
    byte = on ? static_cast<uint8_t>(byte | BitOf(x)) : static_cast<uint8_t>(byte & ~BitOf(x));
}

void ApplyMaskMode(qbBitmapPlane& mask, int32_t x, int32_t y, int mode) {
    switch (mode) {
        case kMaskVisible:
        case kMaskVanillaCopy:
        case kMaskOr: SetMaskBit(mask.data, mask.rowBytes, x, y, true); break;
        case kMaskInvisible: SetMaskBit(mask.data, mask.rowBytes, x, y, false); break;
        case kMaskXor: SetMaskBit(mask.data, mask.rowBytes, x, y, !MaskBit(mask.data, mask.rowBytes, x, y)); break;
        default: break;
    }
}

uint8_t* PixelAt(const qbBitmapLock& lock, int32_t x, int32_t y) {
    const auto offset = (static_cast<int64_t>(y) * lock.rowLength + x) * lock.bytesPerPixel;
    return static_cast<uint8_t*>(lock.pixels) + offset;
}

bool InsideLock(const qbBitmapLock& lock, int32_t x, int32_t y) {
    return x >= 0 && y >= 0 && x < lock.width && y < lock.height;
}

uint32_t RgbToColour(const uint8_t rgb[3]) {
    return (uint32_t{rgb[0]} << kRedShift) | (uint32_t{rgb[1]} << kGreenShift) | rgb[2];
}

void ColourToRgb(uint32_t colour, uint8_t rgb[3]) {
    rgb[0] = static_cast<uint8_t>(colour >> kRedShift);
    rgb[1] = static_cast<uint8_t>(colour >> kGreenShift);
    rgb[2] = static_cast<uint8_t>(colour);
}

}  // namespace

uint32_t AlphaRowBytes(int32_t width) {
    const int64_t w = std::max<int64_t>(width, 0);
    return static_cast<uint32_t>((w + kAlphaRowByteAlign - 1) & ~int64_t{kAlphaRowByteAlign - 1});
}

uint32_t MaskRowBytes(int32_t rowPixels) {
    const int64_t w = std::max<int64_t>(rowPixels, 0);
    return static_cast<uint32_t>(((w + kMaskWordPixels - 1) / kBitsPerByte) & ~int64_t{1});
}

void SetVideoBitmapHooks(const qbVideoBitmapHooks* hooks) { videoHooks = hooks; }

bool BitmapFits(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return false;
    const int64_t rowPixels = (width + kColourRowPixelAlign - 1) & ~(kColourRowPixelAlign - 1);
    const int64_t rowBytes = rowPixels * BytesPerPixel(PlatformFormat());
    return rowBytes <= kMaxBitmapBytes && rowBytes * height <= kMaxBitmapBytes;
}

qbBitmap* AllocBitmap(int32_t width, int32_t height, uint32_t flags, const void* tags) {
    if (width <= 0 || height <= 0) return nullptr;
    // Video bitmaps need an adapter that keeps them; without one they are
    // ordinary offscreen bitmaps.
    if ((flags & kAllocVideoBitmap) && videoHooks) {
        try {
            auto bitmap = std::make_unique<qbBitmap>();
            void* native = nullptr;
            auto* request = static_cast<qbVideoBitmapRequest*>(const_cast<void*>(tags));
            if (videoHooks->alloc(width, height, flags, &bitmap->videoState, request, &native)) {
                if (!native) return nullptr;
                bitmap->kind = kBitmapKindColour;
                bitmap->native = native;
                bitmap->width = width;
                bitmap->height = height;
                bitmap->videoFlag = 1;
                return bitmap.release();
            }
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    if (!BitmapFits(width, height)) return nullptr;
    try {
        auto bitmap = std::make_unique<qbBitmap>();
        bitmap->colour.reset(AllocPlatformBitmap(width, height));
        if (!bitmap->colour) return nullptr;
        bitmap->kind = kBitmapKindColour;
        bitmap->native = bitmap->colour.get();
        bitmap->width = width;
        bitmap->height = height;
        bitmap->plainPixels = PlatformBitmapsArePlainMemory();
        return bitmap.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void PlatformBitmapDeleter::operator()(qbNativeBitmap* bitmap) const { FreePlatformBitmap(bitmap); }

void FreeBitmap(qbBitmap* bitmap) {
    std::unique_ptr<qbBitmap> owner(bitmap);
    // The adapter's own bitmaps have no platform pixels behind them.
    if (bitmap && bitmap->kind == kBitmapKindColour && !bitmap->colour && bitmap->native && videoHooks)
        videoHooks->free(bitmap->native);
}

qbBitmap* AllocAlphaChannel(int32_t width, int32_t height, bool clear, uint8_t* data, uint32_t rowBytes) {
    return MakePlane(kBitmapKindAlpha, width, height, clear, data, rowBytes, AlphaRowBytes(width));
}

qbBitmap* AllocMask(const qbBitmap* reference, int32_t width, int32_t height, bool clear, uint8_t* data,
                    uint32_t rowBytes) {
    // The reference's row length may be shorter than the mask is wide; the
    // rows must hold the mask's own pixels either way.
    int32_t rowPixels = width;
    if (reference && reference->kind == kBitmapKindColour) {
        rowPixels = std::max(rowPixels, static_cast<int32_t>(GetBitmapAttr(reference, kBitmapAttrRowLength)));
    }
    return MakePlane(kBitmapKindMask, width, height, clear, data, rowBytes, MaskRowBytes(rowPixels));
}

void FreeAlphaChannel(qbBitmap* plane) { FreeBitmap(plane); }

void FreeMask(qbBitmap* plane) { FreeBitmap(plane); }

int32_t GetPlaneAttr(const qbBitmapPlane* plane, int code) {
    if (!plane) return 0;
    switch (code) {
        case kBitmapAttrWidth: return plane->width;
        case kPlaneAttrHeight: return plane->height;
        default: return 0;
    }
}

uint32_t LockBitmap(qbBitmapPlane* plane, uint32_t flags, qbBitmapLock* lock) {
    (void)flags;
    if (!lock) return 0;
    *lock = qbBitmapLock{};
    if (!plane || (plane->type != kPlaneTypeAlpha && plane->type != kPlaneTypeMask)) return 0;
    lock->pixels = plane->data;
    lock->width = plane->width;
    lock->height = plane->height;
    lock->rowLength = static_cast<int32_t>(plane->rowBytes);
    lock->bytesPerPixel = 1;
    lock->pixelFormat = plane->type == kPlaneTypeAlpha ? kFormatAlphaPlane : kFormatMaskPlane;
    lock->lockToken = 1;
    lock->noUnlock = 1;
    return lock->lockToken;
}

uint32_t LockBitmap(qbBitmap* bitmap, uint32_t flags, qbBitmapLock* lock) {
    if (!lock) return 0;
    *lock = qbBitmapLock{};
    if (!bitmap) return 0;
    if (bitmap->kind != kBitmapKindColour) return LockBitmap(bitmap->plane.get(), flags, lock);
    if (qbPixelView view; PeekPlainPixels(bitmap, &view)) {
        // What the backend's lock would fill in, without the call.
        lock->pixels = view.pixels;
        lock->lockToken = 1;
        lock->pixelFormat = view.pixelFormat;
        lock->bytesPerPixel = view.bytesPerPixel;
        lock->rowLength = view.rowLength;
        lock->width = bitmap->colour->width;
        lock->height = bitmap->colour->height;
        lock->nativeContext = bitmap->colour->graphicsWorld;
        return lock->lockToken;
    }
    if (LockPlatformBitmap(bitmap->colour.get(), lock) == 0) {
        lock->lockToken = 0;
        return 0;
    }
    lock->noUnlock = 0;
    return lock->lockToken;
}

void UnlockBitmap(qbBitmapLock* lock) {
    if (!lock || lock->lockToken == 0) return;
    // The platform bitmaps are plain memory; their unlock needs no handle.
    if (!lock->noUnlock) UnlockPlatformBitmap(nullptr);
    lock->lockToken = 0;
}

intptr_t GetBitmapAttr(const qbBitmap* bitmap, int code) {
    if (!bitmap) {
        switch (code) {
            case kBitmapAttrWidth:
            case kBitmapAttrAlphaRowBytes:
            case kBitmapAttrMaskRowBytes:
            case kBitmapAttrAlphaData:
            case kBitmapAttrMaskData:
            case kBitmapAttrRowLength:
            case kBitmapAttrHeight:
            case kBitmapAttrVideoFlag:
            case kBitmapAttrVideoState:
            case kBitmapAttrNative:
            case kBitmapAttrPixelFormat:
            case kBitmapAttrOrphanVideo: return 0;
            default: return GetPlatformBitmapAttr(nullptr, code);
        }
    }
    const qbBitmapPlane* alpha = PlaneOf(bitmap, kBitmapKindAlpha);
    const qbBitmapPlane* mask = PlaneOf(bitmap, kBitmapKindMask);
    switch (code) {
        case kBitmapAttrWidth: return bitmap->width;
        case kBitmapAttrHeight: return bitmap->height;
        case kBitmapAttrVideoFlag: return bitmap->videoFlag;
        case kBitmapAttrVideoState: return bitmap->videoState;
        case kBitmapAttrNative: return reinterpret_cast<intptr_t>(bitmap->native);
        case kBitmapAttrOrphanVideo:
            return bitmap->videoFlag != 0 && (QueryDisplayAdapterCaps(kCapsVideoBitmaps) & kCapsVideoBitmaps) == 0;
        case kBitmapAttrAlphaRowBytes: return alpha ? alpha->rowBytes : 0;
        case kBitmapAttrMaskRowBytes: return mask ? mask->rowBytes : 0;
        case kBitmapAttrAlphaData: return alpha ? reinterpret_cast<intptr_t>(alpha->data) : 0;
        case kBitmapAttrMaskData: return mask ? reinterpret_cast<intptr_t>(mask->data) : 0;
        default: return GetPlatformBitmapAttr(bitmap->colour.get(), code);
    }
}

uint32_t ReadBitmapPixel(qbBitmap* bitmap, int32_t x, int32_t y, bool isMask) {
    if (isMask) {
        const qbBitmapPlane* mask = PlaneOf(bitmap, kBitmapKindMask);
        return mask && Inside(*mask, x, y) && MaskBit(mask->data, mask->rowBytes, x, y) ? 1 : 0;
    }
    qbBitmapLock lock;
    if (LockBitmap(bitmap, kLockReadOnly, &lock) == 0) return 0;
    uint32_t colour = 0;
    if (InsideLock(lock, x, y)) {
        uint8_t rgb[3];
        ReadPixelRGB(PixelAt(lock, x, y), static_cast<int>(lock.pixelFormat), rgb);
        colour = RgbToColour(rgb);
    }
    UnlockBitmap(&lock);
    return colour;
}

void WriteBitmapPixel(qbBitmap* bitmap, int32_t x, int32_t y, uint32_t colour, bool isMask) {
    if (isMask) {
        qbBitmapPlane* mask = PlaneOf(bitmap, kBitmapKindMask);
        if (mask && Inside(*mask, x, y)) ApplyMaskMode(*mask, x, y, static_cast<int>(colour));
        return;
    }
    qbBitmapLock lock;
    if (LockBitmap(bitmap, 0, &lock) == 0) return;
    if (InsideLock(lock, x, y)) {
        uint8_t rgb[3];
        ColourToRgb(colour, rgb);
        WritePixelRGB(PixelAt(lock, x, y), static_cast<int>(lock.pixelFormat), rgb);
    }
    UnlockBitmap(&lock);
}

void FillMaskRect(qbBitmap* mask, int32_t x, int32_t y, int32_t width, int32_t height, int mode) {
    qbBitmapPlane* plane = PlaneOf(mask, kBitmapKindMask);
    if (!plane) return;
    const int32_t x0 = std::max(x, 0);
    const int32_t y0 = std::max(y, 0);
    const auto x1 = static_cast<int32_t>(std::min<int64_t>(int64_t{x} + width, plane->width));
    const auto y1 = static_cast<int32_t>(std::min<int64_t>(int64_t{y} + height, plane->height));
    for (int32_t row = y0; row < y1; ++row) {
        for (int32_t col = x0; col < x1; ++col) ApplyMaskMode(*plane, col, row, mode);
    }
}

namespace {

// n (1..8) mask bits of a row from bit `bit` on, in the top bits of a byte;
// the byte after the first is read only when the bits reach into it.
uint32_t MaskBitsAt(const uint8_t* row, int64_t bit, int32_t n) {
    const uint8_t* p = row + (bit >> 3);
    const auto shift = static_cast<uint32_t>(bit & 7);
    uint32_t window = uint32_t{p[0]} << 8;
    if (shift + static_cast<uint32_t>(n) > 8) window |= p[1];
    return ((window << shift) >> 8) & (0xFF00u >> n) & 0xFFu;
}

template <typename Bits>
Bits CombineMaskBits(int mode, Bits d, Bits s) {
    switch (mode) {
        case kMaskVisible:
        case kMaskOr: return d | s;
        case kMaskInvisible: return d & ~s;
        case kMaskVanillaCopy: return s;
        case kMaskXor: return d ^ s;
        case kMaskAnd: return d & s;
        default: return d;
    }
}

}  // namespace

// Up to eight bits at a time: the mask planes of whole pictures go through
// here each frame of some layer effects.
void BlitMaskRect(const qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* destination, int32_t dx, int32_t dy,
                  int32_t width, int32_t height, int mode, const uint8_t* sourceData, uint32_t sourceRowBytes) {
    qbBitmapPlane* dest = PlaneOf(destination, kBitmapKindMask);
    const qbBitmapPlane* src = PlaneOf(source, kBitmapKindMask);
    if (!dest || (!sourceData && !src) || mode < kMaskVisible || mode > kMaskOr) return;
    const uint8_t* srcRows = sourceData ? sourceData : src->data;
    const uint32_t srcRowBytes = sourceData ? sourceRowBytes : src->rowBytes;
    // Caller rows carry no height; their row bytes bound the columns, the
    // handle's plane both.
    const int64_t srcColumns = sourceData ? int64_t{sourceRowBytes} * kBitsPerByte : int64_t{src->width};
    const int64_t first = std::max<int64_t>({0, -int64_t{dx}, -int64_t{sx}});
    const int64_t last = std::min<int64_t>({width, int64_t{dest->width} - dx, srcColumns - sx});
    if (first >= last) return;
    for (int32_t row = 0; row < height; ++row) {
        const int64_t fy = int64_t{sy} + row, ty = int64_t{dy} + row;
        if (ty < 0 || ty >= dest->height || fy < 0 || (!sourceData && fy >= src->height)) continue;
        const uint8_t* in = srcRows + static_cast<size_t>(fy) * srcRowBytes;
        uint8_t* out = dest->data + static_cast<size_t>(ty) * dest->rowBytes;
        for (int64_t col = first; col < last;) {
            const int64_t tx = dx + col;
            if ((tx & 7) == 0 && last - col >= 64) {
                // 64 bits at once, the first in the top bit; the source's
                // ninth byte holds the last bits when it starts mid-byte.
                const int64_t bit = sx + col;
                const uint8_t* p = in + (bit >> 3);
                const auto shift = static_cast<uint32_t>(bit & 7);
                uint64_t bits = 0, was = 0;
                for (int k = 0; k < 8; ++k) {
                    bits = bits << 8 | p[k];
                    was = was << 8 | out[(tx >> 3) + k];
                }
                if (shift) bits = bits << shift | p[8] >> (8 - shift);
                const uint64_t now = CombineMaskBits<uint64_t>(mode, was, bits);
                for (int k = 0; k < 8; ++k) out[(tx >> 3) + k] = static_cast<uint8_t>(now >> (56 - 8 * k));
                col += 64;
                continue;
            }
            const auto offset = static_cast<int32_t>(tx & 7);
            const auto n = static_cast<int32_t>(std::min<int64_t>(8 - offset, last - col));
            const uint32_t bits = MaskBitsAt(in, sx + col, n) >> offset;
            const uint32_t lanes = ((0xFF00u >> n) & 0xFFu) >> offset;
            uint8_t& byte = out[tx >> 3];
            byte = static_cast<uint8_t>((byte & ~lanes) | (CombineMaskBits<uint32_t>(mode, byte, bits) & lanes));
            col += n;
        }
    }
}

std::vector<uint32_t> CopyBitmapRectToARGB(qbBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
                                           uint32_t lockFlags) {
    if (width <= 0 || height <= 0) return {};
    const int64_t count = int64_t{width} * height;
    if (count * static_cast<int64_t>(sizeof(uint32_t)) > kMaxBitmapBytes) return {};
    std::vector<uint32_t> buffer;
    try {
        buffer.resize(static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
        return {};
    }
    qbBitmapLock lock;
    if (LockBitmap(bitmap, lockFlags | kLockReadOnly, &lock) == 0) return {};
    const int format = static_cast<int>(lock.pixelFormat);
    // Pixels outside the bitmap read as black (the buffer starts zeroed);
    // only the part inside is converted.
    const auto x0 = static_cast<int32_t>(std::max<int64_t>(x, 0));
    const auto y0 = static_cast<int32_t>(std::max<int64_t>(y, 0));
    const auto x1 = static_cast<int32_t>(std::min<int64_t>(int64_t{x} + width, lock.width));
    const auto y1 = static_cast<int32_t>(std::min<int64_t>(int64_t{y} + height, lock.height));
    if (x0 < x1 && y0 < y1) {
        uint32_t* out = buffer.data() + static_cast<size_t>(y0 - y) * width + (x0 - x);
        if (lock.bytesPerPixel == 4) {
            ExportARGB32(out, width, {static_cast<uint32_t*>(lock.pixels), lock.rowLength, x0, y0}, x1 - x0,
                         y1 - y0, static_cast<uint32_t>(format));
        } else if (lock.bytesPerPixel == 2) {
            ExportARGB16(out, width, {static_cast<uint16_t*>(lock.pixels), lock.rowLength, x0, y0}, x1 - x0,
                         y1 - y0, format);
        } else {
            for (int32_t py = y0; py < y1; ++py) {
                for (int32_t px = x0; px < x1; ++px) {
                    uint8_t rgb[3];
                    ReadPixelRGB(PixelAt(lock, px, py), format, rgb);
                    buffer[static_cast<size_t>(py - y) * width + (px - x)] = RgbToColour(rgb);
                }
            }
        }
    }
    UnlockBitmap(&lock);
    return buffer;
}

std::vector<uint32_t> GetBitmapARGB(qbBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
                                    qbBitmap* mask, qbBitmap* alpha, int32_t keyColour, bool maskToAlpha,
                                    uint32_t lockFlags) {
    std::vector<uint32_t> buffer = CopyBitmapRectToARGB(bitmap, x, y, width, height, lockFlags);
    if (buffer.empty()) return buffer;
    const qbBitmapPlane* maskPlane = PlaneOf(mask, kBitmapKindMask);
    const qbBitmapPlane* alphaPlane = PlaneOf(alpha, kBitmapKindAlpha);
    const bool hasKey = keyColour != kNoKeyColour;
    const uint32_t key = static_cast<uint32_t>(keyColour) & kRgbMask;
    for (int32_t row = 0; row < height; ++row) {
        for (int32_t col = 0; col < width; ++col) {
            uint32_t& pixel = buffer[static_cast<size_t>(row) * width + col];
            const int32_t px = x + col, py = y + row;
            uint32_t rgb = pixel & kRgbMask;
            uint32_t a = kAlphaOpaque;
            if (maskPlane) {
                const bool bit = Inside(*maskPlane, px, py) && MaskBit(maskPlane->data, maskPlane->rowBytes, px, py);
                if (maskToAlpha) {
                    a = bit ? kAlphaOpaque : 0;
                } else if (hasKey && !bit) {
                    rgb = key;
                }
            }
            if (alphaPlane && !(maskPlane && maskToAlpha)) {
                a = Inside(*alphaPlane, px, py)
                        ? alphaPlane->data[static_cast<size_t>(py) * alphaPlane->rowBytes + static_cast<size_t>(px)]
                        : 0;
                if (a == 0 && hasKey) rgb |= key;
            }
            pixel = (a << kAlphaShift) | rgb;
        }
    }
    return buffer;
}

qbBitmap* CreateAlphaFromARGB(const uint32_t* pixels, int32_t width, int32_t height, int32_t rowPixels) {
    if (!pixels) return nullptr;
    qbBitmap* alpha = AllocAlphaChannel(width, height, true, nullptr, 0);
    if (!alpha) return nullptr;
    const int32_t stride = std::max(rowPixels, width);
    qbBitmapPlane& plane = *alpha->plane;
    AlphaFromARGB({plane.data, static_cast<int32_t>(plane.rowBytes), 0, 0}, {pixels, stride, 0, 0}, width, height);
    return alpha;
}

int CreateBitmapFromARGB(const uint32_t* pixels, int32_t keyColour, int32_t width, int32_t height,
                         int32_t rowPixels, bool hardware, int planeMode, uint32_t adapterFlags,
                         qbBitmap** outBitmap, qbBitmap** outMask, qbBitmap** outAlpha) {
    (void)adapterFlags;
    constexpr int kPlaneModeAlpha = 2;
    if (outBitmap) *outBitmap = nullptr;
    if (outMask) *outMask = nullptr;
    if (outAlpha) *outAlpha = nullptr;
    if (!pixels || !outBitmap) return ERR_BITMAP;
    if (hardware && videoHooks) {
        // The adapter takes the key colour and the alpha as the pixels'
        // alpha; when it refuses it may allow a plain bitmap instead.
        qbBitmap* plane = nullptr;
        if (planeMode == kPlaneModeAlpha) {
            plane = CreateAlphaFromARGB(pixels, width, height, rowPixels);
            if (!plane) return ERR_ALLOCALPHA;
        }
        void* native = nullptr;
        bool fallback = false;
        const int err = videoHooks->fromPixels(pixels, keyColour, width, height, rowPixels, &plane, &native, &fallback);
        FreeAlphaChannel(plane);
        if (err) return err;
        if (!fallback) {
            try {
                auto made = std::make_unique<qbBitmap>();
                made->native = native;
                made->width = width;
                made->height = height;
                made->videoFlag = 1;
                *outBitmap = made.release();
                return ERR_NONE;
            } catch (const std::bad_alloc&) {
                videoHooks->free(native);
                return ERR_MEM;
            }
        }
    }
    BitmapPtr bitmap(AllocBitmap(width, height, 0, nullptr));
    if (!bitmap) return ERR_BITMAP;
    const int32_t stride = std::max(rowPixels, width);

    qbBitmapLock lock;
    if (LockBitmap(bitmap.get(), 0, &lock) == 0) return ERR_BITMAP;
    const int format = static_cast<int>(lock.pixelFormat);
    const ArgbRows source{pixels, stride, 0, 0};
    if (lock.bytesPerPixel == 4) {
        ImportARGB32({static_cast<uint32_t*>(lock.pixels), lock.rowLength, 0, 0}, source, width, height,
                     static_cast<uint32_t>(format));
    } else if (lock.bytesPerPixel == 2) {
        ImportARGB16({static_cast<uint16_t*>(lock.pixels), lock.rowLength, 0, 0}, source, width, height, format);
    } else {
        // The 3-byte formats have no kernel; they go pixel by pixel.
        for (int32_t row = 0; row < height; ++row) {
            const uint32_t* in = pixels + static_cast<size_t>(row) * stride;
            for (int32_t col = 0; col < width; ++col) {
                uint8_t rgb[3];
                ColourToRgb(in[col], rgb);
                WritePixelRGB(PixelAt(lock, col, row), format, rgb);
            }
        }
    }
    UnlockBitmap(&lock);

    BitmapPtr mask;
    if (keyColour != kNoKeyColour && outMask) {
        mask.reset(AllocMask(bitmap.get(), width, height, true, nullptr, 0));
        if (!mask) return ERR_ALLOCMASK;
        qbBitmapPlane& plane = *mask->plane;
        MaskFromKey32(pixels, stride, width, height, static_cast<uint32_t>(keyColour),
                      {plane.data, static_cast<int32_t>(plane.rowBytes), 0, 0});
    }
    BitmapPtr alpha;
    if (hardware && planeMode == kPlaneModeAlpha && outAlpha) {
        alpha.reset(CreateAlphaFromARGB(pixels, width, height, rowPixels));
        if (!alpha) return ERR_ALLOCALPHA;
    }
    *outBitmap = bitmap.release();
    if (outMask) *outMask = mask.release();
    if (outAlpha) *outAlpha = alpha.release();
    return ERR_NONE;
}

qbBitmap* CopyAlphaChannel(const qbBitmap* alpha, int32_t width, int32_t height) {
    const qbBitmapPlane* source = PlaneOf(alpha, kBitmapKindAlpha);
    if (!source) return nullptr;
    qbBitmap* copy = AllocAlphaChannel(width, height, true, nullptr, 0);
    if (!copy) return nullptr;
    qbBitmapPlane& target = *copy->plane;
    const int32_t rows = std::min(height, source->height);
    const auto bytes = static_cast<size_t>(std::min(width, source->width));
    for (int32_t row = 0; row < rows; ++row) {
        std::memcpy(target.data + static_cast<size_t>(row) * target.rowBytes,
                    source->data + static_cast<size_t>(row) * source->rowBytes, bytes);
    }
    return copy;
}

void FillAlphaRect(qbBitmap* alpha, int32_t x, int32_t y, int32_t width, int32_t height, uint8_t value) {
    qbBitmapPlane* plane = PlaneOf(alpha, kBitmapKindAlpha);
    if (!plane) return;
    const int32_t x0 = std::max(x, 0);
    const int32_t y0 = std::max(y, 0);
    const auto x1 = static_cast<int32_t>(std::min<int64_t>(int64_t{x} + width, plane->width));
    const auto y1 = static_cast<int32_t>(std::min<int64_t>(int64_t{y} + height, plane->height));
    if (x1 <= x0) return;
    for (int32_t row = y0; row < y1; ++row) {
        std::memset(plane->data + static_cast<size_t>(row) * plane->rowBytes + x0, value,
                    static_cast<size_t>(x1 - x0));
    }
}

void FlagVideoBitmap(qbBitmap* bitmap) {
    // Only an adapter that keeps video bitmaps would need telling; none can
    // be installed here, so the state word is all there is to move.
    if (bitmap && bitmap->videoFlag == 1 && bitmap->videoState == 0) bitmap->videoState = 1;
}
