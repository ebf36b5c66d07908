// Move queues: AddMove fills them, DoMove runs their entries in three
// passes (layer actions, objects already shown, objects to show anew) and
// refreshes what changed once, ClearMove frees them.
#include "objects/movequeue.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/positions.h"
#include "imaging/geometry.h"
#include "display/bgpics.h"
#include "objects/animhooks.h"
#include "objects/dirtyrects.h"
#include "objects/displayobject.h"
#include "objects/layercmds.h"
#include "objects/layerframes.h"
#include "objects/layergeometry.h"
#include "objects/layers.h"
#include "objects/texthooks.h"
#include "vm/vm.h"

namespace {

// In creation order.
std::vector<std::unique_ptr<qbMoveQueue>> queues;

bool SameID(const qbMoveQueue& q, ObjectID id) { return q.id == id.number && q.handle == id.handle; }

void RecordUpdateRect(const qbBGPic* bgpic, const qbRect& r, qbMoveEntry* e) {
    if (IntersectsBGPic(bgpic, r)) {
        e->hasRect = true;
        e->x1 = r.x;
        e->y1 = r.y;
        e->x2 = ClampToInt32(int64_t{r.x} + r.width - 1);
        e->y2 = ClampToInt32(int64_t{r.y} + r.height - 1);
    }
    e->handled = true;
}

void RecordLayerUpdateRect(ScriptState* L, const qbBGPic* bgpic, qbLayer* layer, qbMoveEntry* e) {
    RecordUpdateRect(bgpic, LayerBounds(L, layer), e);
}

// Moves the layer to the entry's position (plus the offsets of a text
// object's picture) without a refresh and records the area that covers
// both its places (or the old one when it no longer shows).
int MoveLayerStep(ScriptState* L, const qbBGPic* bgpic, qbLayer* layer, qbMoveEntry* e, bool setVisibility,
                  int32_t offsetX = 0, int32_t offsetY = 0) {
    const qbRect old = LayerBounds(L, layer);
    const qbLayerState* s = layer->basestate;
    const int32_t x = SaturatingAdd(ResolveSpecialX(e->x, s->width, 0, layer->anchorx), offsetX);
    const int32_t y = SaturatingAdd(ResolveSpecialY(e->y, s->height, 0, layer->anchory), offsetY);
    if (int err = RepositionLayer(L, layer, nullptr, x, y, true, 0, nullptr)) return err;
    const qbRect now = LayerBounds(L, layer);
    if (!setVisibility || e->extra == 0) {
        layer->hidden = 0;
    } else if (e->extra == 1) {
        layer->hidden = 1;
    }
    e->handled = true;
    if (!layer->hidden && IntersectsBGPic(bgpic, now)) {
        const int64_t left = std::min(old.x, now.x), top = std::min(old.y, now.y);
        const int64_t right = int64_t{std::max(old.x, now.x)} + now.width - 1;
        const int64_t bottom = int64_t{std::max(old.y, now.y)} + now.height - 1;
        e->hasRect = true;
        e->x1 = ClampToInt32(left);
        e->y1 = ClampToInt32(top);
        e->x2 = ClampToInt32(right);
        e->y2 = ClampToInt32(bottom);
    } else if (IntersectsBGPic(bgpic, qbRect{old.x, old.y, now.width, now.height})) {
        RecordUpdateRect(bgpic, qbRect{old.x, old.y, now.width, now.height}, e);
    }
    return 0;
}

qbLayer* LayerAt(const qbBGPic* bgpic, const qbMoveEntry& e) { return GetLayerByIndex(bgpic, e.object.number); }

// The anim layer to its next frame by the frame rule; move moves it to the
// entry's place as well.
int StepAnimLayer(ScriptState* L, const qbBGPic* bgpic, qbLayer* l, qbMoveEntry* e, bool move) {
    int32_t index = 0;
    if (int err = NextAnimFrameIndex(e->extra, l->basestate->srcx, l->basestate->srcy, &index)) return err;
    if (int err = SetLayerPosFrame(L, l, kUseLayerPosition, kUseLayerPosition, index + 1, true)) return err;
    if (move) return MoveLayerStep(L, bgpic, l, e, false);
    // The layer stays where it is: its own place is the target this time.
    const int32_t x = e->x, y = e->y;
    e->x = l->basestate->x;
    e->y = l->basestate->y;
    const int err = MoveLayerStep(L, bgpic, l, e, false);
    e->x = x;
    e->y = y;
    return err;
}

// The layer Undo would free: the level-th newest of the type first shown
// with that id.
qbLayer* UndoTarget(const qbBGPic* bgpic, int32_t type, ObjectID id, int32_t level) {
    int32_t seen = 0;
    for (int32_t i = CountLayers(bgpic); i >= 1; --i) {
        qbLayer* l = GetLayerByIndex(bgpic, i);
        if (l->type == type && l->initialid == id && ++seen == level) return l;
    }
    return nullptr;
}

int FirstPass(ScriptState* L, qbBGPic* bgpic, qbMoveEntry* e) {
    switch (e->action) {
    case kMoveUndo: {
        const int32_t level = e->y > 0 ? e->y : 1;
        qbLayer* target = UndoTarget(bgpic, e->x, e->object, level);
        const qbRect r = target ? LayerBounds(L, target) : qbRect{};
        if (int err = UndoLayer(L, e->x, e->object, level, true)) return err;
        RecordUpdateRect(bgpic, r, e);
        return 0;
    }
    case kMoveRemoveLayer: {
        qbLayer* l = LayerAt(bgpic, *e);
        if (!l) return ERR_LAYERRANGE;
        if (AsyncDrawUsesObject(l)) return ERR_REMADLAYER;
        RecordLayerUpdateRect(L, bgpic, l, e);
        FreeLayer(L, l, true);
        return 0;
    }
    case kMoveLayer: {
        qbLayer* l = LayerAt(bgpic, *e);
        if (!l) return ERR_LAYERRANGE;
        return MoveLayerStep(L, bgpic, l, e, true);
    }
    case kMoveInsertBrush: {
        qbLayer* l = nullptr;
        if (int err = InsertLayerCore(L, e->extra, kLayerBrush, e->object, e->x, e->y, true, false, &l)) return err;
        RecordLayerUpdateRect(L, bgpic, l, e);
        return 0;
    }
    case kMoveHideLayer: {
        qbLayer* l = LayerAt(bgpic, *e);
        if (!l) return ERR_LAYERRANGE;
        RecordLayerUpdateRect(L, bgpic, l, e);
        l->hidden = 1;
        return 0;
    }
    case kMoveNextFrame2: {
        qbLayer* l = LayerAt(bgpic, *e);
        if (!l) return ERR_LAYERRANGE;
        if (l->type != kLayerAnim) return ERR_WRONGUSAGE;
        return StepAnimLayer(L, bgpic, l, e, false);
    }
    default: e->handled = false; return 0;
    }
}

// Where a text object's picture lies from the point the script names.
void TextObjectOffsets(ScriptState* L, ObjectID id, int32_t* x, int32_t* y) {
    *x = *y = 0;
    const auto source = TextLayerHooks().objectSource;
    qbTextObjectSource s;
    if (!source || source(L, id, &s) != 0) return;
    *x = s.xOffset;
    *y = s.yOffset;
}

// Objects that layers show already: every layer showing one moves (or
// hides), and the entry keeps the rectangle of the last.
int SecondPass(ScriptState* L, const qbBGPic* bgpic, std::vector<qbMoveEntry>* entries) {
    std::vector<qbMoveEntry*> open;
    for (qbMoveEntry& e : *entries)
        if (!e.handled) open.push_back(&e);
    if (open.empty()) return 0;
    for (int32_t i = 1; i <= CountLayers(bgpic); ++i) {
        qbLayer* l = GetLayerByIndex(bgpic, i);
        if (l->type != kLayerBrush && l->type != kLayerTextObject && l->type != kLayerAnim) continue;
        for (qbMoveEntry* e : open) {
            if (!(e->object == l->id)) continue;
            if (l->type == kLayerAnim) {
                if (e->action != kMoveNextFrame) continue;
                if (int err = StepAnimLayer(L, bgpic, l, e, true)) return err;
            } else if (l->type == kLayerTextObject) {
                if (e->action != kMoveTextObject) continue;
                int32_t dx = 0, dy = 0;
                TextObjectOffsets(L, l->id, &dx, &dy);
                if (int err = MoveLayerStep(L, bgpic, l, e, false, dx, dy)) return err;
            } else if (e->action == kMoveBrush) {
                if (int err = MoveLayerStep(L, bgpic, l, e, false)) return err;
            } else if (e->action == kMoveHideBrush) {
                RecordLayerUpdateRect(L, bgpic, l, e);
                l->hidden = 1;
            }
        }
    }
    return 0;
}

int ThirdPass(ScriptState* L, const qbBGPic* bgpic, qbMoveEntry* e) {
    switch (e->action) {
    case kMoveBrush: {
        qbLayer* l = nullptr;
        if (int err = InsertLayerCore(L, 0, kLayerBrush, e->object, e->x, e->y, true, false, &l)) return err;
        RecordLayerUpdateRect(L, bgpic, l, e);
        return 0;
    }
    case kMoveTextObject: {
        qbLayer* l = nullptr;
        if (int err = InsertLayerCore(L, 0, kLayerTextObject, e->object, e->x, e->y, true, false, &l)) return err;
        RecordLayerUpdateRect(L, bgpic, l, e);
        return 0;
    }
    case kMoveNextFrame: {
        // A new layer of the anim, at the frame the rule gives from the first.
        const auto show = AnimObjectHooks().showFrame;
        if (!show) {
            if (e->object.handle) return ERR_FINDARRAY;
            SetErrorArgIndex(e->object.number);
            return ERR_FINDANIM;
        }
        qbImageTriple images;
        int32_t w = 0, h = 0, count = 0, index = 0;
        if (int err = show(L, e->object, 0, false, &images, &w, &h, &count)) return err;
        if (int err = NextAnimFrameIndex(e->extra, 0, count, &index)) return err;
        qbLayer* l = nullptr;
        qbDisplayObjectCall call;
        call.type = kShowAnim;
        call.id = e->object;
        call.frame = index;
        call.x = e->x;
        call.y = e->y;
        call.flags = kShowNeverDraw;
        call.outLayer = &l;
        if (int err = DisplayObject(L, call)) return err;
        if (l) RecordLayerUpdateRect(L, bgpic, l, e);
        return 0;
    }
    default: return ERR_WRONGUSAGE;
    }
}

int RunPasses(ScriptState* L, qbBGPic* bgpic, qbMoveQueue* q) {
    for (qbMoveEntry& e : q->entries)
        if (int err = FirstPass(L, bgpic, &e)) return err;
    if (int err = SecondPass(L, bgpic, &q->entries)) return err;
    for (qbMoveEntry& e : q->entries)
        if (!e.handled)
            if (int err = ThirdPass(L, bgpic, &e)) return err;
    return 0;
}

bool Overlap(const qbMoveBox& a, const qbMoveBox& b) {
    return a.x1 <= b.x2 && b.x1 <= a.x2 && a.y1 <= b.y2 && b.y1 <= a.y2;
}

}  // namespace

