// Table 3 of the plugin base: pictures, brushes, bitmap locks, display hooks
// and the pixel kernels, as plugins reach them. Every record pointer is
// checked: a plugin that passes null gets the slot's failure value.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/errcodes.h"
#include "core/iconlist.h"
#include "core/pixelformats.h"
#include "core/runstate.h"
#include "display/adapter.h"
#include "display/display.h"
#include "display/displayhooks.h"
#include "display/refresh.h"
#include "draw/colours.h"
#include "imaging/bitmap.h"
#include "imaging/bitmapfilters.h"
#include "imaging/bitmappixels.h"
#include "imaging/blit.h"
#include "imaging/imagehandle.h"
#include "imaging/loaderchain.h"
#include "imaging/pixeltransfer.h"
#include "imaging/wideline.h"
#include "objects/brushes.h"
#include "plugins/basesystemslots.h"
#include "plugins/basetables.h"

namespace {

constexpr uint32_t kTagWantedWidth = 1;
constexpr uint32_t kTagWantedHeight = 2;
constexpr uint32_t kTagSecondLockMode = 1;
constexpr uint32_t kTagFormat = 1;
constexpr uint32_t kTagRowLength = 2;
constexpr uint32_t kTagRows = 3;
constexpr uint32_t kTagReadX = 1;
constexpr uint32_t kTagReadY = 2;
constexpr uint32_t kTagReadWidth = 3;
constexpr uint32_t kTagReadHeight = 4;

constexpr uint32_t kBrushAlphaPlane = 1;
constexpr uint32_t kBrushKeyColour = 2;
constexpr uint32_t kBrushKeepImage = 4;

const qbAdapterTag* FindTag(const qbAdapterTag* tags, uint32_t tag) {
    for (const qbAdapterTag* t = tags; t && t->tag != 0; ++t)
        if (t->tag == tag) return t;
    return nullptr;
}

intptr_t TagValue(const qbAdapterTag* tags, uint32_t tag, intptr_t fallback) {
    const qbAdapterTag* t = FindTag(tags, tag);
    return t ? t->value : fallback;
}

void SetError(int* error, int code) {
    if (error) *error = code;
}

int LoadPicture(const char* name, const qbAdapterTag* tags, qbLoadedImage* out) {
    if (name == nullptr) return ERR_WRONGUSAGE;
    qbImageLoadParams p;
    p.fileName = name;
    p.loaderTag = "inbuilt|native";
    p.alphaMode = kAlphaIfPresent;
    p.wantedWidth = static_cast<int32_t>(TagValue(tags, kTagWantedWidth, 0));
    p.wantedHeight = static_cast<int32_t>(TagValue(tags, kTagWantedHeight, 0));
    return LoadImageThroughLoaders(p, out);
}

void* LoadImageSlot(const char* name, const qbAdapterTag* tags, int32_t* width, int32_t* height, int* error) {
    qbLoadedImage image;
    const int err = LoadPicture(name, tags, &image);
    SetError(error, err);
    if (err) return nullptr;
    if (width) *width = image.width;
    if (height) *height = image.height;
    return image.handle.release();
}

uint32_t* LoadImagePixelsSlot(const char* name, const qbAdapterTag* tags, int32_t* width, int32_t* height,
                              void** image, int* error) {
    if (image == nullptr) {
        SetError(error, ERR_WRONGUSAGE);
        return nullptr;
    }
    *image = LoadImageSlot(name, tags, width, height, error);
    return *image ? GetImageHandlePixels(static_cast<qbImageHandle*>(*image)) : nullptr;
}

uint32_t* GetImagePixelsSlot(void* image, int32_t* width, int32_t* height) {
    if (image == nullptr) return nullptr;
    auto* handle = static_cast<qbImageHandle*>(image);
    GetImageHandleBaseSize(handle, width, height);
    return GetImageHandlePixels(handle);
}

void FreeImageSlot(void* image) {
    if (image) ReleaseImageHandle(static_cast<qbImageHandle*>(image));
}

int FindBrush(intptr_t id, qbBrush** out) {
    ScriptState* L = GetMainState();
    if (L == nullptr) return ERR_FINDBRUSH;
    return GetBrushRecord(L, PluginObjectID(id), out, 0);
}

uint32_t* ReadBrushPixelsSlot(int32_t id, int32_t* width, int32_t* height, int* error) {
    qbBrush* brush = nullptr;
    int err = FindBrush(id, &brush);
    if (!err && brush->bitmap == nullptr) err = ERR_BRUSHTYPE;
    std::vector<uint32_t> argb;
    if (!err) {
        argb = GetBitmapARGB(brush->bitmap, 0, 0, brush->width, brush->height, brush->mask, brush->alpha,
                             brush->transparentColour, true, 0);
        if (argb.empty()) err = ERR_MEM;
    }
    uint32_t* block = nullptr;
    if (!err) {
        block = static_cast<uint32_t*>(std::malloc(argb.size() * sizeof(uint32_t)));
        if (block == nullptr) err = ERR_MEM;
    }
    SetError(error, err);
    if (err) return nullptr;
    std::memcpy(block, argb.data(), argb.size() * sizeof(uint32_t));
    if (width) *width = brush->width;
    if (height) *height = brush->height;
    return block;
}

// The host's lock stays behind the record's token until it is unlocked.
bool LockInto(qbBitmap* bitmap, uint32_t flags, qbBitmapLockRecord* record) {
    auto lock = std::make_unique<qbBitmapLock>();
    if (LockBitmap(bitmap, flags, lock.get()) == 0) return false;
    record->pixels = lock->pixels;
    record->rowLength = lock->rowLength;
    record->format = static_cast<int32_t>(lock->pixelFormat);
    record->bytesPerRow = lock->rowLength * static_cast<int32_t>(lock->bytesPerPixel);
    record->width = lock->width;
    record->height = lock->height;
    record->token = lock.release();
    return true;
}

void UnlockRecord(qbBitmapLockRecord* record) {
    if (record == nullptr || record->token == nullptr) return;
    std::unique_ptr<qbBitmapLock> lock(static_cast<qbBitmapLock*>(record->token));
    UnlockBitmap(lock.get());
    record->token = nullptr;
    record->pixels = nullptr;
}

void FreeLockRecordSlot(qbBitmapLockRecord* record) {
    UnlockRecord(record);
    std::unique_ptr<qbBitmapLockRecord> owner(record);
}

qbBitmapLockRecord* GetBrushARGBSlot(int32_t id, int* error) {
    qbBrush* brush = nullptr;
    int err = FindBrush(id, &brush);
    if (!err && brush->bitmap == nullptr) err = ERR_BRUSHTYPE;
    auto record = std::make_unique<qbBitmapLockRecord>();
    if (!err && !LockInto(brush->bitmap, 0, record.get())) err = ERR_LOCKBMAP;
    SetError(error, err);
    return err ? nullptr : record.release();
}

void FreeMemorySlot(void* block) { std::free(block); }

qbDisplayHook* AddDisplayHookSlot(int32_t displayId, qbDisplayHookFunc callback, void* userData,
                                  qbAdapterTag* tags) {
    return AddDisplayHook(ObjectID{displayId, nullptr}, callback, userData, tags, 0);
}

void RemoveDisplayHookSlot(qbDisplayHook* hook) {
    if (hook) RemoveDisplayHook(hook);
}

int RefreshHookDisplaySlot(qbDisplayHook* hook) { return hook ? RefreshDisplayOfHook(hook) : ERR_FINDDISPLAY; }

int ResizeHookDisplaySlot(qbDisplayHook* hook, int32_t width, int32_t height) {
    return hook ? ResizeDisplayOfHook(hook, width, height) : ERR_FINDDISPLAY;
}

int MakeBrushImages(int32_t width, int32_t height, const qbBrushRequest& r, BitmapPtr* bitmap, BitmapPtr* mask,
                    BitmapPtr* alpha, int32_t* key) {
    *key = (r.flags & kBrushKeyColour) ? static_cast<int32_t>(r.keyColour & 0xFFFFFF) : kNoKeyColour;
    if (r.pixels == nullptr) {
        bitmap->reset(AllocBitmap(width, height, 0, nullptr));
        if (!*bitmap) return ERR_BITMAP;
        FillBitmapRect(bitmap->get(), 0, 0, width, height, 0);
        return 0;
    }
    const int32_t row = r.rowLength > 0 ? r.rowLength : width;
    if (row < width) return ERR_WRONGUSAGE;
    qbBitmap* b = nullptr;
    qbBitmap* m = nullptr;
    if (int err = CreateBitmapFromARGB(r.pixels, *key, width, height, row, false, 0, 0, &b,
                                       *key != kNoKeyColour ? &m : nullptr, nullptr))
        return err;
    bitmap->reset(b);
    mask->reset(m);
    if (r.flags & kBrushAlphaPlane) {
        alpha->reset(CreateAlphaFromARGB(r.pixels, width, height, row));
        if (!*alpha) return ERR_ALLOCALPHA;
    }
    return 0;
}

int MakeBrushSlot(int32_t id, int32_t width, int32_t height, const qbBrushRequest* request, void** handle) {
    ScriptState* L = GetMainState();
    if (request == nullptr || L == nullptr) return ERR_WRONGUSAGE;
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    if (id == 0 && handle == nullptr) return ERR_WRONGUSAGE;
    BitmapPtr bitmap, mask, alpha;
    int32_t key = kNoKeyColour;
    if (int err = MakeBrushImages(width, height, *request, &bitmap, &mask, &alpha, &key)) return err;
    ImageHandlePtr image;
    if (request->flags & kBrushKeepImage) {
        image.reset(NewImageHandle());
        if (!image) return ERR_MEM;
        image->loaderImage = request->image;
        image->hostFunctions = 1;
        image->hostGet = request->get;
        image->hostFree = request->free;
        image->hostTransform = request->transform;
        image->nominalWidth = width;
        image->nominalHeight = height;
    }
    qbBrush* made = nullptr;
    // A picture the plugin renders again makes a brush that scales and turns
    // through it, as a scalable picture from a loader does.
    const bool rerenders = image && request->get && request->transform;
    if (int err = AllocBrushRecord(NewObjectID{0, 1}, rerenders ? kBrushVector : kBrushPixels, width, height, width, 0,
                                   image.get(), bitmap.get(), key, mask.get(), alpha.get(), ObjectID{}, &made))
        return err;
    static_cast<void>(image.release());
    static_cast<void>(bitmap.release());
    static_cast<void>(mask.release());
    static_cast<void>(alpha.release());
    if (id != 0) return AdoptBrushID(L, made, NewObjectID{id, 0});
    *handle = made->handle;
    return 0;
}

int SetDisplayAdapterSlot(qbPluginRecord* plugin, uint32_t flags, const qbAdapterTag* tags) {
    qbPlugin* view = PluginViewOf(plugin);
    if (view == nullptr) return ERR_WRONGUSAGE;
    return SetDisplayAdapter(view, flags, tags);
}

void FreeImageListSlot(qbImageNode* list) {
    while (list) {
        std::unique_ptr<qbImageNode> node(list);
        list = node->next;
        std::free(node->pixels);
    }
}

qbImageNode* GetImageListSlot() {
    std::vector<qbIconImage> icons;
    GetIconImageList(&icons);
    qbImageNode* head = nullptr;
    qbImageNode** tail = &head;
    for (const qbIconImage& icon : icons) {
        auto node = std::make_unique<qbImageNode>();
        const size_t bytes = icon.pixels.size() * sizeof(uint32_t);
        node->pixels = static_cast<uint32_t*>(std::malloc(std::max<size_t>(bytes, 1)));
        if (node->pixels == nullptr) {
            FreeImageListSlot(head);
            head = nullptr;
            break;
        }
        if (bytes) std::memcpy(node->pixels, icon.pixels.data(), bytes);
        node->width = icon.width;
        node->height = icon.height;
        node->flags = icon.flags;
        *tail = node.release();
        tail = &(*tail)->next;
    }
    FreeIconImageList(&icons);
    return head;
}

int LockBitmapSlot(void* bitmap, const qbAdapterTag* tags, qbBitmapLockRecord* record) {
    if (bitmap == nullptr || record == nullptr) return 0;
    const uint32_t flags = FindTag(tags, kTagSecondLockMode) ? 1 : 0;
    return LockInto(static_cast<qbBitmap*>(bitmap), flags, record) ? 1 : 0;
}

qbDisplay* DisplayById(int32_t id) {
    for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d))
        if (d->id == id) return d;
    return nullptr;
}

