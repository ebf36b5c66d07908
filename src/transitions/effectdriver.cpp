#include "transitions/effectdriver.h"

#include <algorithm>
#include <memory>

#include "core/errcodes.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displaylib.h"
#include "display/doublebuffer.h"
#include "display/events.h"
#include "display/output.h"
#include "display/positions.h"
#include "display/refresh.h"
#include "display/selection.h"
#include "draw/asyncdraw.h"
#include "imaging/blit.h"
#include "imaging/geometry.h"
#include "objects/brushes.h"
#include "objects/compositor.h"
#include "objects/dirtyrects.h"
#include "objects/displayobject.h"
#include "objects/layers.h"
#include "objects/objectoptions.h"
#include "objects/selection.h"
#include "text/textobjects.h"
#include "transitions/curtains.h"
#include "transitions/dissolve.h"
#include "transitions/effectasync.h"
#include "transitions/effectframe.h"
#include "transitions/effecthelpers.h"
#include "transitions/effectscreen.h"
#include "transitions/effectvideo.h"
#include "transitions/effectwhole.h"
#include "transitions/fades.h"
#include "transitions/flow.h"
#include "transitions/gates.h"
#include "transitions/puzzle.h"
#include "transitions/rects.h"
#include "transitions/roll.h"
#include "transitions/reveals.h"
#include "transitions/ripples.h"
#include "transitions/scroll.h"
#include "transitions/shapes.h"
#include "transitions/slides.h"
#include "transitions/strangepush.h"
#include "transitions/stretch.h"
#include "transitions/stripes.h"
#include "transitions/stripwalks.h"
#include "transitions/zoomturn.h"

namespace {

// A place far off any screen stays off it, and the sums of the frames drawn
// there stay in range.
int32_t EffectCoordinate(int32_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, -kCoordinateLimit, kCoordinateLimit));
}

EffectFrameObserver frameObserver = nullptr;
void* frameObserverData = nullptr;

bool InRange(int32_t t, int32_t lo, int32_t hi) { return t >= lo && t <= hi; }

// Types that move or blend the whole picture and so keep drawing a
// transparent picture over what is already there.
bool KeepsTransparency(int32_t t) {
    return InRange(t, 47, 73) || InRange(t, 84, 87) || InRange(t, 99, 100) || InRange(t, 116, 117) ||
           InRange(t, 132, 133);
}

// Hiding with these cannot draw the picture away on plain bitmaps.
bool HidesInRealtime(int32_t t) {
    return InRange(t, 55, 73) || InRange(t, 84, 87) || InRange(t, 99, 100) || InRange(t, 116, 117) ||
           InRange(t, 132, 133);
}

bool IsScrollType(int32_t t) { return InRange(t, 47, 54); }

// Whether the renderer needs the old picture kept.
bool NeedsBackground(int32_t t, bool realtime) {
    if (t == 74 || t == 76 || InRange(t, 78, 81) || InRange(t, 101, 104) || InRange(t, 111, 112) || t == 115 ||
        InRange(t, 118, 131) || t == 133)
        return true;
    if (t == 75 || t == 77) return realtime;
    if (realtime) return false;
    return InRange(t, 55, 73) || InRange(t, 84, 87) || InRange(t, 97, 100) || t == 114 || InRange(t, 116, 117) ||
           t == 132 || InRange(t, 134, 139);
}

int32_t MirrorType(int32_t t) {
    switch (t) {
        case 24: return 25;
        case 25: return 24;
        case 26: return 27;
        case 27: return 26;
        case 30: return 31;
        case 31: return 30;
        case 32: return 33;
        case 33: return 32;
        default: break;
    }
    if (InRange(t, 38, 46)) return t + 50;
    if (InRange(t, 88, 96)) return t - 50;
    return t;
}

bool IsLayerKind(int32_t kind) { return kind == kEffectLayer || kind == kEffectHideLayer || kind == kEffectRemoveLayer; }

bool DrawsIntoSelectedBGPic(const qbEffectState* s, const qbDisplay* d) {
    return IsLayerKind(s->objectType) && s->async && d->layersEnabled && d->output.type == kOutputBGPic;
}

