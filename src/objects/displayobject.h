// The display-object core: the one routine behind every command that shows
// an image object (brushes, brush parts, BGPic parts, anim frames). It finds the object,
// resolves positions and display options, and either adds a layer to the
// current BGPic (layers on) or transforms and blits the object into the
// current output (layers off).
#pragma once

#include <cstdint>
#include <functional>

#include "core/argapi.h"
#include "objects/objecttransform.h"

struct ScriptState;
struct qbLayer;
struct qbBitmap;
struct qbTransformOptions;
struct qbLayerOptions;

// Object types DisplayObject shows.
enum : int32_t { kShowBrush = 3, kShowAnim = 4, kShowBrushPart = 12, kShowBGPicPart = 13, kShowVideo = 50 };

// DisplayObject flags.
enum : uint32_t {
    kShowNeverDraw = 1,
    kShowForceTransform = 4,
};

struct qbDisplayObjectCall {
    int32_t type = kShowBrush;
    ObjectID id;
    int32_t srcX = 0;
    int32_t srcY = 0;
    int32_t frame = 0;  // anims: the frame index (0-based)
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;   // parts only; brushes and anims use their own size
    int32_t height = 0;
    int32_t copyPart = 0;  // BGPic parts: the rectangle with its layers
    int optArg = 0;        // argument index of the option table, 0 = none
    const qbTransformOptions* topts = nullptr;  // null: parsed from optArg or the defaults
    const qbLayerOptions* lopts = nullptr;
    uint32_t flags = 0;
    qbLayer** outLayer = nullptr;
    // With layers on: where the layer goes (-1 on top) and its AddLayer
    // flags, the replace flags among them.
    int32_t insertPos = -1;
    uint32_t addFlags = 2;  // kAddDisplayScale
    // Videos: the picture (width x height) the video library made; taken
    // over in every case, and the layer's own image with layers on.
    qbBitmap* videoImage = nullptr;
    // Sources the caller found itself (videos): found again after the
    // options when their script code may have run; 0 or the not-found error.
    std::function<int()> refind;
};

// 0 or an error code; no output is changed after an error.
int DisplayObject(ScriptState* L, const qbDisplayObjectCall& call);

// For renderers that draw a fresh image of their own while the current
// display has layers off: runs the options' filters on it, then fades it by
// the options' transparency (its alpha plane scaled, else one made from the
// mask, which is freed, or filled at the level; without a plane to be had
// the image stays as it is). With layers on, or no options, nothing.
void ApplyFiltersAndTransparency(const qbLayerOptions* lopts, qbObjectImage* image, int32_t width, int32_t height);

// Script commands: DisplayBrush(id, x, y[, options]) and
// DisplayBrushPart(id, srcx, srcy, x, y, width, height[, options]).
int cmdDisplayBrush(ScriptState* L);
int cmdDisplayBrushPart(ScriptState* L);
// DisplayBGPicPart(id, x, y, width, height[, dx, dy[, layers or options]]).
int cmdDisplayBGPicPart(ScriptState* L);
