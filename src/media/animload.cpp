// LoadAnim and CreateAnim. An anim file gives its frames (or, played from
// disk, only its size and count); any other file is read as a still
// picture, whole or cut into a grid. Before the first display opens the
// frames are kept as pixels and become pictures when the displays start.
#include "media/animload.h"

#include <algorithm>
#include <cstddef>
#include <new>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/linkedfile.h"
#include "core/plugin.h"
#include "display/display.h"
#include "display/imagecache.h"
#include "imaging/clonebitmap.h"
#include "imaging/loaderchain.h"
#include "media/anims.h"
#include "objects/adoptid.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/framepicture.h"
#include "objects/spriteframes.h"

namespace {

qbSpriteGrid GridOf(const qbAnimLoadOptions& o) {
    qbSpriteGrid g;
    g.grid = o.width > 0 && o.height > 0;
    g.width = o.width;
    g.height = o.height;
    g.frames = o.frames;
    g.fpr = o.fpr;
    g.x = o.x;
    g.y = o.y;
    return g;
}

const char* TagOrNull(const std::string& s) { return s.empty() ? nullptr : s.c_str(); }

int ResizeFrames(qbAnimContents* c, size_t n) {
    try {
        c->frames.resize(n);
        c->delays.assign(n, kDelayFromFile);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 0;
}

// Frames of an open anim file.
int FramesFromFile(AnimFilePtr file, int32_t width, int32_t height, int32_t count, const char* fileName,
                   const qbAnimLoadOptions& o, bool deferred, qbAnimContents* c) {
    c->width = width;
    c->height = height;
    c->frameCount = count;
    if (o.fromDisk) {
        try {
            c->delays.assign(static_cast<size_t>(count), kDelayFromFile);
            c->fileName = fileName;
            c->loader = o.loader;
            c->adapter = o.adapter;
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
        c->fromDisk = 1;
        c->file = std::move(file);
        return 0;
    }
    // The tables grow with the frames read: a count a file claims is not
    // memory to take before the frames are there.
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (int32_t i = 0; i < count; ++i) {
        int32_t keyed = 0;
        AnimFramePtr frame = LoadAnimFileFramePtr(file.get(), i, 0, &keyed);
        if (!frame) return ERR_LOADFRAME;
        try {
            c->frames.emplace_back();
            c->delays.push_back(kDelayFromFile);
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
        qbAnimFrame& f = c->frames.back();
        if (!deferred) {
            if (int err = FramePixelsToBitmaps(frame.get(), width, height, o.transparency, o.loadTransparency,
                                               keyed != 0, fileName, &f))
                return err;
        } else {
            f.rawKey = o.transparency;
            if (o.loadTransparency) {
                if (!keyed) {
                    SetErrorDetail(fileName);
                    return ERR_NOTRANSPARENCY;
                }
                f.rawKey = KeyOutTransparentPixels(frame.get(), pixels);
            }
            try {
                f.raw.assign(frame.get(), frame.get() + pixels);
            } catch (const std::bad_alloc&) {
                return ERR_MEM;
            }
        }
        c->delays[static_cast<size_t>(i)] = GetAnimFileFrameDelay(file.get(), i);
    }
    return 0;
}

using Picture = qbFramePicture;

int LoadPicture(const char* fileName, const qbAnimLoadOptions& o, bool deferred, Picture* p) {
    return LoadFramePicture(fileName, FramePictureOptionsOf(o), deferred, p);
}

const char* LoaderNameOf(uintptr_t loader) {
    if (loader == kLoaderInbuilt) return "inbuilt";
    if (loader == kLoaderNative) return "native";
    return reinterpret_cast<const qbPlugin*>(loader)->name;
}

// Frames of a still picture: pictures now, or each cell's pixels.
int FramesFromPicture(Picture* p, const qbAnimLoadOptions& o, bool deferred, qbAnimContents* c) {
    const int32_t key = p->transparency != -1 ? p->transparency : o.transparency;
    c->transparentColour = key;
    const uint32_t* pixels = GetImageHandlePixels(p->handle.get());
    if (!pixels) return ERR_BITMAP;
    if (!deferred) {
        qbBitmap* b = nullptr;
        qbBitmap* m = nullptr;
        if (int err = CreateBitmapFromARGB(pixels, key, p->width, p->height, p->rowLength, false, 0, 0, &b,
                                           key != -1 ? &m : nullptr, nullptr))
            return err;
        BitmapPtr bitmap(b), mask(m);
        if (!GridOf(o).grid) {
            if (int err = ResizeFrames(c, 1)) return err;
            c->width = p->width;
            c->height = p->height;
            c->frameCount = 1;
            c->frames[0].bitmap = std::move(bitmap);
            c->frames[0].mask = std::move(mask);
            c->frames[0].alpha = std::move(p->alpha);
            return 0;
        }
        return CutAnimGrid(bitmap.get(), mask.get(), p->alpha.get(), p->width, p->height, o, c);
    }
    std::vector<std::pair<int32_t, int32_t>> cells;
    int32_t fw = 0, fh = 0;
    if (int err = PlanSpriteGrid(GridOf(o), p->width, p->height, &cells, &fw, &fh)) return err;
    if (int err = ResizeFrames(c, cells.size())) return err;
    c->width = fw;
    c->height = fh;
    c->frameCount = static_cast<int32_t>(cells.size());
    for (size_t i = 0; i < cells.size(); ++i) {
        const auto [cx, cy] = cells[i];
        qbAnimFrame& f = c->frames[i];
        f.rawKey = key;
        try {
            f.raw.resize(static_cast<size_t>(fw) * static_cast<size_t>(fh));
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
        for (int32_t row = 0; row < fh; ++row) {
            const uint32_t* from = pixels + static_cast<size_t>(cy + row) * static_cast<size_t>(p->rowLength) + cx;
            std::copy(from, from + fw, f.raw.begin() + static_cast<ptrdiff_t>(row) * fw);
        }
        if (p->alpha) {
            qbBitmap *none = nullptr, *noMask = nullptr, *a = nullptr;
            if (int err = CloneBitmapRect(nullptr, nullptr, p->alpha.get(), cx, cy, fw, fh, &none, &noMask, &a))
                return err;
            f.alpha.reset(a);
        }
    }
    return 0;
}

}  // namespace

int CutAnimGrid(qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha, int32_t sourceWidth, int32_t sourceHeight,
                const qbAnimLoadOptions& o, qbAnimContents* c) {
    std::vector<std::pair<int32_t, int32_t>> cells;
    int32_t fw = 0, fh = 0;
    if (int err = PlanSpriteGrid(GridOf(o), sourceWidth, sourceHeight, &cells, &fw, &fh)) return err;
    if (int err = ResizeFrames(c, cells.size())) return err;
    for (size_t i = 0; i < cells.size(); ++i) {
        qbBitmap *b = nullptr, *m = nullptr, *a = nullptr;
        if (int err = CloneBitmapRect(bitmap, mask, alpha, cells[i].first, cells[i].second, fw, fh, &b, &m, &a))
            return err;
        c->frames[i].bitmap.reset(b);
        c->frames[i].mask.reset(m);
        c->frames[i].alpha.reset(a);
    }
    c->width = fw;
    c->height = fh;
    c->frameCount = static_cast<int32_t>(cells.size());
    return 0;
}

int ReadAnimLoadOptions(ScriptState* L, int idx, qbAnimLoadOptions* o) {
    if (VmGetTop(L) >= idx && VmType(L, idx) == kTypeTable) {
        uint32_t colour = 0;
        if (GetTableFieldUInt(L, idx, "transparency", &colour, nullptr)) o->transparency = static_cast<int32_t>(colour);
        o->loadAlpha = GetTableFieldFlag(L, idx, "loadalpha");
        o->loadTransparency = GetTableFieldFlag(L, idx, "loadtransparency");
        GetTableFieldInt(L, idx, "x", &o->x, nullptr);
        GetTableFieldInt(L, idx, "y", &o->y, nullptr);
        GetTableFieldInt(L, idx, "width", &o->width, nullptr);
        GetTableFieldInt(L, idx, "height", &o->height, nullptr);
        GetTableFieldInt(L, idx, "fpr", &o->fpr, nullptr);
        GetTableFieldInt(L, idx, "frames", &o->frames, nullptr);
        o->fromDisk = GetTableFieldFlag(L, idx, "fromdisk");
        o->skipLoopFrames = GetTableFieldFlag(L, idx, "skiploopframes");
        GetTableFieldInt(L, idx, "deinterlace", &o->deinterlace, nullptr);
        o->loader = GetTableFieldText(L, idx, "loader");
        o->adapter = GetTableFieldText(L, idx, "adapter");
        o->cache = GetTableFieldText(L, idx, "cache");
        o->cachedLoad = GetTableFieldText(L, idx, "cachedload");
        o->cacheAlpha = GetTableFieldFlag(L, idx, "cachealpha") && !o->loadAlpha;
    } else if (VmGetTop(L) >= idx && VmType(L, idx) != kTypeNil) {
        if (int err = BrushIntArg(L, idx, &o->transparency)) return err;
    }
    if (o->loadTransparency && o->transparency != -1) return ERR_WRONGUSAGE;
    if (o->loadAlpha && o->loadTransparency) return ERR_WRONGUSAGE;
    if (o->loadAlpha && o->transparency != -1) return ERR_MASKNALPHA;
    if (o->frames && o->fromDisk) return ERR_WRONGUSAGE;
    return 0;
}

int BuildAnimFromFile(ScriptState*, const char* fileName, const qbAnimLoadOptions& o, qbAnim** out) {
    *out = nullptr;
    const bool deferred = PicturesPending();
    qbAnimContents c;
    c.transparentColour = o.transparency;
    c.loadAlpha = o.loadAlpha;
    c.loadTransparency = o.loadTransparency;
    c.deinterlace = o.deinterlace;
    bool animFile = false;
    if (!(deferred && !o.cachedLoad.empty()) && !o.frames) {
        qbAnimFile* opened = nullptr;
        qbPlugin* plugin = nullptr;
        int32_t width = 0, height = 0, count = 0, transparency = 0;
        const int err = OpenAnimFile(fileName, TagOrNull(o.loader), TagOrNull(o.adapter), kAnimOpenMode, o.deinterlace,
                                     o.loadTransparency, &opened, &width, &height, &count, &transparency, &plugin);
        if (err && err != ERR_OPENANIM2) return err;
        if (!err) {
            AnimFilePtr file(opened);
            animFile = true;
            if (o.skipLoopFrames && IsIFFAnimFile(file.get())) {
                if (count <= 2) return ERR_WRONGUSAGE;
                count -= 2;
            }
            // None of the anim readers delivers an alpha channel.
            if (o.loadAlpha) {
                SetErrorDetail(fileName);
                return ERR_NOALPHA;
            }
            if (o.width > 0 && o.height > 0) return ERR_TOOMANYARGS;
            if (width < 1 || height < 1 || count < 1) return ERR_LOADFRAME;
            try {
                c.loaderName = plugin ? plugin->name : "inbuilt";
            } catch (const std::bad_alloc&) {
                return ERR_MEM;
            }
            if (int e = FramesFromFile(std::move(file), width, height, count, fileName, o, deferred, &c)) return e;
        }
    }
    if (!animFile) {
        Picture p;
        if (int err = LoadPicture(fileName, o, deferred, &p)) return err;
        try {
            c.loaderName = LoaderNameOf(p.loader);
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
        if (int err = FramesFromPicture(&p, o, deferred, &c)) return err;
    }
    return AllocAnimRecord(NewObjectID{0, 1}, &c, out);
}

int cmdLoadAnim(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const char* shownName = VmCheckString(L, 2, nullptr);
    const char* fileName = ResolveLinkedFileArg(L, 2, 0, nullptr);
    qbAnimLoadOptions o;
    if (int err = ReadAnimLoadOptions(L, 3, &o)) return err;
    PrintMessage(GetMessageText(MSG_LOADINGANIM), shownName, 1);
    // The anim that had the number stays until the new one exists.
    qbAnim* made = nullptr;
    int result = BuildAnimFromFile(L, fileName, o, &made);
    if (result == 0) result = AdoptAnimID(L, made, id);
    if (result == 0) result = NewObjectResult(L, *made, id);
    if (result != 0 && result != 1) PrintFailedMessage();
    else PrintDoneMessage();
    return result;
}

int cmdCreateAnim(ScriptState* L) {
    CheckArgCount(L, 6, 8, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const ObjectID brushId = GetObjectIDArg(L, 2);
    qbAnimLoadOptions o;
    for (auto [idx, field] : {std::pair{3, &o.width}, {4, &o.height}, {5, &o.frames}, {6, &o.fpr}, {7, &o.x}, {8, &o.y}})
        if (VmGetTop(L) >= idx && VmType(L, idx) != kTypeNil)
            if (int err = BrushIntArg(L, idx, field)) return err;
    // Always a grid: a size below 1 is refused, not taken as the whole.
    if (o.width < 1 || o.height < 1 || o.frames < 1) return ERR_WRONGUSAGE;
    qbBrush* brush = nullptr;
    if (int err = GetBrushRecord(L, brushId, &brush, kBrushNoVector)) return err;
    if (!brush->bitmap) return ERR_BITMAP;
    qbAnimContents c;
    c.transparentColour = brush->transparentColour;
    if (int err = CutAnimGrid(brush->bitmap, brush->mask, brush->alpha, brush->width, brush->height, o, &c)) return err;
    try {
        c.loaderName = "inbuilt";
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    qbAnim* made = nullptr;
    if (int err = AllocAnimRecord(NewObjectID{0, 1}, &c, &made)) return err;
    if (int err = AdoptAnimID(L, made, id)) return err;
    return NewObjectResult(L, *made, id);
}
