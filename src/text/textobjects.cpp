// The list of text objects and what layers need of it. A text object that
// layers show is never changed under them: a change first hands the layers
// a private copy (marked pending free), and a free only takes the id away
// until the last layer showing it goes.
#include "text/textobjects.h"

#include <new>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/objectlist.h"
#include "display/positions.h"
#include "imaging/clonebitmap.h"
#include "imaging/geometry.h"
#include "objects/layers.h"
#include "objects/layersources.h"
#include "objects/texthooks.h"
#include "text/font.h"
#include "text/fontcache.h"
#include "text/textcompose.h"
#include "text/textlayers.h"
#include "text/textlayerstyle.h"
#include "text/textout.h"
#include "text/textscale.h"

namespace {

qbTextObject* First() { return static_cast<qbTextObject*>(TextObjectListHead()->head); }
qbTextObject* Next(const qbTextObject* o) { return static_cast<qbTextObject*>(o->next); }

void Unlink(qbTextObject* object) { UnlinkObject(TextObjectListHead(), object); }

void FreeRecord(ScriptState* L, qbTextObject* object) {
    std::unique_ptr<qbTextObject> owner(object);
    FreeObjectDataList(L, &owner->data);
}

// Turns the object into one without an id that waits for its last layer;
// the layers and sources that showed it under from follow it.
void MakePending(qbTextObject* object, ObjectID from) {
    // Without memory for its new key the object keeps its number, hidden
    // from lookups by its pending mark; it goes all the same.
    RenumberObject(object, ObjectID{0, object});
    object->pendingFree = 1;
    const ObjectID to = IDOf(*object);
    RelinkLayerSources(kObjectTypeTextObject, from, to);
    RelinkLayersToObject(kLayerTextObject, from, to);
}

int ObjectImage(ScriptState* L, ObjectID id, qbObjectImage* out, int32_t* width, int32_t* height) {
    qbTextObject* o = nullptr;
    if (int err = GetTextObject(L, id, &o, kTextObjectPendingToo)) return err;
    *out = {o->bitmap.get(), o->mask.get(), o->alpha.get()};
    *width = o->width;
    *height = o->height;
    return 0;
}

int LayerBorder(qbBitmap* mask, qbBitmap* alpha, int32_t width, int32_t height, int32_t border, uint32_t colour,
                qbObjectImage* out, int32_t* outWidth, int32_t* outHeight, int32_t* offset) {
    qbComposedText made;
    if (int err = RenderTextLayerBorder(mask, alpha, width, height, border, colour, &made)) return err;
    *out = {made.bitmap.release(), made.mask.release(), made.alpha.release()};
    *outWidth = made.width;
    *outHeight = made.height;
    *offset = -made.left;
    return 0;
}

// A text layer under a pure scale, drawn anew with its font at that scale;
// -1 leaves it to the pixel transform.
int LayerRerender(ScriptState* L, qbLayer* layer, const qbTransformOptions& t, qbObjectImage* out, int32_t* offsetX,
                  int32_t* offsetY, int32_t* width, int32_t* height) {
    const qbTextLayout* layout = TextLayoutOfLayer(layer);
    if (layer->type == kLayerTextObject) {
        qbTextObject* o = nullptr;
        if (GetTextObject(L, layer->id, &o, kTextObjectPendingToo) != 0 || !o->layout) return -1;
        // An object turned or sized already shows its own transform.
        if (!IsIdentityMatrix(o->transform.matrix)) return -1;
        layout = o->layout.get();
    }
    if (!layout) return -1;
    const double* m = t.matrix;
    if (!RendersSharpUnder(m, CurrentFont(layout->style))) return -1;
    qbComposedText block;
    bool rerendered = false;
    if (RenderTextUnderMatrix(L, *layout, m, t.smoothscale != 0, &block, &rerendered) != 0 || !rerendered) return -1;
    *out = {block.bitmap.release(), block.mask.release(), block.alpha.release()};
    *offsetX = block.left;
    *offsetY = block.top;
    *width = block.width;
    *height = block.height;
    return 0;
}

// The layer's source as a new layer under the transform: a text object
// shown again, printed text laid out again with its recorded breaks.
int RenderAsLayer(ScriptState* L, qbLayer* layer, int32_t insertPos, const qbLayerState* state,
                  const qbTransformOptions* transform, uint32_t flags, qbLayer** out) {
    qbLayerOptions lopts;
    ResetLayerOptions(&lopts);
    if (layer->type == kLayerTextObject) {
        qbTextObject* o = nullptr;
        if (int err = GetTextObject(L, layer->id, &o, kTextObjectPendingToo)) return err;
        return AddTextObjectLayer(L, o, state->x, state->y, *transform, lopts, insertPos, flags, out);
    }
    const qbTextLayout* kept = TextLayoutOfLayer(layer);
    if (!kept) return 0;
    qbTextLayout layout = *kept;
    layout.breaksSupplied = true;
    layout.tabsRecorded = true;
    qbComposedText block;
    if (int err = RenderTextImage(L, &layout, layout.raw, &block)) return err;
    return AddTextOutLayer(L, layer->type, layout, &block, state->x, state->y, *transform, lopts, insertPos, flags,
                           out);
}

int InsertObjectLayer(ScriptState* L, ObjectID id, int32_t x, int32_t y, int32_t insertPos, uint32_t flags,
                      qbLayer** out) {
    qbTextObject* o = nullptr;
    if (int err = GetTextObject(L, id, &o, 0)) return err;
    qbTransformOptions topts;
    qbLayerOptions lopts;
    ResetLayerOptions(&lopts);
    const int32_t px = SaturatingAdd(ResolveSpecialX(x, o->width, 0, 0.0), o->xOffset);
    const int32_t py = SaturatingAdd(ResolveSpecialY(y, o->height, 0, 0.0), o->yOffset);
    return AddTextObjectLayer(L, o, px, py, topts, lopts, insertPos, flags, out);
}

int ObjectSource(ScriptState* L, ObjectID id, qbTextObjectSource* out) {
    qbTextObject* o = nullptr;
    if (int err = GetTextObject(L, id, &o, 0)) return err;
    out->image = {o->bitmap.get(), o->mask.get(), o->alpha.get()};
    out->width = o->width;
    out->height = o->height;
    out->xOffset = o->xOffset;
    out->yOffset = o->yOffset;
    out->id = IDOf(*o);
    out->useCount = &o->locked;
    return 0;
}

}  // namespace

