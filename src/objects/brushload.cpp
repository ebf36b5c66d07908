// LoadBrush and the brushes whose pixels wait for the displays: before the
// first display opens, a loaded brush keeps the decoded picture and the part
// to cut from it, and becomes a bitmap when the displays start.
#include <algorithm>
#include <cmath>
#include <string>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/linkedfile.h"
#include "display/display.h"
#include "display/displaywindow.h"
#include "display/imagecache.h"
#include "imaging/bitmap.h"
#include "imaging/clonebitmap.h"
#include "imaging/loaderchain.h"
#include "objects/adoptid.h"
#include "objects/brushes.h"
#include "objects/brushhardware.h"
#include "objects/brushlib.h"

namespace {

struct LoadOptions {
    int32_t transparency = -1;
    bool loadAlpha = false;
    bool loadTransparency = false;
    int32_t globalAlpha = -1;
    int32_t x = 0, y = 0, width = 0, height = 0;
    int32_t scaleWidth = 0, scaleHeight = 0;
    bool smooth = false;
    std::string loader, adapter, cache, cachedLoad;
    bool cacheAlpha = false;
    bool hardware = false;
    int32_t display = 0;
    uint32_t callerColour = 0xFFFFFFFFu;
    int32_t keyColourMode = 0;
};

int ReadOptions(ScriptState* L, LoadOptions* o) {
    const int top = VmGetTop(L);
    if (top == 3 && VmType(L, 3) == kTypeTable) {
        uint32_t colour = 0;
        if (GetTableFieldUInt(L, 3, "transparency", &colour, nullptr)) o->transparency = static_cast<int32_t>(colour);
        o->loadAlpha = GetTableFieldFlag(L, 3, "loadalpha");
        o->loadTransparency = GetTableFieldFlag(L, 3, "loadtransparency");
        GetTableFieldInt(L, 3, "globalalpha", &o->globalAlpha, nullptr);
        GetTableFieldInt(L, 3, "x", &o->x, nullptr);
        GetTableFieldInt(L, 3, "y", &o->y, nullptr);
        GetTableFieldInt(L, 3, "width", &o->width, nullptr);
        GetTableFieldInt(L, 3, "height", &o->height, nullptr);
        GetTableFieldSizeOrPercent(L, 3, "scalewidth", 1, &o->scaleWidth, nullptr);
        GetTableFieldSizeOrPercent(L, 3, "scaleheight", 1, &o->scaleHeight, nullptr);
        o->smooth = GetTableFieldFlag(L, 3, "smoothscale");
        o->loader = GetTableFieldText(L, 3, "loader");
        o->adapter = GetTableFieldText(L, 3, "adapter");
        o->cache = GetTableFieldText(L, 3, "cache");
        o->cachedLoad = GetTableFieldText(L, 3, "cachedload");
        o->cacheAlpha = GetTableFieldFlag(L, 3, "cachealpha") && !o->loadAlpha;
        o->hardware = GetTableFieldFlag(L, 3, "hardware");
        GetTableFieldInt(L, 3, "display", &o->display, nullptr);
    } else if (top == 3 && VmType(L, 3) != kTypeNil) {
        if (int err = BrushIntArg(L, 3, &o->transparency)) return err;
    } else if (top == 5) {
        int32_t colour = 0;
        if (int err = BrushIntArg(L, 3, &o->transparency)) return err;
        if (int err = BrushIntArg(L, 4, &colour)) return err;
        if (int err = BrushIntArg(L, 5, &o->keyColourMode)) return err;
        o->callerColour = static_cast<uint32_t>(colour);
    }
    if (o->loadTransparency && (o->loadAlpha || o->transparency != -1)) return ERR_WRONGUSAGE;
    if ((o->loadAlpha || o->globalAlpha >= 0) && o->transparency != -1) return ERR_MASKNALPHA;
    return 0;
}

// One picture as the loader or the cache gives it.
struct Picture {
    ImageHandlePtr handle;
    BitmapPtr alpha;
    int32_t transparency = -1;
    int32_t width = 0, height = 0, rowLength = 0;
    int32_t isVector = 0;
    uintptr_t loaderInfo = 0;
};

int LoadPicture(const char* fileName, const LoadOptions& o, bool deferred, Picture* p) {
    if (deferred && !o.cachedLoad.empty()) {
        qbImageHandle* handle = nullptr;
        qbBitmap* alpha = nullptr;
        if (int err = GetImageCacheEntry(o.cachedLoad.c_str(), o.loadAlpha, &p->width, &p->height, &p->rowLength,
                                         &handle, &alpha, &p->isVector))
            return err;
        p->handle.reset(handle);
        p->alpha.reset(alpha);
        return 0;
    }
    qbImageLoadParams params;
    params.fileName = fileName;
    params.loaderTag = o.loader.empty() ? nullptr : o.loader.c_str();
    params.adapterTag = o.adapter.empty() ? nullptr : o.adapter.c_str();
    params.callerColour = o.callerColour;
    params.keyColourMode = o.keyColourMode;
    params.alphaMode = o.loadAlpha || o.cacheAlpha ? kAlphaRequired : kAlphaNone;
    params.wantTransparency = o.loadTransparency ? 1 : 0;
    params.wantedWidth = o.scaleWidth;
    params.wantedHeight = o.scaleHeight;
    params.smooth = o.smooth ? 1 : 0;
    qbLoadedImage image;
    if (int err = LoadImageThroughLoaders(params, &image)) return err;
    p->handle = std::move(image.handle);
    p->alpha = std::move(image.alpha);
    p->transparency = image.transparency;
    p->width = image.width;
    p->height = image.height;
    p->rowLength = image.rowLength;
    p->isVector = image.isVector;
    p->loaderInfo = image.loader;
    if (deferred && !o.cache.empty())
        if (int err = AddImageCacheEntry(o.cache.c_str(), p->width, p->height, p->rowLength, p->handle.get(),
                                         p->alpha.get(), p->isVector))
            return err;
    if (o.cacheAlpha) p->alpha.reset();
    return 0;
}

int ApplyGlobalAlpha(int32_t level, int32_t width, int32_t height, BitmapPtr* alpha) {
    const auto g = static_cast<uint8_t>(std::clamp(level, 0, 255));
    if (!*alpha) {
        alpha->reset(AllocAlphaChannel(width, height, false, nullptr, 0));
        if (!*alpha) return ERR_ALLOCALPHA;
        FillAlphaRect(alpha->get(), 0, 0, width, height, g);
        return 0;
    }
    qbBitmapPlane& plane = *(*alpha)->plane;
    for (int32_t row = 0; row < plane.height; ++row) {
        uint8_t* line = plane.data + static_cast<size_t>(row) * plane.rowBytes;
        for (int32_t col = 0; col < plane.width; ++col) line[col] = static_cast<uint8_t>(line[col] * g / 255);
    }
    return 0;
}

// The bitmap and mask of the part of a picture; the alpha plane is cut to
// the part as well.
int BuildBrushImages(const qbImageHandle* handle, int32_t rowLength, int32_t keyColour, int32_t x, int32_t y,
                     int32_t width, int32_t height, BitmapPtr* alpha, BitmapPtr* bitmap, BitmapPtr* mask) {
    const uint32_t* pixels = GetImageHandlePixels(handle);
    if (!pixels) return ERR_BITMAP;
    const uint32_t* first = pixels + static_cast<size_t>(y) * rowLength + x;
    qbBitmap* b = nullptr;
    qbBitmap* m = nullptr;
    if (int err = CreateBitmapFromARGB(first, keyColour, width, height, rowLength, false, 0, 0, &b,
                                       keyColour != -1 ? &m : nullptr, nullptr))
        return err;
    bitmap->reset(b);
    mask->reset(m);
    if (*alpha && (x || y || (*alpha)->plane->width != width || (*alpha)->plane->height != height)) {
        qbBitmap* none = nullptr;
        qbBitmap* noMask = nullptr;
        qbBitmap* cut = nullptr;
        if (int err = CloneBitmapRect(nullptr, nullptr, alpha->get(), x, y, width, height, &none, &noMask, &cut))
            return err;
        alpha->reset(cut);
    }
    return 0;
}

int LoadBrushCore(ScriptState* L, NewObjectID id, const char* fileName) {
    LoadOptions o;
    if (int err = ReadOptions(L, &o)) return err;
    const bool deferred = PicturesPending();
    Picture p;
    if (int err = LoadPicture(fileName, o, deferred, &p)) return err;
    if (o.globalAlpha >= 0)
        if (int err = ApplyGlobalAlpha(o.globalAlpha, p.width, p.height, &p.alpha)) return err;
    // The part: 0 means to the picture's edge, and a part beyond the edge
    // is cut there.
    if (o.x < 0 || o.y < 0) return ERR_NEGCOORDS;
    if (o.x >= p.width || o.y >= p.height) return ERR_COORDSRANGE;
    const int32_t width = o.width > 0 ? std::min(o.width, p.width - o.x) : p.width - o.x;
    const int32_t height = o.height > 0 ? std::min(o.height, p.height - o.y) : p.height - o.y;
    if (p.isVector && (width != p.width || height != p.height)) return ERR_BRUSHTYPE;
    const int32_t keyColour = p.transparency != -1 ? p.transparency : (p.isVector ? -1 : o.transparency);
    bool hardware = o.hardware;
    qbDisplay* display = nullptr;
    if (!deferred)
        if (int err = ResolveHardwareBrush(&hardware, o.display, &display)) return err;
    BitmapPtr bitmap;
    BitmapPtr mask;
    if (!deferred)
        if (int err = BuildBrushImages(p.handle.get(), p.rowLength, keyColour, o.x, o.y, width, height, &p.alpha,
                                       &bitmap, &mask))
            return err;
    // A deferred brush and a vector brush keep their picture.
    ImageHandlePtr keep = deferred || p.isVector ? std::move(p.handle) : nullptr;
    qbBrush* made = nullptr;
    if (int err = AllocBrushRecord(NewObjectID{0, 1}, p.isVector ? kBrushVector : kBrushPixels, width, height,
                                   p.rowLength, p.isVector && (o.scaleWidth || o.scaleHeight), keep.get(),
                                   bitmap.get(), keyColour, mask.get(), p.alpha.get(), ObjectID{}, &made))
        return err;
    keep.release();
    bitmap.release();
    mask.release();
    p.alpha.release();
    made->partX = o.x;
    made->partY = o.y;
    made->partWidth = width;
    made->partHeight = height;
    made->loaderInfo = p.loaderInfo;
    if (deferred) {
        // Resolved when the displays start and the adapter is known.
        made->hardware = o.hardware ? 1 : 0;
        made->displayId = ObjectID{o.display, nullptr};
    } else {
        SetBrushHardware(made, hardware, display);
    }
    if (int err = AdoptBrushID(L, made, id)) return err;
    return NewObjectResult(L, *made, id);
}

}  // namespace

