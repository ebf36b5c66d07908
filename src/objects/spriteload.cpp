// LoadSprite: the frames of a sprite from an anim file, or from a picture
// file, the whole picture or a grid of frames cut from it. Before the first
// display opens the decoded picture is kept and cut when the displays start.
#include <new>
#include <string>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/linkedfile.h"
#include "display/display.h"
#include "display/imagecache.h"
#include "imaging/bitmap.h"
#include "imaging/loaderchain.h"
#include "objects/adoptid.h"
#include "objects/animhooks.h"
#include "objects/brushlib.h"
#include "objects/framepicture.h"
#include "objects/spritecmds.h"
#include "objects/spriteframes.h"
#include "objects/sprites.h"

namespace {

struct LoadOptions {
    int32_t transparency = -1;
    bool loadAlpha = false;
    bool loadTransparency = false;
    qbSpriteGrid grid;
    std::string loader, adapter, cache, cachedLoad;
    bool cacheAlpha = false;
};

int ReadOptions(ScriptState* L, LoadOptions* o) {
    if (VmGetTop(L) >= 3 && VmType(L, 3) == kTypeTable) {
        uint32_t colour = 0;
        if (GetTableFieldUInt(L, 3, "transparency", &colour, nullptr)) o->transparency = static_cast<int32_t>(colour);
        o->loadAlpha = GetTableFieldFlag(L, 3, "loadalpha");
        o->loadTransparency = GetTableFieldFlag(L, 3, "loadtransparency");
        GetTableFieldInt(L, 3, "x", &o->grid.x, nullptr);
        GetTableFieldInt(L, 3, "y", &o->grid.y, nullptr);
        GetTableFieldInt(L, 3, "width", &o->grid.width, nullptr);
        GetTableFieldInt(L, 3, "height", &o->grid.height, nullptr);
        GetTableFieldInt(L, 3, "fpr", &o->grid.fpr, nullptr);
        GetTableFieldInt(L, 3, "frames", &o->grid.frames, nullptr);
        o->loader = GetTableFieldText(L, 3, "loader");
        o->adapter = GetTableFieldText(L, 3, "adapter");
        o->cache = GetTableFieldText(L, 3, "cache");
        o->cachedLoad = GetTableFieldText(L, 3, "cachedload");
        o->cacheAlpha = GetTableFieldFlag(L, 3, "cachealpha") && !o->loadAlpha;
    } else if (VmGetTop(L) >= 3 && VmType(L, 3) != kTypeNil) {
        if (int err = BrushIntArg(L, 3, &o->transparency)) return err;
    }
    o->grid.grid = o->grid.width > 0 && o->grid.height > 0;
    if (o->loadTransparency && o->transparency != -1) return ERR_WRONGUSAGE;
    if (o->loadAlpha && o->loadTransparency) return ERR_WRONGUSAGE;
    if (o->loadAlpha && o->transparency != -1) return ERR_MASKNALPHA;
    return 0;
}

using Picture = qbFramePicture;

int LoadPicture(const char* fileName, const LoadOptions& o, bool deferred, Picture* p) {
    return LoadFramePicture(fileName, FramePictureOptionsOf(o), deferred, p);
}

// The frames now, or the picture kept for later.
int MakeFrames(const LoadOptions& o, Picture* p, int32_t keyColour, bool deferred, qbSprite* sprite) {
    if (!deferred) {
        const uint32_t* pixels = GetImageHandlePixels(p->handle.get());
        if (!pixels) return ERR_BITMAP;
        qbBitmap* b = nullptr;
        qbBitmap* m = nullptr;
        if (int err = CreateBitmapFromARGB(pixels, keyColour, p->width, p->height, p->rowLength, false, 0, 0, &b,
                                           keyColour != -1 ? &m : nullptr, nullptr))
            return err;
        BitmapPtr bitmap(b), mask(m);
        return CutSpriteFrames(bitmap.get(), mask.get(), p->alpha.get(), p->width, p->height, o.grid, sprite);
    }
    std::unique_ptr<qbPendingSpriteFrames> pending;
    try {
        pending = std::make_unique<qbPendingSpriteFrames>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    int32_t fw = 0, fh = 0;
    if (int err = PlanSpriteGrid(o.grid, p->width, p->height, &pending->cells, &fw, &fh)) return err;
    pending->image = std::move(p->handle);
    pending->alpha = std::move(p->alpha);
    pending->rowLength = p->rowLength;
    pending->keyColour = keyColour;
    sprite->width = fw;
    sprite->height = fh;
    sprite->frameCount = static_cast<int32_t>(pending->cells.size());
    sprite->pending = std::move(pending);
    return 0;
}

// The frames of an anim file; ERR_OPENANIM2 when it is none.
int LoadAnimFileFrames(ScriptState* L, const char* fileName, const LoadOptions& o, qbSprite* into) {
    const auto fromFile = AnimObjectHooks().fileIntoSprite;
    if (!fromFile) return ERR_OPENANIM2;
    qbSpriteAnimRequest r;
    r.loader = o.loader.empty() ? nullptr : o.loader.c_str();
    r.adapter = o.adapter.empty() ? nullptr : o.adapter.c_str();
    r.transparency = o.transparency;
    r.loadTransparency = o.loadTransparency;
    r.loadAlpha = o.loadAlpha;
    r.grid = o.grid.grid;
    return fromFile(L, fileName, r, into);
}

int LoadSpriteCore(ScriptState* L, NewObjectID id, const char* fileName, const LoadOptions& o) {
    const bool deferred = PicturesPending();
    // Anim files give all their frames, unless a frame count asks for a
    // picture cut into a grid.
    if (!(deferred && !o.cachedLoad.empty()) && o.grid.frames == 0) {
        std::unique_ptr<qbSprite> sprite = NewSpriteRecord();
        if (!sprite) return ERR_MEM;
        const int err = LoadAnimFileFrames(L, fileName, o, sprite.get());
        if (err == 0) {
            qbSprite* made = nullptr;
            if (int e = AddSpriteRecord(L, std::move(sprite), &made)) return e;
            if (int e = AdoptSpriteID(L, made, id)) return e;
            return NewObjectResult(L, *made, id);
        }
        if (err != ERR_OPENANIM2) return err;
    }
    Picture p;
    if (int err = LoadPicture(fileName, o, deferred, &p)) return err;
    const int32_t keyColour = p.transparency != -1 ? p.transparency : o.transparency;
    std::unique_ptr<qbSprite> sprite = NewSpriteRecord();
    if (!sprite) return ERR_MEM;
    if (int err = MakeFrames(o, &p, keyColour, deferred, sprite.get())) return err;
    sprite->loaderWord = p.loader;
    sprite->keyColour = keyColour;
    qbSprite* made = nullptr;
    if (int err = AddSpriteRecord(L, std::move(sprite), &made)) return err;
    if (int err = AdoptSpriteID(L, made, id)) return err;
    return NewObjectResult(L, *made, id);
}

}  // namespace

int cmdLoadSprite(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const char* shownName = VmCheckString(L, 2, nullptr);
    const char* fileName = ResolveLinkedFileArg(L, 2, 0, nullptr);
    LoadOptions o;
    if (int err = ReadOptions(L, &o)) return err;
    PrintMessage(GetMessageText(MSG_LOADINGSPRITE), shownName, 1);
    // The sprite that had the number stays until the new one exists.
    const int result = LoadSpriteCore(L, id, fileName, o);
    if (result != 0 && result != 1) PrintFailedMessage();
    else PrintDoneMessage();
    return result;
}

int LoadPendingSprites(ScriptState*) {
    for (qbSprite* s = FirstSprite(); s; s = static_cast<qbSprite*>(s->next))
        if (int err = BuildPendingSpriteFrames(s)) return err;
    return 0;
}
