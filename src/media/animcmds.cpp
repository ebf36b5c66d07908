// The anim commands that change, copy, free and take frames of anims:
// FreeAnim, ScaleAnim, CopyAnim, GetAnimFrame, ModifyAnimFrames, SelectAnim
// and SetAnimFrameDelay.
#include "media/animcmds.h"

#include <cmath>
#include <cstdlib>
#include <new>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/output.h"
#include "imaging/blit.h"
#include "imaging/scale.h"
#include "imaging/scalebitmap.h"
#include "media/anims.h"
#include "objects/adoptid.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/selection.h"
#include "vm/vm.h"

namespace {

int IntArg(ScriptState* L, int idx, int32_t* out) { return BrushIntArg(L, idx, out); }

int OptionalIntArg(ScriptState* L, int idx, int32_t* out) {
    *out = 0;
    if (VmGetTop(L) < idx || VmType(L, idx) == kTypeNil) return 0;
    return IntArg(L, idx, out);
}

// Refuses changes to the anim that drawing goes into.
int RefuseSelected(ScriptState* L, ObjectID id) {
    qbAnim* r = nullptr;
    if (FindAnim(L, id, &r, 0) == 0 && IsAnimSelectedForOutput(r)) return ERR_MODIFYAANIM;
    return 0;
}

int SizeArg(ScriptState* L, int idx, int32_t of, int32_t* out) {
    int percent = 0;
    const double v = GetNumberOrPercentArg(L, idx, of, 1, &percent);
    if (!std::isfinite(v)) return ERR_WRONGUSAGE;
    *out = ClampToInt32(v);
    return 0;
}

// A frame that ModifyAnimFrames inserts: colour 0, with a fully visible
// mask or a fully opaque alpha plane when the first frame has one.
int BlankFrame(const qbAnim* anim, qbAnimFrame* f) {
    const qbAnimFrame* first = anim->frames.empty() ? nullptr : &anim->frames.front();
    const int32_t w = anim->sourceWidth, h = anim->sourceHeight;
    if (first && !first->bitmap) {
        // Frames still waiting for the first display: pixels too.
        try {
            f->raw.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0xFF000000u);
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
        f->rawKey = first->rawKey;
    } else {
        f->bitmap.reset(AllocBitmap(w, h, 0, nullptr));
        if (!f->bitmap) return ERR_BITMAP;
        FillBitmapRect(f->bitmap.get(), 0, 0, w, h, 0);
        if (first && first->mask) {
            f->mask.reset(AllocMask(f->bitmap.get(), w, h, true, nullptr, 0));
            if (!f->mask) return ERR_ALLOCMASK;
            FillMaskRect(f->mask.get(), 0, 0, w, h, kMaskVisible);
        }
    }
    if (first && first->alpha) {
        f->alpha.reset(AllocAlphaChannel(w, h, true, nullptr, 0));
        if (!f->alpha) return ERR_ALLOCALPHA;
        FillAlphaRect(f->alpha.get(), 0, 0, w, h, 255);
    }
    return 0;
}

}  // namespace

