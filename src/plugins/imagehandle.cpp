// Picture handles and their reference counts.
#include "plugins/imagehandle.h"

#include <new>

qbImageHandle* NewImageHandleBuffer(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return nullptr;
    try {
        auto handle = std::make_unique<qbImageHandle>();
        handle->ownedPixels =
            std::make_unique_for_overwrite<uint32_t[]>(static_cast<size_t>(width) * static_cast<size_t>(height));
        handle->loaderPixels = handle->ownedPixels.get();
        handle->ownsPixels = 1;
        return handle.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void RetainImageHandle(qbImageHandle* handle) {
    if (handle) ++handle->references;
}

uint32_t* GetImageHandlePixels(const qbImageHandle* handle) {
    if (!handle) return nullptr;
    return handle->convertedPixels ? handle->convertedPixels.get() : handle->loaderPixels;
}

bool ImageHandleOwnsPixels(const qbImageHandle* handle) { return handle && handle->ownsPixels != 0; }

void ReleaseImageHandle(qbImageHandle* handle) {
    if (!handle || --handle->references > 0) return;
    std::unique_ptr<qbImageHandle> owner(handle);
    // Loader plugins free their images through their own slot once image
    // loaders exist; a host-made handle says how.
    if (handle->loaderImage && handle->hostFunctions && handle->hostFree) handle->hostFree(handle->loaderImage);
}
