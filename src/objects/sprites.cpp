// The sprite list and the sprite instances of BGPics. A shown sprite lives
// only in the back buffer: the sprite-free buffer keeps the picture under
// it, so that moving or removing the sprite recomposes the rectangles it
// covered from that buffer.
#include "objects/sprites.h"

#include <algorithm>
#include <new>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/objectlist.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/positions.h"
#include "objects/adoptid.h"
#include "objects/dirtyrects.h"

namespace {

qbObjectList spriteList;

qbSprite* AsSprite(qbObject* object) { return static_cast<qbSprite*>(object); }

void UnlinkSprite(qbSprite* record) {
    if (record->list != &spriteList) return;
    for (qbSprite* link : record->links) --link->linkedBy;
    UnlinkObject(&spriteList, record);
}

struct Box {
    int32_t x, y, width, height;
};

Box BoxOf(const qbSpriteInstance& i) { return {i.x, i.y, i.width, i.height}; }

// Touching edges count as overlapping: one refresh of the union is cheaper
// than two of the parts.
bool Overlap(const Box& a, const Box& b) {
    return int64_t{a.x} <= int64_t{b.x} + b.width && int64_t{b.x} <= int64_t{a.x} + a.width &&
           int64_t{a.y} <= int64_t{b.y} + b.height && int64_t{b.y} <= int64_t{a.y} + a.height;
}

void Refresh(ScriptState* L, const Box& b) { RefreshLayerRect(L, b.x, b.y, b.width, b.height, 0); }

// Unlinks the instance from the BGPic's list and hands it to the caller.
std::unique_ptr<qbSpriteInstance> TakeInstance(qbBGPic* bgpic, const qbSprite* sprite) {
    for (std::unique_ptr<qbSpriteInstance>* link = &bgpic->spriteInstances; *link; link = &(*link)->next) {
        if ((*link)->sprite != sprite) continue;
        std::unique_ptr<qbSpriteInstance> taken = std::move(*link);
        *link = std::move(taken->next);
        return taken;
    }
    return nullptr;
}

// Off every BGPic; refreshed where the current one showed it.
void RemoveFromAllBGPics(ScriptState* L, const qbSprite* sprite) {
    RemoveSpriteInstance(L, sprite);
    for (qbBGPic* p = FirstBGPic(); p; p = static_cast<qbBGPic*>(p->next))
        while (TakeInstance(p, sprite)) {
        }
}

void FreeOne(ScriptState* L, qbSprite* sprite) {
    RemoveFromAllBGPics(L, sprite);
    UnlinkSprite(sprite);
    FreeObjectDataList(L, &sprite->data);
    std::unique_ptr<qbSprite> owner(sprite);
}

bool LinksTo(const qbSprite* s, const qbSprite* target) {
    return std::find(s->links.begin(), s->links.end(), target) != s->links.end();
}

}  // namespace

