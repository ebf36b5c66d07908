// Collision: boxes, brushes, layers and sprites tested against each other, pixel
// by pixel where they have masks or alpha channels.
#include <cstdint>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/displays.h"
#include "imaging/blit.h"
#include "imaging/pixelcollision.h"
#include "objects/brushes.h"
#include "objects/compositor.h"
#include "objects/layercmds.h"
#include "objects/layers.h"
#include "objects/objecttransform.h"
#include "objects/sprites.h"
#include "vm/vm.h"

namespace {

enum : int32_t {
    kCollideBrush = 3,
    kCollideBox = 14,
    kCollideLayer = 22,
    kCollideSprite = 32,
    kCollideBrushVsBox = 46,
    kCollideLayerVsBox = 47,
    kCollideSpriteVsBox = 48,
};

int32_t IntArg(ScriptState* L, int idx) { return ClampToInt32(VmCheckNumber(L, idx)); }

qbCollider BoxArg(ScriptState* L, int first) {
    qbCollider c;
    c.box = {IntArg(L, first), IntArg(L, first + 1), IntArg(L, first + 2), IntArg(L, first + 3)};
    return c;
}

int BrushArg(ScriptState* L, int first, qbCollider* out) {
    const ObjectID id = GetObjectIDArg(L, first);
    const int32_t x = IntArg(L, first + 1), y = IntArg(L, first + 2);
    qbBrush* brush = nullptr;
    if (int err = GetBrushRecord(L, id, &brush, 0)) return err;
    out->box = {x, y, brush->width, brush->height};
    out->mask = brush->mask;
    out->alpha = brush->alpha;
    out->planeX = x;
    out->planeY = y;
    return 0;
}

// A layer's shown image at its shown place, cut to its clip region.
int LayerArg(ScriptState* L, int idx, qbCollider* out) {
    qbBGPic* bgpic = GetCurrentBGPic();
    int32_t position = 0;
    if (int err = GetLayerIndexArg(L, idx, bgpic, &position)) return err;
    qbLayer* layer = GetLayerByIndex(bgpic, position);
    qbLayerState* s = layer->shownstate;
    qbObjectImage image;
    int32_t width = 0, height = 0;
    if (int err = GetLayerSourceImage(L, layer, s, true, &image, &width, &height)) return err;
    out->box = {s->shownx, s->showny, s->shownwidth, s->shownheight};
    out->mask = image.mask;
    out->alpha = image.alpha;
    // Part layers read their picture from the source offset on.
    const bool part = layer->type == kLayerBrushPart || layer->type == kLayerBGPicPart;
    out->planeX = s->shownx - (part && !s->xfbitmap ? s->srcx : 0);
    out->planeY = s->showny - (part && !s->xfbitmap ? s->srcy : 0);
    if (const qbClipRegion* clip = s->clipregion) {
        out->box = IntersectRects(out->box, {clip->x, clip->y, clip->width, clip->height});
        out->clip = clip->mask;
        out->clipX = clip->x;
        out->clipY = clip->y;
    }
    return 0;
}

// A shown sprite's current frame at its place on the current BGPic, cut to
// the clip region it was shown with.
int SpriteArg(ScriptState* L, int idx, qbCollider* out) {
    const ObjectID id = GetObjectIDArg(L, idx);
    qbSprite* sprite = nullptr;
    if (int err = GetSprite(L, id, &sprite, 0)) return err;
    qbSpriteInstance* shown = nullptr;
    if (int err = FindSpriteInstance(id, &shown)) return err;
    qbBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    if (int err = GetSpriteFrameImage(sprite, shown->frame, &bitmap, &mask, &alpha)) return err;
    out->box = {shown->x, shown->y, shown->width, shown->height};
    out->mask = mask;
    out->alpha = alpha;
    out->planeX = shown->x;
    out->planeY = shown->y;
    if (const qbClipRegion* clip = shown->clip) {
        out->box = IntersectRects(out->box, {clip->x, clip->y, clip->width, clip->height});
        out->clip = clip->mask;
        out->clipX = clip->x;
        out->clipY = clip->y;
    }
    return 0;
}

int LayersReady() {
    const qbDisplay* d = GetCurrentDisplay();
    if (!d || !d->layersEnabled || !GetCurrentBGPic()) return ERR_NOLAYERS;
    return 0;
}

}  // namespace

int cmdCollision(ScriptState* L) {
    CheckArgCount(L, 1, 9, 0, 0);
    const int32_t type = IntArg(L, 1);
    qbCollider a, b;
    switch (type) {
    case kCollideBox:
        a = BoxArg(L, 2);
        b = BoxArg(L, 6);
        break;
    case kCollideBrush:
        if (int err = BrushArg(L, 2, &a)) return err;
        if (int err = BrushArg(L, 5, &b)) return err;
        break;
    case kCollideBrushVsBox:
        if (int err = BrushArg(L, 2, &a)) return err;
        b = BoxArg(L, 5);
        break;
    case kCollideLayer:
        if (int err = LayersReady()) return err;
        if (int err = LayerArg(L, 2, &a)) return err;
        if (int err = LayerArg(L, 3, &b)) return err;
        break;
    case kCollideLayerVsBox: {
        if (int err = LayersReady()) return err;
        if (int err = LayerArg(L, 2, &a)) return err;
        b = BoxArg(L, 3);
        // The layers' shown places are at the display's scale.
        const qbDisplay* d = GetCurrentDisplay();
        if (d->pictureScaling && d->bgpic == GetCurrentBGPic()) {
            b.box.x = ClampToInt32(b.box.x * d->scaleX);
            b.box.y = ClampToInt32(b.box.y * d->scaleY);
            b.box.width = ClampToInt32(b.box.width * d->scaleX);
            b.box.height = ClampToInt32(b.box.height * d->scaleY);
        }
        break;
    }
    case kCollideSprite:
        if (int err = SpriteArg(L, 2, &a)) return err;
        if (int err = SpriteArg(L, 3, &b)) return err;
        break;
    case kCollideSpriteVsBox:
        if (int err = SpriteArg(L, 2, &a)) return err;
        b = BoxArg(L, 3);
        break;
    default: return ERR_WRONGUSAGE;
    }
    VmPushNumber(L, TestPixelCollision(a, b));
    return 1;
}
