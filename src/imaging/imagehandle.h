// Reference-counted picture handles: the pixels of a picture that a loader
// plugin, the inbuilt chain or the platform decoder loaded, or a plain ARGB
// buffer the host made itself (the pending backdrop of a display created
// before any display is open). Also the image-loader side of a plugin: the
// request record and the slots the chain calls.
#pragma once

#include <cstdint>
#include <memory>

#include "core/pixelbuffer.h"

struct qbAdapterPlugin;

// The record the host hands to an image loader's IsImage, LoadImage and
// GetImage; cleared before each IsImage and LoadImage call.
struct qbImageLoadRequest {
    int32_t width = 0;          // out
    int32_t height = 0;         // out
    int32_t rowLength = 0;      // out (LoadImage): pixels per row of GetImage's buffer
    int32_t hasAlpha = 0;       // out
    int32_t alphaNeeded = 0;    // out (LoadImage): treat as alpha mode 1
    int32_t isVector = 0;       // out: 1 for a scalable picture
    uint32_t flags = 0;         // in/out, kImageRequest* bits
    int32_t wantedWidth = 0;    // in (LoadImage): 0 own, negative percent
    int32_t wantedHeight = 0;   // in (LoadImage)
    int32_t nominalWidth = 0;   // out (vector loaders with kImageRequestRendered)
    int32_t nominalHeight = 0;  // out
    int32_t smooth = 0;         // in (LoadImage)
    uint32_t openFlags = 0;     // in: the caller's file-open mode
};
enum : uint32_t {
    kImageRequestRendered = 1,      // a vector loader rendered at the wanted size
    kImageRequestTransparency = 2,  // LoadImage: wanted; IsImage: the picture has it
};

// A loader plugin's image slots. Plugins without them (none are set until
// the plugin loader fills them) answer "not mine".
struct qbImageLoaderSlots {
    int (*IsImage)(const char* name, qbImageLoadRequest* request) = nullptr;
    void* (*LoadImage)(const char* name, qbImageLoadRequest* request) = nullptr;
    uint32_t* (*GetImage)(void* image, qbImageLoadRequest* request) = nullptr;
    void (*FreeImage)(void* image) = nullptr;
    // (image, six doubles: the 2x2 matrix, new width and height); 0 fails.
    int (*TransformImage)(void* image, const double* transform) = nullptr;
};
// The slots of a plugin's image loader, or null. The registry is written
// while plugins load on the main thread.
void SetImageLoaderSlots(qbAdapterPlugin* plugin, const qbImageLoaderSlots* slots);
const qbImageLoaderSlots* GetImageLoaderSlots(const qbAdapterPlugin* plugin);

struct qbImageHandle {
    qbAdapterPlugin* loader = nullptr;  // null for the inbuilt chain and host-made handles
    // The plugin's image, the chain's qbDecodedImage, or a host-made image.
    void* loaderImage = nullptr;
    uint32_t* loaderPixels = nullptr;
    PixelBuffer convertedPixels;
    int32_t references = 1;
    // The handle allocated loaderPixels (ownedPixels holds them).
    int32_t ownsPixels = 0;
    PixelBuffer ownedPixels;
    // Host-made handles carry their own functions in place of the loader's;
    // hostMarshalled asks for the marshalled call (which fails here).
    int32_t hostFunctions = 0;
    int32_t hostMarshalled = 0;
    uint32_t* (*hostGet)(void* image, qbImageLoadRequest* request) = nullptr;
    void (*hostFree)(void* image) = nullptr;
    int (*hostTransform)(void* image, const double* transform) = nullptr;
    int32_t nominalWidth = 0;
    int32_t nominalHeight = 0;
};

// A handle with one reference over a fresh, uncleared buffer of
// width x height words; null when the size is not positive, too large, or
// memory ran out.
qbImageHandle* NewImageHandleBuffer(int32_t width, int32_t height);
// A cleared handle with one reference and no pixels; null without memory.
qbImageHandle* NewImageHandle();
void RetainImageHandle(qbImageHandle* handle);
// The converted pixels when there are any, else the loader's.
uint32_t* GetImageHandlePixels(const qbImageHandle* handle);
void GetImageHandleBaseSize(const qbImageHandle* handle, int32_t* width, int32_t* height);
bool ImageHandleOwnsPixels(const qbImageHandle* handle);
// Drops one reference; the last one has the loader free its image (plugin
// FreeImage, host free function, or the chain's record), then frees the
// pixels the handle owns and the handle.
void ReleaseImageHandle(qbImageHandle* handle);

// Re-renders a vector picture at width x height through its loader's
// TransformImage (matrix: a, b, c, d) and takes GetImage's pixels as the
// handle's loader pixels (the converted pixels are dropped). 0, ERR_TFIMAGE
// (no transform function, or it failed) or ERR_MEM.
int TransformImageHandle(qbImageHandle* handle, const double matrix[4], int32_t width, int32_t height,
                         qbImageLoadRequest* request);

struct ImageHandleReleaser {
    void operator()(qbImageHandle* handle) const { ReleaseImageHandle(handle); }
};
using ImageHandlePtr = std::unique_ptr<qbImageHandle, ImageHandleReleaser>;