int ModifyAnimFramesCore(ScriptState* L, ObjectID id, int32_t count, int32_t position, bool fromCommand,
                         int32_t* startOut) {
    qbAnim* anim = nullptr;
    if (int err = FindAnim(L, id, &anim, fromCommand ? kAnimModify : kAnimPendingToo)) return err;
    if (anim->fromDisk) return ERR_ANIMDISK;
    const int64_t frames = anim->frameCount;
    if (count == 0 || position < 0) return ERR_WRONGUSAGE;
    if (count < 0 && (-int64_t{count} >= frames || position - int64_t{count} > frames + 1)) return ERR_WRONGUSAGE;
    // An insertion past the end would leave a gap in the frames.
    if (count > 0 && position > frames + 1) return ERR_WRONGUSAGE;
    if (count > 0 && !NewFramesFit(anim->sourceWidth, anim->sourceHeight, count)) return ERR_MEM;
    const size_t n = static_cast<size_t>(std::abs(int64_t{count}));
    // Where the change starts: position 0 works at the end.
    size_t at = 0;
    if (count > 0) at = position == 0 ? static_cast<size_t>(frames) : static_cast<size_t>(position - 1);
    else at = position == 0 ? static_cast<size_t>(frames) - n : static_cast<size_t>(position - 1);
    // Everything is built aside first, so that a failure leaves the anim as
    // it was.
    std::vector<qbAnimFrame> made;
    std::vector<uint32_t> delays;
    try {
        made.resize(count > 0 ? n : 0);
        delays = anim->delays;
        if (count > 0) delays.insert(delays.begin() + static_cast<ptrdiff_t>(at), n, 0u);
        else delays.erase(delays.begin() + static_cast<ptrdiff_t>(at), delays.begin() + static_cast<ptrdiff_t>(at + n));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    for (qbAnimFrame& f : made)
        if (int err = BlankFrame(anim, &f)) return err;
    std::vector<qbAnimFrame> result;
    try {
        result.reserve(anim->frames.size() + made.size());
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    auto& old = anim->frames;
    for (size_t i = 0; i < at; ++i) result.push_back(std::move(old[i]));
    if (count > 0) {
        for (qbAnimFrame& f : made) result.push_back(std::move(f));
        for (size_t i = at; i < old.size(); ++i) result.push_back(std::move(old[i]));
    } else {
        for (size_t i = at + n; i < old.size(); ++i) result.push_back(std::move(old[i]));
    }
    old = std::move(result);  // the removed frames go here
    anim->delays = std::move(delays);
    anim->frameCount = static_cast<int32_t>(anim->frames.size());
    if (startOut) *startOut = static_cast<int32_t>(at);
    return 0;
}

int cmdFreeAnim(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return DiscardAnim(L, GetObjectIDArg(L, 1), true);
}

int cmdScaleAnim(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    if (int err = RefuseSelected(L, id)) return err;
    qbAnim* anim = nullptr;
    if (int err = FindAnim(L, id, &anim, kAnimModify)) return err;
    int32_t width = 0, height = 0;
    if (int err = SizeArg(L, 2, anim->width, &width)) return err;
    if (int err = SizeArg(L, 3, anim->height, &height)) return err;
    if (int err = KeepAspectRatio(anim->width, anim->height, &width, &height)) return err;
    const bool smooth = VmGetTop(L) >= 4 && GetFlagArg(L, 4, false);
    if (width == anim->width && height == anim->height) return 0;
    if (width < 1 || height < 1) return ERR_WRONGUSAGE;
    if (!anim->fromDisk) {
        // All frames are scaled before any is replaced: frames of two sizes
        // in one anim would be read past their ends.
        std::vector<qbAnimFrame> scaled;
        try {
            scaled.resize(anim->frames.size());
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
        for (size_t i = 0; i < scaled.size(); ++i) {
            qbAnimFrame& from = anim->frames[i];
            if (!from.bitmap) return ERR_BITMAP;  // still waiting for the first display
            qbBitmap *b = nullptr, *m = nullptr, *a = nullptr;
            if (int err = ScaleBitmap(from.bitmap.get(), from.mask.get(), from.alpha.get(), 0, 0, nullptr, anim->width,
                                      anim->height, width, height, smooth, &b, &m, &a))
                return err;
            scaled[i].bitmap.reset(b);
            scaled[i].mask.reset(m);
            scaled[i].alpha.reset(a);
        }
        anim->frames = std::move(scaled);
        anim->sourceWidth = width;
        anim->sourceHeight = height;
    }
    anim->width = width;
    anim->height = height;
    anim->smooth = smooth ? 1 : 0;
    return 0;
}

int cmdCopyAnim(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const ObjectID sourceId = GetObjectIDArg(L, 1);
    const NewObjectID id = GetNewObjectIDArg(L, 2);
    qbAnim* source = nullptr;
    if (int err = FindAnim(L, sourceId, &source, 0)) return err;
    if (!id.chooseFlag && !sourceId.handle && sourceId.number == id.id) return ERR_WRONGUSAGE;
    qbAnim* made = nullptr;
    if (int err = CopyAnimRecord(L, source, &made)) return err;
    if (int err = AdoptAnimID(L, made, id)) return err;
    return NewObjectResult(L, *made, id);
}

int cmdGetAnimFrame(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    const NewObjectID brushId = GetNewObjectIDArg(L, 1);
    int32_t frame = 0;
    if (int err = IntArg(L, 2, &frame)) return err;
    qbAnim* anim = nullptr;
    if (int err = FindAnim(L, GetObjectIDArg(L, 3), &anim, 0)) return err;
    if (frame < 1 || frame > anim->frameCount) return ERR_ANIMFRAME;
    qbBitmap *b = nullptr, *m = nullptr, *a = nullptr;
    if (int err = FetchAnimFrame(anim, frame - 1, true, false, &b, &m, &a)) return err;
    BitmapPtr bitmap(b), mask(m), alpha(a);
    qbBrush* made = nullptr;
    if (int err = AllocBrushRecord(NewObjectID{0, 1}, kBrushPixels, anim->width, anim->height, anim->width, 0, nullptr,
                                   b, anim->transparentColour, m, a, ObjectID{}, &made))
        return err;
    bitmap.release();
    mask.release();
    alpha.release();
    // The brush that had the number stays until the new one exists.
    if (int err = AdoptBrushID(L, made, brushId)) return err;
    return NewObjectResult(L, *made, brushId);
}

int cmdModifyAnimFrames(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    int32_t count = 0, position = 0;
    if (int err = IntArg(L, 2, &count)) return err;
    if (int err = OptionalIntArg(L, 3, &position)) return err;
    if (int err = RefuseSelected(L, id)) return err;
    return ModifyAnimFramesCore(L, id, count, position, true);
}

int cmdSelectAnim(ScriptState* L) {
    CheckArgCount(L, 2, 4, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    int32_t frame = 0, mode = 0, combo = 0;
    if (int err = IntArg(L, 2, &frame)) return err;
    if (int err = OptionalIntArg(L, 3, &mode)) return err;
    if (int err = OptionalIntArg(L, 4, &combo)) return err;
    return SelectOutputTarget(L, kObjectTypeAnim, id, kOutputBrush, frame, mode, combo);
}

int cmdSetAnimFrameDelay(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    int32_t frame = 0, delay = 0;
    if (int err = IntArg(L, 2, &frame)) return err;
    if (int err = IntArg(L, 3, &delay)) return err;
    if (delay < 0) return ERR_WRONGUSAGE;
    qbAnim* anim = nullptr;
    if (int err = FindAnim(L, id, &anim, 0)) return err;
    if (frame < 1 || frame > anim->frameCount) return ERR_ANIMFRAME;
    anim->delays[static_cast<size_t>(frame - 1)] = static_cast<uint32_t>(delay);
    return 0;
}
