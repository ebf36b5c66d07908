// The BGPic list: records, lookup, freeing with deferral while a display
// shows the picture, and the display buffers and backdrops made from it.
#include "display/bgpics.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/errors.h"
#include "core/objectlist.h"
#include "display/adapter.h"
#include "display/bgpicscaling.h"
#include "display/display.h"
#include "display/eventlib.h"
#include "imaging/blit.h"
#include "imaging/imagehandle.h"

namespace {

qbObjectList bgpicList;
const qbBGPicLayerHooks* layerHooks = nullptr;
TextureBrushLookup textureLookup = nullptr;

bool LayersShowObject(int type, ObjectID id) { return layerHooks && layerHooks->showsObject(type, id); }

void RelinkLayerSources(int type, ObjectID from, ObjectID to) {
    if (layerHooks) layerHooks->relinkSources(type, from, to);
}

int32_t CountLayers(const qbBGPic* record) { return layerHooks ? layerHooks->countLayers(record) : 0; }

void RedrawLayers(ScriptState* L, qbDisplay* display, qbBGPic* record, qbBitmap* dest, int32_t x, int32_t y,
                  int32_t width, int32_t height, uint32_t flags) {
    if (layerHooks) layerHooks->redraw(L, display, record, dest, x, y, width, height, flags);
}

qbBGPic* AsBGPic(qbObject* object) { return static_cast<qbBGPic*>(object); }

void UnlinkBGPic(qbBGPic* record) { UnlinkObject(&bgpicList, record); }

void FreeTriple(qbImageTriple& t) {
    FreeBitmap(t.bitmap);
    FreeMask(t.mask);
    FreeAlphaChannel(t.alpha);
    t = {};
}

// The picture a wrapper record of a selection stands for, when it is a BGPic.
bool WrapperShows(const qbBGPic* wrapper, ObjectID id) {
    if (!wrapper || !wrapper->wrapping || wrapper->wrappedType != kObjectTypeBGPic) return false;
    const auto* wrapped = static_cast<const qbBGPic*>(wrapper->wrappedObject);
    return wrapped && IDOf(*wrapped) == id;
}

}  // namespace

void ComposeBGPicRect(ScriptState* L, qbDisplay* display, qbBGPic* bgpic, qbBitmap* dest, int32_t x, int32_t y,
                      int32_t width, int32_t height, uint32_t flags) {
    RedrawLayers(L, display, bgpic, dest, x, y, width, height, flags);
}

bool IsBGPicSelectedForOutput(ObjectID id) {
    const qbDisplay* display = GetCurrentDisplay();
    if (!display || display->output.type == kObjectTypeDisplay) return false;
    const qbBGPic* current = GetCurrentOutputBGPic();
    switch (display->output.type) {
        case 3:
        case 28:
        case 30: return WrapperShows(current, id);
        case kObjectTypeBGPic: return current && IDOf(*current) == id;
        default: return false;
    }
}


qbBGPic* FirstBGPic() { return AsBGPic(bgpicList.head); }
qbObjectList* BGPicListHead() { return &bgpicList; }

void InitBGPicRecord(qbBGPic* record, int32_t wrappedType, int32_t wrappedFrame, void* wrappedObject,
                     const ObjectID* id, qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t width,
                     int32_t height, bool clear) {
    if (clear) {
        // A listed record keeps its place in the list and its key.
        qbObject* next = record->next;
        qbObject* prev = record->prev;
        qbObjectList* list = record->list;
        const ObjectID kept = IDOf(*record);
        *record = qbBGPic{};
        record->next = next;
        record->prev = prev;
        record->list = list;
        record->id = kept.number;
        record->handle = const_cast<void*>(kept.handle);
    }
    record->type = kObjectTypeBGPic;
    if (id) {
        if (record->list) {
            RenumberObject(record, *id);
        } else {
            record->id = id->number;
            record->handle = id->handle;
        }
    }
    record->wrappedType = wrappedType;
    record->wrappedFrame = wrappedFrame;
    record->wrappedObject = wrappedObject;
    record->current = record->base = record->initial = qbImageTriple{bitmap, mask, alpha};
    record->currentWidth = record->baseWidth = record->initialWidth = width;
    record->currentHeight = record->baseHeight = record->initialHeight = height;
}

