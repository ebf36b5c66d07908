// The coverage painter: one-pixel lines straight into the locked pixels,
// everything else rasterised first and painted pixel by pixel, with the
// planes following the pixels.
#include "draw/shapefill.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <vector>

#include "core/errcodes.h"
#include "core/numbers.h"
#include "core/pixelformats.h"
#include "draw/scan/scan.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/geometry.h"
#include "imaging/planekernels.h"
#include "imaging/wideline.h"

namespace {

// The pixel value the blend kernel stores at full weight.
uint32_t KernelColour(const qbBitmapLock& lock, uint32_t rgb) {
    if (lock.bytesPerPixel == 4) return rgb & 0xFFFFFF;
    const uint8_t bytes[3] = {static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8),
                              static_cast<uint8_t>(rgb)};
    uint16_t pixel = 0;
    WritePixelRGB(&pixel, static_cast<int>(lock.pixelFormat), bytes);
    return pixel;
}

int EngineError() {
    const int32_t e = GetScanError();
    return e == kScanNoMemory || e == kScanRecordMemory ? ERR_MEM : 0;
}

struct Locked {
    qbBitmapLock lock;
    bool held = false;
    explicit Locked(qbBitmap* b, uint32_t flags) {
        if (b) held = LockBitmap(b, flags, &lock) != 0;
    }
    ~Locked() {
        if (held) UnlockBitmap(&lock);
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

// The lowest byte of w that is 0 has its top bit set here (bytes above it
// may be marked falsely, which the lowest set bit never is).
uint64_t ZeroBytes(uint64_t w) { return (w - 0x0101010101010101ull) & ~w & 0x8080808080808080ull; }

// Sets bits from..to - 1 of a mask row.
void SetMaskBits(uint8_t* row, int32_t from, int32_t to) {
    for (; from < to && (from & 7); ++from) row[from >> 3] |= static_cast<uint8_t>(0x80u >> (from & 7));
    for (; from + 8 <= to; from += 8) row[from >> 3] = 0xFF;
    for (; from < to; ++from) row[from >> 3] |= static_cast<uint8_t>(0x80u >> (from & 7));
}

// The first index from i below end whose byte is (nonzero true) not 0, or
// is 0; end when there is none. Eight bytes a step, the byte found by its
// bit's place in the word: runs are mostly a few dozen pixels long.
int32_t FindRunEdge(const uint8_t* row, int32_t i, int32_t end, bool nonzero) {
    static_assert(std::endian::native == std::endian::little, "the first byte in memory is the word's lowest");
    for (; i + 8 <= end; i += 8) {
        uint64_t word;
        std::memcpy(&word, row + i, 8);
        const uint64_t hits = nonzero ? word : ZeroBytes(word);
        if (hits) return i + (std::countr_zero(hits) >> 3);
    }
    for (; i < end; ++i)
        if ((row[i] != 0) == nonzero) return i;
    return end;
}

// Covered pixels at full weight, without clip mask or source image: each
// run of covered pixels takes the colour in one fill, the planes follow.
struct RunPainter {
    const qbShapeFill* f;
    const BlendContext* ctx;
    uint32_t value;  // the pixel value stored
    qbBitmapPlane* mask;
    qbBitmapPlane* alpha;
    uint8_t level[256];  // alpha byte by coverage
};

RunPainter MakeRunPainter(const qbShapeFill& f, const BlendContext& ctx, bool smooth, uint32_t opacity,
                          qbBitmapPlane* mask, qbBitmapPlane* alpha) {
    RunPainter p{&f, &ctx, ctx.colour, mask, alpha, {}};
    if (ctx.bytesPerPixel == 4 && ctx.format != 10) p.value = KernelFromARGB(ctx.format, ctx.colour);
    for (uint32_t v = 0; v < 256; ++v) p.level[v] = static_cast<uint8_t>((smooth ? v : 255u) * opacity / 255);
    return p;
}

// n > 0 pixels of value: runs are mostly a few dozen pixels, so 16 bytes a
// store, the last store overlapping the one before it.
inline void FillPixels(uint32_t* p, int32_t n, uint32_t value) {
    if (n < 4) {
        p[0] = value;
        p[n >> 1] = value;
        p[n - 1] = value;
        return;
    }
    const uint32_t four[4] = {value, value, value, value};
    for (int32_t i = 0; i + 4 < n; i += 4) std::memcpy(p + i, four, sizeof four);
    std::memcpy(p + n - 4, four, sizeof four);
}

// Raster columns i..end-1 of raster row j; cover holds their coverage, or
// is null when every one is covered in full.
void PaintRun(const RunPainter& p, int32_t j, int32_t i, int32_t end, const uint8_t* cover) {
    const BlendContext& ctx = *p.ctx;
    const int32_t py = p.f->y + j, px0 = p.f->x + i, px1 = p.f->x + end;
    const ptrdiff_t at = static_cast<ptrdiff_t>(py) * ctx.rowLength;
    if (ctx.bytesPerPixel == 4) {
        FillPixels(static_cast<uint32_t*>(ctx.pixels) + at + px0, px1 - px0, p.value);
    } else {
        uint16_t* row = static_cast<uint16_t*>(ctx.pixels) + at;
        std::fill(row + px0, row + px1, static_cast<uint16_t>(p.value));
    }
    if (p.mask && py < p.mask->height)
        SetMaskBits(p.mask->data + static_cast<size_t>(py) * p.mask->rowBytes, px0, std::min(px1, p.mask->width));
    if (p.alpha && py < p.alpha->height) {
        uint8_t* a = p.alpha->data + static_cast<size_t>(py) * p.alpha->rowBytes;
        for (int32_t k = 0, x = px0; k < end - i && x < p.alpha->width; ++k, ++x) a[x] = p.level[cover ? cover[k] : 255];
    }
}

void PaintRuns(const RunPainter& p, const uint8_t* cover, int32_t pitch, int32_t i0, int32_t j0, int32_t i1,
               int32_t j1) {
    for (int32_t j = j0; j < j1; ++j) {
        const uint8_t* row = cover + static_cast<ptrdiff_t>(j) * pitch;
        for (int32_t i = FindRunEdge(row, i0, i1, true); i < i1; i = FindRunEdge(row, i, i1, true)) {
            const int32_t end = FindRunEdge(row, i, i1, false);
            PaintRun(p, j, i, end, row + i);
            i = end;
        }
    }
}

// A plain filled polygon's runs as the scan engine sweeps them: no raster.
void PaintSweptRuns(void* context, int32_t j, const int32_t* runs, int32_t count) {
    const auto& p = *static_cast<const RunPainter*>(context);
    for (int32_t k = 0; k < count; ++k) PaintRun(p, j, runs[2 * k], runs[2 * k + 1], nullptr);
}

}  // namespace

int FillShapeCoverage(const qbShapeFill& f) {
    if (!f.target || f.width < 1 || f.height < 1) return 0;
    Locked target(f.target, 0);
    if (!target.held || (target.lock.bytesPerPixel != 2 && target.lock.bytesPerPixel != 4)) return 0;
    const qbBitmapLock& lock = target.lock;
    BlendContext ctx;
    ctx.pixels = lock.pixels;
    ctx.rowLength = lock.rowLength;
    ctx.bytesPerPixel = static_cast<int32_t>(lock.bytesPerPixel);
    ctx.format = lock.pixelFormat;
    ctx.layout = Layout16OfFormat(static_cast<int>(lock.pixelFormat));
    ctx.colour = KernelColour(lock, f.colour);
    const uint32_t opacity = 255 - std::min<uint32_t>(f.alphaByte, 255);
    ctx.alpha = f.outright ? 255 : opacity;
    ctx.clip = {0, 0, lock.width, lock.height};
    if (f.clip) {
        ctx.clip.left = std::max(ctx.clip.left, f.clip->x);
        ctx.clip.top = std::max(ctx.clip.top, f.clip->y);
        ctx.clip.right = static_cast<int32_t>(std::min<int64_t>(ctx.clip.right, int64_t{f.clip->x} + f.clip->width));
        ctx.clip.bottom =
            static_cast<int32_t>(std::min<int64_t>(ctx.clip.bottom, int64_t{f.clip->y} + f.clip->height));
        if (f.clip->mask && f.clip->mask->plane) {
            ctx.mask.data = f.clip->mask->plane->data;
            ctx.mask.rowBytes = static_cast<int32_t>(f.clip->mask->plane->rowBytes);
            ctx.mask.x = SaturatingSub(0, f.clip->x);
            ctx.mask.y = SaturatingSub(0, f.clip->y);
        }
    }
    if (ctx.clip.left >= ctx.clip.right || ctx.clip.top >= ctx.clip.bottom) return 0;

    // A fresh image's planes follow the pixels, so its thin lines go
    // through a coverage map too.
    if (!f.points && f.lineThickness <= 1 && !f.outright) {
        const int32_t x1 = SaturatingAdd(f.x, f.line[0]), y1 = SaturatingAdd(f.y, f.line[1]);
        const int32_t x2 = SaturatingAdd(f.x, f.line[2]), y2 = SaturatingAdd(f.y, f.line[3]);
        if (f.antialias) DrawAntialiasedLine(ctx, x1, y1, x2, y2);
        else DrawPixelLine(ctx, x1, y1, x2, y2);
        return 0;
    }

    const bool smooth = f.antialias && !f.filled;
    Locked source(f.source, kLockReadOnly);
    const bool fromSource = source.held && source.lock.bytesPerPixel == lock.bytesPerPixel;
    qbBitmapPlane* mask = f.mask && f.mask->kind == kBitmapKindMask ? f.mask->plane.get() : nullptr;
    qbBitmapPlane* alpha = f.alpha && f.alpha->kind == kBitmapKindAlpha ? f.alpha->plane.get() : nullptr;
    // The raster's columns i0..i1 and rows j0..j1 that fall inside the
    // clip: the overlap is found in 64 bits, so a raster placed at the
    // 32-bit limits overlaps nothing instead of wrapping onto the target.
    const qbRect seen = IntersectRects({f.x, f.y, f.width, f.height},
                                       {ctx.clip.left, ctx.clip.top, ctx.clip.right - ctx.clip.left,
                                        ctx.clip.bottom - ctx.clip.top});
    if (seen.width < 1 || seen.height < 1) return 0;
    const int32_t i0 = SaturatingSub(seen.x, f.x), j0 = SaturatingSub(seen.y, f.y);
    const int32_t i1 = i0 + seen.width, j1 = j0 + seen.height;
    const bool byRuns = (f.outright || (!smooth && opacity == 255)) && !ctx.mask.data && !fromSource;
    if (f.points && f.filled && byRuns) {
        // Painted as the engine sweeps it. A shape whose raster the engine
        // would refuse stays undrawn, as it does on the raster's road.
        if (((int64_t{f.width} + 3) & ~int64_t{3}) * f.height > static_cast<int64_t>(kScanMaxBlock)) return 0;
        RunPainter painter = MakeRunPainter(f, ctx, smooth, opacity, mask, alpha);
        ScanPolygonRuns(f.points, f.count, i0, j0, i1, j1, PaintSweptRuns, &painter);
        return EngineError();
    }

    uint8_t* cover = nullptr;
    int32_t pitch = 0;
    CoverageRasterPtr raster;
    std::vector<uint8_t> thinCover;
    if (!f.points && f.lineThickness <= 1) {
        // A fresh image's thin line: the pixels the direct road would
        // draw, taken as coverage through white drawn on black.
        std::vector<uint32_t> thin;
        try {
            thin.assign(static_cast<size_t>(f.width) * f.height, 0);
            thinCover.resize(thin.size());
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
        BlendContext white;
        white.pixels = thin.data();
        white.rowLength = f.width;
        white.colour = 0xFFFFFF;
        white.clip = {0, 0, f.width, f.height};
        if (f.antialias) DrawAntialiasedLine(white, f.line[0], f.line[1], f.line[2], f.line[3]);
        else DrawPixelLine(white, f.line[0], f.line[1], f.line[2], f.line[3]);
        for (size_t k = 0; k < thin.size(); ++k) thinCover[k] = static_cast<uint8_t>(thin[k] & 0xFF);
        cover = thinCover.data();
        pitch = f.width;
    } else {
        raster.reset(CreateCoverageRaster(f.width, f.height, &cover, &pitch));
        if (!raster) return EngineError();
        if (f.points) {
            const int32_t thickness = f.filled ? 0 : std::clamp(f.lineWidth, 1, kMaxScanThickness);
            FillPolygon(raster.get(), f.points, f.count, f.filled ? 0 : f.antialias, thickness);
        } else {
            DrawThickLine(raster.get(), f.line[0], f.line[1], f.line[2], f.line[3], f.antialias,
                          std::clamp(f.lineThickness, 1, kMaxScanThickness));
        }
        if (int err = EngineError()) return err;
    }
    if (byRuns) {
        PaintRuns(MakeRunPainter(f, ctx, smooth, opacity, mask, alpha), cover, pitch, i0, j0, i1, j1);
        return 0;
    }
    for (int32_t j = j0; j < j1; ++j) {
        const uint8_t* row = cover + static_cast<ptrdiff_t>(j) * pitch;
        const int32_t py = f.y + j;
        for (int32_t i = i0; i < i1; ++i) {
            if (row[i] == 0) continue;
            const int32_t px = f.x + i;
            if (ctx.mask.data) {
                const uint8_t* mrow = ctx.mask.data + static_cast<ptrdiff_t>(py + ctx.mask.y) * ctx.mask.rowBytes;
                const int32_t bit = px + ctx.mask.x;
                if (!(mrow[bit >> 3] & (0x80u >> (bit & 7)))) continue;
            }
            const uint32_t coverage = smooth ? row[i] : 255;
            BlendContext one = ctx;
            one.mask = {};
            one.coverage = f.outright ? 255 : coverage;
            if (fromSource && i < source.lock.width && j < source.lock.height) {
                const auto* s = static_cast<const uint8_t*>(source.lock.pixels) +
                                (static_cast<ptrdiff_t>(j) * source.lock.rowLength + i) * lock.bytesPerPixel;
                one.colour = lock.bytesPerPixel == 4 ? KernelToARGB(lock.pixelFormat, *reinterpret_cast<const uint32_t*>(s))
                                                     : *reinterpret_cast<const uint16_t*>(s);
            }
            PlotBlendedPixel(one, px, py);
            if (mask && px < mask->width && py < mask->height)
                mask->data[static_cast<size_t>(py) * mask->rowBytes + (px >> 3)] |= static_cast<uint8_t>(0x80u >> (px & 7));
            if (alpha && px < alpha->width && py < alpha->height)
                alpha->data[static_cast<size_t>(py) * alpha->rowBytes + px] =
                    static_cast<uint8_t>(coverage * opacity / 255);
        }
    }
    return 0;
}
