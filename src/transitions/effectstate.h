// The state of one running transition effect: what the commands fill in,
// what the driver prepares, and what every frame renderer reads and writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/argapi.h"

struct ScriptState;
struct qbBGPic;
struct qbBitmap;
struct qbLayer;
struct qbEffectState;

// What an effect shows or hides (the shared object type numbers).
enum : int32_t {
    kEffectBGPic = 1,
    kEffectBrush = 3,
    kEffectTextObject = 8,
    kEffectBGPicPart = 13,
    kEffectLayer = 22,
    kEffectHideLayer = 25,
    kEffectRemoveLayer = 26,
};

constexpr int32_t kEffectCount = 140;       // types 0..139
constexpr int32_t kRandomEffect = 140;      // asks for a random type
constexpr int32_t kUnnamedEffect = 113;     // no name, no renderer
constexpr int32_t kRandomParameter = -1;    // the renderer picks its own
constexpr int32_t kEffectPositionNotGiven = 99999;

// Speed presets; any other value is the step itself.
enum : int32_t { kNormalSpeed = -1, kFastSpeed = -2, kSlowSpeed = -3 };

// Flags of the blits of a real-time layer effect.
enum : uint32_t {
    kStripCombine = 1,
    kStripThroughPlane = 2,
    kStripClear = 4,
    kStripNoShow = 8,
    kStripKeepLayerPlanes = 16,
    kStripRectPresent = 32,
    kStripOpaque = 64,
    // The pixels are already in the destination (scaled there): only the
    // planes and the showing are left to do.
    kStripPixelsInPlace = 128,
};

// 0 or an error code; done is null for the initialisation call.
using EffectRenderer = int (*)(qbEffectState* state, int* done);
// normalEnd is 0 after an error or an abandoned effect.
using EffectCleanup = void (*)(qbEffectState* state, int normalEnd);

// The images a real-time layer effect lends to the layer's shown state
// (LendLayerPictures; the state keeps its own, RestoreEffectLayer gives
// them back). These are the effect's alone: the layer never frees them.
struct qbEffectLayerImages {
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
    // The layer's state showed a transformed image when the effect began.
    int32_t layerWasTransformed = 0;
    int32_t x = 0, y = 0;  // the image's place on the BGPic
    // The image holds the effect's picture everywhere (a showing effect's
    // image is filled with it when made): a piece of the picture then only
    // needs its plane set. Anything else drawn into the image clears it.
    int32_t holdsPicture = 0;
};

struct qbEffectState {
    ScriptState* script = nullptr;
    qbLayer* layer = nullptr;
    qbBitmap* target = nullptr;  // null: the display's picture
    EffectRenderer renderer = nullptr;
    EffectCleanup cleanup = nullptr;
    int32_t objectType = 0;
    int32_t type = kRandomEffect;
    ObjectID id;
    int32_t x = 0, y = 0;
    int32_t speed = kNormalSpeed;
    int32_t initialSpeed = kNormalSpeed;
    int32_t parameter = kRandomParameter;
    int32_t width = 0, height = 0;
    int32_t screenWidth = 0, screenHeight = 0;
    int32_t undoLevel = 0;
    qbBitmap* image = nullptr;       // the new picture
    qbBitmap* background = nullptr;  // the old picture under the effect rectangle
    qbBitmap* bgpicImage = nullptr;  // a BGPic transition's composed new picture
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
    // Scaled pieces go through this picture, kept from frame to frame (and
    // by the display from effect to effect), made again only when a piece
    // outgrows it.
    qbBitmap* scaledPiece = nullptr;
    int32_t layerImagesSet = 0;
    // The layer's picture must be read again before the next frame: a
    // reading failed, and the effect has no images to draw into.
    int32_t rereadLayer = 0;
    int32_t scrollX = 0, scrollY = 0;
    qbBGPic* bgpic = nullptr;  // the current BGPic
    qbBGPic* newBGPic = nullptr;
    int32_t ownsImage = 0, ownsMask = 0, ownsAlpha = 0;
    int32_t srcX = 0, srcY = 0;
    int32_t layers = 0;
    int32_t reverse = 0;
    uint32_t blitFlags = 0;
    int32_t autoScaled = 0;
    int32_t async = 0;
    int32_t retry = 0;
    int32_t sizeChanged = 0;
    int32_t realtime = 0;
    int32_t forceRealtime = 0;
    int32_t resetLayerLater = 0;
    int32_t removeLayerLater = 0;
    int32_t addedLayer = 0;  // the effect made the layer (brush, BGPic part)
    int32_t* useCount = nullptr;
    int32_t* emuUseCount = nullptr;  // the emulated BGPic's, held as useCount
    int32_t bgpicX = kEffectPositionNotGiven, bgpicY = kEffectPositionNotGiven;
    int32_t bgpicEmu = 0;
    qbBGPic* emuBGPic = nullptr;
    std::vector<std::byte> priv;  // the renderer's private record
    qbEffectLayerImages layerImages;
    int32_t phase = 0;
    int32_t frame = 0, frameCount = 0;
    int32_t replaying = 0, rebuilding = 0, finished = 0, layerHasExtras = 0;
    int32_t blendLevel = 0;
    int32_t noBorderFade = 0;
    int32_t displayFlag80 = 0;
    int32_t stepSync = 0;
    int32_t scroll = 0;
    // What a real-time frame changed, shown together when the frame ends
    // (screen coordinates).
    struct ShownRect {
        int32_t x, y, w, h;
    };
    std::vector<ShownRect> shownRects;
};

// The renderer's private record, zero-filled at its family's size. Returns
// null when the memory is not there (the renderer answers ERR_MEM).
template <class T>
T* AllocEffectPriv(qbEffectState* state) {
    try {
        state->priv.assign(sizeof(T), std::byte{0});
    } catch (...) {
        return nullptr;
    }
    return reinterpret_cast<T*>(state->priv.data());
}
template <class T>
T* EffectPriv(qbEffectState* state) {
    return state->priv.size() >= sizeof(T) ? reinterpret_cast<T*>(state->priv.data()) : nullptr;
}
