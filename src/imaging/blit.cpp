// Bitmap-to-bitmap drawing: the choice between the display adapter and the
// pixel kernels, and the lock-and-run glue around the kernels.
#include "imaging/blit.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/pixelformats.h"
#include "imaging/gradient.h"
#include "imaging/kernels.h"
#include "imaging/planekernels.h"

namespace {

const qbBlitRoute* blitRoute = nullptr;

// Pixels per step of the SSE2 rows, the narrowest the kernels have.
constexpr int32_t kNarrowestVectorStep = 4;

// A colour bitmap's pixels for the length of one operation: read straight
// from the record of a plain-memory bitmap, else locked and let go when it
// leaves scope.
class ScopedLock {
public:
    ScopedLock(qbBitmap* bitmap, uint32_t flags) {
        if (!bitmap) return;
        if (PeekPlainPixels(bitmap, &view_))
            ok_ = true;
        else
            Lock(bitmap, flags);
    }
    ~ScopedLock() {
        if (locked_) UnlockBitmap(&*lock_);
    }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;
    bool ok() const { return ok_; }
    const qbPixelView& view() const { return view_; }
    int format() const { return static_cast<int>(view_.pixelFormat); }
    uint32_t bytes() const { return view_.bytesPerPixel; }

private:
    [[gnu::noinline]] void Lock(qbBitmap* bitmap, uint32_t flags) {
        lock_.emplace();
        if (LockBitmap(bitmap, flags, &*lock_) == 0) return;
        view_ = {lock_->pixels, lock_->rowLength, lock_->bytesPerPixel, lock_->pixelFormat};
        ok_ = locked_ = true;
    }

    qbPixelView view_;
    std::optional<qbBitmapLock> lock_;  // only for bitmaps that need a real lock
    bool ok_ = false;
    bool locked_ = false;
};

// The source (read-only) and the destination of a copy; the destination is
// not taken when the source cannot be.
class BothLocked {
public:
    BothLocked(qbBitmap* source, qbBitmap* destination)
        : src_(source, kLockReadOnly), dst_(src_.ok() ? destination : nullptr, 0) {}
    // The pixel size both share, 0 when either is missing or they differ.
    uint32_t bytes() const { return dst_.ok() && src_.bytes() == dst_.bytes() ? dst_.bytes() : 0; }
    const qbPixelView& src() const { return src_.view(); }
    const qbPixelView& dst() const { return dst_.view(); }
    int format() const { return dst_.format(); }

private:
    ScopedLock src_;
    ScopedLock dst_;
};

// The kernels take their rectangles by value on the stack, where the
// compiler copies a record with 16-byte loads. Built field by field, the
// record makes those loads wait until the narrower stores have reached the
// cache (they cannot be forwarded), a third of the cost of a small blit;
// built as one 16-byte and one 8-byte store, it is forwarded.
template <class Rows>
Rows KernelRows(const void* data, int32_t stride, int32_t x, int32_t y) {
    static_assert(sizeof(Rows) == 24 && offsetof(Rows, x) == 12 && offsetof(Rows, y) == 16);
    using Head = uint64_t __attribute__((vector_size(16)));
    const Head head = {reinterpret_cast<uintptr_t>(data),
                       static_cast<uint32_t>(stride) | uint64_t{static_cast<uint32_t>(x)} << 32};
    const uint64_t tail = static_cast<uint32_t>(y);
    Rows rows;
    std::memcpy(static_cast<void*>(&rows), &head, sizeof head);
    std::memcpy(reinterpret_cast<char*>(&rows) + sizeof head, &tail, sizeof tail);
    return rows;
}

PixelRows32 Rows32(const qbPixelView& v, int32_t x, int32_t y) {
    return KernelRows<PixelRows32>(v.pixels, v.rowLength, x, y);
}
PixelRows16 Rows16(const qbPixelView& v, int32_t x, int32_t y) {
    return KernelRows<PixelRows16>(v.pixels, v.rowLength, x, y);
}

// A $RRGGBB colour as a pixel of the format; 32-bit pixels are opaque.
uint32_t OpaquePixel(int format, uint32_t colour) {
    const uint8_t rgb[3] = {static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 8),
                            static_cast<uint8_t>(colour)};
    uint32_t pixel = 0;
    WritePixelRGB(&pixel, format, rgb);
    if (IsPixelFormat32(format)) pixel |= ImportPixel32(static_cast<uint32_t>(format), 0xFF000000u);
    return pixel;
}

