// Reference-counted picture handles: the pixels of a loaded picture, or a
// plain ARGB buffer the host made itself (the pending backdrop of a display
// created before any display is open).
#pragma once

#include <cstdint>
#include <memory>

struct qbAdapterPlugin;

struct qbImageHandle {
    qbAdapterPlugin* loader = nullptr;
    void* loaderImage = nullptr;
    uint32_t* loaderPixels = nullptr;
    std::unique_ptr<uint32_t[]> convertedPixels;
    int32_t references = 1;
    // The handle allocated loaderPixels (ownedPixels holds them).
    int32_t ownsPixels = 0;
    std::unique_ptr<uint32_t[]> ownedPixels;
    // Host-made handles carry their own free function.
    int32_t hostFunctions = 0;
    void (*hostFree)(void* image) = nullptr;
    int32_t nominalWidth = 0;
    int32_t nominalHeight = 0;
};

// A handle with one reference over a fresh, uncleared buffer of
// width x height words; null when the size is not positive or memory ran out.
qbImageHandle* NewImageHandleBuffer(int32_t width, int32_t height);
void RetainImageHandle(qbImageHandle* handle);
// The converted pixels when there are any, else the loader's.
uint32_t* GetImageHandlePixels(const qbImageHandle* handle);
bool ImageHandleOwnsPixels(const qbImageHandle* handle);
// Drops one reference; the last one frees the handle and what it owns.
void ReleaseImageHandle(qbImageHandle* handle);