int RefreshDisplayByIdSlot(int32_t id) {
    ScriptState* L = GetMainState();
    qbDisplay* d = DisplayById(id);
    if (d == nullptr || L == nullptr) return ERR_FINDDISPLAY;
    RefreshDisplay(L, d);
    return 0;
}

intptr_t DisplayIdHandleSlot(intptr_t value, int toHandle) {
    LockDisplayList();
    intptr_t result = 0;
    for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d)) {
        if (toHandle && d->id == value) result = reinterpret_cast<intptr_t>(d->adapterHandle);
        if (!toHandle && d->adapterHandle && reinterpret_cast<intptr_t>(d->adapterHandle) == value) result = d->id;
    }
    UnlockDisplayList();
    return result;
}

int TransferPixelsSlot(const qbPixelTransfer* t, int32_t mode) {
    if (t == nullptr || t->source == nullptr || t->destination == nullptr) return 0;
    if (mode != kConvertCopy && t->mask == nullptr) return 0;
    qbPixelTransferRequest r;
    r.source = t->source;
    r.srcX = t->srcX;
    r.srcY = t->srcY;
    r.maskX = t->srcX;
    r.maskY = t->srcY;
    r.srcPitch = t->srcPitch;
    r.destination = t->destination;
    r.dstX = t->dstX;
    r.dstY = t->dstY;
    r.dstPitch = t->dstPitch;
    r.width = t->width;
    r.height = t->height;
    r.mask = t->mask;
    r.maskPitch = t->maskPitch;
    r.format = t->format;
    if (r.width < 1 || r.height < 1) return 1;
    return RunPixelConverter(r, t->bytesPerPixel, mode) ? 1 : 0;
}

