// The image cache: few entries, looked up by name, all freed together.
#include "display/imagecache.h"

#include <list>
#include <new>
#include <string>

#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "imaging/imagehandle.h"

namespace {

struct Entry {
    std::string name;
    int32_t width = 0;
    int32_t height = 0;
    int32_t wordA = 0;
    int32_t wordB = 0;
    ImageHandlePtr handle;
    BitmapPtr alpha;
};

// Names are kept to the length a file name of the system may have.
constexpr size_t kMaxNameLength = 1023;

std::list<Entry>& Cache() {
    static std::list<Entry> cache;
    return cache;
}

BitmapPtr CopyPlane(const qbBitmap* alpha) {
    if (!alpha || !alpha->plane) return nullptr;
    return BitmapPtr(CopyAlphaChannel(alpha, alpha->plane->width, alpha->plane->height));
}

}  // namespace

int AddImageCacheEntry(const char* fileName, int32_t width, int32_t height, int32_t wordA, qbImageHandle* handle,
                       const qbBitmap* alpha, int32_t wordB) {
    if (!fileName) return ERR_WRONGUSAGE;
    BitmapPtr copy = CopyPlane(alpha);
    if (alpha && !copy) return ERR_MEM;
    try {
        Entry e;
        e.name.assign(fileName, std::min(std::char_traits<char>::length(fileName), kMaxNameLength));
        e.width = width;
        e.height = height;
        e.wordA = wordA;
        e.wordB = wordB;
        e.alpha = std::move(copy);
        Cache().push_back(std::move(e));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    if (handle) RetainImageHandle(handle);
    Cache().back().handle.reset(handle);
    return 0;
}

int GetImageCacheEntry(const char* fileName, bool wantAlpha, int32_t* width, int32_t* height, int32_t* wordA,
                       qbImageHandle** handle, qbBitmap** alpha, int32_t* wordB) {
    if (alpha) *alpha = nullptr;
    if (handle) *handle = nullptr;
    if (!fileName) return ERR_CACHEERROR;
    const std::string name(fileName, std::min(std::char_traits<char>::length(fileName), kMaxNameLength));
    for (const Entry& e : Cache()) {
        if (e.name != name) continue;
        BitmapPtr copy;
        if (wantAlpha) {
            if (!e.alpha) return ERR_CACHEERROR;
            copy = CopyPlane(e.alpha.get());
            if (!copy) return ERR_MEM;
        }
        if (width) *width = e.width;
        if (height) *height = e.height;
        if (wordA) *wordA = e.wordA;
        if (wordB) *wordB = e.wordB;
        if (handle) {
            if (e.handle) RetainImageHandle(e.handle.get());
            *handle = e.handle.get();
        }
        if (alpha) *alpha = copy.release();
        return 0;
    }
    return ERR_CACHEERROR;
}

void FreeImageCache() { Cache().clear(); }
