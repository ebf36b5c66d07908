// The anim list. Layers name the anims they show by id, so an anim that a
// layer shows is never changed or freed under it: a change first hands the
// layers a copy, and a free takes the id off the record and leaves the
// record to the layers until the last of them goes.
#include "media/anims.h"

#include <memory>
#include <new>
#include <unordered_set>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/objectlist.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "imaging/clonebitmap.h"
#include "imaging/scalebitmap.h"
#include "media/animstream.h"
#include "objects/adoptid.h"
#include "objects/layersources.h"

namespace {

qbObjectList animList;
qbObjectList streamList;

qbAnim* AsAnim(qbObject* o) { return static_cast<qbAnim*>(o); }

void Unlink(qbAnim* record) { UnlinkObject(&animList, record); }

// A freed anim a layer still shows gives its number up at once, so the
// index's first record is the only one with the id.
qbAnim* Lookup(ObjectID id, bool pendingToo) {
    qbAnim* r = AsAnim(FindListedObject(animList, id));
    return r && (pendingToo || !r->freePending) ? r : nullptr;
}

int NotFound(ObjectID id) {
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDANIM;
}

constexpr uint32_t kFirstKeyCandidate = 0xA8A8A8;
constexpr uint32_t kKeyCandidateStep = 15;

}  // namespace

uint32_t FreeKeyColour(const uint32_t* pixels, size_t count) {
    std::unordered_set<uint32_t> used;
    for (size_t i = 0; i < count; ++i)
        if (pixels[i] >> 24) used.insert(pixels[i] & 0xFFFFFFu);
    uint32_t colour = kFirstKeyCandidate;
    while (used.count(colour)) colour = (colour + kKeyCandidateStep) & 0xFFFFFFu;
    return colour;
}

int32_t KeyOutTransparentPixels(uint32_t* pixels, size_t count) {
    const uint32_t free = FreeKeyColour(pixels, count);
    for (size_t i = 0; i < count; ++i)
        if (!(pixels[i] >> 24)) pixels[i] = free;
    return static_cast<int32_t>(free);
}

qbAnim* FirstAnim() { return AsAnim(animList.head); }
qbObjectList* AnimListHead() { return &animList; }
qbObjectList* AnimStreamListHead() { return &streamList; }

int AllocAnimRecord(NewObjectID id, qbAnimContents* c, qbAnim** out) {
    if (out) *out = nullptr;
    std::unique_ptr<qbAnim> owner(new (std::nothrow) qbAnim);
    if (!owner) return ERR_MEM;
    qbAnim* r = owner.get();
    r->type = kObjectTypeAnim;
    r->id = id.chooseFlag ? 0 : id.id;
    r->handle = id.chooseFlag ? r : nullptr;
    r->width = r->sourceWidth = c->width;
    r->height = r->sourceHeight = c->height;
    r->frameCount = c->frameCount;
    r->transparentColour = c->transparentColour;
    r->loadAlpha = c->loadAlpha;
    r->fromDisk = c->fromDisk;
    r->loadTransparency = c->loadTransparency;
    r->deinterlace = c->deinterlace;
    // Moves of strings and vectors do not allocate.
    r->file = std::move(c->file);
    r->fileName = std::move(c->fileName);
    if (r->fromDisk) r->readsFrom = NativeFileIdOf(r->fileName.c_str());
    r->loader = std::move(c->loader);
    r->adapter = std::move(c->adapter);
    r->loaderName = std::move(c->loaderName);
    r->frames = std::move(c->frames);
    r->delays = std::move(c->delays);
    if (AppendObject(&animList, r)) {
        // What was moved in goes back to the caller, who still owns it.
        c->file = std::move(r->file);
        c->frames = std::move(r->frames);
        c->delays = std::move(r->delays);
        return ERR_MEM;
    }
    owner.release();
    if (out) *out = r;
    return 0;
}

