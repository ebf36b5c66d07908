// The pictures of BGPics: building one from decoded pixels and its fill
// (colour, gradient or tiled texture), the backdrops displays make for
// themselves, pictures whose building waited for the first display,
// rebuilding at another size, and the full copy of a BGPic.
#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "core/errcodes.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "imaging/blit.h"
#include "imaging/clonebitmap.h"
#include "imaging/gradient.h"
#include "imaging/imagehandle.h"
#include "imaging/scale.h"
#include "imaging/scalebitmap.h"

namespace {

// The fill's own copy of its texture brush's picture, made on first use so
// that the brush may change or go afterwards.
int EnsureTexture(ScriptState* L, qbBGPicFill& fill) {
    if (fill.textureBitmap) return 0;
    qbTexturePicture brush;
    if (int err = GetTexturePicture(L, fill.textureBrush, &brush)) return err;
    qbBitmap *copy = nullptr, *noMask = nullptr, *noAlpha = nullptr;
    if (int err = CloneBitmapRect(brush.bitmap, nullptr, nullptr, 0, 0, brush.width, brush.height, &copy, &noMask,
                                  &noAlpha))
        return err;
    fill.textureBitmap = copy;
    fill.textureWidth = brush.width;
    fill.textureHeight = brush.height;
    return 0;
}

// Paints the fill over the whole bitmap.
int PaintFill(ScriptState* L, qbBGPicFill& fill, qbBitmap* bitmap, int32_t width, int32_t height) {
    switch (fill.style) {
        case kFillGradient: return DrawGradient(bitmap, 0, 0, width, height, &fill.gradient);
        case kFillTexture:
            if (int err = EnsureTexture(L, fill)) return err;
            TileBitmapRect(bitmap, 0, 0, width, height, fill.textureBitmap, fill.textureX, fill.textureY,
                           fill.textureWidth, fill.textureHeight);
            return 0;
        default: FillBitmapRect(bitmap, 0, 0, width, height, fill.colour & 0x00FFFFFFu); return 0;
    }
}

struct TripleOwner {
    BitmapPtr bitmap;
    std::unique_ptr<qbBitmap, decltype(&FreeMask)> mask{nullptr, &FreeMask};
    std::unique_ptr<qbBitmap, decltype(&FreeAlphaChannel)> alpha{nullptr, &FreeAlphaChannel};
    qbImageTriple Release() { return {bitmap.release(), mask.release(), alpha.release()}; }
};

// A copy of a triple at a size; the planes it lacks stay null.
int CloneTriple(const qbImageTriple& t, int32_t width, int32_t height, TripleOwner* out) {
    qbBitmap *b = nullptr, *m = nullptr, *a = nullptr;
    if (int err = CloneBitmapRect(t.bitmap, t.mask, t.alpha, 0, 0, width, height, &b, &m, &a)) return err;
    out->bitmap.reset(b);
    out->mask.reset(m);
    out->alpha.reset(a);
    return 0;
}

}  // namespace

int BuildBGPicImage(ScriptState* L, const uint32_t* pixels, qbBGPicFill& fill, int32_t keyColour, int32_t width,
                    int32_t height, int32_t pitch, qbBitmap** outBitmap, qbBitmap** outMask, qbBitmap** alpha) {
    *outBitmap = nullptr;
    *outMask = nullptr;
    TripleOwner picture;
    if (alpha) picture.alpha.reset(*alpha);
    if (pixels) {
        qbBitmap* b = nullptr;
        qbBitmap* m = nullptr;
        if (int err = CreateBitmapFromARGB(pixels, keyColour, width, height, pitch, false, 0, 0, &b,
                                           keyColour != kNoKeyColour ? &m : nullptr, nullptr)) {
            if (alpha) *alpha = picture.alpha.release();
            return err;
        }
        picture.bitmap.reset(b);
        picture.mask.reset(m);
    }
    const bool fillNeeded =
        !picture.bitmap || (fill.style != kFillNone && (picture.mask || picture.alpha));
    if (fillNeeded) {
        BitmapPtr result(AllocBitmap(width, height, 0, nullptr));
        int err = result ? PaintFill(L, fill, result.get(), width, height) : ERR_BITMAP;
        if (err) {
            // The caller's alpha plane stays the caller's.
            if (alpha) *alpha = picture.alpha.release();
            return err;
        }
        if (picture.bitmap) {
            if (picture.alpha)
                CopyBitmapRectAlpha(picture.bitmap.get(), 0, 0, result.get(), 0, 0, width, height,
                                    picture.alpha.get());
            else
                CopyBitmapRectMasked(picture.bitmap.get(), 0, 0, result.get(), 0, 0, width, height,
                                     picture.mask.get());
        }
        picture = TripleOwner{};
        picture.bitmap = std::move(result);
    }
    const qbImageTriple made = picture.Release();
    *outBitmap = made.bitmap;
    *outMask = made.mask;
    if (alpha) *alpha = made.alpha;
    return 0;
}