// The output check of step 3: 0 to go on, -1 when the command does
// nothing, else the code of what is selected.
int CheckEffectOutput(const qbEffectState* s, qbDisplay* d) {
    const int32_t kind = d->output.type;
    if (kind == kObjectTypeDisplay) return 0;
    if (s->objectType == kEffectBGPic && kind == kOutputBGPic && IsBGPicSelectedForOutput(s->id)) return 0;
    // A stepped layer effect may draw into the selected BGPic when that is
    // the one on the display: its frames wait in the layer images.
    if (DrawsIntoSelectedBGPic(s, d))
        return d->bgpic && GetCurrentOutputBGPic() == d->bgpic ? 0 : ERR_SELECTBG;
    if (s->objectType == kEffectBrush && (kind == kOutputBrush || kind == kOutputMask || kind == kOutputAlphaChannel)) {
        const qbBGPic* w = d->offscreen.get();
        if (w && w->wrapping && w->wrappedType == kObjectTypeBrush && IDOf(*w) == s->id) return 0;
    }
    if (int err = CheckOutputGuard(d, OutputGuard::Refresh)) return err;
    return d->refreshBlock ? ERR_BEGINREFRESH : -1;
}

void ReleaseUseCount(qbEffectState* s) {
    for (int32_t** held : {&s->useCount, &s->emuUseCount}) {
        if (*held && **held > 0) --**held;
        *held = nullptr;
    }
}

// The object stays as it is while the effect reads its pictures, on the
// layers road too: a change or free of it is refused until the effect ends.
void HoldUseCount(qbEffectState* s, int32_t* count) {
    ++*count;
    s->useCount = count;
}

void RefreshLayerArea(qbEffectState* s, qbLayer* layer) {
    int32_t x, y, w, h;
    GetLayerBounds(s->script, layer, layer->shownstate, &x, &y, &w, &h);
    RefreshLayerRect(s->script, x, y, w, h, 0);
}

// Adds the object as a new layer (not drawn yet) and turns the effect into
// a layer effect of it.
int AddEffectLayer(qbEffectState* s, const qbDisplayObjectCall& base) {
    qbDisplayObjectCall call = base;
    qbLayer* layer = nullptr;
    call.flags = kShowNeverDraw;
    call.outLayer = &layer;
    if (int err = DisplayObject(s->script, call)) return err;
    if (!layer) return ERR_WRONGUSAGE;
    layer->hidden = 1;
    s->addedLayer = 1;
    s->objectType = kEffectLayer;
    s->id = ObjectID{CountLayers(GetCurrentDisplay()->bgpic), nullptr};
    return 0;
}

int PrepareBrush(qbEffectState* s, qbDisplay* d) {
    qbBrush* b = nullptr;
    if (int err = GetBrushRecord(s->script, s->id, &b, 0)) return err;
    HoldUseCount(s, &b->locked);
    if (d->layersEnabled) {
        qbDisplayObjectCall call;
        call.type = kShowBrush;
        call.id = s->id;
        call.x = s->x;
        call.y = s->y;
        return AddEffectLayer(s, call);
    }
    s->width = b->width;
    s->height = b->height;
    s->x = EffectCoordinate(ResolveSpecialX(s->x, b->width, 0, 0));
    s->y = EffectCoordinate(ResolveSpecialY(s->y, b->height, 0, 0));
    s->image = b->bitmap;
    s->mask = b->alpha ? nullptr : b->mask;
    s->alpha = b->alpha;
    return 0;
}

// A text object is placed by its picture's top left, which lies at the
// text origin plus its offsets.
int PrepareTextObject(qbEffectState* s, qbDisplay* d) {
    qbTextObject* o = nullptr;
    if (int err = GetTextObject(s->script, s->id, &o, 0)) return err;
    HoldUseCount(s, &o->locked);
    const int32_t x = SaturatingAdd(ResolveSpecialX(s->x, o->width, 0, 0), o->xOffset);
    const int32_t y = SaturatingAdd(ResolveSpecialY(s->y, o->height, 0, 0), o->yOffset);
    if (d->layersEnabled) {
        qbTransformOptions topts;
        qbLayerOptions lopts;
        ResetDisplayObjectOptions(&topts, &lopts, 0, 0, 0, 0);
        qbLayer* layer = nullptr;
        if (int err = AddTextObjectLayer(s->script, o, x, y, topts, lopts, -1, kAddHidden, &layer))
            return err;
        if (!layer) return ERR_WRONGUSAGE;
        s->addedLayer = 1;
        s->objectType = kEffectLayer;
        s->id = ObjectID{CountLayers(d->bgpic), nullptr};
        return 0;
    }
    s->width = o->width;
    s->height = o->height;
    s->x = EffectCoordinate(x);
    s->y = EffectCoordinate(y);
    s->image = o->bitmap.get();
    s->mask = o->alpha ? nullptr : o->mask.get();
    s->alpha = o->alpha.get();
    return 0;
}

