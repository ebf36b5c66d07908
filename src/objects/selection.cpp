// Selecting a brush or a BGPic as the output, and making its planes ready
// for the first drawing.
#include "objects/selection.h"

#include <memory>
#include <new>
#include <utility>

#include "core/errcodes.h"
#include "core/errors.h"
#include "display/adapter.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/doublebuffer.h"
#include "display/output.h"
#include "display/selection.h"
#include "imaging/bitmap.h"
#include "objects/animhooks.h"
#include "objects/brushes.h"
#include "objects/layerdraw.h"
#include "objects/layers.h"

namespace {

// Adapter drawing capabilities for its own bitmaps: pixels, and planes.
constexpr uint32_t kAdapterDrawIntoBitmaps = 64;
constexpr uint32_t kAdapterDrawIntoPlanes = 128;

// What a selection draws into.
struct Target {
    void* record = nullptr;
    ObjectID id;
    qbImageTriple images;
    int32_t width = 0;
    int32_t height = 0;
    bool hardware = false;
};

int FindTarget(ScriptState* L, int32_t objectType, ObjectID id, int32_t kind, int32_t frame, Target* t) {
    switch (objectType) {
    case kObjectTypeBrush: {
        qbBrush* b = nullptr;
        if (int err = GetBrushRecord(L, id, &b, kBrushNoVector | kBrushHardwareToo)) return err;
        if (b->hardware) {
            const uint32_t need = kind == kOutputBrush ? kAdapterDrawIntoBitmaps : kAdapterDrawIntoPlanes;
            if (!HasDisplayAdapter() || !(DisplayAdapter().drawFlags & need)) return ERR_HWBRUSH;
        }
        *t = Target{b, IDOf(*b), {b->bitmap, b->mask, b->alpha}, b->width, b->height, b->hardware != 0};
        return 0;
    }
    case kObjectTypeBGPic: {
        qbBGPic* p = nullptr;
        if (int err = GetBGPic(L, id, &p, 0)) return err;
        if (p->regenerate) return ERR_BGPICTYPE;
        if (IsBGPicShown(p)) return ERR_SELECTBGPIC2;
        p->fill.valid = 0;
        *t = Target{p, IDOf(*p), p->initial, p->initialWidth, p->initialHeight, false};
        return 0;
    }
    case kOutputAnim: {
        const auto target = AnimObjectHooks().frameTarget;
        if (!target) {
            if (id.handle) return ERR_FINDARRAY;
            SetErrorArgIndex(id.number);
            return ERR_FINDANIM;
        }
        void* record = nullptr;
        qbImageTriple images;
        int32_t width = 0, height = 0;
        if (int err = target(L, id, frame, 0, &record, &images, &width, &height)) return err;
        *t = Target{record, id, images, width, height, false};
        return 0;
    }
    case kObjectTypeLayer: {
        qbLayer* layer = GetLayerByIndex(GetCurrentBGPic(), id.number);
        if (!layer) return ERR_LAYERRANGE;
        // Frames belong to anim layers, which need one.
        if (frame != 0 && layer->type != kLayerAnim) return ERR_NOANMLAYER;
        if (frame == 0 && layer->type == kLayerAnim) return ERR_MISSINGPARAMTR;
        qbImageTriple images;
        int32_t width = 0, height = 0;
        if (int err = PrepareLayerForDrawing(L, layer, frame, &images, &width, &height)) return err;
        *t = Target{layer, id, images, width, height, false};
        return 0;
    }
    default: return ERR_WRONGUSAGE;
    }
}

bool SameSelection(const qbDisplay* d, int32_t objectType, ObjectID id, int32_t kind, int32_t frame) {
    const qbBGPic* w = d->offscreen.get();
    return d->output.type == kind && w && w->wrapping && GetCurrentOutputBGPic() == w &&
           w->wrappedType == objectType && w->wrappedFrame == frame && IDOf(*w) == id;
}

// A BGPic's plane that goes: the base and current pictures may share it.
void DropBGPicPlane(qbBGPic* p, qbBitmap* qbImageTriple::*plane, void (*freeFn)(qbBitmap*)) {
    qbBitmap* gone = p->initial.*plane;
    if (!gone) return;
    for (qbImageTriple* t : {&p->initial, &p->base, &p->current})
        if (t->*plane == gone) t->*plane = nullptr;
    freeFn(gone);
}

}  // namespace