// Rectangles that only touch stay apart. A new rectangle swallows every
// box it overlaps, and since it grows as it swallows, the boxes it passed
// are looked at again.
std::vector<qbMoveBox> MergeMoveRects(const std::vector<qbMoveEntry>& entries) {
    std::vector<qbMoveBox> boxes;
    for (const qbMoveEntry& e : entries) {
        if (!e.hasRect) continue;
        qbMoveBox r{e.x1, e.y1, e.x2, e.y2};
        for (size_t i = 0; i < boxes.size();) {
            if (!Overlap(r, boxes[i])) {
                ++i;
                continue;
            }
            r = {std::min(r.x1, boxes[i].x1), std::min(r.y1, boxes[i].y1), std::max(r.x2, boxes[i].x2),
                 std::max(r.y2, boxes[i].y2)};
            boxes[i] = boxes.back();
            boxes.pop_back();
            i = 0;
        }
        boxes.push_back(r);
    }
    return boxes;
}

namespace {

void RefreshBox(ScriptState* L, const qbMoveBox& b) {
    RefreshOrMarkDirty(L, b.x1, b.y1, ClampToInt32(int64_t{b.x2} - b.x1 + 1), ClampToInt32(int64_t{b.y2} - b.y1 + 1));
}

}  // namespace

