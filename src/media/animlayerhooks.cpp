// The anim side of the layer and movement commands, reached from the layer
// and movement code through the anim hooks.
#include "media/animlayerhooks.h"

#include <new>

#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "media/animcmds.h"
#include "media/anims.h"
#include "objects/animhooks.h"
#include "objects/brushes.h"
#include "objects/layersources.h"

namespace {

int MoveSource(ScriptState* L, ObjectID id, int32_t** lockCount, int32_t* width, int32_t* height, int32_t* count,
               ObjectID* found) {
    qbAnim* anim = nullptr;
    if (int err = FindAnim(L, id, &anim, 0)) return err;
    *lockCount = &anim->lockCount;
    *width = anim->width;
    *height = anim->height;
    *count = anim->frameCount;
    *found = IDOf(*anim);
    return 0;
}

int PrivateAnim(ScriptState* L, ObjectID id, ObjectID* out) {
    qbAnim* anim = nullptr;
    if (int err = FindAnim(L, id, &anim, kAnimPendingToo)) return err;
    // A playing or moving anim is stepped through its frames meanwhile: the
    // layer changes a copy then.
    if (anim->freePending && !anim->lockCount && CountLayerSources(kObjectTypeAnim, id) <= 1) {
        *out = id;
        return 0;
    }
    qbAnim* copy = nullptr;
    if (int err = CopyAnimRecord(L, anim, &copy)) return err;
    copy->freePending = 1;
    *out = IDOf(*copy);
    return 0;
}

int ModifyFrames(ScriptState* L, ObjectID id, int32_t count, int32_t position, int32_t* at, int32_t* frameCount) {
    if (int err = ModifyAnimFramesCore(L, id, count, position, false, at)) return err;
    qbAnim* anim = nullptr;
    if (int err = FindAnim(L, id, &anim, kAnimPendingToo)) return err;
    *frameCount = anim->frameCount;
    return 0;
}

int BlankFrame(int32_t w, int32_t h, uint32_t colour, bool mask, bool alpha, bool clear, qbAnimFrame* f) {
    f->bitmap.reset(AllocBitmap(w, h, 0, nullptr));
    if (!f->bitmap) return ERR_BITMAP;
    FillBitmapRect(f->bitmap.get(), 0, 0, w, h, colour & 0x00FFFFFFu);
    if (mask) {
        f->mask.reset(AllocMask(f->bitmap.get(), w, h, true, nullptr, 0));
        if (!f->mask) return ERR_ALLOCMASK;
        if (!clear) FillMaskRect(f->mask.get(), 0, 0, w, h, kMaskVisible);
    } else if (alpha) {
        f->alpha.reset(AllocAlphaChannel(w, h, true, nullptr, 0));
        if (!f->alpha) return ERR_ALLOCALPHA;
        if (!clear) FillAlphaRect(f->alpha.get(), 0, 0, w, h, 255);
    }
    return 0;
}

int MakeBlank(int32_t width, int32_t height, int32_t count, uint32_t colour, bool mask, bool alpha, bool clear,
              ObjectID* out) {
    if (width < 1 || height < 1 || count < 1) return ERR_WRONGUSAGE;
    if (!NewFramesFit(width, height, count)) return ERR_MEM;
    qbAnimContents c;
    c.width = width;
    c.height = height;
    c.frameCount = count;
    c.transparentColour = mask ? kCreatedMaskKey : -1;
    try {
        c.frames.resize(static_cast<size_t>(count));
        c.delays.assign(static_cast<size_t>(count), 0u);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    for (qbAnimFrame& f : c.frames)
        if (int err = BlankFrame(width, height, colour, mask, alpha, clear, &f)) return err;
    qbAnim* made = nullptr;
    if (int err = AllocAnimRecord(NewObjectID{0, 1}, &c, &made)) return err;
    *out = IDOf(*made);
    return 0;
}

void LeaveToLayers(ScriptState* L, ObjectID id) {
    qbAnim* anim = nullptr;
    if (FindAnim(L, id, &anim, kAnimPendingToo)) return;
    anim->freePending = 1;
    FreeUnusedPendingAnims(L);
}

}  // namespace

void FillAnimLayerHooks(qbAnimObjectHooks* hooks) {
    hooks->moveSource = MoveSource;
    hooks->privateAnim = PrivateAnim;
    hooks->modifyFrames = ModifyFrames;
    hooks->makeBlank = MakeBlank;
    hooks->leaveToLayers = LeaveToLayers;
}
