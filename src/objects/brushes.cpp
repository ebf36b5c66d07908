// The brush list. Layers name the brushes they show by id, so a brush that a
// layer shows is never changed or freed under it: a change first hands the
// layers a detached copy, and a free detaches the record itself and leaves
// it to the layers.
#include "objects/brushes.h"

#include <memory>
#include <new>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/objectlist.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "imaging/bitmap.h"
#include "imaging/clonebitmap.h"
#include "imaging/imagehandle.h"
#include "objects/adoptid.h"
#include "objects/layersources.h"

namespace {

qbObjectList brushList;

qbBrush* AsBrush(qbObject* object) { return static_cast<qbBrush*>(object); }

}  // namespace

// Drawing into the brush's pixels, mask or alpha channel goes through a
// wrapper picture of the current output.
bool IsSelectedForOutput(const qbBrush* brush) {
    const qbDisplay* display = GetCurrentDisplay();
    if (!display) return false;
    const int type = display->output.type;
    if (type != kObjectTypeBrush && type != 28 && type != 30) return false;
    const qbBGPic* wrapper = GetCurrentOutputBGPic();
    return wrapper && wrapper->wrapping && wrapper->wrappedType == kObjectTypeBrush &&
           wrapper->wrappedObject == brush;
}

qbBrush* FirstBrush() { return AsBrush(brushList.head); }
qbObjectList* BrushList() { return &brushList; }

int AllocBrushRecord(NewObjectID id, int32_t kind, int32_t width, int32_t height, int32_t rowLength,
                     int32_t transformed, qbImageHandle* imageSource, qbBitmap* bitmap, int32_t transparentColour,
                     qbBitmap* mask, qbBitmap* alpha, ObjectID displayId, qbBrush** out) {
    if (out) *out = nullptr;
    std::unique_ptr<qbBrush> owner;
    try {
        owner = std::make_unique<qbBrush>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    qbBrush* record = owner.release();
    record->type = kObjectTypeBrush;
    record->id = id.chooseFlag ? 0 : id.id;
    record->handle = id.chooseFlag ? record : nullptr;
    record->kind = kind;
    record->width = width;
    record->height = height;
    record->rowLength = rowLength;
    record->transformed = transformed;
    record->imageSource = imageSource;
    record->bitmap = bitmap;
    record->transparentColour = transparentColour;
    record->mask = mask;
    record->alpha = alpha;
    record->displayId = displayId;
    if (AppendObject(&brushList, record)) {
        // The contents stay the caller's, as with every failure here.
        std::unique_ptr<qbBrush> drop(record);
        return ERR_MEM;
    }
    if (out) *out = record;
    return 0;
}

int GetBrushRecord(ScriptState* L, ObjectID id, qbBrush** out, uint32_t flags) {
    if (out) *out = nullptr;
    qbBrush* found = AsBrush(FindListedObject(brushList, id));
    // A detached record gives its id up at once, so no other shares it.
    if (found && found->detached && !(flags & kBrushDetachedToo)) found = nullptr;
    if (!found) {
        if (id.handle) return ERR_FINDARRAY;
        SetErrorArgIndex(id.number);
        return ERR_FINDBRUSH;
    }
    if ((flags & kBrushNoVector) && found->kind == kBrushVector) return ERR_BRUSHTYPE;
    if (found->hardware && !(flags & kBrushHardwareToo)) return ERR_HWBRUSH;
    if ((flags & kBrushModify) && found->locked) return ERR_LOCKEDOBJ;
    if ((flags & kBrushModify) && !(flags & kBrushNoCopy) && LayersShowObject(kObjectTypeBrush, id)) {
        qbBrush* copy = nullptr;
        if (int err = CopyBrushCore(L, found, &copy)) return err;
        copy->detached = 1;
        RelinkLayerSources(kObjectTypeBrush, id, IDOf(*copy));
    }
    if (out) *out = found;
    return 0;
}

int CopyBrushCore(ScriptState* L, const qbBrush* source, qbBrush** out) {
    *out = nullptr;
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
    if (int err = CloneBitmapRect(source->bitmap, source->mask, source->alpha, 0, 0, source->width,
                                  source->height, &bitmap, &mask, &alpha))
        return err;
    BitmapPtr keepBitmap(bitmap);
    BitmapPtr keepMask(mask);
    BitmapPtr keepAlpha(alpha);
    ObjectDataList data;
    if (int err = CopyObjectDataList(L, source->data.get(), &data)) return err;
    qbBrush* copy = nullptr;
    if (int err = AllocBrushRecord(NewObjectID{0, 1}, source->kind, source->width, source->height,
                                   source->width, source->transformed, source->imageSource, bitmap,
                                   source->transparentColour, mask, alpha, ObjectID{}, &copy)) {
        FreeObjectDataList(L, &data);
        return err;
    }
    keepBitmap.release();
    keepMask.release();
    keepAlpha.release();
    if (copy->imageSource) RetainImageHandle(copy->imageSource);
    copy->data = std::move(data);
    copy->loaderInfo = source->loaderInfo;
    *out = copy;
    return 0;
}

int FreeBrushObject(ScriptState* L, ObjectID id, bool mustExist) {
    qbBrush* record = nullptr;
    if (int err = GetBrushRecord(L, id, &record, kBrushModify | kBrushNoCopy | kBrushHardwareToo)) {
        if (mustExist || err == ERR_LOCKEDOBJ) return err;
        return 0;
    }
    if (IsSelectedForOutput(record)) return ERR_MODIFYABR;
    if (LayersShowObject(kObjectTypeBrush, id)) {
        // The script's id is free at once; the layers keep the record.
        if (int err = RenumberObject(record, ObjectID{0, record})) return err;
        record->detached = 1;
        RelinkLayerSources(kObjectTypeBrush, id, IDOf(*record));
        return 0;
    }
    UnlinkAndFreeBrush(L, record);
    return 0;
}

int AdoptBrushID(ScriptState* L, qbBrush* made, NewObjectID id) {
    return AdoptObjectID(
        made, id, [L](ObjectID old) { return FreeBrushObject(L, old, false); },
        [L](qbBrush* brush) { UnlinkAndFreeBrush(L, brush); });
}

void FreeBrushContents(ScriptState* L, qbBrush* brush) {
    ReleaseImageHandle(brush->imageSource);
    brush->imageSource = nullptr;
    FreeBitmap(brush->bitmap);
    FreeMask(brush->mask);
    FreeAlphaChannel(brush->alpha);
    brush->bitmap = brush->mask = brush->alpha = nullptr;
    brush->snapshot.clear();
    brush->snapshot.shrink_to_fit();
    FreeObjectDataList(L, &brush->data);
}

void UnlinkAndFreeBrush(ScriptState* L, qbBrush* brush) {
    UnlinkObject(&brushList, brush);
    FreeBrushContents(L, brush);
    std::unique_ptr<qbBrush> owner(brush);
}

void PurgeDetachedBrushes(ScriptState* L) {
    qbBrush* r = FirstBrush();
    while (r) {
        qbBrush* next = AsBrush(r->next);
        if (r->detached && !LayersShowObject(kObjectTypeBrush, IDOf(*r))) UnlinkAndFreeBrush(L, r);
        r = next;
    }
}

void FreeAllBrushes(ScriptState* L) {
    while (qbBrush* r = AsBrush(TakeFirstObject(&brushList))) {
        FreeBrushContents(L, r);
        std::unique_ptr<qbBrush> owner(r);
    }
}
