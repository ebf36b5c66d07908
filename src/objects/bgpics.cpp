// The BGPic list: records, lookup, freeing with deferral while a display
// shows the picture, and the display buffers and backdrops made from it.
#include "objects/bgpics.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/errors.h"
#include "display/adapter.h"
#include "display/blit.h"
#include "display/display.h"
#include "objects/compositor.h"
#include "objects/layers.h"
#include "plugins/imagehandle.h"

namespace {

// The list head as the object registry sees it.
qbObject* bgpicHead = nullptr;

qbBGPic* AsBGPic(qbObject* object) { return static_cast<qbBGPic*>(object); }

void AppendBGPic(qbBGPic* record) {
    qbObject** link = &bgpicHead;
    while (*link) link = &(*link)->next;
    *link = record;
    record->next = nullptr;
}

void UnlinkBGPic(qbBGPic* record) {
    for (qbObject** link = &bgpicHead; *link; link = &(*link)->next) {
        if (*link == record) {
            *link = record->next;
            record->next = nullptr;
            return;
        }
    }
}

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

bool IsSelectedForOutput(ObjectID id) {
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

// The picture of a BGPic from a pixel buffer and its fill: the fill shows
// where the picture's mask leaves it transparent.
int BuildBGPicImage(const uint32_t* pixels, qbBGPicFill& fill, int32_t keyColour, int32_t width, int32_t height,
                    int32_t pitch, qbBitmap** outBitmap, qbBitmap** outMask) {
    *outBitmap = nullptr;
    *outMask = nullptr;
    qbBitmap* picture = nullptr;
    qbBitmap* mask = nullptr;
    if (pixels) {
        if (int err = CreateBitmapFromARGB(pixels, keyColour, width, height, pitch, false, 0, 0, &picture,
                                           keyColour != kNoKeyColour ? &mask : nullptr, nullptr))
            return err;
    }
    const bool fillNeeded = !picture || (fill.style != kFillNone && mask);
    if (!fillNeeded) {
        *outBitmap = picture;
        *outMask = mask;
        return 0;
    }
    BitmapPtr keepPicture(picture);
    std::unique_ptr<qbBitmap, decltype(&FreeMask)> keepMask(mask, &FreeMask);
    if (fill.style == kFillGradient || fill.style == kFillTexture) return ERR_UNSUPPORTEDFEAT;
    BitmapPtr result(AllocBitmap(width, height, 0, nullptr));
    if (!result) return ERR_BITMAP;
    FillBitmapRect(result.get(), 0, 0, width, height, fill.colour);
    if (picture) CopyBitmapRectMasked(picture, 0, 0, result.get(), 0, 0, width, height, mask);
    *outBitmap = result.release();
    return 0;
}

}  // namespace

qbBGPic* FirstBGPic() { return AsBGPic(bgpicHead); }

void InitBGPicRecord(qbBGPic* record, int32_t wrappedType, int32_t wrappedFrame, void* wrappedObject,
                     const ObjectID* id, qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t width,
                     int32_t height, bool clear) {
    if (clear) {
        qbObject* next = record->next;
        *record = qbBGPic{};
        record->next = next;
    }
    record->type = kObjectTypeBGPic;
    if (id) {
        record->id = id->number;
        record->handle = id->handle;
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
    qbBGPic* raw = record.release();
    AppendBGPic(raw);
    if (out) *out = raw;
    return 0;
}

int GetBGPic(ScriptState*, ObjectID id, qbBGPic** out, uint32_t flags) {
    if (out) *out = nullptr;
    for (qbBGPic* r = FirstBGPic(); r; r = AsBGPic(r->next)) {
        if (r->id != id.number || r->handle != id.handle) continue;
        if (r->pendingFree && !(flags & kBGPicPendingToo)) continue;
        // Layers do not exist yet, so no copy is ever needed before a change.
        if ((flags & kBGPicModify) && r->locked) return ERR_LOCKEDOBJ;
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
    if (IsSelectedForOutput(id)) return ERR_MODIFYABGPIC;
    qbBGPic* record = nullptr;
    if (int err = GetBGPic(L, id, &record, kBGPicModify | kBGPicNoCopy)) {
        if (strict || err == ERR_LOCKEDOBJ) return err;
        return 0;
    }
    if (IsBGPicShown(record)) {
        // The script's id is free at once; the picture goes when nothing shows it.
        record->id = 0;
        record->handle = record;
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

void FreeBGPicContents(ScriptState* L, qbBGPic* record, bool releaseSources) {
    FreeBGPicLayers(L, record, releaseSources);
    ReleaseImageHandle(record->source);
    record->source = nullptr;
    FreeDerivedBGPicImages(record);
    FreeTriple(record->initial);
    record->current = record->base = {};
    record->palette.reset();
    FreeBitmap(record->fill.textureBitmap);
    record->fill.textureBitmap = nullptr;
    FreeObjectDataList(L, &record->data);
}

void FreeUnusedPendingBGPics(ScriptState* L) {
    qbBGPic* r = FirstBGPic();
    while (r) {
        qbBGPic* next = AsBGPic(r->next);
        // Any display still showing it keeps it, not only the current one.
        if (r->pendingFree && !IsBGPicShown(r)) UnlinkAndFreeBGPic(L, r);
        r = next;
    }
}

void FreeAllBGPics(ScriptState* L) {
    while (bgpicHead) {
        qbBGPic* r = FirstBGPic();
        bgpicHead = r->next;
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
    fromPicture(first.get());
    if (display->outputScaling && display->scaleWidth && display->scaleHeight) fromPicture(second.get());
    display->spriteFreeBuffer = std::move(first);
    display->backBuffer = std::move(second);
    const qbDisplayAdapterSlots* slots = DisplayAdapterSlots();
    if (slots && display->adapterHandle && slots->ChangeBufferSize)
        return slots->ChangeBufferSize(display->adapterHandle, w, h, 0, nullptr);
    return 0;
}

int FillDisplayBackdrop(const qbDisplay* display, qbBitmap* bitmap, uint32_t* pending, int32_t width,
                        int32_t height) {
    // Gradient and texture backdrops need the gradient renderer and brushes.
    if (display->fill.style == kFillGradient || display->fill.style == kFillTexture) return ERR_UNSUPPORTEDFEAT;
    const uint32_t colour = display->fill.colour & 0x00FFFFFFu;
    if (bitmap) {
        FillBitmapRect(bitmap, 0, 0, width, height, colour);
    } else if (pending) {
        std::fill(pending, pending + static_cast<size_t>(width) * static_cast<size_t>(height), colour);
    }
    return 0;
}

int LoadPendingBGPics(ScriptState*) {
    for (qbBGPic* r = FirstBGPic(); r; r = AsBGPic(r->next)) {
        if (!r->source) continue;
        qbBitmap* bitmap = nullptr;
        qbBitmap* mask = nullptr;
        if (int err = BuildBGPicImage(GetImageHandlePixels(r->source), r->fill, r->keyColour, r->initialWidth,
                                      r->initialHeight, r->sourcePitch, &bitmap, &mask))
            return err;
        // A vector picture keeps its source to render other sizes from it.
        if (!(r->regenerate == 1 && !ImageHandleOwnsPixels(r->source))) {
            ReleaseImageHandle(r->source);
            r->source = nullptr;
        }
        const int32_t width = r->currentWidth;
        const int32_t height = r->currentHeight;
        const ObjectID id = IDOf(*r);
        InitBGPicRecord(r, r->wrappedType, r->wrappedFrame, r->wrappedObject, &id, bitmap, mask, nullptr,
                        r->initialWidth, r->initialHeight, false);
        r->currentWidth = width;
        r->currentHeight = height;
    }
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
    const bool scaled = d && d->pictureScaling && d->scaleWidth > 0 && d->scaleHeight > 0;
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

int RectOverlapsSprites(const qbBGPic* record, int32_t, int32_t, int32_t, int32_t) {
    // No sprite or video instance can be shown before sprites exist.
    return record && record->spriteInstances ? 1 : 0;
}