int PrepareBGPicPart(qbEffectState* s, qbDisplay* d) {
    if (d->layersEnabled) {
        qbDisplayObjectCall call;
        call.type = kShowBGPicPart;
        call.id = s->id;
        call.srcX = s->srcX;
        call.srcY = s->srcY;
        call.x = s->x;
        call.y = s->y;
        call.width = s->width;
        call.height = s->height;
        call.copyPart = s->layers;
        return AddEffectLayer(s, call);
    }
    qbBGPic* p = nullptr;
    if (int err = GetBGPic(s->script, s->id, &p, 0)) return err;
    const int32_t sx = ResolveSpecialX(s->srcX, s->width, p->baseWidth, 0);
    const int32_t sy = ResolveSpecialY(s->srcY, s->height, p->baseHeight, 0);
    if (sx < 0 || sy < 0) return ERR_NEGCOORDS;
    if (sx >= p->baseWidth || sy >= p->baseHeight) return ERR_COORDSRANGE;
    s->width = std::min(s->width, p->baseWidth - sx);
    s->height = std::min(s->height, p->baseHeight - sy);
    if (s->width < 1 || s->height < 1) return ERR_WRONGUSAGE;
    s->x = EffectCoordinate(ResolveSpecialX(s->x, s->width, 0, 0));
    s->y = EffectCoordinate(ResolveSpecialY(s->y, s->height, 0, 0));
    if (int err = CloneEffectPicture(p->base.bitmap, p->base.mask, p->base.alpha, sx, sy, s->width, s->height,
                                     &s->image, &s->mask, &s->alpha))
        return err;
    s->ownsImage = s->ownsMask = s->ownsAlpha = 1;
    if (s->alpha && s->mask) {
        FreeMask(s->mask);
        s->mask = nullptr;
    }
    return 0;
}

int PrepareBGPic(qbEffectState* s, qbDisplay* d) {
    qbBGPic* next = nullptr;
    if (int err = GetBGPic(s->script, s->id, &next, 0)) return err;
    qbBGPic* now = d->bgpic;
    if (!now || !d->backBuffer) return ERR_WRONGUSAGE;
    if (next->keyColour != -1 || next->current.alpha || now->keyColour != -1 || now->current.alpha)
        return ERR_WRONGUSAGE;
    s->bgpic = now;
    s->newBGPic = next;
    s->width = next->currentWidth;
    s->height = next->currentHeight;
    s->x = s->y = 0;
    // The old picture as shown, before the buffers take the new one.
    if (NeedsBackground(s->type, false)) {
        s->background = EffectAllocBitmap(s->width, s->height);
        if (!s->background) return ERR_BITMAP;
        ClipAndCopyRect(d->backBuffer.get(), 0, 0, s->background, 0, 0, s->width, s->height, d->backBuffer->width,
                        d->backBuffer->height, s->width, s->height);
    }
    qbBitmap* composed = nullptr;
    bool owned = false;
    if (CountLayers(next)) {
        if (int err = RenderBGPicLayersToBitmap(s->script, next, 0, 0, s->width, s->height, &composed, &owned))
            return err;
    } else {
        composed = next->current.bitmap;
    }
    qbBitmap *mask = nullptr, *alpha = nullptr;
    const int err = CloneEffectPicture(composed, nullptr, nullptr, 0, 0, s->width, s->height, &s->bgpicImage, &mask,
                                       &alpha);
    if (owned) FreeBitmap(composed);
    if (err) return err;
    s->image = s->bgpicImage;
    HoldUseCount(s, &next->locked);
    return 0;
}

