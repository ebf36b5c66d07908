// The whole picture loader chain as callers see it: the image-loader
// plugins that the loader tag allows, then the inbuilt chain; then the
// wanted size, the alpha plane and the transparency checks. Also the probe
// behind IsPicture.
#include <new>
#include <string>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/loadertags.h"
#include "core/plugincaps.h"
#include "core/vectorname.h"
#include "imaging/imageformats.h"
#include "imaging/loaderchain.h"
#include "imaging/scale.h"

namespace {

// The image returned by a loader's GetImage, or null when the plugin can't
// be called here (a marshalled plugin answers nothing on this platform).
const qbImageLoaderSlots* CallableLoader(const qbPlugin* plugin) {
    if (!plugin || plugin->skipAsLoader || !AdapterCallable(plugin)) return nullptr;
    return GetImageLoaderSlots(plugin);
}

int FailWithName(int code, const char* name) {
    SetErrorDetail(name ? name : "");
    return code;
}

// A wanted side: 0 the loaded size, negative that many percent of it (never
// below one pixel).
int32_t ResolveWanted(int32_t wanted, int32_t loaded) {
    if (wanted == 0) return loaded;
    if (wanted > 0) return wanted;
    const int64_t percent = -static_cast<int64_t>(wanted);
    const int64_t size = percent * loaded / 100;
    return size < 1 ? 1 : size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size);
}

}  // namespace

