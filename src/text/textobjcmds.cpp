// The text object commands: making an object from the current style,
// showing it (as a layer or into the output), copying, freeing, and
// scaling and turning it by rendering its layout anew.
#include <cmath>
#include <new>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "core/objectlist.h"
#include "display/display.h"
#include "display/positions.h"
#include "imaging/clonebitmap.h"
#include "imaging/geometry.h"
#include "imaging/scale.h"
#include "objects/adoptid.h"
#include "objects/dirtyrects.h"
#include "objects/layergeometry.h"
#include "objects/layers.h"
#include "text/textobjects.h"
#include "text/textout.h"
#include "text/textscale.h"

namespace {

// Takes the composed picture into the object.
void TakePicture(qbTextObject* o, qbComposedText* block) {
    o->bitmap = std::move(block->bitmap);
    o->mask = std::move(block->mask);
    o->alpha = std::move(block->alpha);
    o->width = block->width;
    o->height = block->height;
}

// A script number frees the object that had it; none is no error.
int FreeNumbered(ScriptState* L, ObjectID id) {
    qbTextObject* old = nullptr;
    if (GetTextObject(L, id, &old, 0) != 0) return 0;
    if (int err = GetTextObject(L, id, &old, kTextObjectForChange | kTextObjectNoDetach)) return err;
    DiscardTextObject(L, old);
    return 0;
}

void DropNew(ScriptState* L, qbTextObject* made) {
    RenumberObject(made, ObjectID{0, made});
    DiscardTextObject(L, made);
}

// Renders the object's layout under its transform and installs the result;
// the object keeps its old picture on an error.
int Rerender(ScriptState* L, qbTextObject* o) {
    qbTransformOptions& t = o->transform;
    BuildScaleRotateMatrix(t.matrix, t.width, t.height, o->baseWidth, o->baseHeight, 1.0, 1.0, t.rotate);
    t.rotated = 0;
    DecomposeTransformMatrix(&t);
    qbComposedText block;
    bool rerendered = false;
    if (int err = RenderTextUnderMatrix(L, *o->layout, t.matrix, t.smoothscale != 0, &block, &rerendered))
        return err;
    const bool turned = std::fmod(t.rotate, 360.0) != 0;
    o->xOffset = turned ? 0 : block.left;
    o->yOffset = turned ? 0 : block.top;
    TakePicture(o, &block);
    return 0;
}

}  // namespace

