// The in-memory backend's mouse pointers: every image it is given, which
// one each window shows, and where the pointer was last moved.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform_ops.h"

namespace null_backend {

struct PointerImage {
    std::vector<uint32_t> argb;
    int width = 0;
    int height = 0;
    int hotX = 0;
    int hotY = 0;
};

struct WindowPointer {
    const qbNativePointer* pointer = nullptr;
    int kind = 0;
    bool hidden = false;
    int moves = 0;
    int x = 0;
    int y = 0;
};

// Null for a handle that is not (or no longer) one of the backend's.
const PointerImage* GetPointerImage(const qbNativePointer* pointer);
int LivePointerCount();
WindowPointer GetWindowPointer(const qbDisplay* display);

void FillPointerOps(qbPlatformOps& ops);
void ResetPointers();

}  // namespace null_backend