bool LayerIsOverlapped(qbEffectState* s, const qbBGPic* pic, const qbLayer* layer) {
    qbRect box{s->x, s->y, s->width, s->height};
    bool above = false;
    for (const auto& other : pic->layers->layers) {
        if (other.get() == layer) {
            above = true;
            continue;
        }
        if (!above || other->type == kLayerNoObject || other->hidden || other->pending) continue;
        qbRect b;
        GetLayerBounds(s->script, other.get(), other->shownstate, &b.x, &b.y, &b.width, &b.height);
        if (IntersectRects(box, b).width > 0) return true;
    }
    return false;
}

int PrepareLayer(qbEffectState* s, qbDisplay* d) {
    if (!d->layersEnabled) return ERR_NOLAYERS;
    qbLayer* layer = GetLayerByIndex(d->bgpic, s->id.number);
    if (!layer) return ERR_LAYERRANGE;
    if (IsObjectUsedByAsyncDraw(layer)) return ERR_ALREADYASYNC;
    if (!s->async && LayerShowsPlayingVideo(s->script, layer)) s->async = s->stepSync = 1;
    s->layer = layer;
    // The emulated BGPic is drawn from at every frame: held as a shown
    // BGPic is, so that no free or replacement of its id reaches it.
    if (s->bgpicEmu && s->emuBGPic) {
        ++s->emuBGPic->locked;
        s->emuUseCount = &s->emuBGPic->locked;
    }
    if (int err = PrepareLayerForEffect(s, layer)) return err;
    const qbLayerState* st = layer->shownstate;
    s->layerHasExtras = layer->shadow.shadow || layer->border.border || layer->hasgeometricfilter;
    s->scroll = IsScrollType(s->type);
    if (s->scroll) return 0;
    s->autoScaled = d->autoscale && d->scaleWidth > 0 && d->scaleHeight > 0;
    if (d->effectFlags & kDisplayEffectsRealtime) s->forceRealtime = s->displayFlag80 = 1;
    s->realtime = s->forceRealtime || s->async || s->bgpicEmu || layer->transparency || s->layerHasExtras ||
                  st->clipregion || s->autoScaled;
    // Plain bitmaps cannot take a picture away: a hide runs in the layer.
    if (s->reverse && (HidesInRealtime(s->type) || !IsScrollType(s->type))) s->realtime = 1;
    if (!s->realtime) s->realtime = LayerIsOverlapped(s, d->bgpic, layer);
    return 0;
}

// Step 11: a transparent picture drawn by a plain effect becomes opaque
// over what the screen shows under it, so that pieces drawn twice stay
// right.
int ComposeOverScreen(qbEffectState* s) {
    if (s->realtime || s->objectType == kEffectBGPic || (!s->mask && !s->alpha) || KeepsTransparency(s->type))
        return 0;
    const int64_t right = int64_t{s->x} + s->width, bottom = int64_t{s->y} + s->height;
    if (right < 1 || bottom < 1 || s->x >= s->screenWidth || s->y >= s->screenHeight) return 0;
    BitmapPtr opaque(EffectAllocBitmap(s->width, s->height));
    if (!opaque) return ERR_BITMAP;
    // What lies off the screen keeps the picture's own pixels, not what the
    // fresh bitmap held: effects that move pixels fetch from there too.
    if (right > s->screenWidth || bottom > s->screenHeight || s->x < 0 || s->y < 0)
        CopyBitmapRect(s->image, 0, 0, opaque.get(), 0, 0, s->width, s->height);
    CopyScreenRect(s, opaque.get(), s->x, s->y, s->width, s->height, 0, 0, true);
    if (s->alpha) CopyBitmapRectAlpha(s->image, 0, 0, opaque.get(), 0, 0, s->width, s->height, s->alpha);
    else CopyBitmapRectMasked(s->image, 0, 0, opaque.get(), 0, 0, s->width, s->height, s->mask);
    if (s->ownsImage) FreeBitmap(s->image);
    if (s->ownsMask) FreeMask(s->mask);
    if (s->ownsAlpha) FreeAlphaChannel(s->alpha);
    s->image = opaque.release();
    s->ownsImage = 1;
    s->mask = s->alpha = nullptr;
    s->ownsMask = s->ownsAlpha = 0;
    return 0;
}