int AddTextObjectLayer(ScriptState* L, qbTextObject* object, int32_t x, int32_t y, const qbTransformOptions& topts,
                       const qbLayerOptions& lopts, int32_t insertPos, uint32_t flags, qbLayer** out) {
    std::unique_ptr<qbLayerState> s;
    try {
        s = std::make_unique<qbLayerState>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    s->x = x;
    s->y = y;
    s->width = object->width;
    s->height = object->height;
    qbLayerOptions options = lopts;
    const ObjectID id = IDOf(*object);
    qbLayer* layer = nullptr;
    if (int err = AddLayer(L, kLayerTextObject, &id, x, y, object->width, object->height, &topts, &options,
                           std::move(s), insertPos, flags | kAddDisplayScale, &layer))
        return err;
    if (out) *out = layer;
    if (!options.needseffects && IsIdentityMatrix(topts.matrix)) RefreshLayer(L, layer, true);
    return 0;
}

int DrawTextObject(ScriptState* L, ObjectID id, int32_t x, int32_t y, const qbTransformOptions& topts,
                   const qbLayerOptions& lopts) {
    qbDisplay* display = GetCurrentDisplay();
    if (!display) return ERR_FINDDISPLAY;
    qbTextObject* o = nullptr;
    if (int err = GetTextObject(L, id, &o, 0)) return err;
    const int32_t px = SaturatingAdd(ResolveSpecialX(x, o->width, 0, topts.anchorx), o->xOffset);
    const int32_t py = SaturatingAdd(ResolveSpecialY(y, o->height, 0, topts.anchory), o->yOffset);
    if (display->layersEnabled)
        return AddTextObjectLayer(L, o, px, py, topts, lopts, -1, 0);
    // The drawing filters and fades its own copy of the picture.
    qbComposedText copy;
    qbBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    if (int err = CloneBitmapRect(o->bitmap.get(), o->mask.get(), o->alpha.get(), 0, 0, o->width, o->height, &bitmap,
                                  &mask, &alpha))
        return err;
    copy.bitmap.reset(bitmap);
    copy.mask.reset(mask);
    copy.alpha.reset(alpha);
    copy.width = o->width;
    copy.height = o->height;
    // The glyphs drawn anew at the size the options scale to, as a layer
    // shows them; an object sized or turned already shows its own transform,
    // whose pixels move.
    qbComposedText sharp;
    if (o->layout && IsIdentityMatrix(o->transform.matrix))
        if (int err = RenderSharpText(L, *o->layout, topts.matrix, topts.smoothscale != 0, &sharp)) return err;
    return DrawTextImage(L, &copy, px, py, topts, lopts, &sharp);
}

int cmdCreateTextObject(ScriptState* L) {
    CheckArgCount(L, 2, 5, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    size_t length = 0;
    const char* text = VmCheckString(L, 2, &length);
    auto layout = std::make_unique<qbTextLayout>();
    layout->text.assign(text, length);
    layout->style = *GetTextStyle();
    layout->encoding = GetDefaultEncoding();
    const int top = VmGetTop(L);
    if (top >= 3 && VmType(L, 3) == kTypeTable) {
        if (top > 3) return ERR_WRONGUSAGE;
        GetTableFieldInt(L, 3, "align", &layout->align, nullptr);
        GetTableFieldInt(L, 3, "wordwrap", &layout->wrapWidth, nullptr);
        GetTableFieldInt(L, 3, "encoding", &layout->encoding, nullptr);
        double colour = 0;
        int found = 0;
        GetTableFieldFloat(L, 3, "color", &colour, &found);
        if (found) layout->style.colour = ToColour(colour);
    } else {
        if (top >= 3 && VmType(L, 3) != kTypeNil) layout->align = ClampToInt32(VmCheckNumber(L, 3));
        if (top >= 4 && VmType(L, 4) != kTypeNil) layout->wrapWidth = ClampToInt32(VmCheckNumber(L, 4));
        if (top >= 5 && VmType(L, 5) != kTypeNil) layout->encoding = ClampToInt32(VmCheckNumber(L, 5));
    }
    if (layout->wrapWidth < 0 || layout->encoding < 0 || layout->encoding >= 2) return ERR_WRONGUSAGE;
    qbComposedText block;
    if (int err = RenderTextImage(L, layout.get(), false, &block)) return err;
    std::unique_ptr<qbTextObject> made;
    try {
        made = std::make_unique<qbTextObject>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    made->type = kObjectTypeTextObject;
    made->handle = made.get();
    made->xOffset = block.left;
    made->yOffset = block.top;
    TakePicture(made.get(), &block);
    made->baseWidth = made->width;
    made->baseHeight = made->height;
    made->layout = std::move(layout);
    qbTextObject* record = made.get();
    if (int err = AppendTextObject(std::move(made))) return err;
    if (int err = AdoptObjectID(
            record, id, [L](ObjectID old) { return FreeNumbered(L, old); },
            [L](qbTextObject* m) { DropNew(L, m); }))
        return err;
    return NewObjectResult(L, *record, id);
}

int cmdDisplayTextObject(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    const int32_t x = ClampToInt32(VmCheckNumber(L, 2));
    const int32_t y = ClampToInt32(VmCheckNumber(L, 3));
    qbTextObject* o = nullptr;
    if (int err = GetTextObject(L, id, &o, 0)) return err;
    qbTransformOptions topts;
    qbLayerOptions lopts;
    ResetDisplayObjectOptions(&topts, &lopts, o->width, o->height, 0, 0);
    if (VmGetTop(L) >= 4 && VmType(L, 4) != kTypeNil)
        if (int err = ParseDisplayObjectOptions(L, 4, o->width, o->height, 0, 0, 0, &topts, &lopts, kOptReset))
            return err;
    return DrawTextObject(L, id, x, y, topts, lopts);
}

int cmdFreeTextObject(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbTextObject* o = nullptr;
    if (int err = GetTextObject(L, GetObjectIDArg(L, 1), &o, kTextObjectForChange | kTextObjectNoDetach)) return err;
    DiscardTextObject(L, o);
    return 0;
}

int cmdCopyTextObject(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const ObjectID source = GetObjectIDArg(L, 1);
    const NewObjectID dest = GetNewObjectIDArg(L, 2);
    if (!dest.chooseFlag && !source.handle && source.number == dest.id) return ERR_WRONGUSAGE;
    qbTextObject* o = nullptr;
    if (int err = GetTextObject(L, source, &o, 0)) return err;
    std::unique_ptr<qbTextObject> copy;
    if (int err = CopyTextObjectRecord(L, *o, &copy)) return err;
    qbTextObject* record = copy.get();
    if (int err = AppendTextObject(std::move(copy))) return err;
    if (int err = AdoptObjectID(
            record, dest, [L](ObjectID old) { return FreeNumbered(L, old); },
            [L](qbTextObject* m) { DropNew(L, m); }))
        return err;
    return NewObjectResult(L, *record, dest);
}

int cmdScaleTextObject(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    qbTextObject* o = nullptr;
    if (int err = GetTextObject(L, GetObjectIDArg(L, 1), &o, kTextObjectForChange)) return err;
    int percent = 0;
    const double w = GetNumberOrPercentArg(L, 2, o->baseWidth, 1, &percent);
    const double h = GetNumberOrPercentArg(L, 3, o->baseHeight, 1, &percent);
    if (!std::isfinite(w) || !std::isfinite(h)) return ERR_WRONGUSAGE;
    int32_t width = ClampToInt32(w), height = ClampToInt32(h);
    if (int err = KeepAspectRatio(o->baseWidth, o->baseHeight, &width, &height)) return err;
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    const qbTransformOptions before = o->transform;
    o->transform.width = width;
    o->transform.height = height;
    if (int err = Rerender(L, o)) {
        o->transform = before;
        return err;
    }
    return 0;
}

int cmdRotateTextObject(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    qbTextObject* o = nullptr;
    if (int err = GetTextObject(L, GetObjectIDArg(L, 1), &o, kTextObjectForChange)) return err;
    const double angle = VmCheckNumber(L, 2);
    if (!std::isfinite(angle)) return ERR_WRONGUSAGE;
    const qbTransformOptions before = o->transform;
    o->transform.rotate = std::fmod(angle, 360.0);
    if (int err = Rerender(L, o)) {
        o->transform = before;
        return err;
    }
    return 0;
}
