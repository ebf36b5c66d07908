// ConvertToBrush and GetBrushLink: a new brush from the picture of another
// object, cloned at the object's size.
#include <cmath>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "display/bgpics.h"
#include "imaging/bitmap.h"
#include "imaging/clonebitmap.h"
#include "objects/adoptid.h"
#include "objects/animhooks.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/texthooks.h"

namespace {

// Layers and sprites come with their libraries.
constexpr int kTypeAnim = 4, kTypeTextObject = 8, kTypeLayer = 22, kTypeSprite = 32;

int ConvertCore(ScriptState* L, int32_t type, ObjectID sourceId, NewObjectID id, int32_t frame) {
    qbImageTriple images;
    // Pictures made for the conversion (anim frames) rather than borrowed.
    BitmapPtr ownBitmap, ownMask, ownAlpha;
    int32_t width = 0, height = 0, keyColour = -1;
    switch (type) {
        case kObjectTypeBGPic: {
            qbBGPic* record = nullptr;
            if (int err = GetBGPic(L, sourceId, &record, 0)) return err;
            images = record->base;
            width = record->baseWidth;
            height = record->baseHeight;
            keyColour = record->keyColour;
            break;
        }
        case kObjectTypeBrush: {
            if (!id.chooseFlag && !sourceId.handle && sourceId.number == id.id) return ERR_WRONGUSAGE;
            qbBrush* brush = nullptr;
            if (int err = GetBrushRecord(L, sourceId, &brush, 0)) return err;
            images = {brush->bitmap, brush->mask, brush->alpha};
            width = brush->width;
            height = brush->height;
            keyColour = brush->transparentColour;
            break;
        }
        case kTypeTextObject: {
            const auto image = TextLayerHooks().objectImage;
            qbObjectImage picture;
            if (!image) return ERR_FINDTEXTOBJECT;
            if (int err = image(L, sourceId, &picture, &width, &height)) return err;
            images = {picture.bitmap, picture.mask, picture.alpha};
            break;
        }
        case kTypeAnim: {
            const auto image = AnimObjectHooks().frameImage;
            if (!image) {
                if (sourceId.handle) return ERR_FINDARRAY;
                SetErrorArgIndex(sourceId.number);
                return ERR_FINDANIM;
            }
            if (int err = image(L, sourceId, frame, &images, &width, &height, &keyColour)) return err;
            ownBitmap.reset(images.bitmap);
            ownMask.reset(images.mask);
            ownAlpha.reset(images.alpha);
            break;
        }
        case kTypeLayer:
        case kTypeSprite: SetErrorDetail("ConvertToBrush"); return ERR_UNSUPPORTEDFEAT;
        default: return ERR_WRONGUSAGE;
    }
    qbBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    if (int err = CloneBitmapRect(images.bitmap, images.mask, images.alpha, 0, 0, width, height, &bitmap, &mask,
                                  &alpha))
        return err;
    qbBrush* made = nullptr;
    if (int err = AllocBrushRecord(NewObjectID{0, 1}, kBrushPixels, width, height, width, 0, nullptr, bitmap,
                                   keyColour, mask, alpha, ObjectID{}, &made)) {
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
    int32_t frame = 0;
    if (VmGetTop(L) >= 4 && VmType(L, 4) != kTypeNil)
        if (int err = BrushIntArg(L, 4, &frame)) return err;
    return ConvertCore(L, type, GetObjectIDArg(L, 2), GetNewObjectIDArg(L, 3), frame);
}

int cmdGetBrushLink(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    int32_t type = 0;
    if (int err = BrushIntArg(L, 2, &type)) return err;
    int32_t frame = 0;
    if (VmGetTop(L) >= 4 && VmType(L, 4) != kTypeNil)
        if (int err = BrushIntArg(L, 4, &frame)) return err;
    return ConvertCore(L, type, GetObjectIDArg(L, 3), id, frame);
}
