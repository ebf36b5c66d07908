// The composition of styled text. Every run becomes an 8-bit coverage plane
// (one-bit output as 0 or 255), gets its synthetic styles there, and its
// shadow, edge and glyphs are laid over an ARGB block whose top byte is the
// alpha; the block then becomes a bitmap with a mask or an alpha channel.
#include "text/textcompose.h"

#include <algorithm>
#include <memory>
#include <new>

#include "core/errcodes.h"
#include "core/errors.h"
#include "imaging/blit.h"
#include "imaging/planekernels.h"
#include "text/font.h"
#include "text/textedge.h"

namespace {

// Blocks past this many pixels are refused as unallocatable.
constexpr int64_t kMaxBlockPixels = int64_t{1} << 28;

struct Plane {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> cov;
    uint8_t& At(int32_t x, int32_t y) { return cov[static_cast<size_t>(y) * width + x]; }
};

struct Block {
    int32_t width = 0;
    int32_t height = 0;
    // Rows are not cleared up front: per row, the columns [lo, hi) hold
    // what the planes laid over them (0 where they had no coverage), and
    // Finish clears the rest. Text covers most of its block, so most
    // pixels are written once instead of twice.
    std::unique_ptr<uint32_t[]> own;
    uint32_t* argb = nullptr;
    int32_t stride = 0;  // pixels from one row to the next
    // The alpha bytes of the pixels, kept as they are laid: a cleared plane
    // of the block's size.
    uint8_t* alpha = nullptr;
    size_t alphaRowBytes = 0;
    std::vector<int32_t> lo, hi;

    // Rows of the block's own, or the caller's rows (into, stride apart).
    // 0 or ERR_BITMAP.
    int Init(int32_t w, int32_t h, uint32_t* into = nullptr, int32_t intoStride = 0) {
        width = w;
        height = h;
        try {
            if (into) {
                argb = into;
                stride = intoStride;
            } else {
                own = std::make_unique_for_overwrite<uint32_t[]>(static_cast<size_t>(w) * static_cast<size_t>(h));
                argb = own.get();
                stride = w;
            }
            lo.assign(static_cast<size_t>(h), w);
            hi.assign(static_cast<size_t>(h), 0);
        } catch (const std::bad_alloc&) {
            return ERR_BITMAP;
        }
        return 0;
    }

    // Clears what no plane reached.
    void Finish() {
        for (int32_t y = 0; y < height; ++y) {
            uint32_t* row = argb + static_cast<size_t>(y) * stride;
            const auto r = static_cast<size_t>(y);
            if (lo[r] >= hi[r]) {
                std::fill(row, row + width, 0u);
                continue;
            }
            std::fill(row, row + lo[r], 0u);
            std::fill(row + hi[r], row + width, 0u);
        }
    }

    // Coverage c in colour (its top byte a transparency t) laid over the
    // block at x, y: alpha c (255 - t) / 255, mixed over what is there.
    void Lay(const Plane& p, int32_t x, int32_t y, uint32_t colour) {
        const uint32_t keep = 255 - (colour >> 24);
        const uint32_t rgb = colour & 0xFFFFFF;
        // The plane's columns and rows that land inside the block.
        const int32_t i0 = static_cast<int32_t>(std::clamp<int64_t>(-int64_t{x}, 0, p.width));
        const int32_t i1 = static_cast<int32_t>(std::clamp<int64_t>(int64_t{width} - x, i0, p.width));
        const int32_t j0 = static_cast<int32_t>(std::clamp<int64_t>(-int64_t{y}, 0, p.height));
        const int32_t j1 = static_cast<int32_t>(std::clamp<int64_t>(int64_t{height} - y, j0, p.height));
        if (i0 >= i1) return;
        for (int32_t j = j0; j < j1; ++j) {
            const uint8_t* cov = p.cov.data() + static_cast<size_t>(j) * p.width;
            uint32_t* row = argb + static_cast<size_t>(y + j) * stride;
            uint8_t* arow = alpha + static_cast<size_t>(y + j) * alphaRowBytes;
            const size_t r = static_cast<size_t>(y + j);
            // Block columns: where nothing lies yet the pixel is simply the
            // coverage in the colour; only the laid span needs the mix.
            const int32_t from = x + i0, to = x + i1;
            // A gap between the laid span and this one is cleared, so that
            // the span stays one piece.
            if (lo[r] < hi[r] && to < lo[r]) std::fill(row + to, row + lo[r], 0u);
            if (lo[r] < hi[r] && from > hi[r]) std::fill(row + hi[r], row + from, 0u);
            const int32_t mixFrom = std::max(from, lo[r]), mixTo = std::min(to, hi[r]);
            if (mixFrom < mixTo) {
                Fresh(cov + i0, row + from, arow + from, 0, mixFrom - from, keep, rgb);
                Mix(cov + i0, row + from, arow + from, mixFrom - from, mixTo - from, keep, rgb);
                Fresh(cov + i0, row + from, arow + from, mixTo - from, to - from, keep, rgb);
            } else {
                Fresh(cov + i0, row + from, arow + from, 0, to - from, keep, rgb);
            }
            lo[r] = std::min(lo[r], from);
            hi[r] = std::max(hi[r], to);
        }
    }

