// The record through which all pixel access to a locked bitmap runs.
#pragma once

#include <cstdint>

struct qbBitmapLock {
    void* pixels = nullptr;       // first row
    uint32_t lockToken = 0;       // non-zero while locked; 0 = the lock failed
    uint32_t pixelFormat = 0;
    uint32_t bytesPerPixel = 0;
    int32_t rowLength = 0;        // distance between rows in pixels, not bytes
    int32_t width = 0;
    int32_t height = 0;
    uint32_t noUnlock = 0;        // 1: plain memory of ours, unlocking does nothing
    void* nativeContext = nullptr;  // the platform bitmap's own drawing context
};