int FindAnim(ScriptState* L, ObjectID id, qbAnim** out, uint32_t flags) {
    if (out) *out = nullptr;
    qbAnim* found = Lookup(id, flags & kAnimPendingToo);
    if (!found) return NotFound(id);
    if ((flags & kAnimModify) && found->lockCount) return ERR_LOCKEDOBJ;
    if ((flags & kAnimModify) && !(flags & kAnimNoCopy) && LayersShowObject(kObjectTypeAnim, id)) {
        qbAnim* copy = nullptr;
        if (int err = CopyAnimRecord(L, found, &copy)) return err;
        copy->freePending = 1;
        RelinkLayerSources(kObjectTypeAnim, id, IDOf(*copy));
    }
    if (out) *out = found;
    return 0;
}

void FreeAnimRecord(ScriptState* L, qbAnim* anim) {
    // Frames go before the file whose reader may still hold state for them.
    anim->frames.clear();
    anim->delays.clear();
    anim->file.reset();
    FreeObjectDataList(L, &anim->data);
    std::unique_ptr<qbAnim> owner(anim);
}

int UnlinkAndFreeAnim(ScriptState* L, ObjectID id) {
    qbAnim* r = Lookup(id, true);
    if (!r) return NotFound(id);
    Unlink(r);
    FreeAnimRecord(L, r);
    return 0;
}

bool NewFramesFit(int32_t width, int32_t height, int64_t count) {
    constexpr int64_t kLimit = int64_t{1} << 32;
    // The record and bitmap headers of a frame, beside its pixels.
    constexpr int64_t kFrameOverhead = 256;
    if (width < 0 || height < 0 || count < 0) return false;
    const int64_t pixels = int64_t{width} * height;
    if (pixels > kLimit / 4) return count == 0;
    const int64_t perFrame = pixels * 4 + kFrameOverhead;
    return count <= kLimit / perFrame;
}

bool IsAnimSelectedForOutput(const qbAnim* anim) {
    const qbDisplay* d = GetCurrentDisplay();
    if (!d) return false;
    const int type = d->output.type;
    if (type != 3 && type != 28 && type != 30) return false;
    const qbBGPic* w = GetCurrentOutputBGPic();
    return w && w->wrapping && w->wrappedType == kObjectTypeAnim && w->wrappedObject == anim;
}

int DiscardAnim(ScriptState* L, ObjectID id, bool reportMissing) {
    if (const qbAnim* r = Lookup(id, false); r && IsAnimSelectedForOutput(r)) return ERR_MODIFYAANIM;
    qbAnim* r = nullptr;
    if (int err = FindAnim(L, id, &r, kAnimModify | kAnimNoCopy)) {
        if (reportMissing || err == ERR_LOCKEDOBJ) return err;
        return 0;
    }
    if (LayersShowObject(kObjectTypeAnim, id)) {
        // Without memory for its new key the anim keeps its number, hidden
        // from lookups by its pending mark; it goes all the same.
        RenumberObject(r, ObjectID{0, r});
        r->freePending = 1;
        RelinkLayerSources(kObjectTypeAnim, id, IDOf(*r));
        return 0;
    }
    Unlink(r);
    FreeAnimRecord(L, r);
    return 0;
}

void FreeUnusedPendingAnims(ScriptState* L) {
    qbAnim* r = FirstAnim();
    while (r) {
        qbAnim* next = AsAnim(r->next);
        if (r->freePending && !LayersShowObject(kObjectTypeAnim, IDOf(*r))) {
            Unlink(r);
            FreeAnimRecord(L, r);
        }
        r = next;
    }
}

void FreeAllAnims(ScriptState* L) {
    while (qbObject* first = TakeFirstObject(&animList)) FreeAnimRecord(L, AsAnim(first));
    // Their files are completed.
    FreeAllAnimStreams();
}

int AdoptAnimID(ScriptState* L, qbAnim* made, NewObjectID id) {
    return AdoptObjectID(
        made, id, [L](ObjectID old) { return DiscardAnim(L, old, false); },
        [L](qbAnim* anim) {
            Unlink(anim);
            FreeAnimRecord(L, anim);
        });
}