// Pixels a plugin hands in: its own buffer, with rows of the given length;
// the drawing stays inside the row and below row 0, and inside tag 3's row
// count when the plugin gives one.
struct PixelTarget {
    void* pixels = nullptr;
    int32_t rowLength = 0;
    int32_t rows = INT32_MAX;
    uint32_t format = 10;
    int32_t bytes = 4;
    uint32_t level = 255;
};

bool ReadTarget(void* pixels, uint32_t colour, uint32_t flags, const qbAdapterTag* tags, PixelTarget* t) {
    const intptr_t format = TagValue(tags, kTagFormat, 10);
    const intptr_t row = TagValue(tags, kTagRowLength, 0);
    if (pixels == nullptr || row < 1 || row > INT32_MAX || format < 0 || format > kLastColourFormat) return false;
    t->pixels = pixels;
    t->rowLength = static_cast<int32_t>(row);
    t->rows = static_cast<int32_t>(std::clamp<intptr_t>(TagValue(tags, kTagRows, INT32_MAX), 0, INT32_MAX));
    t->format = static_cast<uint32_t>(format);
    t->bytes = BytesPerPixel(static_cast<int>(format));
    t->level = (flags & 1) ? colour >> 24 : 255;
    return t->bytes == 2 || t->bytes == 4;
}