// The tile walk shared by both tilers: piece(tileX, tileY, x, y, w, h).
template <class Piece>
void WalkTiles(int32_t width, int32_t height, int32_t startX, int32_t startY, int32_t tileWidth, int32_t tileHeight,
               Piece piece) {
    if (width <= 0 || height <= 0 || tileWidth <= 0 || tileHeight <= 0) return;
    auto reduce = [](int32_t start, int32_t size) {
        if (start < 0) start = start % size + size;
        return start % size;
    };
    const int32_t offsetX = reduce(startX, tileWidth);
    const int32_t offsetY = reduce(startY, tileHeight);
    for (int32_t y = 0, inY = offsetY; y < height; inY = 0) {
        const int32_t h = std::min(tileHeight - inY, height - y);
        for (int32_t x = 0, inX = offsetX; x < width; inX = 0) {
            const int32_t w = std::min(tileWidth - inX, width - x);
            piece(inX, inY, x, y, w, h);
            x += w;
        }
        y += h;
    }
}

}  // namespace

void SetBlitRoute(const qbBlitRoute* route) { blitRoute = route; }

const qbBlitRoute* GetBlitRoute() { return blitRoute; }

MaskRows MaskRowsOf(const qbBitmap* mask, int32_t x, int32_t y) {
    const qbBitmapPlane* p = mask && mask->plane ? mask->plane.get() : nullptr;
    return p ? KernelRows<MaskRows>(p->data, static_cast<int32_t>(p->rowBytes), x, y) : MaskRows{};
}

AlphaRows AlphaRowsOf(const qbBitmap* alpha, int32_t x, int32_t y) {
    const qbBitmapPlane* p = alpha && alpha->plane ? alpha->plane.get() : nullptr;
    return p ? KernelRows<AlphaRows>(p->data, static_cast<int32_t>(p->rowBytes), x, y) : AlphaRows{};
}

void FillBitmapRect(qbBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour) {
    if (!bitmap || width <= 0 || height <= 0) return;
    if (blitRoute && blitRoute->fill(bitmap, x, y, width, height, colour)) return;
    ScopedLock dst(bitmap, 0);
    if (!dst.ok()) return;
    const uint32_t pixel = OpaquePixel(dst.format(), colour);
    if (dst.bytes() == 4)
        FillRect32(Rows32(dst.view(), x, y), width, height, pixel);
    else if (dst.bytes() == 2)
        FillRect16(Rows16(dst.view(), x, y), width, height, static_cast<uint16_t>(pixel));
}

void CopyBitmapRect(qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* destination, int32_t dx, int32_t dy,
                    int32_t width, int32_t height) {
    if (!source || !destination || width <= 0 || height <= 0) return;
    if (blitRoute && blitRoute->copy(source, sx, sy, destination, dx, dy, width, height, nullptr, 0)) return;
    const BothLocked both(source, destination);
    if (both.bytes() == 4)
        CopyRect32(Rows32(both.dst(), dx, dy), Rows32(both.src(), sx, sy), width, height);
    else if (both.bytes() == 2)
        CopyRect16(Rows16(both.dst(), dx, dy), Rows16(both.src(), sx, sy), width, height);
}

void CopyBitmapRectMasked(qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* destination, int32_t dx, int32_t dy,
                          int32_t width, int32_t height, qbBitmap* mask) {
    if (!source || !destination || width <= 0 || height <= 0) return;
    if (blitRoute && blitRoute->copy(source, sx, sy, destination, dx, dy, width, height, mask, 1)) return;
    const MaskRows rows = MaskRowsOf(mask, sx, sy);
    if (!rows.data) return;
    const BothLocked both(source, destination);
    if (both.bytes() == 4)
        MaskedCopy32(Rows32(both.dst(), dx, dy), Rows32(both.src(), sx, sy), rows, width, height);
    else if (both.bytes() == 2)
        MaskedCopy16(Rows16(both.dst(), dx, dy), Rows16(both.src(), sx, sy), rows, width, height);
}

