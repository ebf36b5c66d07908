// DisplayObject: lookup, options, positions, then a layer or a direct blit.
#include "objects/displayobject.h"

#include <algorithm>
#include <cmath>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/foundagain.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/displaywindow.h"
#include "display/output.h"
#include "display/positions.h"
#include "display/safeblt.h"
#include "imaging/blit.h"
#include "imaging/clonebitmap.h"
#include "imaging/geometry.h"
#include "imaging/planekernels.h"
#include "objects/animhooks.h"
#include "objects/brushes.h"
#include "objects/dirtyrects.h"
#include "objects/layerfilters.h"
#include "objects/layers.h"
#include "objects/objectoptions.h"
#include "objects/objecttransform.h"
#include "objects/selection.h"

namespace {

// What is shown: the object's images and size, and how it may be treated.
struct Source {
    ObjectID id;
    qbBGPic* bgpic = nullptr;
    qbObjectImage image;
    int32_t width = 0;
    int32_t height = 0;
    bool isVector = false;
    bool transformedVector = false;
    bool hardware = false;
    qbImageHandle* imageSource = nullptr;
    int32_t frameCount = 0;  // anims
};

int FindSource(ScriptState* L, const qbDisplayObjectCall& call, Source* s) {
    switch (call.type) {
    case kShowBrush:
    case kShowBrushPart: {
        qbBrush* b = nullptr;
        const uint32_t flags = call.type == kShowBrushPart ? uint32_t{kBrushNoVector} : 0u;
        if (int err = GetBrushRecord(L, call.id, &b, flags)) return err;
        s->id = IDOf(*b);
        s->image = {b->bitmap, b->mask, b->alpha};
        s->width = b->width;
        s->height = b->height;
        s->isVector = b->kind == kBrushVector;
        s->transformedVector = s->isVector && b->transformed;
        s->hardware = b->hardware != 0;
        s->imageSource = b->imageSource;
        return 0;
    }
    case kShowBGPicPart: {
        qbBGPic* p = nullptr;
        ObjectID id = call.id;
        if (id.number == -1 && !id.handle) {
            p = GetCurrentBGPic();
            if (!p) return ERR_FINDBGPIC;
        } else if (int err = GetBGPic(L, id, &p, 0)) {
            return err;
        }
        s->id = IDOf(*p);
        s->bgpic = p;
        s->image = {p->base.bitmap, p->base.mask, p->base.alpha};
        s->width = p->baseWidth;
        s->height = p->baseHeight;
        return 0;
    }
    case kShowAnim: {
        const auto show = AnimObjectHooks().showFrame;
        if (!show) {
            if (call.id.handle) return ERR_FINDARRAY;
            SetErrorArgIndex(call.id.number);
            return ERR_FINDANIM;
        }
        qbImageTriple t;
        if (int err = show(L, call.id, call.frame, (call.addFlags & kAddReplace) != 0, &t, &s->width, &s->height,
                           &s->frameCount))
            return err;
        s->id = call.id;
        s->image = {t.bitmap, t.mask, t.alpha};
        return 0;
    }
    case kShowVideo:
        // The video library lives above: it hands over the picture.
        if (!call.videoImage) return ERR_WRONGUSAGE;
        s->id = call.id;
        s->image = {call.videoImage, nullptr, nullptr};
        s->width = call.width;
        s->height = call.height;
        return 0;
    default: return ERR_COORDSRANGE;
    }
}

// Frees the images that DisplayObject made for one call.
struct PrivateImage {
    qbObjectImage image;
    bool owned = false;
    ~PrivateImage() {
        if (owned) FreeObjectImage(&image);
    }
};

// Level 255 - transparency on images of our own: the alpha plane scaled,
// or one made from the mask at that level, or filled with it.
int FadeOwnImage(qbObjectImage* image, int32_t width, int32_t height, uint32_t level) {
    if (image->alpha) {
        const AlphaRows rows = AlphaRowsOf(image->alpha, 0, 0);
        MultiplyAlpha(rows, rows, width, height, level);
        return 0;
    }
    qbBitmap* alpha = AllocAlphaChannel(width, height, false, nullptr, 0);
    if (!alpha) return ERR_ALLOCALPHA;
    if (image->mask) {
        MaskToAlpha(AlphaRowsOf(alpha, 0, 0), MaskRowsOf(image->mask, 0, 0), width, height,
                    static_cast<uint8_t>(level));
        FreeMask(image->mask);
        image->mask = nullptr;
    } else {
        FillAlphaPlane(AlphaRowsOf(alpha, 0, 0), width, height, static_cast<uint8_t>(level));
    }
    image->alpha = alpha;
    return 0;
}

// The same for images an object owns, which stay as they are: a new alpha
// plane addressed like the object's (the part lies at sx, sy in it).
int FadeSharedImage(const qbObjectImage& shared, int32_t sx, int32_t sy, int32_t width, int32_t height,
                    uint32_t level, qbBitmap** outAlpha) {
    qbBitmap* alpha = AllocAlphaChannel(sx + width, sy + height, false, nullptr, 0);
    if (!alpha) return ERR_ALLOCALPHA;
    const AlphaRows rows = AlphaRowsOf(alpha, sx, sy);
    if (shared.alpha)
        MultiplyAlpha(rows, AlphaRowsOf(shared.alpha, sx, sy), width, height, level);
    else if (shared.mask)
        MaskToAlpha(rows, MaskRowsOf(shared.mask, sx, sy), width, height, static_cast<uint8_t>(level));
    else
        FillAlphaPlane(rows, width, height, static_cast<uint8_t>(level));
    *outAlpha = alpha;
    return 0;
}

int32_t TruncProduct(int32_t size, double anchor) { return static_cast<int32_t>(size * anchor); }

}  // namespace