int FillDisplayBackdrop(const qbDisplay* display, qbBitmap* bitmap, uint32_t* pending, int32_t width,
                        int32_t height) {
    // Looking the texture brush up changes nothing, so no script state is needed.
    ScriptState* L = nullptr;
    const qbDisplayFill& f = display->fill;
    if (bitmap) {
        if (f.style != kFillGradient && f.style != kFillTexture) {
            FillBitmapRect(bitmap, 0, 0, width, height, f.colour & 0x00FFFFFFu);
            return 0;
        }
        qbBGPicFill fill;
        fill.style = f.style;
        fill.gradient = f.gradient;
        fill.textureBrush = f.textureBrush;
        fill.textureX = f.textureX;
        fill.textureY = f.textureY;
        const int err = PaintFill(L, fill, bitmap, width, height);
        FreeBitmap(fill.textureBitmap);
        return err;
    }
    if (!pending) return 0;
    if (f.style == kFillGradient) {
        if (f.gradient.stops.size() == 1 || f.gradient.stops.size() > static_cast<size_t>(kMaxGradientStops))
            return ERR_WRONGUSAGE;
        qbGradientFill g;
        g.pixels = pending;
        g.width = width;
        g.height = height;
        g.pitch = width;
        g.gradient = &f.gradient;
        FillGradientPixels(g);
        return 0;
    }
    if (f.style == kFillTexture) {
        qbTexturePicture brush;
        if (int err = GetTexturePicture(L, f.textureBrush, &brush)) return err;
        // A brush loaded before the displays has no bitmap yet: its picture
        // is still the decoded one.
        std::vector<uint32_t> tile;
        int32_t rowLength = brush.width;
        const uint32_t* first = nullptr;
        if (brush.bitmap) {
            tile = CopyBitmapRectToARGB(brush.bitmap, 0, 0, brush.width, brush.height, kLockReadOnly);
            if (tile.empty()) return ERR_MEM;
            first = tile.data();
        } else if (brush.pixels) {
            rowLength = brush.rowLength;
            first = brush.pixels;
        } else {
            return ERR_BITMAP;
        }
        TileRawRect(pending, width, height, first, f.textureX, f.textureY, brush.width, brush.height, rowLength);
        return 0;
    }
    std::fill(pending, pending + static_cast<size_t>(width) * static_cast<size_t>(height), f.colour & 0x00FFFFFFu);
    return 0;
}

int LoadPendingBGPics(ScriptState* L) {
    for (qbBGPic* r = FirstBGPic(); r; r = static_cast<qbBGPic*>(r->next)) {
        if (!r->source || r->initial.bitmap) continue;
        qbBitmap* bitmap = nullptr;
        qbBitmap* mask = nullptr;
        qbBitmap* alpha = r->initial.alpha;
        if (int err = BuildBGPicImage(L, GetImageHandlePixels(r->source), r->fill, r->keyColour, r->initialWidth,
                                      r->initialHeight, r->sourcePitch, &bitmap, &mask, &alpha)) {
            r->initial.alpha = alpha;
            return err;
        }
        // A vector picture keeps its source to render other sizes from it.
        if (!(r->regenerate == 1 && !ImageHandleOwnsPixels(r->source))) {
            ReleaseImageHandle(r->source);
            r->source = nullptr;
        }
        const int32_t width = r->currentWidth;
        const int32_t height = r->currentHeight;
        const ObjectID id = IDOf(*r);
        InitBGPicRecord(r, r->wrappedType, r->wrappedFrame, r->wrappedObject, &id, bitmap, mask, alpha,
                        r->initialWidth, r->initialHeight, false);
        r->currentWidth = width;
        r->currentHeight = height;
    }
    return 0;
}