void CopyBitmapRectAlpha(qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* destination, int32_t dx, int32_t dy,
                         int32_t width, int32_t height, qbBitmap* alpha) {
    if (!source || !destination || width <= 0 || height <= 0) return;
    if (blitRoute && blitRoute->copy(source, sx, sy, destination, dx, dy, width, height, alpha, 2)) return;
    const AlphaRows rows = AlphaRowsOf(alpha, sx, sy);
    if (!rows.data) return;
    const BothLocked both(source, destination);
    if (both.bytes() == 4) {
        // Rows narrower than the narrowest vector step gain nothing from the
        // vector forms but the calls that find no work to do.
        const KernelIsa isa = width < kNarrowestVectorStep ? KernelIsa::Portable : BestKernelIsa();
        AlphaBlend32With(isa, Rows32(both.dst(), dx, dy), Rows32(both.src(), sx, sy), rows, width, height,
                         static_cast<uint32_t>(both.format()));
    } else if (both.bytes() == 2) {
        AlphaBlend16(Rows16(both.dst(), dx, dy), Rows16(both.src(), sx, sy), rows, width, height,
                     Layout16OfFormat(both.format()));
    }
}

void TileBitmapRect(qbBitmap* destination, int32_t x, int32_t y, int32_t width, int32_t height, qbBitmap* tile,
                    int32_t startX, int32_t startY, int32_t tileWidth, int32_t tileHeight) {
    if (!destination || !tile) return;
    WalkTiles(width, height, startX, startY, tileWidth, tileHeight,
              [&](int32_t tx, int32_t ty, int32_t px, int32_t py, int32_t w, int32_t h) {
                  CopyBitmapRect(tile, tx, ty, destination, x + px, y + py, w, h);
              });
}

void TileRawRect(uint32_t* destination, int32_t width, int32_t height, const uint32_t* tile, int32_t startX,
                 int32_t startY, int32_t tileWidth, int32_t tileHeight, int32_t tileRowLength) {
    if (!destination || !tile) return;
    WalkTiles(width, height, startX, startY, tileWidth, tileHeight,
              [&](int32_t tx, int32_t ty, int32_t px, int32_t py, int32_t w, int32_t h) {
                  for (int32_t row = 0; row < h; ++row) {
                      const uint32_t* from = tile + static_cast<size_t>(ty + row) * static_cast<size_t>(tileRowLength) +
                                             static_cast<size_t>(tx);
                      uint32_t* to = destination + static_cast<size_t>(py + row) * static_cast<size_t>(width) +
                                     static_cast<size_t>(px);
                      std::copy(from, from + w, to);
                  }
              });
}

void DrawMaskInColor(qbBitmap* destination, int32_t x, int32_t y, qbBitmap* mask, int32_t mx, int32_t my,
                     int32_t width, int32_t height, uint32_t colour, const uint8_t* maskData, int32_t maskRowBytes) {
    if (!destination || width <= 0 || height <= 0) return;
    MaskRows rows = MaskRowsOf(mask, mx, my);
    if (maskData) rows = MaskRows{const_cast<uint8_t*>(maskData), maskRowBytes, mx, my};
    if (!rows.data) return;
    ScopedLock dst(destination, 0);
    if (!dst.ok()) return;
    const uint32_t pixel = OpaquePixel(dst.format(), colour);
    if (dst.bytes() == 4)
        ColourThroughMask32(Rows32(dst.view(), x, y), rows, width, height, pixel);
    else if (dst.bytes() == 2)
        ColourThroughMask16(Rows16(dst.view(), x, y), rows, width, height, static_cast<uint16_t>(pixel));
}

void BltAlphaChannel(const qbAlphaChannelBlit& b) {
    if (!b.destination) {
        ConsolePrintf("ERROR! BLTALPHACHANNEL() CALLED WITH DST=NULL!\n");
        return;
    }
    if (b.width <= 0 || b.height <= 0) return;
    AlphaDrawParams p;
    p.mode = b.mode;
    p.intensity = b.intensity;
    p.alpha = b.alphaData ? AlphaRows{const_cast<uint8_t*>(b.alphaData), b.alphaRowBytes, b.srcX, b.srcY}
                          : AlphaRowsOf(b.alpha, b.srcX, b.srcY);
    p.coverage = CoverageRows16{b.coverage, b.coverageRowLength, b.srcX, b.srcY};
    p.destAlpha = AlphaRowsOf(b.destinationAlpha, b.dstX, b.dstY);
    if (!p.alpha.data && !(b.mode == 3 && b.coverage)) return;
    ScopedLock dst(b.destination, 0);
    if (!dst.ok()) return;
    ScopedLock src(b.sourceColour, kLockReadOnly);
    if (b.sourceColour && (!src.ok() || src.bytes() != dst.bytes())) return;
    if (dst.bytes() == 4) {
        p.colour = b.colour;
        const PixelRows32 from = src.ok() ? Rows32(src.view(), b.srcX, b.srcY) : PixelRows32{};
        AlphaChannelDraw32(Rows32(dst.view(), b.dstX, b.dstY), src.ok() ? &from : nullptr, p, b.width, b.height,
                           static_cast<uint32_t>(dst.format()));
    } else if (dst.bytes() == 2) {
        p.colour = OpaquePixel(dst.format(), b.colour);
        const PixelRows16 from = src.ok() ? Rows16(src.view(), b.srcX, b.srcY) : PixelRows16{};
        AlphaChannelDraw16(Rows16(dst.view(), b.dstX, b.dstY), src.ok() ? &from : nullptr, p, b.width, b.height,
                           Layout16OfFormat(dst.format()));
    }
}

