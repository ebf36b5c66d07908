// GetAttribute's rows of sprites. Position and current frame are those of
// the sprite's instance on the current BGPic, so they need it on screen.
#include "core/argapi.h"
#include "core/errcodes.h"
#include "display/bgpics.h"
#include "draw/attributes.h"
#include "objects/sprites.h"
#include "vm/vm.h"

namespace {

enum : int32_t {
    kWidth = 0, kHeight = 1, kTransparentColour = 5, kXPos = 7, kYPos = 8, kNumFrames = 11, kCurFrame = 12,
    kHasMask = 16, kHasAlpha = 17, kOnScreen = 23,
};

int FindSpriteObject(ScriptState* L, int32_t, int idx, void** out) {
    qbSprite* s = nullptr;
    if (int err = GetSprite(L, GetObjectIDArg(L, idx), &s, 0)) return err;
    *out = s;
    return 0;
}

int Number(ScriptState* L, double v) {
    VmPushNumber(L, v);
    return 1;
}

int SpriteGet(const qbAttributeQuery& q) {
    const auto* s = static_cast<const qbSprite*>(q.object);
    ScriptState* L = q.L;
    const ObjectID id = IDOf(*s);
    qbBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    qbSpriteInstance* shown = nullptr;
    switch (q.attribute) {
    case kWidth: return Number(L, s->width);
    case kHeight: return Number(L, s->height);
    case kTransparentColour: return Number(L, s->keyColour);
    case kNumFrames: return Number(L, s->frameCount);
    case kHasMask:
    case kHasAlpha:
        GetSpriteFrameImage(s, 1, &bitmap, &mask, &alpha);
        return Number(L, (q.attribute == kHasMask ? mask : alpha) ? 1 : 0);
    case kOnScreen: return Number(L, FindSpriteInstance(id, &shown) == 0 ? 1 : 0);
    case kXPos:
    case kYPos:
    case kCurFrame:
        if (int err = FindSpriteInstance(id, &shown)) return err;
        return Number(L, q.attribute == kXPos ? shown->x : q.attribute == kYPos ? shown->y : shown->frame);
    default: return ERR_UNKNOWNATTR;
    }
}

}  // namespace

void InstallSpriteAttributeRows() {
    SetAttributeLookup(kObjectTypeSprite, FindSpriteObject);
    for (int32_t attribute :
         {kWidth, kHeight, kTransparentColour, kNumFrames, kHasMask, kHasAlpha, kXPos, kYPos, kCurFrame, kOnScreen}) {
        const qbAttributeRow row{kObjectTypeSprite, attribute, SpriteGet};
        AddAttributeRows(&row, 1);
    }
}