int FindMoveQueue(ObjectID id, qbMoveQueue** out) {
    for (const auto& q : queues) {
        if (SameID(*q, id)) {
            *out = q.get();
            return 0;
        }
    }
    *out = nullptr;
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDMOVE;
}

void FreeMoveQueues() { std::vector<std::unique_ptr<qbMoveQueue>>().swap(queues); }

int NextAnimFrameIndex(int32_t requested, int32_t current, int32_t count, int32_t* out) {
    if (requested == 0) {
        *out = current + 1 >= count ? 0 : current + 1;
    } else if (requested == -1) {
        *out = count - 1;
    } else if (requested >= 1 && requested <= count) {
        *out = requested - 1;
    } else {
        return ERR_ANIMFRAME;
    }
    return count > 0 ? 0 : ERR_ANIMFRAME;
}

int cmdAddMove(ScriptState* L) {
    CheckArgCount(L, 3, 6, 0, 0);
    const bool fresh = VmType(L, 1) == kTypeNil;
    const int32_t action = ClampToInt32(VmCheckNumber(L, 2));
    qbMoveEntry e;
    e.action = action;
    e.x = ClampToInt32(VmOptNumber(L, 4, 0));
    e.y = ClampToInt32(VmOptNumber(L, 5, 0));
    switch (action) {
    case kMoveUndo:
        e.x = ClampToInt32(VmCheckNumber(L, 3));
        e.object = GetObjectIDArg(L, 4);
        break;
    case kMoveLayer:
    case kMoveHideLayer:
    case kMoveRemoveLayer:
    case kMoveNextFrame2:
        if (int err = GetLayerPositionArg(L, 3, &e.object.number)) return err;
        break;
    default: e.object = GetObjectIDArg(L, 3); break;
    }
    if (action == kMoveInsertBrush) {
        if (VmGetTop(L) >= 6)
            if (int err = GetLayerPositionArg(L, 6, &e.extra)) return err;
    } else {
        e.extra = ClampToInt32(VmOptNumber(L, 6, 0));
    }

    qbMoveQueue* q = nullptr;
    if (!fresh) {
        const ObjectID id = GetObjectIDArg(L, 1);
        FindMoveQueue(id, &q);
        // A handle names a queue that existed; none by that handle is gone.
        if (!q && id.handle) return ERR_FINDARRAY;
        if (!q) {
            auto made = std::make_unique<qbMoveQueue>();
            made->id = id.number;
            q = made.get();
            queues.push_back(std::move(made));
        }
    } else {
        auto made = std::make_unique<qbMoveQueue>();
        made->handle = made.get();
        q = made.get();
        queues.push_back(std::move(made));
    }
    if (q->entries.size() >= kMaxMoveEntries) return ERR_INTERNAL;
    q->entries.push_back(e);
    if (fresh) return PushObjectID(L, ObjectID{0, q->handle});
    return 0;
}