    // Pixels [from, to) of a row that holds only 0 there, under the
    // coverage bytes of the same indexes.
    static void Fresh(const uint8_t* cov, uint32_t* row, uint8_t* arow, int32_t from, int32_t to, uint32_t keep,
                      uint32_t rgb) {
        if (keep == 255) {
            for (int32_t i = from; i < to; ++i) {
                const uint32_t c = cov[i];
                row[i] = c != 0 ? (c << 24 | rgb) : 0;
                arow[i] = static_cast<uint8_t>(c);
            }
            return;
        }
        for (int32_t i = from; i < to; ++i) {
            const uint32_t a = cov[i] * keep / 255;
            row[i] = a != 0 ? (a << 24 | rgb) : 0;
            arow[i] = static_cast<uint8_t>(a);
        }
    }

    // The same pixels where something may lie already.
    static void Mix(const uint8_t* cov, uint32_t* row, uint8_t* arow, int32_t from, int32_t to, uint32_t keep,
                    uint32_t rgb) {
        for (int32_t i = from; i < to; ++i) {
            const uint32_t c = cov[i];
            if (c == 0) continue;
            const uint32_t a = c * keep / 255;
            if (a == 0) continue;
            uint32_t& d = row[i];
            const uint32_t da = d >> 24;
            if (a == 255 || da == 0) {
                d = a << 24 | rgb;
                arow[i] = static_cast<uint8_t>(a);
                continue;
            }
            const uint32_t under = da * (255 - a) / 255;
            const uint32_t outA = a + under;
            uint32_t mixed = 0;
            for (int shift = 0; shift <= 16; shift += 8) {
                const uint32_t s = (rgb >> shift) & 255, t = (d >> shift) & 255;
                mixed |= ((s * a + t * under) / outA) << shift;
            }
            d = outA << 24 | mixed;
            arow[i] = static_cast<uint8_t>(outA);
        }
    }
};

void ShadowOffset(int32_t direction, int32_t s, int32_t* dx, int32_t* dy) {
    static constexpr int8_t kX[8] = {0, 1, 1, 1, 0, -1, -1, -1};
    static constexpr int8_t kY[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
    const int32_t d = direction >= 0 && direction <= 7 ? direction : 3;
    *dx = kX[d] * s;
    *dy = kY[d] * s;
}

// A run's box in layout coordinates: ink, advance and line, widened by the
// room its shadow and edge take.
struct Box {
    int64_t left, top, right, bottom;
};
Box RunBox(const qbTextSegment& r, const qbFont& font) {
    const qbTextMetrics& m = r.extents;
    Box b;
    b.left = int64_t{r.x} + std::min(0, m.minX) + m.extraLeft;
    b.right = int64_t{r.x} + std::max({m.width, m.maxX, m.visibleWidth}) + m.extraRight;
    b.top = int64_t{r.y} + std::min(0, font.baseline + m.minY) + m.extraTop;
    b.bottom = int64_t{r.y} + std::max(font.height + 1, font.baseline + m.maxY) + m.extraBottom;
    return b;
}

void Align(std::vector<qbTextSegment>* runs, int32_t align) {
    if (align != kTextAlignCenter && align != kTextAlignRight) return;
    int64_t blockRight = 0;
    for (const qbTextSegment& r : *runs) blockRight = std::max<int64_t>(blockRight, int64_t{r.x} + r.extents.width);
    for (size_t i = 0; i < runs->size();) {
        size_t end = i;
        int64_t lineRight = 0;
        for (; end < runs->size() && (*runs)[end].y == (*runs)[i].y; ++end)
            lineRight = std::max<int64_t>(lineRight, int64_t{(*runs)[end].x} + (*runs)[end].extents.width);
        const int64_t shift = align == kTextAlignCenter ? (blockRight - lineRight) / 2 : blockRight - lineRight;
        for (; i < end; ++i) (*runs)[i].x = static_cast<int32_t>((*runs)[i].x + shift);
    }
}

// The run's own coverage: rendered by its font at ox, then the synthetic
// styles the font does not make itself.
int RenderRun(const qbTextSegment& r, qbFont* font, bool antialias, int encoding, int32_t ox, Plane* p) {
    const bool synthetic = !IsNativeFont(font);
    uint32_t flags = r.style.flags & ~uint32_t{kTextShadow | kTextEdge};
    const bool boldHere = synthetic && (flags & kTextBold) && !antialias;
    const bool italicHere = synthetic && (flags & kTextItalic) && (!antialias || font->engine == kFontKindColourBitmap);
    const bool underlineHere = synthetic && (flags & kTextUnderlined);
    if (boldHere) flags &= ~uint32_t{kTextBold};
    if (italicHere) flags &= ~uint32_t{kTextItalic};
    if (synthetic) flags &= ~uint32_t{kTextUnderlined};
    const qbClipRect clip{0, 0, p->width, p->height};
    if (antialias) {
        // The glyphs go straight into the run's plane.
        BitmapPtr plane(AllocAlphaChannel(p->width, p->height, false, p->cov.data(), static_cast<uint32_t>(p->width)));
        if (!plane) return ERR_MEM;
        if (int err = RenderFontText(font, plane.get(), nullptr, ox, 0, r.text.data(), r.text.size(), flags, encoding,
                                     clip, kFontPenMask))
            return err;
    } else {
        BitmapPtr mask(AllocMask(nullptr, p->width, p->height, true, nullptr, 0));
        BitmapPtr plane(AllocAlphaChannel(p->width, p->height, true, nullptr, 0));
        if (!mask || !plane) return ERR_MEM;
        if (int err = RenderFontText(font, mask.get(), nullptr, ox, 0, r.text.data(), r.text.size(), flags, encoding,
                                     clip, kFontPenMask))
            return err;
        const AlphaRows rows = AlphaRowsOf(plane.get(), 0, 0);
        MaskToAlpha(rows, MaskRowsOf(mask.get(), 0, 0), p->width, p->height, 255);
        for (int32_t y = 0; y < p->height; ++y)
            std::copy_n(rows.data + static_cast<size_t>(y) * rows.rowBytes, p->width, &p->At(0, y));
    }
    if (boldHere)
        for (int32_t y = 0; y < p->height; ++y)
            for (int32_t x = p->width - 1; x > 0; --x) p->At(x, y) = std::max(p->At(x, y), p->At(x - 1, y));
    if (italicHere) {
        int32_t c = font->baseline, s = font->baseline / 2;
        std::vector<uint8_t> row(static_cast<size_t>(p->width));
        for (int32_t y = 0; y < p->height; ++y) {
            --c;
            --s;
            if (c % 2 == 0) ++s;
            std::fill(row.begin(), row.end(), 0);
            for (int32_t x = 0; x < p->width; ++x) {
                const int64_t to = int64_t{x} + s;
                if (to >= 0 && to < p->width) row[static_cast<size_t>(to)] = p->At(x, y);
            }
            std::copy(row.begin(), row.end(), &p->At(0, y));
        }
    }
    if (underlineHere) {
        const int32_t d = font->height - font->baseline;
        int32_t top = font->baseline + std::max(d / 3, 1), thickness = std::max(d / 3, 1);
        if (d <= 0) top = font->baseline, thickness = 1;
        else if (d == 1) top = font->baseline + 1, thickness = 1;
        for (int32_t y = std::max(top, 0); y < std::min(top + thickness, p->height); ++y)
            for (int32_t x = std::max(ox, 0); x < std::min(ox + r.extents.width, p->width); ++x) p->At(x, y) = 255;
    }
    return 0;
}

Plane EdgeOf(const Plane& p, int32_t e, bool antialias) {
    Plane out;
    out.width = p.width + 2 * e;
    out.height = p.height + 2 * e;
    if (antialias) EdgeCoverageAntialiased(p.cov.data(), p.width, p.height, e, &out.cov);
    else EdgeCoverageStamped(p.cov.data(), p.width, p.height, e, &out.cov);
    return out;
}

// Lays a plane at a place the bounds made room for; a negative one would
// be a fault of the bounds.
void Stamp(Block* block, const Plane& p, int64_t x, int64_t y, uint32_t colour) {
    if (x < 0 || y < 0) {
        ConsolePrintf("ERROR! EDGEDRAW CALLED WITH NEGATIVE X/Y!\n");
        return;
    }
    block->Lay(p, static_cast<int32_t>(x), static_cast<int32_t>(y), colour);
}

}  // namespace

int ComposeTextBlock(bool antialias, int32_t align, bool sizeOnly, int encoding, std::vector<qbTextSegment>* runs,
                     const qbTextStyle& style, qbComposedText* out) {
    qbFont* font = CurrentFont(style);
    if (!font) return ERR_OPENFONT;
    *out = qbComposedText{};
    Align(runs, align);
    int64_t left = 0, top = 0, right = 1, bottom = font->height;
    if (!runs->empty()) {
        Box box = RunBox(runs->front(), *font);
        for (const qbTextSegment& r : *runs) {
            const Box b = RunBox(r, *font);
            box = {std::min(box.left, b.left), std::min(box.top, b.top), std::max(box.right, b.right),
                   std::max(box.bottom, b.bottom)};
        }
        left = box.left;
        top = box.top;
        right = std::max(box.right, box.left + 1);
        bottom = std::max(box.bottom, box.top + 1);
    }
    const int64_t width = right - left, height = bottom - top;
    if (width > INT32_MAX || height > INT32_MAX || (!sizeOnly && width * height > kMaxBlockPixels)) return ERR_BITMAP;
    out->left = static_cast<int32_t>(left);
    out->top = static_cast<int32_t>(top);
    out->width = static_cast<int32_t>(width);
    out->height = static_cast<int32_t>(height);
    if (sizeOnly) return 0;

    // Where the bitmap keeps ARGB rows as they are, the block is composed
    // in them, which saves copying it over.
    BitmapPtr made(AllocBitmap(out->width, out->height, 0, nullptr));
    if (!made) return ERR_BITMAP;
    qbPixelView view;
    const bool inPlace = PeekPlainPixels(made.get(), &view) && view.bytesPerPixel == 4 && view.pixelFormat != 11 &&
                         view.pixelFormat != 12 && view.pixelFormat != 13;
    Block block;
    if (int err = inPlace ? block.Init(out->width, out->height, static_cast<uint32_t*>(view.pixels),
                                       static_cast<int32_t>(view.rowLength))
                          : block.Init(out->width, out->height))
        return err;
    BitmapPtr alphaPlane(AllocAlphaChannel(out->width, out->height, true, nullptr, 0));
    if (!alphaPlane) return ERR_MEM;
    const AlphaRows alphaRows = AlphaRowsOf(alphaPlane.get(), 0, 0);
    block.alpha = alphaRows.data;
    block.alphaRowBytes = static_cast<size_t>(alphaRows.rowBytes);
    const bool colourFont = font->engine == kFontKindColourBitmap;
    for (const qbTextSegment& r : *runs) {
        const qbTextMetrics& m = r.extents;
        const int32_t ox = -std::min(0, m.minX);
        Plane p;
        p.width = ox + std::max({m.width, m.maxX + 1, m.visibleWidth}) + 2;
        p.height = font->height + 1;
        p.cov.assign(static_cast<size_t>(p.width) * p.height, 0);
        if (int err = RenderRun(r, font, antialias, encoding, ox, &p)) return err;
        const int64_t px = int64_t{r.x} - ox - left, py = int64_t{r.y} - top;
        const bool edge = (r.style.flags & kTextEdge) && !colourFont;
        const int32_t e = std::clamp(r.style.edgeSize, 1, 64);
        Plane edged;
        if (edge) edged = EdgeOf(p, e, antialias);
        if ((r.style.flags & kTextShadow) && !colourFont) {
            int32_t dx = 0, dy = 0;
            ShadowOffset(r.style.shadowDirection, std::clamp(r.style.shadowSize, 1, 64), &dx, &dy);
            if (edge) Stamp(&block, edged, px - e + dx, py - e + dy, r.style.shadowColour);
            else Stamp(&block, p, px + dx, py + dy, r.style.shadowColour);
        }
        if (edge) Stamp(&block, edged, px - e, py - e, r.style.edgeColour);
        Stamp(&block, p, px, py, r.style.colour);
    }

    bool needsAlpha = antialias;
    block.Finish();
    for (int32_t y = 0; y < block.height && !needsAlpha; ++y) {
        const uint8_t* row = block.alpha + static_cast<size_t>(y) * block.alphaRowBytes;
        for (int32_t x = 0; x < block.width && !needsAlpha; ++x)
            if (row[x] != 0 && row[x] != 255) needsAlpha = true;
    }
    if (inPlace) {
        out->bitmap = std::move(made);
    } else {
        made.reset();
        qbBitmap* bitmap = nullptr;
        if (CreateBitmapFromARGB(block.argb, kNoKeyColour, block.width, block.height, block.stride, false, 0, 0,
                                 &bitmap, nullptr, nullptr))
            return ERR_BITMAP;
        out->bitmap.reset(bitmap);
    }
    if (needsAlpha) {
        out->alpha = std::move(alphaPlane);
    } else {
        out->mask.reset(AllocMask(out->bitmap.get(), block.width, block.height, true, nullptr, 0));
        if (!out->mask) return ERR_MEM;
        AlphaToMask(MaskRowsOf(out->mask.get(), 0, 0), alphaRows, block.width, block.height, 0);
    }
    return 0;
}

int RenderTextLayerBorder(qbBitmap* mask, qbBitmap* alpha, int32_t width, int32_t height, int32_t border,
                          uint32_t colour, qbComposedText* out) {
    *out = qbComposedText{};
    if ((!mask && !alpha) || width <= 0 || height <= 0 || border < 0) return 0;
    const int64_t w = int64_t{width} + 2 * int64_t{border} + 1, h = int64_t{height} + 2 * int64_t{border} + 1;
    if (w > INT32_MAX || h > INT32_MAX || w * h > kMaxBlockPixels) return ERR_BITMAP;
    Plane p;
    p.width = width;
    p.height = height;
    p.cov.resize(static_cast<size_t>(width) * height);
    BitmapPtr scratch(AllocAlphaChannel(width, height, true, nullptr, 0));
    if (!scratch) return ERR_MEM;
    const AlphaRows rows = AlphaRowsOf(scratch.get(), 0, 0);
    if (alpha) {
        const AlphaRows from = AlphaRowsOf(alpha, 0, 0);
        for (int32_t y = 0; y < height; ++y)
            std::copy_n(from.data + static_cast<size_t>(y) * from.rowBytes, width, &p.At(0, y));
    } else {
        MaskToAlpha(rows, MaskRowsOf(mask, 0, 0), width, height, 255);
        for (int32_t y = 0; y < height; ++y)
            std::copy_n(rows.data + static_cast<size_t>(y) * rows.rowBytes, width, &p.At(0, y));
    }
    const Plane edged = EdgeOf(p, border, alpha != nullptr);
    Block block;
    if (int err = block.Init(static_cast<int32_t>(w), static_cast<int32_t>(h))) return err;
    BitmapPtr a(AllocAlphaChannel(block.width, block.height, true, nullptr, 0));
    if (!a) return ERR_MEM;
    const AlphaRows alphaRows = AlphaRowsOf(a.get(), 0, 0);
    block.alpha = alphaRows.data;
    block.alphaRowBytes = static_cast<size_t>(alphaRows.rowBytes);
    block.Lay(edged, 0, 0, colour & 0xFFFFFF);
    block.Finish();
    qbBitmap* bitmap = nullptr;
    if (CreateBitmapFromARGB(block.argb, kNoKeyColour, block.width, block.height, block.width, false, 0, 0,
                             &bitmap, nullptr, nullptr))
        return ERR_BITMAP;
    out->bitmap.reset(bitmap);
    out->width = block.width;
    out->height = block.height;
    out->left = out->top = -border;
    if (alpha) {
        out->alpha = std::move(a);
    } else {
        out->mask.reset(AllocMask(out->bitmap.get(), block.width, block.height, true, nullptr, 0));
        if (!out->mask) return ERR_MEM;
        AlphaToMask(MaskRowsOf(out->mask.get(), 0, 0), alphaRows, block.width, block.height, 0);
    }
    return 0;
}

void TextRunRows(const qbTextSegment& run, const qbFont& font, int64_t* top, int64_t* bottom) {
    const Box b = RunBox(run, font);
    *top = b.top;
    *bottom = b.bottom;
}