std::unique_ptr<qbSprite> NewSpriteRecord() {
    try {
        return std::make_unique<qbSprite>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

qbSprite* FirstSprite() { return AsSprite(spriteList.head); }
qbObjectList* SpriteListHead() { return &spriteList; }

int AddSpriteRecord(ScriptState*, std::unique_ptr<qbSprite> sprite, qbSprite** out) {
    sprite->type = kObjectTypeSprite;
    sprite->id = 0;
    sprite->handle = sprite.get();
    if (int err = AppendObject(&spriteList, sprite.get())) return err;
    qbSprite* record = sprite.release();
    for (qbSprite* link : record->links) ++link->linkedBy;
    if (out) *out = record;
    return 0;
}

int AdoptSpriteID(ScriptState* L, qbSprite* made, NewObjectID id) {
    // Replacing a sprite frees every sprite made of it; a new sprite made of
    // the one whose number it takes would go with it, so that is refused as
    // copying a sprite onto itself is.
    if (!id.chooseFlag) {
        for (const qbSprite* s : made->links) {
            if (s->id != id.id || s->handle) continue;
            FreeOne(L, made);
            return ERR_WRONGUSAGE;
        }
    }
    return AdoptObjectID(
        made, id, [L](ObjectID old) { return FreeSpriteById(L, old, false); },
        [L](qbSprite* s) { FreeOne(L, s); });
}

int GetSprite(ScriptState*, ObjectID id, qbSprite** out, uint32_t flags) {
    if (out) *out = nullptr;
    // Creating commands free the sprite that had a number before they give
    // it to another, so the index's first record is the only one.
    if (qbSprite* s = AsSprite(FindListedObject(spriteList, id)); s && (!s->status || (flags & kSpriteStatusToo))) {
        // Layers never show sprites, so there is nothing to detach from them.
        if ((flags & kSpriteModify) && s->useCount) return ERR_LOCKEDOBJ;
        if (out) *out = s;
        return 0;
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDSPRITE;
}

int GetSpriteFrameImage(const qbSprite* sprite, int32_t frame, qbBitmap** bitmap, qbBitmap** mask,
                        qbBitmap** alpha) {
    *bitmap = *mask = *alpha = nullptr;
    if (frame < 1 || frame > sprite->frameCount) return ERR_ANIMFRAME;
    for (const qbSprite* link : sprite->links) {
        if (frame <= link->frameCount) return GetSpriteFrameImage(link, frame, bitmap, mask, alpha);
        frame -= link->frameCount;
    }
    if (!sprite->links.empty()) return ERR_ANIMFRAME;
    const size_t n = static_cast<size_t>(frame - 1);
    if (n >= sprite->bitmaps.size()) return ERR_ANIMFRAME;
    *bitmap = sprite->bitmaps[n].get();
    *mask = n < sprite->masks.size() ? sprite->masks[n].get() : nullptr;
    *alpha = n < sprite->alphas.size() ? sprite->alphas[n].get() : nullptr;
    return 0;
}

bool SpriteIsLinked(const qbSprite* sprite) { return !sprite->links.empty() || sprite->linkedBy > 0; }

bool SpriteIsShown(const qbSprite* sprite) {
    for (const qbBGPic* p = FirstBGPic(); p; p = static_cast<const qbBGPic*>(p->next))
        for (const qbSpriteInstance* i = p->spriteInstances.get(); i; i = i->next.get())
            if (i->sprite == sprite) return true;
    return false;
}

int FindSpriteInstance(ObjectID id, qbSpriteInstance** out) {
    *out = nullptr;
    if (const qbBGPic* p = GetCurrentBGPic())
        for (qbSpriteInstance* i = p->spriteInstances.get(); i; i = i->next.get())
            if (i->sprite && i->id.number == id.number && i->id.handle == id.handle) {
                *out = i;
                return 0;
            }
    if (id.handle) return ERR_SPRITEONSCREEN2;
    SetErrorArgIndex(id.number);
    return ERR_SPRITEONSCREEN;
}

int AddSpriteInstance(qbBGPic* bgpic, int32_t x, int32_t y, int32_t width, int32_t height, int32_t frame,
                      qbSprite* sprite, void* video, qbClipRegionObject* clip, ObjectID id, qbSpriteInstance** out) {
    if (out) *out = nullptr;
    std::unique_ptr<qbSpriteInstance> made;
    try {
        made = std::make_unique<qbSpriteInstance>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    made->id = id;
    made->x = x;
    made->y = y;
    made->width = width;
    made->height = height;
    made->frame = frame < 1 ? 1 : frame;
    made->sprite = sprite;
    made->video = video;
    made->clip = clip;
    qbSpriteInstance* record = made.get();
    std::unique_ptr<qbSpriteInstance>* link = &bgpic->spriteInstances;
    while (*link && !(sprite && (*link)->video)) link = &(*link)->next;
    made->next = std::move(*link);
    *link = std::move(made);
    if (out) *out = record;
    return 0;
}

int RedrawSprite(ScriptState* L, ObjectID id, int32_t x, int32_t y, int32_t frame) {
    qbSprite* sprite = nullptr;
    if (int err = GetSprite(L, id, &sprite, 0)) return err;
    if (frame < 0 || frame > sprite->frameCount) return ERR_ANIMFRAME;
    x = ResolveSpecialX(x, sprite->width, 0, 0);
    y = ResolveSpecialY(y, sprite->height, 0, 0);
    qbSpriteInstance* shown = nullptr;
    if (const qbBGPic* p = GetCurrentBGPic())
        for (qbSpriteInstance* i = p->spriteInstances.get(); i && !shown; i = i->next.get())
            if (i->sprite == sprite) shown = i;
    if (shown) {
        const int32_t next = frame ? frame : shown->frame % sprite->frameCount + 1;
        if (next == shown->frame && x == shown->x && y == shown->y) return 0;
        const Box old = BoxOf(*shown);
        shown->frame = next;
        shown->x = x;
        shown->y = y;
        const Box now = BoxOf(*shown);
        if (Overlap(old, now)) {
            const int64_t left = std::min(old.x, now.x), top = std::min(old.y, now.y);
            const int64_t right = std::max(int64_t{old.x} + old.width, int64_t{now.x} + now.width);
            const int64_t bottom = std::max(int64_t{old.y} + old.height, int64_t{now.y} + now.height);
            Refresh(L, Box{static_cast<int32_t>(left), static_cast<int32_t>(top),
                           static_cast<int32_t>(std::min<int64_t>(right - left, INT32_MAX)),
                           static_cast<int32_t>(std::min<int64_t>(bottom - top, INT32_MAX))});
        } else {
            Refresh(L, old);
            Refresh(L, now);
        }
        return 0;
    }
    qbBGPic* bgpic = GetCurrentBGPic();
    if (!bgpic) return ERR_FINDSPRITE;
    const qbDisplay* d = GetCurrentDisplay();
    qbSpriteInstance* made = nullptr;
    if (int err = AddSpriteInstance(bgpic, x, y, sprite->width, sprite->height, frame, sprite, nullptr,
                                    d ? d->clipRegion : nullptr, id, &made))
        return err;
    Refresh(L, BoxOf(*made));
    return 0;
}

void RemoveVideoInstance(const void* video) {
    if (!video) return;
    for (qbBGPic* p = FirstBGPic(); p; p = static_cast<qbBGPic*>(p->next))
        for (std::unique_ptr<qbSpriteInstance>* link = &p->spriteInstances; *link; link = &(*link)->next)
            if (!(*link)->sprite && (*link)->video == video) {
                std::unique_ptr<qbSpriteInstance> taken = std::move(*link);
                *link = std::move(taken->next);
                return;
            }
}

int RemoveSpriteInstance(ScriptState* L, const qbSprite* sprite) {
    qbBGPic* bgpic = GetCurrentBGPic();
    if (!bgpic) return 0;
    std::unique_ptr<qbSpriteInstance> taken = TakeInstance(bgpic, sprite);
    if (!taken) return 0;
    if (const qbDisplay* d = GetCurrentDisplay(); d && d->bgpic == bgpic) Refresh(L, BoxOf(*taken));
    return 1;
}

void ClearSpriteInstances(qbBGPic* bgpic) {
    // One by one: a long list would otherwise be freed by a deep recursion.
    while (bgpic->spriteInstances) bgpic->spriteInstances = std::move(bgpic->spriteInstances->next);
}

void RemoveSpriteInstancesOnly(qbBGPic* bgpic, const std::function<void(int32_t, int32_t, int32_t, int32_t)>& removed) {
    std::unique_ptr<qbSpriteInstance>* link = &bgpic->spriteInstances;
    while (*link) {
        if (!(*link)->sprite) {
            link = &(*link)->next;
            continue;
        }
        const int32_t x = (*link)->x, y = (*link)->y, w = (*link)->width, h = (*link)->height;
        *link = std::move((*link)->next);
        if (removed) removed(x, y, w, h);
    }
}

bool SpriteCoversPoint(const qbBGPic* bgpic, int32_t x, int32_t y) {
    if (!bgpic) return false;
    for (const qbSpriteInstance* i = bgpic->spriteInstances.get(); i; i = i->next.get()) {
        if (!i->sprite || i->displayState < 0) continue;
        const int64_t fx = int64_t{x} - i->x, fy = int64_t{y} - i->y;
        if (fx < 0 || fy < 0 || fx >= i->width || fy >= i->height) continue;
        qbBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
        if (GetSpriteFrameImage(i->sprite, i->frame, &bitmap, &mask, &alpha)) continue;
        const int32_t px = static_cast<int32_t>(fx), py = static_cast<int32_t>(fy);
        if (mask) {
            if (ReadBitmapPixel(mask, px, py, true)) return true;
        } else if (const qbBitmapPlane* plane = alpha && alpha->kind == kBitmapKindAlpha ? alpha->plane.get() : nullptr) {
            if (px < plane->width && py < plane->height &&
                plane->data[static_cast<size_t>(py) * plane->rowBytes + static_cast<size_t>(px)])
                return true;
        } else {
            return true;
        }
    }
    return false;
}

void RefreshSpritesOfClipRegion(ScriptState* L, const qbClipRegionObject* region) {
    for (qbBGPic* p = FirstBGPic(); p; p = static_cast<qbBGPic*>(p->next)) {
        bool any = false;
        int64_t left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
        for (qbSpriteInstance* i = p->spriteInstances.get(); i; i = i->next.get()) {
            if (i->clip != region) continue;
            i->clip = nullptr;
            any = true;
            left = std::min<int64_t>(left, i->x);
            top = std::min<int64_t>(top, i->y);
            right = std::max(right, int64_t{i->x} + i->width);
            bottom = std::max(bottom, int64_t{i->y} + i->height);
        }
        const qbDisplay* d = GetCurrentDisplay();
        if (any && d && d->bgpic == p)
            Refresh(L, Box{static_cast<int32_t>(left), static_cast<int32_t>(top),
                           static_cast<int32_t>(std::min<int64_t>(right - left, INT32_MAX)),
                           static_cast<int32_t>(std::min<int64_t>(bottom - top, INT32_MAX))});
    }
}

int FreeSpriteById(ScriptState* L, ObjectID id, bool mustExist) {
    qbSprite* sprite = nullptr;
    if (int err = GetSprite(L, id, &sprite, kSpriteStatusToo)) return mustExist ? err : 0;
    if (sprite->useCount) return ERR_LOCKEDOBJ;
    if (sprite->linkedBy) {
        for (const qbSprite* s = FirstSprite(); s; s = AsSprite(s->next))
            if (LinksTo(s, sprite) && s->useCount) return ERR_LOCKEDOBJ;
        // The sprites made of it go first: they read their frames from it.
        qbSprite* s = FirstSprite();
        while (s) {
            qbSprite* next = AsSprite(s->next);
            if (LinksTo(s, sprite)) FreeOne(L, s);
            s = next;
        }
    }
    FreeOne(L, sprite);
    return 0;
}

void FreeAllSprites(ScriptState* L) {
    for (qbBGPic* p = FirstBGPic(); p; p = static_cast<qbBGPic*>(p->next)) ClearSpriteInstances(p);
    while (qbObject* first = TakeFirstObject(&spriteList)) {
        qbSprite* s = AsSprite(first);
        FreeObjectDataList(L, &s->data);
        std::unique_ptr<qbSprite> owner(s);
    }
}