void FillTarget(const PixelTarget& t, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour) {
    const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
    const int64_t x1 = std::min<int64_t>(int64_t{x} + width, t.rowLength);
    const int64_t y1 = std::min<int64_t>(int64_t{y} + height, t.rows);
    if (x1 <= x0 || y1 <= y0) return;
    FillPixelRect(t.pixels, static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
                  static_cast<int32_t>(y1 - y0), colour & 0xFFFFFF, static_cast<int32_t>(t.level), t.rowLength,
                  t.format);
}

void FillPixelsSlot(void* pixels, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
                    uint32_t flags, const qbAdapterTag* tags) {
    PixelTarget t;
    if (ReadTarget(pixels, colour, flags, tags, &t)) FillTarget(t, x, y, width, height, colour);
}

void FillPixelRectSlot(void* pixels, const qbPixelRect* rect, uint32_t colour, uint32_t flags,
                       const qbAdapterTag* tags) {
    PixelTarget t;
    if (rect && ReadTarget(pixels, colour, flags, tags, &t))
        FillTarget(t, rect->x, rect->y, rect->width, rect->height, colour);
}

void DrawPixelLineSlot(void* pixels, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour,
                       uint32_t flags, const qbAdapterTag* tags) {
    PixelTarget t;
    if (!ReadTarget(pixels, colour, flags, tags, &t)) return;
    BlendContext ctx;
    ctx.pixels = t.pixels;
    ctx.rowLength = t.rowLength;
    ctx.bytesPerPixel = t.bytes;
    ctx.format = t.format;
    ctx.clip = {0, 0, t.rowLength, t.rows};
    ctx.alpha = t.level;
    if (t.bytes == 4) {
        ctx.colour = colour & 0xFFFFFF;
    } else {
        ctx.colour = ConvertColorToFormat(colour & 0xFFFFFF, static_cast<int>(t.format), false);
        ctx.layout = Layout16OfFormat(static_cast<int>(t.format));
    }
    DrawPixelLine(ctx, x1, y1, x2, y2);
}

