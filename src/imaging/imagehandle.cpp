// Picture handles and their reference counts, and the image-loader slots of
// plugins.
#include "imaging/imagehandle.h"

#include <new>
#include <unordered_map>

#include "core/errcodes.h"
#include "core/platformhooks.h"
#include "core/plugin.h"
#include "imaging/loaderchain.h"

namespace {

std::unordered_map<const qbAdapterPlugin*, const qbImageLoaderSlots*>& LoaderSlots() {
    static std::unordered_map<const qbAdapterPlugin*, const qbImageLoaderSlots*> slots;
    return slots;
}

// The entry points that serve a handle's loader image: its loader plugin's
// slots, or those a host-made handle carries.
struct ImageEntries {
    uint32_t* (*get)(void*, qbImageLoadRequest*) = nullptr;
    void (*free)(void*) = nullptr;
    int (*transform)(void*, const double*) = nullptr;
    bool marshalled = false;
};

// False for an image of the inbuilt chain, which has no entry points.
bool EntriesOf(const qbImageHandle* handle, ImageEntries* e) {
    if (handle->loader) {
        if (const qbImageLoaderSlots* slots = GetImageLoaderSlots(handle->loader))
            *e = {slots->GetImage, slots->FreeImage, slots->TransformImage, false};
        e->marshalled = handle->loader->callingMode == kPluginCallMarshalled;
        return true;
    }
    if (!handle->hostFunctions) return false;
    *e = {handle->hostGet, handle->hostFree, handle->hostTransform, handle->hostMarshalled != 0};
    return true;
}

}  // namespace

void SetImageLoaderSlots(qbAdapterPlugin* plugin, const qbImageLoaderSlots* slots) {
    if (!plugin) return;
    if (slots)
        LoaderSlots()[plugin] = slots;
    else
        LoaderSlots().erase(plugin);
}

const qbImageLoaderSlots* GetImageLoaderSlots(const qbAdapterPlugin* plugin) {
    const auto& slots = LoaderSlots();
    const auto it = slots.find(plugin);
    return it == slots.end() ? nullptr : it->second;
}

qbImageHandle* NewImageHandle() { return new (std::nothrow) qbImageHandle; }

qbImageHandle* NewImageHandleBuffer(int32_t width, int32_t height) {
    std::unique_ptr<qbImageHandle> handle(NewImageHandle());
    if (!handle || AllocImagePixels(width, height, kPixelsNotRead, &handle->ownedPixels) != 0) return nullptr;
    handle->loaderPixels = handle->ownedPixels.get();
    handle->ownsPixels = 1;
    return handle.release();
}

void RetainImageHandle(qbImageHandle* handle) {
    if (handle) ++handle->references;
}

uint32_t* GetImageHandlePixels(const qbImageHandle* handle) {
    if (!handle) return nullptr;
    return handle->convertedPixels ? handle->convertedPixels.get() : handle->loaderPixels;
}

void GetImageHandleBaseSize(const qbImageHandle* handle, int32_t* width, int32_t* height) {
    if (width) *width = handle ? handle->nominalWidth : 0;
    if (height) *height = handle ? handle->nominalHeight : 0;
}

bool ImageHandleOwnsPixels(const qbImageHandle* handle) { return handle && handle->ownsPixels != 0; }

void ReleaseImageHandle(qbImageHandle* handle) {
    if (!handle || --handle->references > 0) return;
    // The pixel buffers go with the handle, after the loader's image.
    std::unique_ptr<qbImageHandle> owner(handle);
    if (!handle->loaderImage) return;
    ImageEntries e;
    if (!EntriesOf(handle, &e)) {
        FreeImageRecord(static_cast<qbDecodedImage*>(handle->loaderImage));
        return;
    }
    if (!e.free) return;
    if (e.marshalled)
        CallMarshalledPluginFunc(reinterpret_cast<void*>(e.free), 1, handle->loaderImage);
    else
        e.free(handle->loaderImage);
}

int TransformImageHandle(qbImageHandle* handle, const double matrix[4], int32_t width, int32_t height,
                         qbImageLoadRequest* request) {
    if (!handle || !handle->loaderImage) return ERR_TFIMAGE;
    ImageEntries e;
    if (!EntriesOf(handle, &e) || !e.transform || !e.get) return ERR_TFIMAGE;
    const double block[6] = {matrix[0], matrix[1], matrix[2], matrix[3], static_cast<double>(width),
                             static_cast<double>(height)};
    qbImageLoadRequest local;
    qbImageLoadRequest* req = request ? request : &local;
    int ok;
    uint32_t* pixels;
    if (e.marshalled) {
        ok = CallMarshalledPluginFunc(reinterpret_cast<void*>(e.transform), 2, handle->loaderImage, block);
        pixels = nullptr;
    } else {
        ok = e.transform(handle->loaderImage, block);
        pixels = ok ? e.get(handle->loaderImage, req) : nullptr;
    }
    if (!ok) return ERR_TFIMAGE;
    if (!pixels) return ERR_MEM;
    handle->convertedPixels.reset();
    if (handle->ownsPixels) {
        handle->ownedPixels.reset();
        handle->ownsPixels = 0;
    }
    handle->loaderPixels = pixels;
    return 0;
}