namespace {

// Clipping of the two plane operations: a negative destination origin moves
// the source origin with it, then both planes bound the size.
bool ClipPlanes(int32_t& sx, int32_t& sy, int32_t& dx, int32_t& dy, int32_t& width, int32_t& height, int32_t srcWidth,
                int32_t srcHeight, int32_t dstWidth, int32_t dstHeight) {
    if (dx < 0) {
        sx -= dx;
        width += dx;
        dx = 0;
    }
    if (dy < 0) {
        sy -= dy;
        height += dy;
        dy = 0;
    }
    // A negative source origin would read in front of the plane.
    if (sx < 0 || sy < 0) return false;
    width = std::min({width, srcWidth - sx, dstWidth - dx});
    height = std::min({height, srcHeight - sy, dstHeight - dy});
    return width > 0 && height > 0;
}

}  // namespace

void BltAlphaChannelClipped(qbAlphaChannelBlit b, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                            int32_t dstHeight) {
    if (!b.destination) {
        BltAlphaChannel(b);
        return;
    }
    if (ClipPlanes(b.srcX, b.srcY, b.dstX, b.dstY, b.width, b.height, srcWidth, srcHeight, dstWidth, dstHeight))
        BltAlphaChannel(b);
}

void CombineAlphaRect(qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* destination, int32_t dx, int32_t dy,
                      int32_t width, int32_t height, int32_t mode, uint32_t value) {
    const AlphaRows src = AlphaRowsOf(source, sx, sy);
    const AlphaRows dst = AlphaRowsOf(destination, dx, dy);
    if (!src.data || !dst.data || width <= 0 || height <= 0) return;
    CombineAlpha(dst, src, width, height, mode, value);
}

void CombineAlphaRectClipped(qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* destination, int32_t dx, int32_t dy,
                             int32_t width, int32_t height, int32_t mode, uint32_t value, int32_t srcWidth,
                             int32_t srcHeight, int32_t dstWidth, int32_t dstHeight) {
    if (ClipPlanes(sx, sy, dx, dy, width, height, srcWidth, srcHeight, dstWidth, dstHeight))
        CombineAlphaRect(source, sx, sy, destination, dx, dy, width, height, mode, value);
}

int DrawGradient(qbBitmap* destination, int32_t x, int32_t y, int32_t width, int32_t height,
                 const qbGradientOptions* gradient) {
    if (!destination) {
        ConsolePrintf("ERROR! DRAWGRADIENT() CALLED WITH DST=NULL!\n");
        return 0;
    }
    if (!gradient || gradient->stops.size() == 1 || gradient->stops.size() > static_cast<size_t>(kMaxGradientStops))
        return ERR_WRONGUSAGE;
    ScopedLock lock(destination, 0);
    if (!lock.ok()) return ERR_LOCKBMAP;
    qbGradientFill fill;
    fill.pixels = lock.view().pixels;
    fill.bytesPerPixel = static_cast<int32_t>(lock.bytes());
    fill.pixelFormat = lock.format();
    fill.x = x;
    fill.y = y;
    fill.width = width;
    fill.height = height;
    fill.pitch = lock.view().rowLength;
    fill.gradient = gradient;
    // The geometry spans the whole rectangle; only the bitmap's part is drawn.
    FillGradientPixelsClipped(fill, 0, 0, destination->width, destination->height);
    return 0;
}