int ReadBitmapARGBSlot(void* bitmap, uint32_t* to, const qbAdapterTag* tags) {
    if (bitmap == nullptr || to == nullptr) return ERR_WRONGUSAGE;
    auto* b = static_cast<qbBitmap*>(bitmap);
    const auto x = static_cast<int32_t>(TagValue(tags, kTagReadX, 0));
    const auto y = static_cast<int32_t>(TagValue(tags, kTagReadY, 0));
    const auto width = static_cast<int32_t>(TagValue(tags, kTagReadWidth, GetBitmapAttr(b, kBitmapAttrWidth)));
    const auto height = static_cast<int32_t>(TagValue(tags, kTagReadHeight, GetBitmapAttr(b, kBitmapAttrHeight)));
    std::vector<uint32_t> argb;
    if (int err = ReadBitmapPixels(b, x, y, width, height, nullptr, &argb)) return err;
    std::copy(argb.begin(), argb.end(), to);
    return 0;
}

intptr_t GetBitmapAttrSlot(void* bitmap, int code) {
    return bitmap ? GetBitmapAttr(static_cast<qbBitmap*>(bitmap), code) : 0;
}

uint32_t ColourToPixelSlot(uint32_t colour, int32_t format, int withAlpha) {
    return ConvertColorToFormat(colour, format, withAlpha != 0);
}

uint32_t PixelToColourSlot(uint32_t pixel, int32_t format, int withAlpha) {
    return ConvertPixelToColor(pixel, format, withAlpha != 0);
}

int FreeBrushSlot(int32_t id) {
    ScriptState* L = GetMainState();
    if (L == nullptr) return ERR_FINDBRUSH;
    return FreeBrushObject(L, PluginObjectID(id), true);
}

}  // namespace

ObjectID PluginObjectID(intptr_t value) {
    if (value >= INT32_MIN && value <= INT32_MAX) return ObjectID{static_cast<int32_t>(value), nullptr};
    return ObjectID{0, reinterpret_cast<void*>(value)};
}

const qbGraphicsTable kPluginGraphicsTable = {
    LoadImageSlot,       LoadImagePixelsSlot,    GetImagePixelsSlot,     FreeImageSlot,          // 0-3
    ReadBrushPixelsSlot, FreeLockRecordSlot,     GetBrushARGBSlot,       FreeMemorySlot,         // 4-7
    AddDisplayHookSlot,  RemoveDisplayHookSlot,  RefreshHookDisplaySlot, ResizeHookDisplaySlot,  // 8-11
    MakeBrushSlot,       SetDisplayAdapterSlot,  GetImageListSlot,       FreeImageListSlot,      // 12-15
    LockBitmapSlot,      UnlockRecord,           GetAdapterDisplayAttrs, RefreshDisplayByIdSlot, // 16-19
    DisplayIdHandleSlot, TransferPixelsSlot,     FillPixelsSlot,         FillPixelRectSlot,      // 20-23
    DrawPixelLineSlot,   ReadBitmapARGBSlot,     GetBitmapAttrSlot,      ColourToPixelSlot,      // 24-27
    PixelToColourSlot,   FreeBrushSlot,                                                          // 28-29
};
