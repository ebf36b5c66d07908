// Ending an output selection: the BGPic drawn into gets its derived
// pictures anew, layers held back by a BGPic selection are shown, and the
// display's state (and a suspended double buffer) comes back.
#include <initializer_list>

#include "core/errcodes.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/doublebuffer.h"
#include "display/output.h"
#include "display/selection.h"
#include "imaging/scalebitmap.h"
#include "objects/dirtyrects.h"
#include "objects/layerdraw.h"
#include "objects/layers.h"
#include "objects/selection.h"

namespace {

int ScaleInitial(qbBGPic* p, int32_t width, int32_t height, qbImageTriple* out) {
    const qbImageTriple& in = p->initial;
    *out = {};
    return ScaleBitmap(in.bitmap, in.mask, in.alpha, 0, 0, nullptr, p->initialWidth, p->initialHeight, width, height,
                       false, &out->bitmap, in.mask ? &out->mask : nullptr, in.alpha ? &out->alpha : nullptr);
}

// The drawing went into the initial picture: the base and current pictures
// that share its bitmap share its planes too, and those of another size
// are scaled from it anew.
int WriteBackBGPic(qbBGPic* p) {
    const qbImageTriple& in = p->initial;
    const bool baseDistinct = p->base.bitmap != in.bitmap;
    const bool currentIsBase = p->current.bitmap == p->base.bitmap;
    const bool currentDistinct = p->current.bitmap != in.bitmap && !currentIsBase;
    if (!baseDistinct) p->base = in;
    if (p->current.bitmap == in.bitmap) p->current = in;
    if (baseDistinct) {
        qbImageTriple made;
        if (int err = ScaleInitial(p, p->baseWidth, p->baseHeight, &made)) return err;
        const qbImageTriple old = p->base;
        p->base = made;
        if (currentIsBase) p->current = made;
        FreeReplacedImages(old, {&p->initial, &p->base, &p->current});
    }
    if (currentDistinct) {
        qbImageTriple made;
        if (int err = ScaleInitial(p, p->currentWidth, p->currentHeight, &made)) return err;
        const qbImageTriple old = p->current;
        p->current = made;
        FreeReplacedImages(old, {&p->initial, &p->base, &p->current});
    }
    return 0;
}

void ShowHeldBackLayers(ScriptState* L, qbDisplay* d, qbBGPic* target, bool noRefresh) {
    if (target == d->bgpic) {
        if (target->layers)
            for (auto& layer : target->layers->layers) layer->pending = 0;
        if (!noRefresh) {
            MergeDirtyRects(&d->dirtyRects);
            RefreshDirtyRects(L, &d->dirtyRects);
        }
    }
    d->dirtyRects.Reset();
}

}  // namespace

int EndSelectCore(ScriptState* L, qbDisplay* d, bool noRefresh) {
    if (!d || d->output.type == kObjectTypeDisplay || IsDoubleBuffering(d)) return 0;
    const int32_t kind = d->output.type;
    const bool current = d == GetCurrentDisplay();
    qbBGPic* selected = current ? GetCurrentOutputBGPic() : nullptr;
    SaveAndResetOutput(d, nullptr);
    d->outputPrepared = 0;
    d->outputHardware = 0;
    if (current) SetCurrentOutputBGPic(d->bgpic);
    int err = 0;
    qbLayer* drawnLayer = nullptr;
    if (kind == kOutputBGPic) {
        if (selected) ShowHeldBackLayers(L, d, selected, noRefresh);
    } else if (qbBGPic* w = d->offscreen.get(); w && w->wrapping) {
        // The write-back happens whether or not a double buffer waits: a
        // scaled BGPic would otherwise keep its old picture.
        if (w->wrappedType == kObjectTypeBGPic) err = WriteBackBGPic(static_cast<qbBGPic*>(w->wrappedObject));
        if (w->wrappedType == kObjectTypeLayer) drawnLayer = static_cast<qbLayer*>(w->wrappedObject);
        w->wrapping = 0;
        w->wrappedObject = nullptr;
        w->current = w->base = w->initial = qbImageTriple{};
    }
    RestoreDisplayOutputState(d);
    ResumeDoubleBuffer(d);
    // The layer is shown once the display has its layers back.
    if (drawnLayer && current) err = ShowDrawnLayer(L, d, drawnLayer);
    return err;
}