int GetTextObject(ScriptState* L, ObjectID id, qbTextObject** out, uint32_t flags) {
    *out = nullptr;
    // A freed object a layer still shows gives its number up at once, so
    // the index's first record is the only one with the id.
    qbTextObject* found = static_cast<qbTextObject*>(FindListedObject(*TextObjectListHead(), id));
    if (found && found->pendingFree && !(flags & kTextObjectPendingToo)) found = nullptr;
    if (!found || (!id.number && !id.handle)) {
        if (id.handle) return ERR_FINDARRAY;
        SetErrorArgIndex(id.number);
        return ERR_FINDTEXTOBJECT;
    }
    if (flags & kTextObjectForChange) {
        if (found->locked) return ERR_LOCKEDOBJ;
        if (!(flags & kTextObjectNoDetach) && LayersShowObject(kObjectTypeTextObject, id)) {
            std::unique_ptr<qbTextObject> copy;
            if (int err = CopyTextObjectRecord(L, *found, &copy)) return err;
            qbTextObject* kept = copy.get();
            if (int err = AppendTextObject(std::move(copy))) return err;
            MakePending(kept, id);
        }
    }
    *out = found;
    return 0;
}

int CopyTextObjectRecord(ScriptState* L, const qbTextObject& source, std::unique_ptr<qbTextObject>* out) {
    std::unique_ptr<qbTextObject> copy;
    try {
        copy = std::make_unique<qbTextObject>();
        if (source.layout) copy->layout = std::make_unique<qbTextLayout>(*source.layout);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    copy->type = kObjectTypeTextObject;
    copy->handle = copy.get();
    qbBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    if (int err = CloneBitmapRect(source.bitmap.get(), source.mask.get(), source.alpha.get(), 0, 0, source.width,
                                  source.height, &bitmap, &mask, &alpha))
        return err;
    copy->bitmap.reset(bitmap);
    copy->mask.reset(mask);
    copy->alpha.reset(alpha);
    copy->width = source.width;
    copy->height = source.height;
    copy->baseWidth = source.baseWidth;
    copy->baseHeight = source.baseHeight;
    copy->xOffset = source.xOffset;
    copy->yOffset = source.yOffset;
    copy->transform = source.transform;
    if (int err = CopyObjectDataList(L, source.data.get(), &copy->data)) return err;
    *out = std::move(copy);
    return 0;
}

int AppendTextObject(std::unique_ptr<qbTextObject> object) {
    if (int err = AppendObject(TextObjectListHead(), object.get())) return err;
    object.release();
    return 0;
}

void DiscardTextObject(ScriptState* L, qbTextObject* object) {
    if (LayersShowObject(kObjectTypeTextObject, IDOf(*object))) {
        MakePending(object, IDOf(*object));
        return;
    }
    Unlink(object);
    FreeRecord(L, object);
}

void FreePendingTextObjects(ScriptState* L) {
    for (qbTextObject* o = First(); o;) {
        qbTextObject* next = Next(o);
        if (o->pendingFree && !LayersShowObject(kObjectTypeTextObject, IDOf(*o))) {
            Unlink(o);
            FreeRecord(L, o);
        }
        o = next;
    }
}

void FreeAllTextObjects(ScriptState* L) {
    while (qbTextObject* o = First()) {
        Unlink(o);
        FreeRecord(L, o);
    }
}

void InstallTextLayerHooks() {
    qbTextLayerHooks hooks{&ObjectImage, &FreePendingTextObjects, &LayerRerender, &LayerBorder, &RenderAsLayer,
                           nullptr, nullptr, &InsertObjectLayer, &ObjectSource};
    InstallTextLayerStyleHooks(&hooks);
    SetTextLayerHooks(&hooks);
}
