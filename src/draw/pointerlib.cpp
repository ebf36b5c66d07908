// CreatePointer, SetPointer, MovePointer and FreePointer: brush images as
// the mouse pointer of a display, and the standard arrow and busy pointers.
#include <memory>
#include <new>
#include <vector>

#include "core/objectlist.h"
#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "display/adapter.h"
#include "display/display.h"
#include "display/pointers.h"
#include "display/positions.h"
#include "draw/graphicsobjects.h"
#include "imaging/bitmap.h"
#include "objects/brushes.h"
#include "objects/sprites.h"

namespace {

constexpr int32_t kSourceBrush = 3;
constexpr int32_t kSourceSprite = 32;
constexpr int32_t kSourceStandard = 36;
constexpr int32_t kStandardPointerSize = 16;


// A hot spot not given (negative) is the middle; none lies off the image.
int32_t HotSpot(int32_t given, int32_t size) {
    const int32_t v = given < 0 ? size / 2 : given;
    return v > size - 1 ? size - 1 : v;
}

int BrushPointer(ScriptState* L, qbPointerObject* made) {
    qbBrush* brush = nullptr;
    if (int err = GetBrushRecord(L, GetObjectIDArg(L, 3), &brush, 0)) return err;
    const int32_t hotX = HotSpot(GetOptIntArg(L, 4, -1), brush->width);
    const int32_t hotY = HotSpot(GetOptIntArg(L, 5, -1), brush->height);
    // The mask becomes alpha: clear bits are see-through pixels.
    std::vector<uint32_t> argb = GetBitmapARGB(brush->bitmap, 0, 0, brush->width, brush->height, brush->mask,
                                               brush->alpha, kNoKeyColour, true, kLockReadOnly);
    if (argb.empty()) return ERR_MEM;
    made->width = brush->width;
    made->height = brush->height;
    made->kind = 2;
    return CreateDisplayPointer(argb.data(), brush->width, brush->height, &made->native, hotX, hotY);
}

int SpritePointer(ScriptState* L, qbPointerObject* made) {
    qbSprite* sprite = nullptr;
    if (int err = GetSprite(L, GetObjectIDArg(L, 3), &sprite, 0)) return err;
    const int32_t frame = GetOptIntArg(L, 4, 1);
    qbBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    if (int err = GetSpriteFrameImage(sprite, frame, &bitmap, &mask, &alpha)) return err;
    if (!bitmap) return ERR_ANIMFRAME;
    const int32_t hotX = HotSpot(GetOptIntArg(L, 5, -1), sprite->width);
    const int32_t hotY = HotSpot(GetOptIntArg(L, 6, -1), sprite->height);
    std::vector<uint32_t> argb =
        GetBitmapARGB(bitmap, 0, 0, sprite->width, sprite->height, mask, alpha, kNoKeyColour, true, kLockReadOnly);
    if (argb.empty()) return ERR_MEM;
    made->width = sprite->width;
    made->height = sprite->height;
    made->kind = 2;
    return CreateDisplayPointer(argb.data(), sprite->width, sprite->height, &made->native, hotX, hotY);
}


}  // namespace

int cmdCreatePointer(ScriptState* L) {
    CheckArgCount(L, 3, 6, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const int32_t type = GetIntArg(L, 2);
    std::unique_ptr<qbPointerObject> made;
    try {
        made = std::make_unique<qbPointerObject>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    made->type = kObjectTypePointer;
    if (type == kSourceBrush) {
        if (int err = BrushPointer(L, made.get())) return err;
    } else if (type == kSourceSprite) {
        if (int err = SpritePointer(L, made.get())) return err;
    } else if (type == kSourceStandard) {
        const int32_t kind = GetIntArg(L, 3);
        if (kind < 0 || kind > 1) return ERR_WRONGUSAGE;
        made->kind = kind;
        made->width = made->height = kStandardPointerSize;
    } else {
        return ERR_WRONGUSAGE;
    }
    if (!id.chooseFlag) {
        if (qbObject* old = FindListedObject(*PointerListHead(), ObjectID{id.id, nullptr}))
            ReleasePointer(L, static_cast<qbPointerObject*>(old));
        made->id = id.id;
    } else {
        made->handle = made.get();
    }
    if (int err = AppendPointer(made.get())) return err;
    qbPointerObject* record = made.release();
    return id.chooseFlag ? PushObjectID(L, IDOf(*record)) : 0;
}

int cmdSetPointer(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbPointerObject* pointer = nullptr;
    if (int err = GetPointerRecord(GetObjectIDArg(L, 1), &pointer)) return err;
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    d->pointerFlags = 0;
    d->pointer = pointer;
    if (d->state != DISPSTATE_CLOSED) SetDisplayPointer(d, pointer->native, pointer->kind);
    FreeDeferredPointers(L);
    return 0;
}

int cmdMovePointer(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const int32_t x = GetIntArg(L, 1);
    const int32_t y = GetIntArg(L, 2);
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    if (IsVideoRecording()) return 0;
    const int32_t width = d->pointer ? d->pointer->width : kStandardPointerSize;
    const int32_t height = d->pointer ? d->pointer->height : kStandardPointerSize;
    const int32_t px = ResolveSpecialX(x, width, 0, 0.0);
    const int32_t py = ResolveSpecialY(y, height, 0, 0.0);
    if (d->state != DISPSTATE_CLOSED)
        MoveDisplayPointer(d, ClampToInt32(px * d->scaleX), ClampToInt32(py * d->scaleY));
    return 0;
}

int cmdFreePointer(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbPointerObject* pointer = nullptr;
    if (int err = GetPointerRecord(GetObjectIDArg(L, 1), &pointer)) return err;
    ReleasePointer(L, pointer);
    return 0;
}