void ApplyFiltersAndTransparency(const qbLayerOptions* lopts, qbObjectImage* image, int32_t width, int32_t height) {
    const qbDisplay* display = GetCurrentDisplay();
    if (!lopts || !image->bitmap || (display && display->layersEnabled)) return;
    if (HasActiveFilters(lopts->filters))
        ApplyLayerFilters(lopts->filters, image->bitmap, image->mask, image->alpha, width, height, false);
    // Without an alpha plane to be had the image is shown as it is.
    if (lopts->transparency > 0) FadeOwnImage(image, width, height, 255u - static_cast<uint32_t>(lopts->transparency));
}

int DisplayObject(ScriptState* L, const qbDisplayObjectCall& call) {
    BitmapPtr videoImage(call.type == kShowVideo ? call.videoImage : nullptr);
    qbDisplay* current = GetCurrentDisplay();
    if (!current) return ERR_FINDDISPLAY;
    qbCurrentDisplayRef held(L, current);
    qbTaken<qbDisplay> display = nullptr;
    bool firstFind = true;
    // Showing the brush that drawing goes into shows it on the display.
    if (call.type == kShowBrush || call.type == kShowBrushPart)
        if (int err = EndSelectionOfBrush(L, call.id)) return err;
    if (call.type == kShowAnim)
        if (int err = EndSelectionOfAnim(L, call.id, call.frame)) return err;
    // The options' script code may free the object: it is found again then.
    const auto find = [&](Source* out) -> int {
        if (call.refind && !firstFind)
            if (int err = call.refind()) return err;
        firstFind = false;
        return FindSource(L, call, out);
    };
    qbFoundAgain<Source, decltype(find)> found(find);
    Source src;
    if (int err = found.Take(&src)) return err;
    const bool ownSize = call.type == kShowBrush || call.type == kShowAnim;
    int32_t width = ownSize ? src.width : call.width;
    int32_t height = ownSize ? src.height : call.height;
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;

    qbTransformOptions topts;
    qbLayerOptions lopts;
    if (call.topts) {
        topts = *call.topts;
        if (call.lopts) lopts = *call.lopts;
        else ResetLayerOptions(&lopts);
    } else if (call.optArg) {
        const uint32_t flags = call.type == kShowBGPicPart ? uint32_t{kOptReset} : uint32_t{kOptReset | kOptTableRequired};
        if (int err = ParseDisplayObjectOptions(L, call.optArg, width, height, 0, 0, 0, &topts, &lopts, flags))
            return err;
    } else {
        ResetDisplayObjectOptions(&topts, &lopts, 0, 0, 0, 0);
    }
    if (int err = held.Take(&display)) return err;
    if (int err = found.Take(&src)) return err;
    if (ownSize) {
        width = src.width;
        height = src.height;
    }
    const bool layers = display->layersEnabled != 0;
    const bool transformed = !IsIdentityMatrix(topts.matrix) || (call.flags & kShowForceTransform);
    if (src.transformedVector && layers) return ERR_TFVBRUSH;

    int32_t x = ResolveSpecialX(call.x, width, 0, topts.anchorx);
    int32_t y = ResolveSpecialY(call.y, height, 0, topts.anchory);
    int32_t sx = ResolveSpecialX(call.srcX, width, src.width, 0);
    int32_t sy = ResolveSpecialY(call.srcY, height, src.height, 0);
    if (call.type == kShowBGPicPart) {
        if (call.x == -1) x = sx;
        if (call.y == -1) y = sy;
    }
    if (sx < 0 || sy < 0) return ERR_NEGCOORDS;
    if (sx >= src.width || sy >= src.height) return ERR_COORDSRANGE;
    width = std::min(width, src.width - sx);
    height = std::min(height, src.height - sy);

    const int32_t outputKind = display->output.type;
    if (outputKind == kOutputBrush || outputKind == kOutputMask || outputKind == kOutputAlphaChannel)
        if (int err = PrepareOutputTarget(L)) return err;

    PrivateImage made;
    BitmapPtr rendered;
    if (call.type == kShowBGPicPart && call.copyPart) {
        // The rectangle as the viewer sees it, layers included.
        qbBitmap* bitmap = nullptr;
        bool owned = false;
        if (int err = RenderBGPicLayersToBitmap(L, src.bgpic, sx, sy, width, height, &bitmap, &owned)) return err;
        if (owned) rendered.reset(bitmap);
        src.image = {bitmap, nullptr, nullptr};
        if (layers) {
            // The layer keeps a plain copy of its own.
            qbBitmap* noMask = nullptr;
            qbBitmap* noAlpha = nullptr;
            if (int err = CloneBitmapRect(bitmap, nullptr, nullptr, sx, sy, width, height, &made.image.bitmap, &noMask,
                                          &noAlpha))
                return err == ERR_MEM ? ERR_BITMAP : err;
        }
    }
    if (layers) {
        qbLayer* layer = nullptr;
        if (call.type == kShowVideo) made.image.bitmap = videoImage.release();
        qbBitmap* own = made.image.bitmap;
        made.image = {};
        int32_t ox = own ? 0 : sx, oy = own ? 0 : sy;
        // An anim layer keeps its frame index and the frame count there.
        if (call.type == kShowAnim) {
            ox = call.frame;
            oy = src.frameCount;
        }
        if (int err = AddObjectLayer(L, call.type, src.id, ox, oy, x, y, width, height, &topts, &lopts, own,
                                     call.insertPos, call.addFlags, &layer))
            return err;
        if (call.outLayer) *call.outLayer = layer;
        // Effects and transforms were drawn by the layer code; an untransformed
        // layer without effects is shown now. A replacing layer is shown by
        // whoever replaced.
        if (!lopts.needseffects && !transformed && !(call.flags & kShowNeverDraw) && !(call.addFlags & kAddReplace))
            RefreshLayer(L, layer, true);
        return 0;
    }

    qbObjectImage shown = src.image;
    int32_t dx = x, dy = y, w = width, h = height;
    if (transformed) {
        const double anchor[2] = {topts.anchorx, topts.anchory};
        if (int err = TransformObjectImage(L, src.isVector, src.imageSource, src.image, sx, sy, x, y, width, height,
                                           anchor, topts.matrix, topts.smoothscale != 0, &made.image, &dx, &dy, &w,
                                           &h))
            return err;
        made.owned = true;
        shown = made.image;
        sx = sy = 0;
    }
    // x, y name the anchor point; the transformed box is laid out from the
    // untransformed top left, so both move by the part's own anchor offset.
    dx = SaturatingSub(dx, TruncProduct(width, topts.anchorx));
    dy = SaturatingSub(dy, TruncProduct(height, topts.anchory));
    if ((HasActiveFilters(lopts.filters) || lopts.transparency > 0) && src.hardware) return ERR_HWBRUSHFUNC;
    // Filters run on a private copy of the part, never on the object itself.
    if (HasActiveFilters(lopts.filters)) {
        if (!made.owned) {
            qbObjectImage copy;
            if (int err = CloneBitmapRect(src.image.bitmap, src.image.mask, src.image.alpha, sx, sy, w, h,
                                          &copy.bitmap, &copy.mask, &copy.alpha))
                return err;
            made.image = copy;
            made.owned = true;
            sx = sy = 0;
        }
        ApplyLayerFilters(lopts.filters, made.image.bitmap, made.image.mask, made.image.alpha, w, h, false);
        shown = made.image;
    }
    BitmapPtr fadedAlpha;
    if (lopts.transparency > 0) {
        const uint32_t level = 255u - static_cast<uint32_t>(lopts.transparency);
        if (made.owned) {
            if (int err = FadeOwnImage(&made.image, w, h, level)) return err;
            shown = made.image;
        } else {
            qbBitmap* alpha = nullptr;
            if (int err = FadeSharedImage(src.image, sx, sy, w, h, level, &alpha)) return err;
            fadedAlpha.reset(alpha);
            shown.alpha = alpha;
            shown.mask = nullptr;
        }
    }
    if (call.flags & kShowNeverDraw) return 0;

    // Into the current output: the display's picture buffer, a selected
    // bitmap or the double buffer, or a selected mask or alpha channel
    // alone (a null destination, which SafeBlt takes for the output).
    qbBitmap* target = display->spriteFreeBuffer.get();
    if (display->output.type != kObjectTypeDisplay) target = display->output.bitmap;
    const bool planesOnly = !target && (display->output.mask || display->output.alpha) &&
                            (outputKind == kOutputMask || outputKind == kOutputAlphaChannel);
    const qbBGPic* picture = GetCurrentBGPic();
    if ((!target && !planesOnly) || !picture) return 0;  // a display that is not open has nothing to draw into
    qbSafeBlt blit;
    blit.source = shown.bitmap;
    blit.srcX = sx;
    blit.srcY = sy;
    blit.destination = target;
    blit.dstX = dx;
    blit.dstY = dy;
    blit.width = w;
    blit.height = h;
    blit.srcWidth = sx + w;
    blit.srcHeight = sy + h;
    blit.dstWidth = picture->currentWidth;
    blit.dstHeight = picture->currentHeight;
    blit.mask = shown.alpha ? nullptr : shown.mask;
    blit.alpha = shown.alpha;
    const qbOutputView out = GetCurrentOutput();
    blit.clip = out.clip && *out.clip ? static_cast<const qbClipRegion*>(*out.clip) : nullptr;
    SafeBlt(L, blit);
    // The window sees it at the next flip.
    if (display->softDoubleBuffer) AddDirtyRect(L, dx, dy, w, h);
    return 0;
}

