// Frame sources of sprites.
#include "objects/spriteframes.h"

#include <new>

#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "imaging/clonebitmap.h"
#include "objects/sprites.h"

namespace {

using Cells = std::vector<std::pair<int32_t, int32_t>>;

struct Frames {
    std::vector<BitmapPtr> bitmaps, masks, alphas;
};

int Reserve(Frames* f, size_t n) {
    try {
        f->bitmaps.reserve(n);
        f->masks.reserve(n);
        f->alphas.reserve(n);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 0;
}

void Install(Frames* f, qbSprite* into, int32_t width, int32_t height) {
    into->width = width;
    into->height = height;
    into->frameCount = static_cast<int32_t>(f->bitmaps.size());
    into->bitmaps = std::move(f->bitmaps);
    into->masks = std::move(f->masks);
    into->alphas = std::move(f->alphas);
}

}  // namespace

int PlanSpriteGrid(const qbSpriteGrid& g, int32_t sourceWidth, int32_t sourceHeight, Cells* cells,
                   int32_t* frameWidth, int32_t* frameHeight) {
    cells->clear();
    if (!g.grid) {
        if (sourceWidth < 1 || sourceHeight < 1) return ERR_WRONGUSAGE;
        *frameWidth = sourceWidth;
        *frameHeight = sourceHeight;
        try {
            cells->emplace_back(0, 0);
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
        return 0;
    }
    const int32_t fpr = g.fpr < 1 ? g.frames : g.fpr;
    if (g.frames < 1 || g.width < 1 || g.height < 1 || fpr < 1) return ERR_WRONGUSAGE;
    const int64_t rows = (int64_t{g.frames} + fpr - 1) / fpr;
    if (g.x < 0 || g.y < 0) return ERR_NEGCOORDS;
    // A grid narrower than fpr columns (fewer frames) is still checked at
    // its full width, as the frames would be laid out.
    if (int64_t{fpr} * g.width + g.x > sourceWidth || rows * g.height + g.y > sourceHeight) return ERR_BRUSHSIZE;
    try {
        cells->reserve(static_cast<size_t>(g.frames));
        for (int32_t i = 0; i < g.frames; ++i)
            cells->emplace_back(g.x + (i % fpr) * g.width, g.y + (i / fpr) * g.height);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    *frameWidth = g.width;
    *frameHeight = g.height;
    return 0;
}

int CutSpriteFrames(qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t width, int32_t height,
                    const qbSpriteGrid& grid, qbSprite* into) {
    Cells cells;
    int32_t fw = 0, fh = 0;
    if (int err = PlanSpriteGrid(grid, width, height, &cells, &fw, &fh)) return err;
    Frames f;
    if (int err = Reserve(&f, cells.size())) return err;
    for (const auto& [cx, cy] : cells) {
        qbBitmap* b = nullptr;
        qbBitmap* m = nullptr;
        qbBitmap* a = nullptr;
        if (int err = CloneBitmapRect(bitmap, mask, alpha, cx, cy, fw, fh, &b, &m, &a)) return err;
        f.bitmaps.emplace_back(b);
        f.masks.emplace_back(m);
        f.alphas.emplace_back(a);
    }
    Install(&f, into, fw, fh);
    return 0;
}

int BuildPendingSpriteFrames(qbSprite* sprite) {
    qbPendingSpriteFrames* p = sprite->pending.get();
    if (!p) return 0;
    const uint32_t* pixels = GetImageHandlePixels(p->image.get());
    if (!pixels) return ERR_BITMAP;
    Frames f;
    if (int err = Reserve(&f, p->cells.size())) return err;
    for (const auto& [cx, cy] : p->cells) {
        qbBitmap* b = nullptr;
        qbBitmap* m = nullptr;
        const uint32_t* first = pixels + static_cast<size_t>(cy) * p->rowLength + cx;
        if (int err = CreateBitmapFromARGB(first, p->keyColour, sprite->width, sprite->height, p->rowLength, false,
                                           0, 0, &b, p->keyColour != -1 ? &m : nullptr, nullptr))
            return err;
        f.bitmaps.emplace_back(b);
        f.masks.emplace_back(m);
        qbBitmap* a = nullptr;
        if (p->alpha) {
            qbBitmap* none = nullptr;
            qbBitmap* noMask = nullptr;
            if (int err = CloneBitmapRect(nullptr, nullptr, p->alpha.get(), cx, cy, sprite->width, sprite->height,
                                          &none, &noMask, &a))
                return err;
        }
        f.alphas.emplace_back(a);
    }
    Install(&f, sprite, sprite->width, sprite->height);
    sprite->pending.reset();
    return 0;
}

int LinkSpriteFrames(ScriptState* L, const std::vector<ObjectID>& ids, qbSprite* into) {
    if (ids.empty()) return ERR_WRONGUSAGE;
    std::vector<qbSprite*> links;
    try {
        links.reserve(ids.size());
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    int64_t frames = 0;
    for (const ObjectID& id : ids) {
        qbSprite* s = nullptr;
        if (int err = GetSprite(L, id, &s, 0)) return err;
        if (!s->links.empty()) return ERR_SPRITELINK;
        if (!links.empty() && (s->width != links[0]->width || s->height != links[0]->height))
            return ERR_WRONGSPRITESIZE;
        links.push_back(s);
        frames += s->frameCount;
    }
    if (frames > INT32_MAX) return ERR_WRONGUSAGE;
    into->width = links[0]->width;
    into->height = links[0]->height;
    into->frameCount = static_cast<int32_t>(frames);
    into->keyColour = links[0]->keyColour;
    into->links = std::move(links);
    return 0;
}

int CopySpriteFrames(const qbSprite* source, qbSprite* into) {
    try {
        into->links = source->links;
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    Frames f;
    if (int err = Reserve(&f, source->bitmaps.size())) return err;
    for (size_t i = 0; i < source->bitmaps.size(); ++i) {
        qbBitmap* b = nullptr;
        qbBitmap* m = nullptr;
        qbBitmap* a = nullptr;
        if (CloneBitmapRect(source->bitmaps[i].get(), source->masks[i].get(), source->alphas[i].get(), 0, 0,
                            source->width, source->height, &b, &m, &a))
            return ERR_MEM;
        f.bitmaps.emplace_back(b);
        f.masks.emplace_back(m);
        f.alphas.emplace_back(a);
    }
    Install(&f, into, source->width, source->height);
    into->frameCount = source->frameCount;
    return 0;
}
