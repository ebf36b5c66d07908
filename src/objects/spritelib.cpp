// The "sprite" library: creating sprites from brushes, text objects and
// other sprites, showing, moving and removing them on the current BGPic, and
// the commands that change a sprite's frames.
#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/output.h"
#include "imaging/bitmapfilters.h"
#include "imaging/blit.h"
#include "imaging/clonebitmap.h"
#include "imaging/scale.h"
#include "imaging/scalebitmap.h"
#include "objects/adoptid.h"
#include "objects/animhooks.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/compositor.h"
#include "objects/dirtyrects.h"
#include "objects/layers.h"
#include "objects/spritecmds.h"
#include "objects/spriteframes.h"
#include "objects/sprites.h"
#include "objects/texthooks.h"

namespace {

constexpr int32_t kSourceBrush = 3, kSourceAnim = 4, kSourceTextObject = 8, kSourceSprites = 32;

const ScriptCommand kSpriteCommands[] = {
    {"CreateSprite", cmdCreateSprite}, {"DisplaySprite", cmdDisplaySprite}, {"RemoveSprite", cmdRemoveSprite},
    {"FreeSprite", cmdFreeSprite},     {"LoadSprite", cmdLoadSprite},       {"ScaleSprite", cmdScaleSprite},
    {"CopySprite", cmdCopySprite},     {"FlipSprite", cmdFlipSprite},       {"RemoveSprites", cmdRemoveSprites},
    {nullptr, nullptr},
};

int IntArg(ScriptState* L, int idx, int32_t fallback, int32_t* out) {
    *out = fallback;
    if (VmGetTop(L) < idx || VmType(L, idx) == kTypeNil) return 0;
    return BrushIntArg(L, idx, out);
}

// Frames of a brush: the whole brush, or a grid cut from it.
int FromBrush(ScriptState* L, qbSprite* into) {
    if (VmGetTop(L) > 9) return ERR_TOOMANYARGS;
    qbBrush* brush = nullptr;
    if (int err = GetBrushRecord(L, GetObjectIDArg(L, 3), &brush, 0)) return err;
    if (!brush->bitmap) return ERR_WRONGUSAGE;
    qbSpriteGrid g;
    int32_t* fields[] = {&g.width, &g.height, &g.frames, &g.fpr, &g.x, &g.y};
    for (int i = 0; i < 6; ++i)
        if (int err = IntArg(L, 4 + i, 0, fields[i])) return err;
    g.grid = g.width > 0 && g.height > 0;
    into->keyColour = brush->transparentColour;
    return CutSpriteFrames(brush->bitmap, brush->mask, brush->alpha, brush->width, brush->height, g, into);
}

int FromTextObject(ScriptState* L, qbSprite* into) {
    if (VmGetTop(L) > 3) return ERR_TOOMANYARGS;
    const qbTextLayerHooks& hooks = TextLayerHooks();
    if (!hooks.objectImage) return ERR_WRONGUSAGE;
    qbObjectImage image;
    int32_t w = 0, h = 0;
    if (int err = hooks.objectImage(L, GetObjectIDArg(L, 3), &image, &w, &h)) return err;
    if (!image.bitmap) return ERR_WRONGUSAGE;
    return CutSpriteFrames(image.bitmap, image.mask, image.alpha, w, h, qbSpriteGrid{}, into);
}

int FromSprites(ScriptState* L, qbSprite* into) {
    std::vector<ObjectID> ids;
    try {
        for (int i = 3; i <= VmGetTop(L); ++i) ids.push_back(GetObjectIDArg(L, i));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return LinkSpriteFrames(L, ids, into);
}

// Sprites that are shown, or linked either way, keep their frames.
int GetSpriteToChange(ScriptState* L, qbSprite** out) {
    if (int err = GetSprite(L, GetObjectIDArg(L, 1), out, kSpriteModify)) return err;
    if (SpriteIsShown(*out)) return ERR_MODIFYSPRITE;
    if (SpriteIsLinked(*out)) return ERR_MODIFYSPRITE2;
    return 0;
}

}  // namespace

int CheckSpriteOutput(ScriptState*) {
    const qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    if (int err = CheckOutputGuard(d, OutputGuard::Refresh)) return err;
    if (d->layersEnabled || CountLayers(GetCurrentBGPic()) > 0) return ERR_LAYERSOFF;
    return 0;
}

int cmdCreateSprite(ScriptState* L) {
    CheckArgCount(L, 3, -1, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    int32_t type = 0;
    if (int err = BrushIntArg(L, 2, &type)) return err;
    std::unique_ptr<qbSprite> sprite = NewSpriteRecord();
    if (!sprite) return ERR_MEM;
    int err = 0;
    switch (type) {
    case kSourceBrush: err = FromBrush(L, sprite.get()); break;
    case kSourceTextObject: err = FromTextObject(L, sprite.get()); break;
    case kSourceSprites: err = FromSprites(L, sprite.get()); break;
    case kSourceAnim: {
        if (VmGetTop(L) > 3) return ERR_TOOMANYARGS;
        const ObjectID source = GetObjectIDArg(L, 3);
        if (const auto frames = AnimObjectHooks().intoSprite) {
            err = frames(L, source, sprite.get());
        } else if (source.handle) {
            err = ERR_FINDARRAY;
        } else {
            SetErrorArgIndex(static_cast<int>(source.number));
            err = ERR_FINDANIM;
        }
        break;
    }
    default: err = ERR_WRONGUSAGE; break;
    }
    if (err) return err;
    // Built in full first: the sprite that had the number stays on failure.
    qbSprite* made = nullptr;
    if (int e = AddSpriteRecord(L, std::move(sprite), &made)) return e;
    if (int e = AdoptSpriteID(L, made, id)) return e;
    return NewObjectResult(L, *made, id);
}

int cmdDisplaySprite(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    int32_t x = 0, y = 0, frame = 0;
    if (int err = BrushIntArg(L, 2, &x)) return err;
    if (int err = BrushIntArg(L, 3, &y)) return err;
    if (int err = IntArg(L, 4, 0, &frame)) return err;
    if (int err = CheckSpriteOutput(L)) return err;
    return RedrawSprite(L, id, x, y, frame);
}

int cmdRemoveSprite(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const ObjectID id = GetObjectIDArg(L, 1);
    if (int err = CheckSpriteOutput(L)) return err;
    qbSprite* sprite = nullptr;
    if (int err = GetSprite(L, id, &sprite, kSpriteModify)) return err;
    if (RemoveSpriteInstance(L, sprite)) return 0;
    qbSpriteInstance* none = nullptr;
    return FindSpriteInstance(id, &none);
}

int cmdFreeSprite(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return FreeSpriteById(L, GetObjectIDArg(L, 1), true);
}

int cmdScaleSprite(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    qbSprite* sprite = nullptr;
    if (int err = GetSpriteToChange(L, &sprite)) return err;
    int percent = 0;
    const double w = GetNumberOrPercentArg(L, 2, sprite->width, 1, &percent);
    const double h = GetNumberOrPercentArg(L, 3, sprite->height, 1, &percent);
    if (!std::isfinite(w) || !std::isfinite(h)) return ERR_WRONGUSAGE;
    int32_t width = ClampToInt32(w), height = ClampToInt32(h);
    if (int err = KeepAspectRatio(sprite->width, sprite->height, &width, &height)) return err;
    const bool smooth = VmGetTop(L) >= 4 && GetFlagArg(L, 4, false);
    if (width == sprite->width && height == sprite->height) return 0;
    if (sprite->pending) return ERR_WRONGUSAGE;
    std::vector<BitmapPtr> bitmaps, masks, alphas;
    try {
        bitmaps.reserve(sprite->bitmaps.size());
        masks.reserve(sprite->bitmaps.size());
        alphas.reserve(sprite->bitmaps.size());
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    for (size_t i = 0; i < sprite->bitmaps.size(); ++i) {
        qbBitmap* b = nullptr;
        qbBitmap* m = nullptr;
        qbBitmap* a = nullptr;
        if (int err = ScaleBitmap(sprite->bitmaps[i].get(), sprite->masks[i].get(), sprite->alphas[i].get(), 0, 0,
                                  nullptr, sprite->width, sprite->height, width, height, smooth, &b, &m, &a))
            return err;
        bitmaps.emplace_back(b);
        masks.emplace_back(m);
        alphas.emplace_back(a);
    }
    sprite->bitmaps = std::move(bitmaps);
    sprite->masks = std::move(masks);
    sprite->alphas = std::move(alphas);
    sprite->width = width;
    sprite->height = height;
    return 0;
}

int cmdCopySprite(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const ObjectID sourceId = GetObjectIDArg(L, 1);
    const NewObjectID id = GetNewObjectIDArg(L, 2);
    if (!id.chooseFlag && !sourceId.handle && sourceId.number == id.id) return ERR_WRONGUSAGE;
    qbSprite* source = nullptr;
    if (int err = GetSprite(L, sourceId, &source, 0)) return err;
    std::unique_ptr<qbSprite> copy = NewSpriteRecord();
    if (!copy) return ERR_MEM;
    if (CopySpriteFrames(source, copy.get())) return ERR_MEM;
    if (CopyObjectDataList(L, source->data.get(), &copy->data)) return ERR_MEM;
    copy->loaderWord = source->loaderWord;
    copy->keyColour = source->keyColour;
    qbSprite* made = nullptr;
    if (int err = AddSpriteRecord(L, std::move(copy), &made)) return err;
    if (int err = AdoptSpriteID(L, made, id)) return err;
    return NewObjectResult(L, *made, id);
}

int cmdFlipSprite(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    qbSprite* sprite = nullptr;
    if (int err = GetSpriteToChange(L, &sprite)) return err;
    int32_t mode = 0;
    if (int err = BrushIntArg(L, 2, &mode)) return err;
    for (size_t i = 0; i < sprite->bitmaps.size(); ++i)
        if (int err = FlipBitmap(sprite->bitmaps[i].get(), sprite->masks[i].get(), sprite->alphas[i].get(),
                                 sprite->width, sprite->height, mode))
            return err;
    return 0;
}

int cmdRemoveSprites(ScriptState* L) {
    CheckArgCount(L, 0, 1, 0, 0);
    const bool keep = VmGetTop(L) >= 1 && GetFlagArg(L, 1, false);
    if (int err = CheckSpriteOutput(L)) return err;
    qbBGPic* bgpic = GetCurrentBGPic();
    if (!bgpic) return 0;
    for (const qbSpriteInstance* i = bgpic->spriteInstances.get(); i; i = i->next.get())
        if (i->sprite && i->sprite->useCount) return ERR_LOCKEDOBJ;
    qbDisplay* d = GetCurrentDisplay();
    if (keep && d->bgpic == bgpic && d->backBuffer && d->spriteFreeBuffer) {
        RedrawLayers(L, d, bgpic, d->backBuffer.get(), 0, 0, bgpic->currentWidth, bgpic->currentHeight, 0);
        CopyBitmapRect(d->backBuffer.get(), 0, 0, d->spriteFreeBuffer.get(), 0, 0, bgpic->currentWidth,
                       bgpic->currentHeight);
    }
    // Sprites only: videos shown on the picture stay.
    RemoveSpriteInstancesOnly(bgpic, [&](int32_t x, int32_t y, int32_t w, int32_t h) {
        if (!keep) RefreshLayerRect(L, x, y, w, h, 0);
    });
    return 0;
}

int InitSpriteLibrary(ScriptState* L) {
    if (int err = RegisterObjectList(SpriteListHead())) return err;
    SetPendingSpritesHook(LoadPendingSprites);
    VmRegisterCommands(L, nullptr, kSpriteCommands, 0);
    return RegisterCommandTable(kSpriteCommands, "sprite");
}