int TakeBackground(qbEffectState* s) {
    if (s->objectType == kEffectBGPic || !NeedsBackground(s->type, s->realtime)) return 0;
    s->background = EffectAllocBitmap(s->width, s->height);
    if (!s->background) return ERR_BITMAP;
    // Hides that blend the layer away need it in the copy.
    const bool keepLayer = s->reverse && (s->type == 97 || s->type == 98 || s->type == 114 || s->type == 116 ||
                                          s->type == 117 || InRange(s->type, 134, 139) || (s->type == 115 && !s->realtime));
    CopyScreenRect(s, s->background, s->x, s->y, s->width, s->height, 0, 0, !keepLayer);
    return 0;
}

}  // namespace

int StartEffect(qbEffectState* s, qbDisplay* d) {
    if (s->type == kUnnamedEffect) s->type = kRandomEffect;
    if (IsDoubleBuffering(d))
        if (int err = EndDoubleBufferCore(s->script, d)) return err;
    if (int err = CheckEffectOutput(s, d)) return err;
    if (s->type == kRandomEffect) {
        const int restrict = s->objectType != kEffectBGPic && !s->bgpicEmu;
        s->type = PickRandomEffect(restrict);
    }
    if (s->objectType != kEffectBGPic && !EffectWorksOnObjects(s->type) &&
        !(s->objectType == kEffectLayer && s->bgpicEmu))
        s->type = 0;
    if (d->output.type != kObjectTypeDisplay && !DrawsIntoSelectedBGPic(s, d))
        if (int err = EndSelectCore(s->script, d, false)) return err;
    if (s->reverse) s->type = MirrorType(s->type);
    s->renderer = RendererForType(s->type);
    if (!s->renderer) return ERR_WRONGUSAGE;
    if (!d->bgpic) return ERR_WRONGUSAGE;
    s->screenWidth = d->bgpic->currentWidth;
    s->screenHeight = d->bgpic->currentHeight;

    switch (s->objectType) {
        case kEffectBrush:
            if (int err = PrepareBrush(s, d)) return err;
            break;
        case kEffectTextObject:
            if (int err = PrepareTextObject(s, d)) return err;
            break;
        case kEffectBGPicPart:
            if (int err = PrepareBGPicPart(s, d)) return err;
            break;
        case kEffectBGPic:
            if (int err = PrepareBGPic(s, d)) return err;
            break;
        default: break;
    }
    if (IsLayerKind(s->objectType))
        if (int err = PrepareLayer(s, d)) return err;
    if (s->realtime)
        if (int err = AllocLayerEffectImages(s)) return err;
    if (int err = ComposeOverScreen(s)) return err;
    if (int err = TakeBackground(s)) return err;

    s->target = nullptr;
    s->autoScaled = d->autoscale && d->scaleWidth > 0 && d->scaleHeight > 0;
    s->blitFlags = s->autoScaled ? 0x24u : 4u;
    if (s->objectType == kEffectBGPic && d->layersEnabled) s->blitFlags |= 0x40u;
    if (d->effectFlags & kDisplayEffectsRealtime) {
        s->blitFlags |= 0x20u;
        s->displayFlag80 = 1;
    }
    s->phase = 0;
    if (int err = s->renderer(s, nullptr)) return err;
    s->phase = 1;
    return 0;
}

namespace {

// The display changed size under a running effect: the layer goes back to
// how it was, so that the command can run the effect again.
void AbandonForSize(qbEffectState* s, qbEffectState& request, qbDisplay* d) {
    s->sizeChanged = 1;
    if (s->objectType == kEffectBGPic) return;
    request.retry = 1;
    if (!s->layer) return;
    RestoreEffectLayer(s);
    // The rerun adds the object again; the layer made now must not stay.
    if (s->addedLayer) {
        FreeLayer(s->script, s->layer, false);
        s->layer = nullptr;
        return;
    }
    if (!d->layerScale) return;
    s->layer->hidden = s->objectType == kEffectLayer ? 1 : 0;
    RefreshLayerArea(s, s->layer);
}

void ShowNewBGPic(qbEffectState* s, qbDisplay* d) {
    ReleaseUseCount(s);
    ScriptState* L = s->script;
    VmPushNewTable(L);
    SetTableFieldObjectID(L, "bgpic", IDOf(*s->newBGPic));
    if (s->bgpicX != kEffectPositionNotGiven) SetTableFieldInt(L, "x", s->bgpicX);
    if (s->bgpicY != kEffectPositionNotGiven) SetTableFieldInt(L, "y", s->bgpicY);
    ApplyDisplayAttributes(L, VmGetTop(L), d, true);
    VmSetTop(L, -2);
}

}  // namespace