int cmdClearMove(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbMoveQueue* q = nullptr;
    if (int err = FindMoveQueue(GetObjectIDArg(L, 1), &q)) return err;
    std::erase_if(queues, [q](const auto& p) { return p.get() == q; });
    return 0;
}

int cmdDoMove(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    if (int err = CheckLayerTarget(GetCurrentDisplay())) return err;
    qbBGPic* bgpic = GetCurrentBGPic();
    if (!bgpic) return ERR_NOLAYERS;
    qbMoveQueue* q = nullptr;
    if (int err = FindMoveQueue(id, &q)) return err;
    bgpic->layersDirty = 1;
    for (qbMoveEntry& e : q->entries) {
        e.handled = false;
        e.hasRect = false;
    }
    // A failing entry still leaves the earlier ones done: they are shown
    // before the error goes back, so the screen never lags the layers.
    const int err = RunPasses(L, bgpic, q);
    try {
        for (const qbMoveBox& b : MergeMoveRects(q->entries)) RefreshBox(L, b);
    } catch (const std::bad_alloc&) {
        // Unmerged, every rectangle is still shown.
        for (const qbMoveEntry& e : q->entries)
            if (e.hasRect) RefreshBox(L, {e.x1, e.y1, e.x2, e.y2});
    }
    return err;
}