int SelectOutputTarget(ScriptState* L, int32_t objectType, ObjectID id, int32_t kind, int32_t frame, int32_t mode,
                       int32_t combo) {
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    if (SameSelection(d, objectType, id, kind, frame)) return 0;
    // A selection made while double buffering ends too; the double buffer
    // itself stays.
    if (d->output.type != kObjectTypeDisplay && !IsDoubleBuffering(d))
        if (int err = EndSelectCore(L, d, false)) return err;
    Target t;
    if (int err = FindTarget(L, objectType, id, kind, frame, &t)) return err;
    try {
        if (!d->offscreen) d->offscreen = std::make_shared<qbBGPic>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    qbBGPic* w = d->offscreen.get();
    InitBGPicRecord(w, objectType, frame, t.record, &t.id, t.images.bitmap, t.images.mask, t.images.alpha, t.width,
                    t.height, true);
    w->wrapping = 1;
    SetCurrentOutputBGPic(w);
    d->outputPrepared = 0;
    SaveDisplayOutputState(d, kind, t.width);
    SuspendDoubleBuffer(d);
    d->output = qbOutputSelection{};
    d->output.type = kind;
    d->output.selected = objectType;
    d->outputHardware = t.hardware ? 1 : 0;
    d->lastSelectMode = mode;
    d->selectionAlphaMode = 0;
    switch (kind) {
    case kOutputMask:
        if (t.hardware) d->output.bitmap = t.images.bitmap;
        else d->output.mask = t.images.mask;
        break;
    case kOutputAlphaChannel:
        if (t.hardware) d->output.bitmap = t.images.bitmap;
        else d->output.alpha = t.images.alpha;
        break;
    default:
        d->output.bitmap = t.images.bitmap;
        if (mode == kSelModeCombo) {
            d->output.mask = t.images.mask;
            d->output.alpha = t.images.alpha;
            d->selectionAlphaMode = combo;
        }
        break;
    }
    return 0;
}

namespace {

// The anim keeps its frames' planes itself: it makes and drops them.
int PrepareAnimFramePlanes(ScriptState* L, qbDisplay* d, qbBGPic* w, ObjectID id, int32_t kind) {
    const auto target = AnimObjectHooks().frameTarget;
    if (!target) return ERR_FINDANIM;
    void* record = nullptr;
    qbImageTriple images;
    int32_t fw = 0, fh = 0;
    if (int err = target(L, id, w->wrappedFrame, kind, &record, &images, &fw, &fh)) return err;
    // The plane that went must not stay named anywhere.
    for (qbImageTriple* triple : {&w->current, &w->base, &w->initial}) *triple = images;
    kind &= ~kFrameTargetLayerOwn;
    if (kind == kOutputMask) d->output.mask = images.mask;
    if (kind == kOutputAlphaChannel) d->output.alpha = images.alpha;
    d->outputPrepared = 1;
    return 0;
}

}  // namespace

int PrepareOutputTarget(ScriptState* L) {
    qbDisplay* d = GetCurrentDisplay();
    if (!d || d->outputPrepared) return 0;
    const int32_t kind = d->output.type;
    if (kind != kOutputBrush && kind != kOutputMask && kind != kOutputAlphaChannel) return 0;
    qbBGPic* w = GetCurrentOutputBGPic();
    if (!w || w != d->offscreen.get() || !w->wrapping) return 0;
    const ObjectID id = IDOf(*w);
    qbBitmap** mask = nullptr;
    qbBitmap** alpha = nullptr;
    qbBGPic* picture = nullptr;
    int32_t width = 0, height = 0;
    if (w->wrappedType == kObjectTypeBrush) {
        qbBrush* b = nullptr;
        const uint32_t hardware = d->outputHardware ? uint32_t{kBrushHardwareToo} : 0u;
        if (int err = GetBrushRecord(L, id, &b, kBrushModify | kBrushNoVector | hardware)) return err;
        mask = &b->mask;
        alpha = &b->alpha;
        width = b->width;
        height = b->height;
    } else if (w->wrappedType == kObjectTypeBGPic) {
        if (int err = GetBGPic(L, id, &picture, kBGPicModify)) return err;
        mask = &picture->initial.mask;
        alpha = &picture->initial.alpha;
        width = picture->initialWidth;
        height = picture->initialHeight;
    } else if (w->wrappedType == kOutputAnim) {
        return PrepareAnimFramePlanes(L, d, w, id, kind);
    } else if (w->wrappedType == kObjectTypeLayer) {
        // The layer's picture became its own when it was selected.
        auto* layer = static_cast<qbLayer*>(w->wrappedObject);
        if (!FindBGPicOfLayer(layer)) return ERR_LAYERRANGE;
        if (layer->type == kLayerAnim) return PrepareAnimFramePlanes(L, d, w, layer->id, kind | kFrameTargetLayerOwn);
        GetLayerPlaneSlots(L, layer, w->wrappedFrame, &mask, &alpha);
        if (!mask || !alpha) return 0;
        // A BGPic part draws into its BGPic's initial picture, which the
        // other two may share.
        if (layer->type == kLayerBGPicPart && !layer->basestate->bitmap)
            if (int err = GetBGPic(L, layer->id, &picture, kBGPicPendingToo | kBGPicNoCopy)) return err;
        width = w->initialWidth;
        height = w->initialHeight;
    } else {
        return 0;
    }
    if (!d->outputHardware && kind == kOutputMask) {
        if (!*mask) {
            qbBitmap* made = AllocMask(nullptr, width, height, false, nullptr, 0);
            if (!made) return ERR_ALLOCMASK;
            FillMaskRect(made, 0, 0, width, height, kMaskVisible);
            *mask = made;
        }
        if (picture)
            DropBGPicPlane(picture, &qbImageTriple::alpha, &FreeAlphaChannel);
        else
            FreeAlphaChannel(std::exchange(*alpha, nullptr));
        d->output.mask = w->current.mask = *mask;
        w->current.alpha = nullptr;
    } else if (!d->outputHardware && kind == kOutputAlphaChannel) {
        if (!*alpha) {
            qbBitmap* made = AllocAlphaChannel(width, height, false, nullptr, 0);
            if (!made) return ERR_ALLOCALPHA;
            FillAlphaRect(made, 0, 0, width, height, 255);
            *alpha = made;
        }
        if (picture)
            DropBGPicPlane(picture, &qbImageTriple::mask, &FreeMask);
        else
            FreeMask(std::exchange(*mask, nullptr));
        d->output.alpha = w->current.alpha = *alpha;
        w->current.mask = nullptr;
    }
    d->outputPrepared = 1;
    return 0;
}

int SelectBGPicLayers(ScriptState* L, const ObjectID* id) {
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    qbBGPic* target = d->bgpic;
    if (id)
        if (int err = GetBGPic(L, *id, &target, 0)) return err;
    if (!target) return ERR_FINDBGPIC;
    if (d->output.type == kOutputBGPic && GetCurrentOutputBGPic() == target) return 0;
    if (d->output.type != kObjectTypeDisplay && !IsDoubleBuffering(d))
        if (int err = EndSelectCore(L, d, false)) return err;
    if (!d->layersEnabled) return ERR_NOLAYERS;
    if (target != d->bgpic && IsBGPicShown(target)) return ERR_SELECTBGPIC;
    if (d->dirtyRects.Capacity() == 0 && !InitDirtyRectList(&d->dirtyRects)) return ERR_MEM;
    d->dirtyRects.Reset();
    d->output = qbOutputSelection{};
    SaveDisplayOutputState(d, kOutputBGPic, target->baseWidth);
    SetCurrentOutputBGPic(target);
    d->output.type = kOutputBGPic;
    d->output.selected = kObjectTypeBGPic;
    return 0;
}

namespace {

// frame -1 matches any frame.
int EndSelectionOf(ScriptState* L, int32_t type, ObjectID id, int32_t frame) {
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return 0;
    const int32_t kind = d->output.type;
    if (kind != kOutputBrush && kind != kOutputMask && kind != kOutputAlphaChannel) return 0;
    const qbBGPic* w = d->offscreen.get();
    if (!w || !w->wrapping || GetCurrentOutputBGPic() != w || w->wrappedType != type || !(IDOf(*w) == id))
        return 0;
    if (frame >= 0 && w->wrappedFrame != frame + 1) return 0;
    return EndSelectCore(L, d, false);
}

}  // namespace

int EndSelectionOfBrush(ScriptState* L, ObjectID id) { return EndSelectionOf(L, kObjectTypeBrush, id, -1); }

int EndSelectionOfAnim(ScriptState* L, ObjectID id, int32_t frame) {
    return EndSelectionOf(L, kOutputAnim, id, frame);
}
