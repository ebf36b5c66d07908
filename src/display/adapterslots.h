// The entry points of a display adapter plugin: a second implementation of
// every window, pointer, input and screen operation, which the display
// wrappers call instead of the platform backend while the adapter is
// installed. Handles are the adapter's own; the host only hands them back.
#pragma once

#include <cstdint>
#include <utility>

struct ScriptState;

// {tag, value} pairs ending with tag 0.
struct qbAdapterTag {
    uint32_t tag;
    intptr_t value;
};

// The eleven words of a blit: to a display (BlitToDisplay) the plane words are
// the mask and the alpha plane; between bitmaps the plane of a masked or alpha
// blit sits in the mask word and the scale words stay 0.
struct qbAdapterBlitBlock {
    int32_t srcX = 0;
    int32_t srcY = 0;
    int32_t dstX = 0;
    int32_t dstY = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t scaleWidth = 0;
    int32_t scaleHeight = 0;
    int32_t smooth = 0;
    void* mask = nullptr;
    void* alpha = nullptr;
};

// One monitor of GetMonitorInfo (what 0); the array ends at a zero size.
struct qbAdapterMonitor {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

// One display mode of GetMonitorInfo (what 1); the array ends at a zero size.
struct qbAdapterMode {
    int32_t width;
    int32_t height;
};

using AdapterMainCallback = int (*)(ScriptState* L);

struct qbDisplayAdapterSlots {
    int (*HandleEvents)(void* reserved) = nullptr;
    int (*WaitEvents)(void* reserved) = nullptr;
    int (*ForceEventLoopIteration)(void* reserved) = nullptr;
    int (*Sleep)(int milliseconds) = nullptr;
    int (*VWait)(void* handle, const qbAdapterTag* tags) = nullptr;
    int (*DetermineBorderSizes)(uint32_t style, int32_t* left, int32_t* right, int32_t* top, int32_t* bottom) = nullptr;
    void* (*OpenDisplay)(const char* title, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t style,
                         const qbAdapterTag* tags) = nullptr;
    int (*CloseDisplay)(void* handle) = nullptr;
    int (*ChangeBufferSize)(void* handle, int32_t width, int32_t height, int32_t reserved1, void* reserved2) = nullptr;
    int (*ShowHideDisplay)(void* handle, int show, void* reserved) = nullptr;
    int (*SizeMoveDisplay)(void* handle, int32_t x, int32_t y, int32_t width, int32_t height, int32_t reserved1,
                           void* reserved2) = nullptr;
    int (*SetDisplayTitle)(void* handle, const char* title) = nullptr;
    int (*ActivateDisplay)(void* handle, int on) = nullptr;
    int (*SetDisplayAttributes)(void* handle, const qbAdapterTag* tags) = nullptr;
    void* (*CreatePointer)(const uint32_t* argb, int32_t width, int32_t height, int32_t hotX, int32_t hotY,
                           void* reserved) = nullptr;
    void (*FreePointer)(void* pointer) = nullptr;
    int (*SetPointer)(void* handle, int kind, void* pointer) = nullptr;
    int (*ShowHidePointer)(void* handle, int show) = nullptr;
    int (*MovePointer)(void* handle, int32_t x, int32_t y) = nullptr;
    int (*GetMousePos)(void* handle, int32_t* x, int32_t* y) = nullptr;
    uint32_t (*GetQualifiers)(void* handle) = nullptr;
    int (*BltBitMap)(void* source, void* destination, const qbAdapterBlitBlock* block, uint32_t mode,
                     void* reserved) = nullptr;
    int (*RectFill)(void* handle, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour, uint32_t mode,
                    void* reserved) = nullptr;
    int (*WritePixel)(void* handle, int32_t x, int32_t y, uint32_t colour, uint32_t mode, void* reserved) = nullptr;
    int (*Line)(void* handle, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, uint32_t mode,
                void* reserved) = nullptr;
    // what 0: monitors (qbAdapterMonitor), 1: display modes (qbAdapterMode).
    int (*GetMonitorInfo)(int what, int monitor, void** out, void* reserved) = nullptr;
    void (*FreeMonitorInfo)(int what, void* list) = nullptr;
    // ARGB pixels, width x height, row after row.
    uint32_t* (*GrabScreenPixels)(void* handle, int32_t x, int32_t y, int32_t width, int32_t height, int32_t reserved1,
                                  void* reserved2) = nullptr;
    void (*FreeGrabScreenPixels)(uint32_t* pixels) = nullptr;
    int (*AdapterMainLoop)(ScriptState* L, AdapterMainCallback callback, ScriptState* userData, int reserved1,
                           void* reserved2) = nullptr;
    int (*BeginDoubleBuffer)(void* handle, void* reserved) = nullptr;
    int (*EndDoubleBuffer)(void* handle, void* reserved) = nullptr;
    int (*Flip)(void* handle, const qbAdapterTag* tags) = nullptr;
    int (*Cls)(void* handle, uint32_t colour, void* reserved) = nullptr;
    // The bitmap slots belong to the adapter-owned bitmaps.
    void* (*AllocVideoBitMap)(int32_t width, int32_t height, uint32_t flags, uint32_t* state,
                              const qbAdapterTag* tags) = nullptr;
    void (*FreeVideoBitMap)(void* bitmap) = nullptr;
    void* (*ReadVideoPixels)(void* bitmap, const qbAdapterTag* tags) = nullptr;
    void (*FreeVideoPixels)(void* pixels) = nullptr;
    int (*DoVideoBitMapMethod)(void* bitmap, int method, const qbAdapterTag* tags) = nullptr;
    void* (*AllocBitMap)(int32_t width, int32_t height, uint32_t flags, const qbAdapterTag* tags) = nullptr;
    void (*FreeBitMap)(void* bitmap) = nullptr;
    void* (*LockBitMap)(void* bitmap, uint32_t flags, const qbAdapterTag* tags) = nullptr;
    void (*UnLockBitMap)(void* lock) = nullptr;
    intptr_t (*GetBitMapAttr)(void* bitmap, int attribute) = nullptr;
    // The requester adapter's slots, each enabled by its requester flag.
    // Every text or record they answer goes back to FreeRequest with its
    // kind; a null answer is a cancel.
    int (*SystemRequest)(void* handle, const char* title, const char* body, uint32_t style, int32_t* result,
                         const qbAdapterTag* tags) = nullptr;
    int (*FileRequest)(void* handle, const char* title, int mode, char** result, const qbAdapterTag* tags) = nullptr;
    int (*PathRequest)(void* handle, const char* title, int mode, char** result, const qbAdapterTag* tags) = nullptr;
    int (*StringRequest)(void* handle, const char* title, const char* body, uint32_t style, char** result,
                         const qbAdapterTag* tags) = nullptr;
    int (*ListRequest)(void* handle, const char* title, const char* body, const char* entries, int reserved,
                       int32_t* result, const qbAdapterTag* tags) = nullptr;
    int (*FontRequest)(void* handle, const char* title, int reserved, char** result, uint32_t* style,
                       const qbAdapterTag* tags) = nullptr;
    int (*ColorRequest)(void* handle, const char* title, int reserved, int32_t* result,
                        const qbAdapterTag* tags) = nullptr;
    void (*FreeRequest)(int kind, void* result) = nullptr;
};

// Requester flags of SetRequesterAdapter: which requesters the adapter takes.
enum : uint32_t {
    kRequesterNoReplace = 1,
    kRequesterSystem = 2,
    kRequesterFile = 4,
    kRequesterPath = 8,
    kRequesterString = 16,
    kRequesterList = 32,
    kRequesterFont = 64,
    kRequesterColour = 128,
};

// Kinds of FreeRequest.
enum : int { kFreeRequestFile = 0, kFreeRequestPath = 1, kFreeRequestString = 2, kFreeRequestFont = 3 };

// Calls a slot the plugin may have left empty; an empty slot answers like a
// slot that did nothing (0 or null).
template <class R, class... P, class... A>
R CallSlot(R (*slot)(P...), A&&... args) {
    if (!slot) return R();
    return slot(std::forward<A>(args)...);
}
