// Drawing into a layer and replacing a layer's picture. What a layer shows
// may be shared (by the script, by other layers), so the layer first gets a
// picture of its own; the layer code finds it again by the layer's id.
#include "objects/layerdraw.h"

#include <new>
#include <string>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/output.h"
#include "imaging/bitmap.h"
#include "imaging/clonebitmap.h"
#include "imaging/imagehandle.h"
#include "objects/animhooks.h"
#include "objects/brushes.h"
#include "objects/compositor.h"
#include "objects/dirtyrects.h"
#include "objects/displayobject.h"
#include "objects/layercmds.h"
#include "objects/layerframes.h"
#include "objects/layergeometry.h"
#include "objects/layers.h"
#include "objects/layersources.h"
#include "objects/layerstyle.h"
#include "objects/selection.h"
#include "objects/texthooks.h"
#include "vm/vm.h"

namespace {

// The layer shows the object under another id from now on (its alone).
int Retarget(qbLayer* layer, int32_t kind, ObjectID to) {
    if (int err = AddLayerSource(kind, to)) return err;
    RemoveLayerSource(kind, layer->id);
    layer->id = to;
    return 0;
}

int PrivateBrush(ScriptState* L, qbLayer* layer, qbBrush** out) {
    qbBrush* b = nullptr;
    if (int err = GetBrushRecord(L, layer->id, &b, kBrushDetachedToo | kBrushHardwareToo)) return err;
    if (!b->detached || CountLayerSources(kObjectTypeBrush, IDOf(*b)) > 1) {
        qbBrush* copy = nullptr;
        if (int err = CopyBrushCore(L, b, &copy)) return err;
        copy->detached = 1;
        if (int err = Retarget(layer, kObjectTypeBrush, IDOf(*copy))) {
            UnlinkAndFreeBrush(L, copy);
            return err;
        }
        // A detached original that no layer shows any more goes now.
        PurgeDetachedBrushes(L);
        b = copy;
    }
    // Drawn pixels replace what the source would render.
    ReleaseImageHandle(b->imageSource);
    b->imageSource = nullptr;
    b->kind = kBrushPixels;
    b->transformed = 0;
    *out = b;
    return 0;
}

// The base and current pictures become the initial one: drawing goes into
// that, and a layer shows the base picture.
void CollapseToInitial(qbBGPic* p) {
    FreeDerivedBGPicImages(p);
    p->base = p->current = p->initial;
    p->baseWidth = p->currentWidth = p->initialWidth;
    p->baseHeight = p->currentHeight = p->initialHeight;
}

int PrivateBGPic(ScriptState* L, qbLayer* layer, qbBGPic** out) {
    qbBGPic* p = nullptr;
    if (int err = GetBGPic(L, layer->id, &p, kBGPicPendingToo)) return err;
    qbBGPic* copy = nullptr;
    if (int err = CopyBGPicCore(L, p, NewObjectID{0, 1}, &copy)) return err;
    copy->id = 0;
    copy->handle = copy;
    copy->pendingFree = 1;
    copy->regenerate = 0;
    ReleaseImageHandle(copy->source);
    copy->source = nullptr;
    CollapseToInitial(copy);
    if (int err = Retarget(layer, kObjectTypeBGPic, IDOf(*copy))) {
        ReleaseLayerSources(L, kReleaseBGPicSources);  // the copy, which nothing shows
        return err;
    }
    ReleaseLayerSources(L, kReleaseBGPicSources);
    *out = copy;
    return 0;
}

// Text, shapes and paths are not drawn into: the layer becomes a brush layer of
// its untransformed picture, a brush of its own that the script does not
// see.
int TextLayerToBrush(ScriptState* L, qbLayer* layer) {
    qbLayerState* base = layer->basestate;
    qbObjectImage images{base->bitmap, base->mask, base->alpha};
    int32_t width = base->width, height = base->height;
    if (layer->type == kLayerTextObject) {
        const auto image = TextLayerHooks().objectImage;
        if (!image) return ERR_FINDTEXTOBJECT;
        if (int err = image(L, layer->id, &images, &width, &height)) return err;
    }
    if (!images.bitmap) return ERR_WRONGUSAGE;
    qbBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    if (int err = CloneBitmapRect(images.bitmap, images.mask, images.alpha, 0, 0, width, height, &bitmap, &mask, &alpha))
        return err;
    qbBrush* made = nullptr;
    if (int err = AllocBrushRecord(NewObjectID{0, 1}, kBrushPixels, width, height, width, 0, nullptr, bitmap, -1, mask,
                                   alpha, ObjectID{}, &made)) {
        FreeBitmap(bitmap);
        FreeMask(mask);
        FreeAlphaChannel(alpha);
        return err;
    }
    made->detached = 1;
    if (int err = AddLayerSource(kObjectTypeBrush, IDOf(*made))) {
        UnlinkAndFreeBrush(L, made);
        return err;
    }
    if (layer->type == kLayerTextObject) {
        RemoveLayerSource(kLayerTextObject, layer->id);
        if (const auto freePending = TextLayerHooks().freePending) freePending(L);
    } else {
        FreeBitmap(base->bitmap);
        FreeMask(base->mask);
        FreeAlphaChannel(base->alpha);
        base->bitmap = base->mask = base->alpha = nullptr;
        base->textLayout.reset();
        base->shapeState.reset();
    }
    layer->type = kLayerBrush;
    layer->id = IDOf(*made);
    base->srcx = base->srcy = 0;
    base->width = width;
    base->height = height;
    return 0;
}

}  // namespace

