// ConvertToBrush and GetBrushLink: a new brush from the picture of another
// object, cloned at the object's size (a layer that shows part of its
// source: that part).
#include <algorithm>
#include <cmath>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "imaging/bitmap.h"
#include "imaging/clonebitmap.h"
#include "objects/adoptid.h"
#include "objects/animhooks.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/compositor.h"
#include "objects/layers.h"
#include "objects/sprites.h"
#include "objects/texthooks.h"

namespace {

constexpr int kTypeAnim = 4, kTypeTextObject = 8, kTypeLayer = 22, kTypeSprite = 32;

// The key colour that stands for a mask taken over from a layer.
constexpr int32_t kLayerMaskKey = 0x123456;

// What a source gives: its images and the rectangle of them to copy.
struct Source {
    qbImageTriple images;
    int32_t x = 0, y = 0, width = 0, height = 0;
    int32_t keyColour = -1;
};

// Frame (1-based) of an anim layer, still the anim's.
int AnimLayerFrame(ScriptState* L, const qbLayer* layer, int32_t frame, Source* out) {
    const auto show = AnimObjectHooks().showFrame;
    if (!show) return ERR_FINDANIM;
    if (frame < 1 || frame > layer->basestate->srcy) return ERR_ANIMFRAME;
    int32_t count = 0;
    return show(L, layer->id, frame - 1, true, &out->images, &out->width, &out->height, &count);
}

// A layer of the current BGPic by position or name, with layers on; an
// anim layer gives its frame (1-based).
int LayerSource(ScriptState* L, int idx, int32_t frame, Source* out) {
    qbDisplay* display = GetCurrentDisplay();
    if (!display || !display->layersEnabled) return ERR_NOLAYERS;
    const qbBGPic* bgpic = GetCurrentBGPic();
    if (!bgpic) return ERR_NOLAYERS;
    qbLayer* layer = nullptr;
    if (int err = GetLayerArg(L, idx, bgpic, nullptr, nullptr, &layer)) return err;
    if (!layer) return ERR_LAYERRANGE;
    qbLayerState* state = layer->basestate;
    if (!state) return ERR_WRONGUSAGE;
    if (layer->type == kLayerAnim && !state->bitmap) {
        if (int err = AnimLayerFrame(L, layer, frame, out)) return err;
        out->keyColour = out->images.mask ? kLayerMaskKey : -1;
        return 0;
    }
    qbObjectImage image;
    int32_t width = 0, height = 0;
    if (int err = GetLayerSourceImage(L, layer, state, false, &image, &width, &height)) return err;
    out->images = {image.bitmap, image.mask, image.alpha};
    out->width = width;
    out->height = height;
    // Part layers show a rectangle of their source.
    if (!state->bitmap && (layer->type == kLayerBrushPart || layer->type == kLayerBGPicPart)) {
        if (state->srcx < 0 || state->srcy < 0 || state->srcx >= width || state->srcy >= height)
            return ERR_COORDSRANGE;
        out->x = state->srcx;
        out->y = state->srcy;
        out->width = std::min(state->shownwidth, width - state->srcx);
        out->height = std::min(state->shownheight, height - state->srcy);
    }
    if (out->width < 1 || out->height < 1) return ERR_WRONGUSAGE;
    out->keyColour = image.mask ? kLayerMaskKey : -1;
    return 0;
}

int SpriteSource(ScriptState* L, ObjectID id, int32_t frame, Source* out) {
    qbSprite* sprite = nullptr;
    if (int err = GetSprite(L, id, &sprite, 0)) return err;
    if (frame < 1 || frame > sprite->frameCount) return ERR_ANIMFRAME;
    if (int err = GetSpriteFrameImage(sprite, frame, &out->images.bitmap, &out->images.mask, &out->images.alpha))
        return err;
    out->width = sprite->width;
    out->height = sprite->height;
    out->keyColour = sprite->keyColour;
    return 0;
}

// sourceIdx names the source argument (a layer is read as a position or a
// name); frameIdx 0 when the command has no frame argument.
int ConvertCore(ScriptState* L, int32_t type, int sourceIdx, NewObjectID id, int frameIdx) {
    Source src;
    // Pictures made for the conversion (anim frames) rather than borrowed.
    BitmapPtr ownBitmap, ownMask, ownAlpha;
    int32_t frame = 1;
    if (frameIdx && VmGetTop(L) >= frameIdx && VmType(L, frameIdx) != kTypeNil)
        if (int err = BrushIntArg(L, frameIdx, &frame)) return err;
    switch (type) {
        case kObjectTypeBGPic: {
            qbBGPic* record = nullptr;
            if (int err = GetBGPic(L, GetObjectIDArg(L, sourceIdx), &record, 0)) return err;
            src.images = record->base;
            src.width = record->baseWidth;
            src.height = record->baseHeight;
            src.keyColour = record->keyColour;
            break;
        }
        case kObjectTypeBrush: {
            const ObjectID sourceId = GetObjectIDArg(L, sourceIdx);
            if (!id.chooseFlag && !sourceId.handle && sourceId.number == id.id) return ERR_WRONGUSAGE;
            qbBrush* brush = nullptr;
            if (int err = GetBrushRecord(L, sourceId, &brush, 0)) return err;
            src.images = {brush->bitmap, brush->mask, brush->alpha};
            src.width = brush->width;
            src.height = brush->height;
            src.keyColour = brush->transparentColour;
            break;
        }
        case kTypeTextObject: {
            const auto image = TextLayerHooks().objectImage;
            qbObjectImage picture;
            if (!image) return ERR_FINDTEXTOBJECT;
            if (int err = image(L, GetObjectIDArg(L, sourceIdx), &picture, &src.width, &src.height)) return err;
            src.images = {picture.bitmap, picture.mask, picture.alpha};
            break;
        }
        case kTypeLayer:
            if (int err = LayerSource(L, sourceIdx, frame, &src)) return err;
            break;
        case kTypeSprite:
            if (int err = SpriteSource(L, GetObjectIDArg(L, sourceIdx), frame, &src)) return err;
            break;
        case kTypeAnim: {
            const ObjectID sourceId = GetObjectIDArg(L, sourceIdx);
            const auto image = AnimObjectHooks().frameImage;
            if (!image) {
                if (sourceId.handle) return ERR_FINDARRAY;
                SetErrorArgIndex(sourceId.number);
                return ERR_FINDANIM;
            }
            if (int err = image(L, sourceId, frame, &src.images, &src.width, &src.height, &src.keyColour))
                return err;
            ownBitmap.reset(src.images.bitmap);
            ownMask.reset(src.images.mask);
            ownAlpha.reset(src.images.alpha);
            break;
        }
        default: return ERR_WRONGUSAGE;
    }
    qbBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    if (int err = CloneBitmapRect(src.images.bitmap, src.images.mask, src.images.alpha, src.x, src.y, src.width,
                                  src.height, &bitmap, &mask, &alpha))
        return err;
    qbBrush* made = nullptr;
    if (int err = AllocBrushRecord(NewObjectID{0, 1}, kBrushPixels, src.width, src.height, src.width, 0, nullptr,
                                   bitmap, src.keyColour, mask, alpha, ObjectID{}, &made)) {
        FreeBitmap(bitmap);
        FreeMask(mask);
        FreeAlphaChannel(alpha);
        return err;
    }
    if (int err = AdoptBrushID(L, made, id)) return err;
    return NewObjectResult(L, *made, id);
}

}  // namespace

int cmdConvertToBrush(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    int32_t type = 0;
    if (int err = BrushIntArg(L, 1, &type)) return err;
    return ConvertCore(L, type, 2, GetNewObjectIDArg(L, 3), 4);
}

int cmdGetBrushLink(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    int32_t type = 0;
    if (int err = BrushIntArg(L, 2, &type)) return err;
    return ConvertCore(L, type, 3, id, 4);
}