namespace {

}  // namespace

int cmdDisplayBrush(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    qbDisplayObjectCall call;
    call.type = kShowBrush;
    call.id = GetObjectIDArg(L, 1);
    call.x = GetIntArg(L, 2);
    call.y = GetIntArg(L, 3);
    call.optArg = 4;
    return DisplayObject(L, call);
}

int cmdDisplayBGPicPart(ScriptState* L) {
    CheckArgCount(L, 5, 8, 0, 0);
    qbDisplayObjectCall call;
    call.type = kShowBGPicPart;
    call.id = GetObjectIDArg(L, 1);
    call.srcX = GetIntArg(L, 2);
    call.srcY = GetIntArg(L, 3);
    call.width = GetIntArg(L, 4);
    call.height = GetIntArg(L, 5);
    const int top = VmGetTop(L);
    call.x = top >= 6 && VmType(L, 6) != kTypeNil ? GetIntArg(L, 6) : call.srcX;
    call.y = top >= 7 && VmType(L, 7) != kTypeNil ? GetIntArg(L, 7) : call.srcY;
    if (top >= 8 && VmType(L, 8) == kTypeNumber) {
        call.copyPart = GetFlagArg(L, 8, false) ? 1 : 0;
    } else if (top >= 8 && VmType(L, 8) == kTypeTable) {
        GetTableFieldFlagInto(L, 8, "layers", &call.copyPart, nullptr);
        call.optArg = 8;
    }
    return DisplayObject(L, call);
}

int cmdDisplayBrushPart(ScriptState* L) {
    CheckArgCount(L, 7, 8, 0, 0);
    qbDisplayObjectCall call;
    call.type = kShowBrushPart;
    call.id = GetObjectIDArg(L, 1);
    call.srcX = GetIntArg(L, 2);
    call.srcY = GetIntArg(L, 3);
    call.x = GetIntArg(L, 4);
    call.y = GetIntArg(L, 5);
    call.width = GetIntArg(L, 6);
    call.height = GetIntArg(L, 7);
    call.optArg = 8;
    return DisplayObject(L, call);
}
