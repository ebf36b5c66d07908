// Effects that change colours in place instead of moving edges: the
// cross-fade, fades and blends through a colour, and the helpers the
// blending families share (the layer's alpha copy, the frame's refresh
// with the border and shadow fading along).
#pragma once

#include <cstdint>

struct qbBGPic;
struct qbBitmap;
struct qbEffectState;
struct qbLayer;

// One layer under the effect's layer as a frame finds it, compared with
// the record taken at the start.
struct qbCoverEntry {
    qbLayer* layer;
    int32_t x, y, width, height;
    int32_t words[3];
};

// The cross-fade's record. With a display adapter that blends frames
// itself (bitmap capability 2) the frames show the prepared final picture
// (composite); in a layer that holds while nothing under or over the layer
// changes, and once something does it is off for the rest of the effect.
struct qbCrossFadeData {
    int32_t level;
    int32_t prepared;
    int32_t layerX, layerY;
    qbBitmap* work;
    qbBitmap* spare;
    qbBitmap* composite;
    qbBitmap* alphaCopy;
    int32_t coverCount;
    qbCoverEntry* coverSaved;
    qbCoverEntry* coverNow;
};

// CROSSFADE (115): the old picture mixed into the new one.
int RenderCrossFade(qbEffectState* state, int* done);
void FreeCrossFadeData(qbEffectState* state, int normalEnd);
// FADE (116) and BLEND (117): through a colour (the parameter, -1 a random
// one) and back.
int RenderFadeBlend(qbEffectState* state, int* done);
void FreeFadeData(qbEffectState* state, int normalEnd);

// An alpha plane of the picture's opacity: 255 where the mask is set, a
// copy of the alpha plane, or 255 everywhere with neither. Null when it
// cannot be made.
qbBitmap* MakeEffectAlphaPlane(qbBitmap* mask, qbBitmap* alpha, int32_t width, int32_t height);
// Counts (and with entries records) the shown layers below layer that
// overlap it.
int32_t CollectLayersBelow(qbBGPic* bgpic, qbLayer* layer, qbCoverEntry* entries);
// 1 when a shown layer below layer that overlaps it feeds an async-draw
// object.
int AsyncSourceBelowOverlaps(qbBGPic* bgpic, qbLayer* layer);

// The end of a blending frame in a layer: the border and the shadow take
// the frame's blendLevel (unless the script asked them not to) and the
// layer's place is shown; on plain bitmaps what a scaled display needs.
void ShowBlendFrame(qbEffectState* state);