int AllocBGPicRecord(NewObjectID id, int32_t regenerate, int32_t width, int32_t height, int32_t sourcePitch,
                     qbImageHandle* source, qbBitmap* bitmap, const uint32_t* palette, int32_t keyColour,
                     qbBitmap* mask, qbBitmap* alpha, const qbBGPicFill* fill, qbBGPic** out) {
    std::unique_ptr<qbBGPic> record;
    try {
        record = std::make_unique<qbBGPic>();
        if (palette) {
            record->palette = std::make_unique<uint32_t[]>(256);
            std::copy(palette, palette + 256, record->palette.get());
        }
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    const ObjectID objectId{id.chooseFlag ? 0 : id.id, id.chooseFlag ? record.get() : nullptr};
    InitBGPicRecord(record.get(), 0, 0, nullptr, &objectId, bitmap, mask, alpha, width, height, false);
    record->regenerate = regenerate;
    record->sourcePitch = sourcePitch;
    record->source = source;
    record->keyColour = keyColour;
    if (fill) {
        record->fill = *fill;
        record->fill.textureBitmap = nullptr;  // the copy makes its own on first use
    }
    if (AppendObject(&bgpicList, record.get())) {
        // The caller still owns the pictures it handed over.
        record->current = record->base = record->initial = {};
        record->source = nullptr;
        return ERR_MEM;
    }
    qbBGPic* raw = record.release();
    if (out) *out = raw;
    return 0;
}

void SetBGPicLayerHooks(const qbBGPicLayerHooks* hooks) { layerHooks = hooks; }

void SetTextureBrushLookup(TextureBrushLookup lookup) { textureLookup = lookup; }

int GetTexturePicture(ScriptState* L, ObjectID brush, qbTexturePicture* out) {
    if (textureLookup) return textureLookup(L, brush, out);
    if (brush.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(brush.number);
    return ERR_FINDBRUSH;
}

int DetachBGPicFromLayers(ScriptState* L, qbBGPic* record) {
    const ObjectID id = IDOf(*record);
    if (!LayersShowObject(kObjectTypeBGPic, id)) return 0;
    // The layers go on showing the picture as it is now.
    qbBGPic* copy = nullptr;
    if (int err = CopyBGPicCore(L, record, NewObjectID{0, 1}, &copy)) return err;
    copy->pendingFree = 1;
    RelinkLayerSources(kObjectTypeBGPic, id, IDOf(*copy));
    return 0;
}

int GetBGPic(ScriptState* L, ObjectID id, qbBGPic** out, uint32_t flags) {
    if (out) *out = nullptr;
    // A picture freed while shown gives its number up at once, so the
    // index's first record is the only one with the id.
    if (qbBGPic* r = AsBGPic(FindListedObject(bgpicList, id)); r && (!r->pendingFree || (flags & kBGPicPendingToo))) {
        if ((flags & kBGPicModify) && r->locked) return ERR_LOCKEDOBJ;
        if ((flags & kBGPicModify) && !(flags & kBGPicNoCopy))
            if (int err = DetachBGPicFromLayers(L, r)) return err;
        if (out) *out = r;
        return 0;
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDBGPIC;
}

bool IsBGPicShown(const qbBGPic* record) {
    for (const qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d))
        if (d->bgpic == record || d->doubleBufferBGPic == record) return true;
    return false;
}

int FreeBGPicCore(ScriptState* L, ObjectID id, bool strict) {
    if (IsBGPicSelectedForOutput(id)) return ERR_MODIFYABGPIC;
    qbBGPic* record = nullptr;
    if (int err = GetBGPic(L, id, &record, kBGPicModify | kBGPicNoCopy)) {
        if (strict || err == ERR_LOCKEDOBJ) return err;
        return 0;
    }
    const bool layered = LayersShowObject(kObjectTypeBGPic, id);
    if (IsBGPicShown(record) || layered) {
        // The script's id is free at once; the picture goes when nothing shows it.
        if (layered) RelinkLayerSources(kObjectTypeBGPic, id, ObjectID{0, record});
        // Without memory for its new key the picture keeps its number,
        // hidden from lookups by its pending mark; it goes all the same.
        RenumberObject(record, ObjectID{0, record});
        record->pendingFree = 1;
        return 0;
    }
    return UnlinkAndFreeBGPic(L, record);
}

int UnlinkAndFreeBGPic(ScriptState* L, qbBGPic* record) {
    UnlinkBGPic(record);
    FreeBGPicContents(L, record, true);
    std::unique_ptr<qbBGPic> owner(record);
    return 0;
}

void FreeDerivedBGPicImages(qbBGPic* r) {
    auto freeIfDistinct = [](qbBitmap*& image, qbBitmap* a, qbBitmap* b, void (*freeFn)(qbBitmap*)) {
        if (image && image != a && image != b) freeFn(image);
        image = nullptr;
    };
    freeIfDistinct(r->current.bitmap, r->initial.bitmap, r->base.bitmap, &FreeBitmap);
    freeIfDistinct(r->current.mask, r->initial.mask, r->base.mask, &FreeMask);
    freeIfDistinct(r->current.alpha, r->initial.alpha, r->base.alpha, &FreeAlphaChannel);
    freeIfDistinct(r->base.bitmap, r->initial.bitmap, nullptr, &FreeBitmap);
    freeIfDistinct(r->base.mask, r->initial.mask, nullptr, &FreeMask);
    freeIfDistinct(r->base.alpha, r->initial.alpha, nullptr, &FreeAlphaChannel);
}

void FreeReplacedImages(const qbImageTriple& gone, std::initializer_list<const qbImageTriple*> kept) {
    auto used = [&](qbBitmap* image) {
        for (const qbImageTriple* k : kept)
            if (image == k->bitmap || image == k->mask || image == k->alpha) return true;
        return false;
    };
    if (gone.bitmap && !used(gone.bitmap)) FreeBitmap(gone.bitmap);
    if (gone.mask && !used(gone.mask)) FreeMask(gone.mask);
    if (gone.alpha && !used(gone.alpha)) FreeAlphaChannel(gone.alpha);
}

void FreeBGPicContents(ScriptState* L, qbBGPic* record, bool releaseSources) {
    if (layerHooks) layerHooks->freeLayers(L, record, releaseSources);
    ReleaseImageHandle(record->source);
    record->source = nullptr;
    FreeDerivedBGPicImages(record);
    FreeTriple(record->initial);
    record->current = record->base = {};
    record->palette.reset();
    // One by one: a long list would otherwise go in a deep recursion.
    while (record->spriteInstances) record->spriteInstances = std::move(record->spriteInstances->next);
    FreeBitmap(record->fill.textureBitmap);
    record->fill.textureBitmap = nullptr;
    FreeObjectDataList(L, &record->data);
    // The buttons' script functions are released with the picture.
    FreeBGPicButtons(L, record);
}

void FreeUnusedPendingBGPics(ScriptState* L) {
    qbBGPic* r = FirstBGPic();
    while (r) {
        qbBGPic* next = AsBGPic(r->next);
        // Any display still showing it keeps it, not only the current one.
        if (r->pendingFree && !IsBGPicShown(r) && !LayersShowObject(kObjectTypeBGPic, IDOf(*r)))
            UnlinkAndFreeBGPic(L, r);
        r = next;
    }
}

void FreeAllBGPics(ScriptState* L) {
    while (qbObject* first = TakeFirstObject(&bgpicList)) {
        qbBGPic* r = AsBGPic(first);
        FreeBGPicContents(L, r, false);
        std::unique_ptr<qbBGPic> owner(r);
    }
    SetCurrentOutputBGPic(nullptr);
}

qbBGPic* GetCurrentBGPic() { return GetCurrentOutputBGPic(); }

void SaveAndResetOutput(qbDisplay* display, qbOutputSelection* saved) {
    if (saved) *saved = display->output;
    display->output = qbOutputSelection{};
}

void RestoreOutput(qbDisplay* display, const qbOutputSelection& saved) { display->output = saved; }

int ResetDisplayBuffers(qbDisplay* display, qbBGPic* record) {
    const int32_t w = record->currentWidth;
    const int32_t h = record->currentHeight;
    BitmapPtr first(AllocBitmap(w, h, 0, nullptr));
    BitmapPtr second(AllocBitmap(w, h, 0, nullptr));
    if (!first || !second) return ERR_BITMAP;
    auto fromPicture = [&](qbBitmap* target) {
        if (record->current.bitmap)
            CopyBitmapRect(record->current.bitmap, 0, 0, target, 0, 0, w, h);
        else
            FillBitmapRect(target, 0, 0, w, h, 0);
    };
    // The second buffer is filled too, unscaled as well: its fresh pages are
    // then mapped here and not in the first redraw of layers into it (a
    // transition's first frame), which would fault on every one of them.
    fromPicture(first.get());
    fromPicture(second.get());
    display->spriteFreeBuffer = std::move(first);
    display->backBuffer = std::move(second);
    const qbDisplayAdapterSlots* slots = DisplayAdapterSlots();
    if (slots && display->adapterHandle && slots->ChangeBufferSize)
        return slots->ChangeBufferSize(display->adapterHandle, w, h, 0, nullptr);
    return 0;
}

qbBitmap* GetComposedBGPicBitmap(ScriptState* L, qbDisplay* display, qbBGPic* record) {
    if (CountLayers(record) == 0 && !record->spriteInstances) return display->spriteFreeBuffer.get();
    qbBitmap* composed = display->backBuffer.get();
    if (composed)
        RedrawLayers(L, display, record, composed, 0, 0, record->currentWidth, record->currentHeight,
                     kRedrawDisplayBackground);
    return composed;
}

int RenderBGPicLayersToBitmap(ScriptState* L, qbBGPic* record, int32_t x, int32_t y, int32_t width, int32_t height,
                              qbBitmap** out, bool* owned) {
    *out = nullptr;
    *owned = false;
    qbDisplay* d = GetCurrentDisplay();
    const bool scaled = DisplayScalesPicture(d);
    if (d && d->bgpic == record && !scaled && d->backBuffer) {
        RedrawLayers(L, d, record, d->backBuffer.get(), x, y, width, height, 0);
        *out = d->backBuffer.get();
        return 0;
    }
    BitmapPtr bitmap(AllocBitmap(record->baseWidth, record->baseHeight, 0, nullptr));
    if (!bitmap) return ERR_BITMAP;
    RedrawLayers(L, d, record, bitmap.get(), x, y, width, height, kRedrawOwnPicture | (scaled ? kRedrawBaseSize : 0u));
    *out = bitmap.release();
    *owned = true;
    return 0;
}

int RectOverlapsSprites(const qbBGPic* record, int32_t x, int32_t y, int32_t width, int32_t height) {
    if (!record || width < 1 || height < 1) return 0;
    const int64_t right = int64_t{x} + width, bottom = int64_t{y} + height;
    for (const qbSpriteInstance* i = record->spriteInstances.get(); i; i = i->next.get()) {
        if (i->displayState == -1) continue;
        if (i->x < right && int64_t{i->x} + i->width > x && i->y < bottom && int64_t{i->y} + i->height > y) return 1;
    }
    return 0;
}