int LoadImageThroughLoaders(const qbImageLoadParams& p, qbLoadedImage* out) {
    *out = qbLoadedImage{};
    ImageHandlePtr handle(NewImageHandle());
    if (!handle) return ERR_MEM;
    ParseLoaderTag(p.loaderTag, PLUGINCAPS_IMAGE);

    int32_t alphaMode = p.alphaMode;
    bool wantTransparency = p.wantTransparency != 0;
    int32_t wantedWidth = p.wantedWidth;
    int32_t wantedHeight = p.wantedHeight;
    int32_t width = 0, height = 0, rowLength = 0, hasAlpha = 0, isVector = 0, transparency = -1;
    uintptr_t loader = kLoaderInbuilt;
    std::unique_ptr<uint32_t[]> paletteCopy;
    bool taken = false;

    for (qbAdapterNode* node = GetPluginList(PLUGINCAPS_IMAGE); node && !taken; node = node->next) {
        qbPlugin* plugin = node->plugin;
        const qbImageLoaderSlots* slots = CallableLoader(plugin);
        if (!slots || !slots->LoadImage || !slots->GetImage) continue;
        if (!LoaderAllowedByTag(p.loaderTag, plugin->name, 1)) continue;
        if (plugin->onlyWhenNamed && !LoaderNamedByTag(p.loaderTag, plugin->name)) continue;
        qbImageLoadRequest request;
        request.wantedWidth = p.wantedWidth;
        request.wantedHeight = p.wantedHeight;
        request.smooth = p.smooth;
        request.openFlags = p.openMode;
        if (wantTransparency) request.flags |= kImageRequestTransparency;
        const std::string givenName = LoaderFileName(plugin, p.fileName);
        void* image = nullptr;
        {
            const LoaderCallFileName keep(givenName != p.fileName ? p.fileName : nullptr);
            image = slots->LoadImage(givenName.c_str(), &request);
        }
        if (!image) continue;
        taken = true;
        handle->loader = plugin;
        handle->loaderImage = image;
        width = request.width;
        height = request.height;
        rowLength = request.rowLength;
        hasAlpha = request.hasAlpha != 0;
        if (request.isVector == 1) {
            isVector = 1;
            if (request.flags & kImageRequestRendered) {
                handle->nominalWidth = request.nominalWidth;
                handle->nominalHeight = request.nominalHeight;
                wantedWidth = request.width;
                wantedHeight = request.height;
            } else {
                handle->nominalWidth = request.width;
                handle->nominalHeight = request.height;
            }
        }
        if (request.alphaNeeded) alphaMode = kAlphaRequired;
        handle->loaderPixels = slots->GetImage(image, &request);
        // The buffer holds rowLength pixels per row: a shorter row than the
        // width would have the scaler and the alpha plane read past it.
        if (!handle->loaderPixels || width <= 0 || height <= 0 || rowLength < width)
            return FailWithName(ERR_LOADPICTURE2, p.fileName);
        loader = reinterpret_cast<uintptr_t>(plugin);
        if (p.wantPaletteCopy) {
            paletteCopy.reset(new (std::nothrow) uint32_t[256]());
            if (!paletteCopy) return ERR_MEM;
        }
    }

    if (!taken) {
        qbInbuiltLoadResult inbuilt;
        if (int err = LoadImageInbuilt(p.fileName, p.loaderTag, p.adapterTag, p.openMode, p.palette, p.callerColour,
                                       wantTransparency ? 2 : p.keyColourMode, false, p.wantPaletteCopy, &inbuilt))
            return err;
        transparency = inbuilt.transparency;
        hasAlpha = inbuilt.hasAlpha;
        if (transparency == -2) {
            // The picture carries its own transparency: it becomes alpha.
            transparency = -1;
            hasAlpha = 1;
            alphaMode = kAlphaRequired;
            wantTransparency = false;
        }
        width = inbuilt.width;
        height = inbuilt.height;
        rowLength = width;
        loader = inbuilt.native ? kLoaderNative : kLoaderInbuilt;
        paletteCopy = std::move(inbuilt.paletteCopy);
        handle->loaderPixels = const_cast<uint32_t*>(GetImageRecordData(inbuilt.image.get()));
        handle->loaderImage = inbuilt.image.release();
        if (!handle->loaderPixels || width <= 0 || height <= 0) return FailWithName(ERR_LOADPICTURE2, p.fileName);
    }

    const int32_t targetWidth = ResolveWanted(wantedWidth, width);
    const int32_t targetHeight = ResolveWanted(wantedHeight, height);
    if (targetWidth != width || targetHeight != height) {
        if (isVector) {
            const double matrix[4] = {static_cast<double>(targetWidth) / width, 0.0, 0.0,
                                      static_cast<double>(targetHeight) / height};
            qbImageLoadRequest request;
            if (int err = TransformImageHandle(handle.get(), matrix, targetWidth, targetHeight, &request)) return err;
            rowLength = request.rowLength > targetWidth ? request.rowLength : targetWidth;
            if (request.hasAlpha) hasAlpha = 1;
        } else {
            PixelBuffer scaled;
            if (int err = AllocImagePixels(targetWidth, targetHeight, kPixelsNotRead, &scaled)) return err;
            ScaleRequest scale;
            scale.srcPixels = handle->loaderPixels;
            scale.srcWidth = width;
            scale.srcHeight = height;
            scale.srcRowLength = rowLength;
            scale.dstPixels = scaled.get();
            scale.dstWidth = targetWidth;
            scale.dstHeight = targetHeight;
            scale.dstRowLength = targetWidth;
            scale.bytesPerPixel = 4;
            scale.pixelFormat = 10;
            scale.smooth = p.smooth != 0;
            ScalePixelBuffer(scale);
            handle->convertedPixels = std::move(scaled);
            rowLength = targetWidth;
        }
        width = targetWidth;
        height = targetHeight;
    }

    BitmapPtr alpha;
    bool testTransparency = true;
    if ((alphaMode == kAlphaRequired || alphaMode == kAlphaIfPresent) && hasAlpha) {
        alpha.reset(CreateAlphaFromARGB(GetImageHandlePixels(handle.get()), width, height, rowLength));
        if (!alpha) return ERR_MEM;
    } else if (alphaMode == kAlphaRequired) {
        return FailWithName(ERR_NOALPHA, p.fileName);
    } else if (alphaMode == kAlphaIfPresent) {
        testTransparency = false;
    }
    if (testTransparency && wantTransparency && !alpha && transparency == -1)
        return FailWithName(ERR_NOTRANSPARENCY, p.fileName);

    out->handle = std::move(handle);
    out->alpha = std::move(alpha);
    out->paletteCopy = std::move(paletteCopy);
    out->transparency = transparency;
    out->width = width;
    out->height = height;
    out->rowLength = rowLength;
    out->hasAlpha = hasAlpha;
    out->isVector = isVector;
    out->loader = loader;
    return 0;
}

int ProbeImageFile(const char* fileName, const char* loaderTag, const char* adapterTag, uint32_t openMode,
                   qbImageProbe* out) {
    *out = qbImageProbe{};
    for (qbAdapterNode* node = GetPluginList(PLUGINCAPS_IMAGE); node; node = node->next) {
        qbPlugin* plugin = node->plugin;
        const qbImageLoaderSlots* slots = CallableLoader(plugin);
        if (!slots || !slots->IsImage || !LoaderAllowedByTag(loaderTag, plugin->name, 1)) continue;
        qbImageLoadRequest request;
        request.openFlags = openMode;
        if (!slots->IsImage(fileName, &request)) continue;
        out->width = request.width;
        out->height = request.height;
        out->hasAlpha = request.hasAlpha != 0;
        out->isVector = request.isVector == 1;
        out->transparency = (request.flags & kImageRequestTransparency) != 0;
        return 1;
    }
    qbInbuiltLoadResult probe;
    probe.transparency = 0;
    if (LoadImageInbuilt(fileName, loaderTag, adapterTag, openMode, nullptr, 0xFFFFFFFFu, 0, true, false, &probe))
        return 0;
    out->width = probe.width;
    out->height = probe.height;
    out->hasAlpha = probe.hasAlpha;
    out->transparency = probe.transparency;
    return 1;
}