int PrepareLayerForDrawing(ScriptState* L, qbLayer* layer, int32_t frame, qbImageTriple* out, int32_t* width,
                           int32_t* height) {
    if (AsyncDrawUsesObject(layer)) return ERR_RENDERADLAYER;
    switch (layer->type) {
    case kLayerVideo: return ERR_VIDEOLAYER;
    case kLayerBrush:
    case kLayerBrushPart: {
        qbBrush* b = nullptr;
        if (int err = PrivateBrush(L, layer, &b)) return err;
        *out = {b->bitmap, b->mask, b->alpha};
        *width = b->width;
        *height = b->height;
        return 0;
    }
    case kLayerBGPicPart: {
        qbLayerState* s = layer->basestate;
        if (s->bitmap) {
            *out = {s->bitmap, s->mask, s->alpha};
            *width = s->width;
            *height = s->height;
            return 0;
        }
        qbBGPic* p = nullptr;
        if (int err = PrivateBGPic(L, layer, &p)) return err;
        *out = p->initial;
        *width = p->initialWidth;
        *height = p->initialHeight;
        return 0;
    }
    case kLayerAnim: {
        const auto target = AnimObjectHooks().frameTarget;
        if (!target) return ERR_FINDANIM;
        if (int err = MakeLayerAnimPrivate(L, layer)) return err;
        void* record = nullptr;
        return target(L, layer->id, frame, kFrameTargetLayerOwn, &record, out, width, height);
    }
    case kLayerTextObject:
    case kLayerTextOut:
    case kLayerPrint:
    case kLayerBox:
    case kLayerCircle:
    case kLayerEllipse:
    case kLayerLine:
    case kLayerPolygon:
    case kLayerArc:
    case kLayerVectorPath:
        if (int err = TextLayerToBrush(L, layer)) return err;
        return PrepareLayerForDrawing(L, layer, frame, out, width, height);
    default: return ERR_WRONGUSAGE;
    }
}

void GetLayerPlaneSlots(ScriptState* L, qbLayer* layer, int32_t frame, qbBitmap*** maskSlot, qbBitmap*** alphaSlot) {
    (void)frame;
    *maskSlot = *alphaSlot = nullptr;
    switch (layer->type) {
    case kLayerBrush:
    case kLayerBrushPart: {
        qbBrush* b = nullptr;
        if (GetBrushRecord(L, layer->id, &b, kBrushDetachedToo | kBrushHardwareToo | kBrushNoCopy)) return;
        *maskSlot = &b->mask;
        *alphaSlot = &b->alpha;
        return;
    }
    case kLayerBGPicPart: {
        qbLayerState* s = layer->basestate;
        if (s->bitmap) {
            *maskSlot = &s->mask;
            *alphaSlot = &s->alpha;
            return;
        }
        qbBGPic* p = nullptr;
        if (GetBGPic(L, layer->id, &p, kBGPicPendingToo | kBGPicNoCopy)) return;
        *maskSlot = &p->initial.mask;
        *alphaSlot = &p->initial.alpha;
        return;
    }
    default: return;
    }
}

