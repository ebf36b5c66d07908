#include "objects/framepicture.h"

#include "core/errcodes.h"
#include "display/imagecache.h"
#include "imaging/loaderchain.h"

namespace {

const char* TextOrNull(const std::string* s) { return s && !s->empty() ? s->c_str() : nullptr; }

}  // namespace

int LoadFramePicture(const char* fileName, const qbFramePictureOptions& o, bool deferred, qbFramePicture* p) {
    if (deferred && TextOrNull(o.cachedLoad)) {
        qbImageHandle* handle = nullptr;
        qbBitmap* alpha = nullptr;
        int32_t isVector = 0;
        if (int err = GetImageCacheEntry(o.cachedLoad->c_str(), o.loadAlpha, &p->width, &p->height, &p->rowLength,
                                         &handle, &alpha, &isVector))
            return err;
        p->handle.reset(handle);
        p->alpha.reset(alpha);
        return 0;
    }
    qbImageLoadParams params;
    params.fileName = fileName;
    params.loaderTag = TextOrNull(o.loader);
    params.adapterTag = TextOrNull(o.adapter);
    params.alphaMode = o.loadAlpha || o.cacheAlpha ? kAlphaRequired : kAlphaNone;
    params.wantTransparency = o.loadTransparency ? 1 : 0;
    qbLoadedImage image;
    if (int err = LoadImageThroughLoaders(params, &image)) return err == ERR_LOADPICTURE2 ? ERR_OPENANIM2 : err;
    p->handle = std::move(image.handle);
    p->alpha = std::move(image.alpha);
    p->transparency = image.transparency;
    p->width = image.width;
    p->height = image.height;
    p->rowLength = image.rowLength;
    p->loader = image.loader;
    if (deferred && TextOrNull(o.cache))
        if (int err = AddImageCacheEntry(o.cache->c_str(), p->width, p->height, p->rowLength, p->handle.get(),
                                         p->alpha.get(), 0))
            return err;
    if (o.cacheAlpha) p->alpha.reset();
    return 0;
}