uint32_t GetAnimFrameDelay(const qbAnim* anim, int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= anim->delays.size()) return 0;
    const uint32_t delay = anim->delays[static_cast<size_t>(index)];
    if (delay != kDelayFromFile) return delay;
    return anim->fromDisk && anim->file ? GetAnimFileFrameDelay(anim->file.get(), index) : 0;
}

int FramePixelsToBitmaps(uint32_t* pixels, int32_t width, int32_t height, int32_t key, bool loadTransparency,
                         bool keyed, const char* fileName, qbAnimFrame* out) {
    if (loadTransparency) {
        if (!keyed) {
            SetErrorDetail(fileName);
            return ERR_NOTRANSPARENCY;
        }
        key = KeyOutTransparentPixels(pixels, static_cast<size_t>(width) * static_cast<size_t>(height));
    }
    qbBitmap* b = nullptr;
    qbBitmap* m = nullptr;
    if (int err = CreateBitmapFromARGB(pixels, key, width, height, width, false, 0, 0, &b, key != -1 ? &m : nullptr,
                                       nullptr))
        return err;
    out->bitmap.reset(b);
    out->mask.reset(m);
    return 0;
}

int FetchAnimFrame(qbAnim* anim, int32_t index, bool copy, bool noScale, qbBitmap** bitmap, qbBitmap** mask,
                   qbBitmap** alpha) {
    *bitmap = *mask = *alpha = nullptr;
    if (index < 0 || index >= anim->frameCount) return ERR_ANIMFRAME;
    if (!anim->fromDisk) {
        if (static_cast<size_t>(index) >= anim->frames.size()) return ERR_ANIMFRAME;
        qbAnimFrame& f = anim->frames[static_cast<size_t>(index)];
        if (!f.bitmap) return ERR_BITMAP;  // still pending
        if (!copy) {
            *bitmap = f.bitmap.get();
            *mask = f.mask.get();
            *alpha = f.alpha.get();
            return 0;
        }
        return CloneBitmapRect(f.bitmap.get(), f.mask.get(), f.alpha.get(), 0, 0, anim->width, anim->height, bitmap,
                               mask, alpha);
    }
    if (!anim->file) return ERR_LOADFRAME;
    int32_t keyed = 0;
    AnimFramePtr pixels = LoadAnimFileFramePtr(anim->file.get(), index, 0, &keyed);
    if (!pixels) return ERR_LOADFRAME;
    qbAnimFrame made;
    if (int err = FramePixelsToBitmaps(pixels.get(), anim->sourceWidth, anim->sourceHeight, anim->transparentColour,
                                       anim->loadTransparency, keyed != 0, anim->fileName.c_str(), &made))
        return err;
    if (noScale || (anim->width == anim->sourceWidth && anim->height == anim->sourceHeight)) {
        *bitmap = made.bitmap.release();
        *mask = made.mask.release();
        *alpha = made.alpha.release();
        return 0;
    }
    return ScaleBitmap(made.bitmap.get(), made.mask.get(), made.alpha.get(), 0, 0, nullptr, anim->sourceWidth,
                       anim->sourceHeight, anim->width, anim->height, anim->smooth != 0, bitmap, mask, alpha);
}

int ShowAnimFrame(qbAnim* anim, int32_t index, qbBitmap** bitmap, qbBitmap** mask, qbBitmap** alpha) {
    if (!anim->fromDisk) return FetchAnimFrame(anim, index, false, false, bitmap, mask, alpha);
    *bitmap = *mask = *alpha = nullptr;
    qbAnimFrame& f = anim->shown;
    if (anim->shownIndex != index || anim->shownWidth != anim->width || anim->shownHeight != anim->height || !f.bitmap) {
        qbBitmap *b = nullptr, *m = nullptr, *a = nullptr;
        if (int err = FetchAnimFrame(anim, index, false, false, &b, &m, &a)) return err;
        f.bitmap.reset(b);
        f.mask.reset(m);
        f.alpha.reset(a);
        anim->shownIndex = index;
        anim->shownWidth = anim->width;
        anim->shownHeight = anim->height;
    }
    *bitmap = f.bitmap.get();
    *mask = f.mask.get();
    *alpha = f.alpha.get();
    return 0;
}