void SetEffectFrameObserver(EffectFrameObserver observer, void* data) {
    frameObserver = observer;
    frameObserverData = data;
}

namespace {

// The families that uncover the new picture in place: curtains, bars and
// quarters, reveals and lines, rectangles, the diagonal and the puzzle.
EffectRenderer UncoverRendererForType(int32_t type) {
    static constexpr EffectRenderer kCurtainsToLines[] = {
        RenderVOpenCurtain, RenderVCloseCurtain, RenderHOpenCurtain, RenderHCloseCurtain, RenderBars,
        RenderQuarters,     RenderRevealLeft,    RenderRevealRight,  RenderRevealTop,     RenderRevealBottom,
        RenderVLines2,      RenderHLines2,       RenderHLines,       RenderVLines};
    if (InRange(type, 24, 37)) return kCurtainsToLines[type - 24];
    if (InRange(type, 38, 46)) return RenderRect;
    if (InRange(type, 88, 96)) return RenderRectBack;
    if (type == 82) return RenderPuzzle;
    if (type == 83) return RenderDiagonal;
    return nullptr;
}

// The strip walks, slides, cards, squashes and stretches.
EffectRenderer WalkRendererForType(int32_t type) {
    if (type == 105) return RenderSpiral;
    if (type == 106) return RenderSwiss;
    if (type == 107) return RenderQuadRect;
    if (InRange(type, 108, 109)) return RenderSplit;
    if (type == 110) return RenderUpDown;
    if (InRange(type, 55, 69)) return RenderStretchZoom;
    if (InRange(type, 99, 100)) return RenderStrangePush;
    if (InRange(type, 101, 104)) return RenderSlide;
    if (InRange(type, 111, 112)) return RenderCard;
    if (InRange(type, 120, 123)) return RenderCrush;
    if (InRange(type, 124, 127)) return RenderFlipCoin;
    if (InRange(type, 84, 87)) return RenderRoll;
    return nullptr;
}

}  // namespace

EffectRenderer RendererForType(int32_t type) {
    if (InRange(type, 0, 6)) return RenderHStripes;
    if (InRange(type, 7, 13)) return RenderVStripes;
    if (InRange(type, 14, 18)) return RenderHBlinds;
    if (InRange(type, 19, 23)) return RenderVBlinds;
    if (auto r = UncoverRendererForType(type)) return r;
    if (InRange(type, 47, 54)) return RenderScroll;
    if (type == 70) return RenderHFlowTop;
    if (type == 71) return RenderHFlowBottom;
    if (type == 72) return RenderVFlowLeft;
    if (type == 73) return RenderVFlowRight;
    if (type == 74) return RenderHOpenGate;
    if (type == 75) return RenderHCloseGate;
    if (type == 76) return RenderVOpenGate;
    if (type == 77) return RenderVCloseGate;
    if (InRange(type, 78, 81)) return RenderPush;
    if (InRange(type, 118, 119)) return RenderZoomInOut;
    if (InRange(type, 128, 131)) return RenderTurnDown;
    if (auto r = WalkRendererForType(type)) return r;
    if (type == 97) return RenderClockWipe;
    if (type == 98) return RenderStar;
    if (type == 114) return RenderSun;
    if (type == 115) return RenderCrossFade;
    if (InRange(type, 116, 117)) return RenderFadeBlend;
    if (InRange(type, 134, 137)) return RenderWater;
    if (type == 138) return RenderStrudel;
    if (type == 139) return RenderDissolve;
    if (InRange(type, 132, 133)) return RenderPixelZoom;
    return nullptr;
}

void ShowEffectImagesIn(qbEffectState* s, qbLayerState* st) {
    qbEffectLayerImages& li = s->layerImages;
    li.layerWasTransformed = st->xfbitmap != nullptr;
    LendLayerPictures(st, s, li.bitmap, li.mask, li.alpha);
}