int ShowDrawnLayer(ScriptState* L, qbDisplay* d, qbLayer* layer) {
    qbBGPic* bgpic = FindBGPicOfLayer(layer);
    if (!bgpic || IndexOfLayer(bgpic, layer) < 1) return 0;
    // A BGPic part drawn into its BGPic's initial picture shows it as base.
    if (layer->type == kLayerBGPicPart && !layer->basestate->bitmap) {
        qbBGPic* p = nullptr;
        if (GetBGPic(L, layer->id, &p, kBGPicPendingToo | kBGPicNoCopy) == 0) p->base = p->current = p->initial;
    }
    bgpic->layersDirty = 1;
    qbLayerState* const states[3] = {layer->basestate, layer->transformedstate, layer->shownstate};
    for (int i = 0; i < 3; ++i) {
        if ((i >= 1 && states[i] == states[0]) || (i == 2 && states[i] == states[1])) continue;
        FreeLayerStyleCaches(states[i]);
    }
    FreeLayerFilterCaches(layer);
    const bool scaled = d->pictureScaling && (d->scaleX != 1.0 || d->scaleY != 1.0);
    if (!IsIdentityMatrix(layer->transform.matrix) || scaled)
        return ApplyLayerChange(L, layer, kChangeRefresh | (scaled ? uint32_t{kChangeDisplayScale} : 0u));
    if (!layer->hidden && d->bgpic == bgpic) RefreshLayer(L, layer);
    return 0;
}

int ReplaceLayerImage(ScriptState* L, qbDisplay* display, qbLayer** layerInOut, qbBitmap* bitmap) {
    BitmapPtr owned(bitmap);
    qbLayer* layer = *layerInOut;
    if (!bitmap || !display || display != GetCurrentDisplay()) return ERR_WRONGUSAGE;
    if (layer->type != kLayerBrush && layer->type != kLayerBrushPart) return ERR_BADLAYERTYPE;
    qbBGPic* bgpic = FindBGPicOfLayer(layer);
    if (!bgpic) return ERR_LAYERRANGE;
    // What the new record keeps of the old one. The whole name is kept:
    // a layer is found by it, and names may be 255 characters long.
    qbLayer style;
    std::string name;
    try {
        name = layer->name;
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    CopyLayerStyle(&style, *layer);
    const qbTransformOptions transform = layer->transform;
    const qbLayerState* base = layer->basestate;
    const int32_t x = base->x, y = base->y;
    const int32_t position = IndexOfLayer(bgpic, layer);

    const int32_t width = GetBitmapAttr(bitmap, kBitmapAttrWidth);
    const int32_t height = GetBitmapAttr(bitmap, kBitmapAttrHeight);
    qbBrush* brush = nullptr;
    if (int err = AllocBrushRecord(NewObjectID{0, 1}, kBrushPixels, width, height, width, 0, nullptr, bitmap, -1,
                                   nullptr, nullptr, ObjectID{}, &brush))
        return err;
    owned.release();

    // The layer is drawn as the display shows it, with layers on.
    const qbOutputSelection savedOutput = display->output;
    const int32_t savedLayers = display->layersEnabled;
    qbBGPic* savedBGPic = GetCurrentOutputBGPic();
    display->output = qbOutputSelection{};
    display->layersEnabled = 1;
    SetCurrentOutputBGPic(bgpic);

    qbDisplayObjectCall call;
    call.type = kShowBrush;
    call.id = IDOf(*brush);
    call.x = x;
    call.y = y;
    call.topts = &transform;
    call.insertPos = position;
    call.addFlags = kAddDisplayScale | kAddReplace | kAddKeepPositions | kAddKeepFilters |
                    (style.hidden ? uint32_t{kAddHidden} : 0u);
    qbLayer* made = nullptr;
    call.outLayer = &made;
    int err = DisplayObject(L, call);
    // The new brush is the layer's alone and goes with it.
    brush->detached = 1;
    if (err == 0 && made) {
        CopyLayerStyle(made, style);
        made->name = std::move(name);
        *layerInOut = made;
        if (display->bgpic == bgpic && !made->hidden) RefreshLayer(L, made, true);
    }
    display->output = savedOutput;
    display->layersEnabled = savedLayers;
    SetCurrentOutputBGPic(savedBGPic);
    PurgeDetachedBrushes(L);
    return err;
}

int cmdSelectLayer(ScriptState* L) {
    CheckArgCount(L, 1, 4, 0, 0);
    const int32_t mode = ClampToInt32(VmOptNumber(L, 2, 0));
    const int32_t frame = ClampToInt32(VmOptNumber(L, 3, 0));
    const int32_t combo = ClampToInt32(VmOptNumber(L, 4, 0));
    if (int err = CheckLayerTarget(GetCurrentDisplay())) return err;
    const qbBGPic* bgpic = GetCurrentBGPic();
    if (!bgpic) return ERR_NOLAYERS;
    int32_t position = 0;
    if (int err = GetLayerIndexArg(L, 1, bgpic, &position)) return err;
    return SelectOutputTarget(L, kObjectTypeLayer, ObjectID{position, nullptr}, kOutputBrush, frame, mode, combo);
}
