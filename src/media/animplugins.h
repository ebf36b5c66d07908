// What the anim-format layer reaches of anim-loader plugins: the five slots
// OpenAnim, LoadFrame, FreeFrame, GetFrameDelay and CloseAnim. The plugin
// loader sits above this folder, so it installs them when it loads a plugin.
#pragma once

#include <cstdint>

#include "core/plugin.h"

// The 32-byte record OpenAnim fills.
struct qbAnimOpenRequest {
    uint32_t openFlags = 0;
    uint32_t flags = 0;  // kAnimRequestTransparency
    int32_t width = 0, height = 0, frameCount = 0, transparency = 0;  // out
    uint32_t reserved[2] = {};
};
// The 32-byte record LoadFrame takes.
struct qbAnimFrameRequest {
    int32_t argument = 0;
    uint32_t flags = 0;  // kAnimRequestTransparency
    int32_t transparency = 0;  // out
    uint32_t reserved[5] = {};
};
static_assert(sizeof(qbAnimOpenRequest) == 32 && sizeof(qbAnimFrameRequest) == 32);
constexpr uint32_t kAnimRequestTransparency = 1;

struct qbAnimLoaderSlots {
    void* (*OpenAnim)(const char* name, qbAnimOpenRequest* request) = nullptr;
    uint32_t* (*LoadFrame)(void* anim, int32_t frame, qbAnimFrameRequest* request) = nullptr;
    void (*FreeFrame)(void* anim, uint32_t* pixels) = nullptr;
    int32_t (*GetFrameDelay)(void* anim, int32_t frame) = nullptr;
    void (*CloseAnim)(void* anim) = nullptr;
};

// The slots of a plugin's anim loader, or null. Written while plugins load
// on the main thread; null slots forget the plugin.
void SetAnimLoaderSlots(const qbAdapterPlugin* plugin, const qbAnimLoaderSlots* slots);
const qbAnimLoaderSlots* GetAnimLoaderSlots(const qbAdapterPlugin* plugin);