int PrepareLayerForEffect(qbEffectState* s, qbLayer* layer) {
    qbLayerState* st = layer->shownstate;
    qbObjectImage image;
    int32_t iw = 0, ih = 0;
    if (int err = GetLayerSourceImage(s->script, layer, st, true, &image, &iw, &ih)) return err;
    // Read as the compositor reads it: only some layer types keep a source
    // offset in srcx/srcy.
    const bool offset = st->xfbitmap == nullptr && HasSourceOffset(layer->type);
    const int32_t sx = offset ? st->srcx : 0, sy = offset ? st->srcy : 0;
    s->x = st->shownx;
    s->y = st->showny;
    s->width = st->shownwidth;
    s->height = st->shownheight;
    if (s->width < 1 || s->height < 1) return ERR_WRONGUSAGE;
    // An emulated BGPic is drawn into the picture: the effect draws it into
    // a copy, never into the object's own bitmap.
    if (sx == 0 && sy == 0 && iw == s->width && ih == s->height && !s->bgpicEmu) {
        s->image = image.bitmap;
        s->mask = image.alpha ? nullptr : image.mask;
        s->alpha = image.alpha;
        return 0;
    }
    if (sx < 0 || sy < 0 || int64_t{sx} + s->width > iw || int64_t{sy} + s->height > ih) return ERR_COORDSRANGE;
    if (int err = CloneEffectPicture(image.bitmap, image.alpha ? nullptr : image.mask, image.alpha, sx, sy, s->width,
                                     s->height, &s->image, &s->mask, &s->alpha))
        return err;
    s->ownsImage = s->ownsMask = s->ownsAlpha = 1;
    return 0;
}

void ResetLayerEffectImages(qbEffectState* s) {
    qbEffectLayerImages& li = s->layerImages;
    const int32_t w = s->width, h = s->height;
    if (!s->reverse) {
        if (li.alpha) FillAlphaRect(li.alpha, 0, 0, w, h, 0);
        if (li.mask) FillEffectMask(li.mask, 0, 0, w, h, false);
        return;
    }
    if (li.alpha) {
        if (s->alpha) CombineAlphaRect(s->alpha, 0, 0, li.alpha, 0, 0, w, h, 0, 0);
        else if (s->mask) {
            FillAlphaRect(li.alpha, 0, 0, w, h, 0);
            // Where the mask shows the picture, fully opaque.
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    if (ReadBitmapPixel(s->mask, x, y, true)) FillAlphaRect(li.alpha, x, y, 1, 1, 255);
        } else FillAlphaRect(li.alpha, 0, 0, w, h, 255);
    } else if (li.mask) {
        if (s->mask) BlitMaskRect(s->mask, 0, 0, li.mask, 0, 0, w, h, kMaskVanillaCopy, nullptr, 0);
        else FillEffectMask(li.mask, 0, 0, w, h, true);
    }
    CopyBitmapRect(s->image, 0, 0, li.bitmap, 0, 0, w, h);
    li.holdsPicture = 1;
}

int AllocLayerEffectImages(qbEffectState* s) {
    qbEffectLayerImages& li = s->layerImages;
    const int32_t w = s->width, h = s->height;
    BitmapPtr bitmap(EffectAllocBitmap(w, h));
    if (!bitmap) return ERR_BITMAP;
    if (IsBlendEffect(s->type) || s->alpha) {
        li.alpha = EffectAllocAlpha(w, h, true);
        if (!li.alpha) return ERR_ALLOCALPHA;
    } else {
        li.mask = EffectAllocMask(w, h, true);
        if (!li.mask) return ERR_ALLOCMASK;
    }
    li.bitmap = bitmap.release();
    // A showing effect reveals the picture through the planes, so what the
    // image holds does not show yet; filled now, its fresh pages are mapped
    // here and not in the first frame, which would touch every one of them.
    if (!s->reverse && s->image) {
        CopyBitmapRect(s->image, 0, 0, li.bitmap, 0, 0, w, h);
        li.holdsPicture = 1;
    }
    ResetLayerEffectImages(s);
    li.x = s->x;
    li.y = s->y;
    ShowEffectImagesIn(s, s->layer->shownstate);
    s->layerImagesSet = 1;
    return 0;
}