int CopyAnimRecord(ScriptState* L, const qbAnim* source, qbAnim** out) {
    *out = nullptr;
    qbAnimContents c;
    try {
        c.delays = source->delays;
        c.fileName = source->fileName;
        c.loader = source->loader;
        c.adapter = source->adapter;
        c.loaderName = source->loaderName;
        c.frames.resize(source->frames.size());
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    if (source->fromDisk) {
        qbAnimFile* reopened = nullptr;
        if (int err = OpenAnimFile(source->fileName.c_str(), source->loader.empty() ? nullptr : source->loader.c_str(),
                                   source->adapter.empty() ? nullptr : source->adapter.c_str(), kAnimOpenMode,
                                   source->deinterlace, source->loadTransparency != 0, &reopened, nullptr, nullptr,
                                   nullptr, nullptr, nullptr))
            return err;
        c.file.reset(reopened);
    }
    for (size_t i = 0; i < source->frames.size(); ++i) {
        const qbAnimFrame& from = source->frames[i];
        qbAnimFrame& to = c.frames[i];
        if (from.bitmap) {
            qbBitmap *b = nullptr, *m = nullptr, *a = nullptr;
            if (int err = CloneBitmapRect(from.bitmap.get(), from.mask.get(), from.alpha.get(), 0, 0, source->width,
                                          source->height, &b, &m, &a))
                return err;
            to.bitmap.reset(b);
            to.mask.reset(m);
            to.alpha.reset(a);
        } else {
            try {
                to.raw = from.raw;
            } catch (const std::bad_alloc&) {
                return ERR_MEM;
            }
            to.rawKey = from.rawKey;
            if (from.alpha) {
                to.alpha.reset(CopyAlphaChannel(from.alpha.get(), source->sourceWidth, source->sourceHeight));
                if (!to.alpha) return ERR_ALLOCALPHA;
            }
        }
    }
    ObjectDataList data;
    if (int err = CopyObjectDataList(L, source->data.get(), &data)) return err;
    c.width = source->sourceWidth;
    c.height = source->sourceHeight;
    c.frameCount = source->frameCount;
    c.transparentColour = source->transparentColour;
    c.loadAlpha = source->loadAlpha;
    c.fromDisk = source->fromDisk;
    c.loadTransparency = source->loadTransparency;
    c.deinterlace = source->deinterlace;
    qbAnim* copy = nullptr;
    if (int err = AllocAnimRecord(NewObjectID{0, 1}, &c, &copy)) {
        FreeObjectDataList(L, &data);
        return err;
    }
    copy->width = source->width;
    copy->height = source->height;
    copy->smooth = source->smooth;
    copy->data = std::move(data);
    *out = copy;
    return 0;
}

int LoadPendingAnims(ScriptState*) {
    for (qbAnim* r = FirstAnim(); r; r = AsAnim(r->next)) {
        if (r->fromDisk) continue;
        for (qbAnimFrame& f : r->frames) {
            if (f.bitmap || f.raw.empty()) continue;
            qbBitmap* b = nullptr;
            qbBitmap* m = nullptr;
            if (int err = CreateBitmapFromARGB(f.raw.data(), f.rawKey, r->sourceWidth, r->sourceHeight, r->sourceWidth,
                                               false, 0, 0, &b, f.rawKey != -1 ? &m : nullptr, nullptr))
                return err;
            f.bitmap.reset(b);
            f.mask.reset(m);
            std::vector<uint32_t>().swap(f.raw);
        }
        r->file.reset();
    }
    return 0;
}