int RenderBGPicAtSize(ScriptState* L, qbBGPic* record, int32_t width, int32_t height, bool smooth,
                      qbImageTriple* out) {
    *out = {};
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    const qbImageTriple& in = record->initial;
    if (!record->regenerate) {
        if (int err = ScaleBitmap(in.bitmap, in.mask, in.alpha, 0, 0, nullptr, record->initialWidth,
                                  record->initialHeight, width, height, smooth, &out->bitmap,
                                  in.mask ? &out->mask : nullptr, in.alpha ? &out->alpha : nullptr))
            return err;
        return out->bitmap ? 0 : ERR_BITMAP;
    }
    if (!record->source) return BuildBGPicImage(L, nullptr, record->fill, kNoKeyColour, width, height, width,
                                                &out->bitmap, &out->mask, nullptr);
    int32_t nominalWidth = 0, nominalHeight = 0;
    GetImageHandleBaseSize(record->source, &nominalWidth, &nominalHeight);
    if (nominalWidth < 1 || nominalHeight < 1) return ERR_TFIMAGE;
    const double matrix[4] = {static_cast<double>(width) / nominalWidth, 0, 0,
                              static_cast<double>(height) / nominalHeight};
    qbImageLoadRequest request;
    if (int err = TransformImageHandle(record->source, matrix, width, height, &request)) return err;
    const int32_t rowLength = request.rowLength > 0 ? request.rowLength : width;
    return BuildBGPicImage(L, GetImageHandlePixels(record->source), record->fill, record->keyColour, width, height,
                           rowLength, &out->bitmap, &out->mask, nullptr);
}

int ScaleBGPicCore(ScriptState* L, qbBGPic* record, int32_t width, int32_t height, bool smooth) {
    if (int err = KeepAspectRatio(record->baseWidth, record->baseHeight, &width, &height)) return err;
    if (width == record->baseWidth && height == record->baseHeight) return 0;
    qbImageTriple made;
    if (int err = RenderBGPicAtSize(L, record, width, height, smooth, &made)) return err;
    FreeDerivedBGPicImages(record);
    record->base = record->current = made;
    record->baseWidth = record->currentWidth = width;
    record->baseHeight = record->currentHeight = height;
    return 0;
}

int CopyBGPicCore(ScriptState* L, const qbBGPic* source, NewObjectID id, qbBGPic** out) {
    *out = nullptr;
    std::unique_ptr<uint32_t[]> palette;
    TripleOwner initial, base, current;
    BitmapPtr texture;
    try {
        if (source->palette) {
            palette = std::make_unique<uint32_t[]>(256);
            std::copy(source->palette.get(), source->palette.get() + 256, palette.get());
        }
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    if (source->initial.bitmap)
        if (int err = CloneTriple(source->initial, source->initialWidth, source->initialHeight, &initial)) return err;
    const bool ownBase = source->base.bitmap != source->initial.bitmap;
    const bool ownCurrent = source->current.bitmap != source->base.bitmap;
    if (ownBase && source->base.bitmap)
        if (int err = CloneTriple(source->base, source->baseWidth, source->baseHeight, &base)) return err;
    if (ownCurrent && source->current.bitmap)
        if (int err = CloneTriple(source->current, source->currentWidth, source->currentHeight, &current))
            return err;
    if (source->fill.style == kFillTexture && source->fill.textureBitmap) {
        qbBitmap *t = nullptr, *noMask = nullptr, *noAlpha = nullptr;
        if (int err = CloneBitmapRect(source->fill.textureBitmap, nullptr, nullptr, 0, 0, source->fill.textureWidth,
                                      source->fill.textureHeight, &t, &noMask, &noAlpha))
            return err;
        texture.reset(t);
    }
    ObjectDataList data;
    if (int err = CopyObjectDataList(L, source->data.get(), &data)) return err;
    qbBGPic* copy = nullptr;
    if (int err = AllocBGPicRecord(id, source->regenerate, source->initialWidth, source->initialHeight,
                                   source->initialWidth, source->source, initial.bitmap.get(), palette.get(),
                                   source->keyColour, initial.mask.get(), initial.alpha.get(), &source->fill,
                                   &copy)) {
        FreeObjectDataList(L, &data);
        return err;
    }
    copy->initial = initial.Release();
    if (copy->source) RetainImageHandle(copy->source);
    copy->data = std::move(data);
    copy->loaderWord = source->loaderWord;
    copy->fill.textureBitmap = texture.release();
    copy->base = ownBase ? base.Release() : copy->initial;
    copy->current = ownCurrent ? current.Release() : (ownBase ? copy->base : copy->initial);
    copy->baseWidth = source->baseWidth;
    copy->baseHeight = source->baseHeight;
    copy->currentWidth = source->currentWidth;
    copy->currentHeight = source->currentHeight;
    *out = copy;
    return 0;
}