int cmdLoadBrush(ScriptState* L) {
    CheckArgCount(L, 2, 5, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const char* shownName = VmCheckString(L, 2, nullptr);
    const char* fileName = ResolveLinkedFileArg(L, 2, 0, nullptr);
    PrintMessage(GetMessageText(MSG_LOADINGBRUSH), shownName, 1);
    const int result = LoadBrushCore(L, id, fileName);
    // The line is closed either way, so that an error text starts a line.
    const bool failed = result != 0 && result != 1;  // 0 or 1 results, else an error code
    if (failed) PrintFailedMessage();
    else PrintDoneMessage();
    return result;
}

int LoadPendingBrushes(ScriptState*) {
    for (qbBrush* b = FirstBrush(); b; b = static_cast<qbBrush*>(b->next)) {
        if (b->bitmap || !b->imageSource) continue;
        bool hardware = b->hardware != 0;
        qbDisplay* display = nullptr;
        if (int err = ResolveHardwareBrush(&hardware, b->displayId.number, &display)) return err;
        BitmapPtr alpha(b->alpha);
        b->alpha = nullptr;
        BitmapPtr bitmap;
        BitmapPtr mask;
        const int err = BuildBrushImages(b->imageSource, b->rowLength, b->transparentColour, b->partX, b->partY,
                                         b->partWidth, b->partHeight, &alpha, &bitmap, &mask);
        b->alpha = alpha.release();
        if (err) return err;
        b->bitmap = bitmap.release();
        b->mask = mask.release();
        b->rowLength = b->width;
        SetBrushHardware(b, hardware, display);
        // A vector brush keeps its picture to render other sizes from it.
        if (b->kind != kBrushVector) {
            ReleaseImageHandle(b->imageSource);
            b->imageSource = nullptr;
        }
    }
    return 0;
}
