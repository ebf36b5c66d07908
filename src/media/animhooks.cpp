// What the libraries below the anim library reach of anims: frames for
// ConvertToBrush and GetBrushLink, frames to draw into for SelectAnim,
// SelectMask and SelectAlphaChannel, the sweep of anims freed while layers
// showed them, the frames waiting for the first display, and GetAttribute's
// anim rows.
#include "media/animhooks.h"

#include <new>
#include <utility>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/objecthooks.h"
#include "display/output.h"
#include "draw/attributes.h"
#include "imaging/bitmap.h"
#include "media/animlayerhooks.h"
#include "media/anims.h"
#include "objects/animhooks.h"
#include "objects/sprites.h"
#include "vm/vm.h"

namespace {

enum : int32_t {
    kWidth = 0, kHeight = 1, kTransparentColour = 5, kNumFrames = 11, kHasMask = 16, kHasAlpha = 17,
    kFrameDelay = 37, kLoader = 91,
};

int FrameImage(ScriptState* L, ObjectID id, int32_t frame, qbImageTriple* out, int32_t* width, int32_t* height,
               int32_t* keyColour) {
    qbAnim* anim = nullptr;
    if (int err = FindAnim(L, id, &anim, 0)) return err;
    if (frame < 1 || frame > anim->frameCount) return ERR_ANIMFRAME;
    if (int err = FetchAnimFrame(anim, frame - 1, true, false, &out->bitmap, &out->mask, &out->alpha)) return err;
    *width = anim->width;
    *height = anim->height;
    *keyColour = anim->transparentColour;
    return 0;
}

int FrameTarget(ScriptState* L, ObjectID id, int32_t frame, int32_t kind, void** record, qbImageTriple* out,
                int32_t* width, int32_t* height) {
    // A layer's own anim is changed in place: the layer is meant to see it.
    const uint32_t layerOwn = (kind & kFrameTargetLayerOwn) ? uint32_t{kAnimPendingToo | kAnimNoCopy} : 0u;
    kind &= ~kFrameTargetLayerOwn;
    qbAnim* anim = nullptr;
    if (int err = FindAnim(L, id, &anim, (kind ? uint32_t{kAnimModify} : 0u) | layerOwn)) return err;
    if (anim->fromDisk) return ERR_ANIMDISK;
    if (frame < 1 || frame > anim->frameCount) return ERR_ANIMFRAME;
    qbAnimFrame& f = anim->frames[static_cast<size_t>(frame - 1)];
    if (!f.bitmap) return ERR_BITMAP;  // still waiting for the first display
    const int32_t w = anim->width, h = anim->height;
    if (kind == kOutputMask) {
        if (!f.mask) {
            f.mask.reset(AllocMask(nullptr, w, h, false, nullptr, 0));
            if (!f.mask) return ERR_ALLOCMASK;
            FillMaskRect(f.mask.get(), 0, 0, w, h, kMaskVisible);
        }
        f.alpha.reset();
    } else if (kind == kOutputAlphaChannel) {
        if (!f.alpha) {
            f.alpha.reset(AllocAlphaChannel(w, h, false, nullptr, 0));
            if (!f.alpha) return ERR_ALLOCALPHA;
            FillAlphaRect(f.alpha.get(), 0, 0, w, h, 255);
        }
        f.mask.reset();
    }
    *record = anim;
    *out = qbImageTriple{f.bitmap.get(), f.mask.get(), f.alpha.get()};
    *width = w;
    *height = h;
    return 0;
}

int ShowFrame(ScriptState* L, ObjectID id, int32_t index, bool pendingToo, qbImageTriple* out, int32_t* width,
              int32_t* height, int32_t* count) {
    qbAnim* anim = nullptr;
    if (int err = FindAnim(L, id, &anim, pendingToo ? uint32_t{kAnimPendingToo} : 0u)) return err;
    if (index < 0 || index >= anim->frameCount) return ERR_ANIMFRAME;
    if (int err = ShowAnimFrame(anim, index, &out->bitmap, &out->mask, &out->alpha)) return err;
    *width = anim->width;
    *height = anim->height;
    *count = anim->frameCount;
    return 0;
}

int FrameDelay(ScriptState* L, ObjectID id, int32_t index, uint32_t* out) {
    qbAnim* anim = nullptr;
    if (int err = FindAnim(L, id, &anim, kAnimPendingToo)) return err;
    if (index < 0 || index >= anim->frameCount) return ERR_ANIMFRAME;
    *out = GetAnimFrameDelay(anim, index);
    return 0;
}

int FindAnimObject(ScriptState* L, int32_t, int idx, void** out) {
    qbAnim* anim = nullptr;
    if (int err = FindAnim(L, GetObjectIDArg(L, idx), &anim, 0)) return err;
    *out = anim;
    return 0;
}

int Number(ScriptState* L, double v) {
    VmPushNumber(L, v);
    return 1;
}

// Whether frame 1 has a mask or an alpha plane; a disk anim's frames get a
// mask from its key colour only.
bool FirstFrameHas(const qbAnim* a, bool mask) {
    if (a->fromDisk || a->frames.empty()) return mask && (a->transparentColour != -1 || a->loadTransparency);
    const qbAnimFrame& f = a->frames.front();
    if (!mask) return f.alpha != nullptr;
    return f.bitmap ? f.mask != nullptr : f.rawKey != -1;
}

int AnimGet(const qbAttributeQuery& q) {
    const auto* a = static_cast<const qbAnim*>(q.object);
    ScriptState* L = q.L;
    switch (q.attribute) {
    case kWidth: return Number(L, a->width);
    case kHeight: return Number(L, a->height);
    case kTransparentColour: return Number(L, a->transparentColour);
    case kNumFrames: return Number(L, a->frameCount);
    case kHasMask: return Number(L, FirstFrameHas(a, true) ? 1 : 0);
    case kHasAlpha: return Number(L, FirstFrameHas(a, false) ? 1 : 0);
    case kFrameDelay: {
        const double frame = q.argc >= 4 ? VmCheckNumber(L, 4) : 0;
        if (!(frame >= 1 && frame <= a->frameCount)) return ERR_ANIMFRAME;
        return Number(L, GetAnimFrameDelay(a, static_cast<int32_t>(frame) - 1));
    }
    case kLoader:
        VmPushString(L, a->loaderName.empty() ? "inbuilt" : a->loaderName.c_str());
        return 1;
    default: return ERR_UNKNOWNATTR;
    }
}

// Moves the frames into the sprite once all exist.
int FramesIntoSprite(std::vector<qbAnimFrame>* frames, int32_t width, int32_t height, int32_t key, qbSprite* into) {
    try {
        into->bitmaps.reserve(frames->size());
        into->masks.reserve(frames->size());
        into->alphas.reserve(frames->size());
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    for (qbAnimFrame& f : *frames) {
        into->bitmaps.push_back(std::move(f.bitmap));
        into->masks.push_back(std::move(f.mask));
        into->alphas.push_back(std::move(f.alpha));
    }
    into->width = width;
    into->height = height;
    into->frameCount = static_cast<int32_t>(frames->size());
    into->keyColour = key;
    return 0;
}

int AnimIntoSprite(ScriptState* L, ObjectID id, qbSprite* into) {
    qbAnim* anim = nullptr;
    if (int err = FindAnim(L, id, &anim, 0)) return err;
    std::vector<qbAnimFrame> frames;
    try {
        frames.resize(static_cast<size_t>(anim->frameCount));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    for (int32_t i = 0; i < anim->frameCount; ++i) {
        qbBitmap *b = nullptr, *m = nullptr, *a = nullptr;
        if (int err = FetchAnimFrame(anim, i, true, false, &b, &m, &a)) return err;
        frames[static_cast<size_t>(i)].bitmap.reset(b);
        frames[static_cast<size_t>(i)].mask.reset(m);
        frames[static_cast<size_t>(i)].alpha.reset(a);
    }
    return FramesIntoSprite(&frames, anim->width, anim->height, anim->transparentColour, into);
}

int AnimFileIntoSprite(ScriptState*, const char* fileName, const qbSpriteAnimRequest& r, qbSprite* into) {
    qbAnimFile* opened = nullptr;
    int32_t width = 0, height = 0, count = 0, transparency = 0;
    if (int err = OpenAnimFile(fileName, r.loader, r.adapter, kAnimOpenMode, kDeinterlaceDefault, r.loadTransparency,
                               &opened, &width, &height, &count, &transparency, nullptr))
        return err;
    const AnimFilePtr file(opened);
    // None of the anim readers delivers an alpha channel.
    if (r.loadAlpha) {
        SetErrorDetail(fileName);
        return ERR_NOALPHA;
    }
    if (r.grid) return ERR_TOOMANYARGS;
    if (width < 1 || height < 1 || count < 1) return ERR_LOADFRAME;
    std::vector<qbAnimFrame> frames;
    try {
        frames.resize(static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    for (int32_t i = 0; i < count; ++i) {
        int32_t keyed = 0;
        AnimFramePtr pixels = LoadAnimFileFramePtr(file.get(), i, 0, &keyed);
        if (!pixels) return ERR_LOADFRAME;
        if (int err = FramePixelsToBitmaps(pixels.get(), width, height, r.transparency, r.loadTransparency, keyed != 0,
                                           fileName, &frames[static_cast<size_t>(i)]))
            return err;
    }
    return FramesIntoSprite(&frames, width, height, r.transparency, into);
}

}  // namespace

void InstallAnimHooks() {
    qbAnimObjectHooks hooks{};
    hooks.frameImage = FrameImage;
    hooks.frameTarget = FrameTarget;
    hooks.sweepPending = FreeUnusedPendingAnims;
    hooks.intoSprite = AnimIntoSprite;
    hooks.fileIntoSprite = AnimFileIntoSprite;
    hooks.showFrame = ShowFrame;
    hooks.frameDelay = FrameDelay;
    FillAnimLayerHooks(&hooks);
    SetAnimObjectHooks(&hooks);
    SetPendingAnimsHook(LoadPendingAnims);
    SetAttributeLookup(kObjectTypeAnim, FindAnimObject);
    for (int32_t attribute : {kWidth, kHeight, kTransparentColour, kNumFrames, kHasMask, kHasAlpha, kFrameDelay, kLoader}) {
        const qbAttributeRow row{kObjectTypeAnim, attribute, AnimGet};
        AddAttributeRows(&row, 1);
    }
}