void RestoreEffectLayer(qbEffectState* s) {
    qbEffectLayerImages& li = s->layerImages;
    // The state the images were lent to may have gone with a change of the
    // layer: its own pictures went with it, and these stay the effect's.
    if (s->layerImagesSet) ReturnLentPictures(LayerStateLentBy(s->layer, s));
    s->layerImagesSet = 0;
    FreeBitmap(li.bitmap);
    FreeMask(li.mask);
    FreeAlphaChannel(li.alpha);
    li = qbEffectLayerImages{};
}

void FinishEffect(qbEffectState* s, int normalEnd) {
    RestoreEffectLayer(s);
    ReleaseUseCount(s);
    if (qbLayer* layer = s->layer) {
        if (normalEnd && layer->border.border) layer->borderfade = 0;
        switch (s->objectType) {
            case kEffectHideLayer:
                layer->hidden = 1;
                RefreshLayerArea(s, layer);
                break;
            case kEffectRemoveLayer:
                FreeLayer(s->script, layer, false);
                s->layer = nullptr;
                break;
            default:
                layer->hidden = 0;
                RefreshLayerArea(s, layer);
                break;
        }
    }
    s->finished = 1;
}

void FreeEffectState(qbEffectState* s, int normalEnd) {
    ReleaseUseCount(s);
    RestoreEffectLayer(s);
    if (!s->priv.empty()) {
        if (s->cleanup) s->cleanup(s, normalEnd);
        s->priv.clear();
    }
    if (s->ownsImage) FreeBitmap(s->image);
    if (s->ownsMask) FreeMask(s->mask);
    if (s->ownsAlpha) FreeAlphaChannel(s->alpha);
    FreeBitmap(s->background);
    FreeBitmap(s->bgpicImage);
    KeepScaledPiece(s);
    s->image = s->mask = s->alpha = s->background = s->bgpicImage = nullptr;
    s->ownsImage = s->ownsMask = s->ownsAlpha = 0;
    if (qbLayer* layer = s->layer) {
        if (s->reverse) layer->shadowfade = layer->borderfade = 0;
        if (!normalEnd && !s->finished) {
            if (s->addedLayer) {
                // A layer the effect made for its object goes with it.
                FreeLayer(s->script, layer, false);
                s->layer = nullptr;
            } else if (s->objectType == kEffectLayer) {
                layer->hidden = 1;
                RefreshLayerArea(s, layer);
            } else {
                RefreshLayerArea(s, layer);
            }
        }
    }
}

int RunTransitionFX(qbEffectState& request) {
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    std::unique_ptr<qbEffectState> owned;
    try {
        owned = std::make_unique<qbEffectState>(request);
    } catch (...) {
        return ERR_MEM;
    }
    qbEffectState* s = owned.get();
    s->initialSpeed = s->speed;
    if (int err = StartEffect(s, d)) {
        FreeEffectState(s, 0);
        return err < 0 ? 0 : err;
    }
    if (frameObserver) frameObserver(*s, -1, frameObserverData);
    if (s->async) return RunAsyncEffect(std::move(owned));
    ScriptState* L = s->script;
    const int32_t width = d->bgpic->currentWidth, height = d->bgpic->currentHeight;
    int done = 0;
    while (!done) {
        int pumpError = 0;
        if (PumpEvents(L, kPumpWait, nullptr, &pumpError)) {
            FreeEffectState(s, 0);
            return pumpError;
        }
        const qbBGPic* now = d->bgpic;
        if (!s->autoScaled && (!now || now->currentWidth != width || now->currentHeight != height)) {
            AbandonForSize(s, request, d);
            FreeEffectState(s, 1);
            return 0;
        }
        const int renderError = s->renderer(s, &done);
        ShowEffectRects(s);
        if (int err = renderError) {
            FreeEffectState(s, 0);
            return err;
        }
        if (frameObserver) frameObserver(*s, done, frameObserverData);
        WaitVBlank(L, 0);
    }
    FinishEffect(s, 1);
    if (s->objectType == kEffectBGPic) ShowNewBGPic(s, d);
    FreeEffectState(s, 1);
    return 0;
}
