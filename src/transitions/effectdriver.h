// The effect driver: checks the display, finds the object, prepares the
// pictures (on plain bitmaps, or in a layer's effect images in real time),
// picks the renderer by type and runs its frames to the end.
#pragma once

#include <cstdint>

#include "transitions/effectstate.h"

struct qbLayerState;

// Runs one effect: 0 when done, 1 when an asynchronous effect pushed its
// async-draw object, or an error code. Sets the request's retry when the
// display changed size and the effect must be run again.
int RunTransitionFX(qbEffectState& request);

// The renderer of a type, null when none draws it yet.
EffectRenderer RendererForType(int32_t type);

// Steps 1 to 15 of a run: checks, preparation and the renderer's
// initialisation. 0, -1 when the command does nothing, or an error code;
// the caller frees the state on anything but 0.
struct qbDisplay;
int StartEffect(qbEffectState* state, qbDisplay* display);

// The layer's effect images: a colour bitmap of the picture's size and a
// mask or (blend effects, pictures with alpha) an alpha plane, empty for a
// show and the whole picture for a hide, swapped into the layer's shown
// state. ERR_BITMAP, ERR_ALLOCMASK or ERR_ALLOCALPHA.
int AllocLayerEffectImages(qbEffectState* state);
// The effect images as they are before the first frame: empty for a show,
// the whole picture for a hide.
void ResetLayerEffectImages(qbEffectState* state);
// Gives the layer its own images back and frees the effect's.
void RestoreEffectLayer(qbEffectState* state);
// The picture a layer shows, cut out when the layer shows only a part of
// its source.
int PrepareLayerForEffect(qbEffectState* state, qbLayer* layer);

// Puts the effect's images in the layer's shown state, keeping the state's
// own pictures and source offset to be put back at the end.
void ShowEffectImagesIn(qbEffectState* state, qbLayerState* shown);

// Called after the renderer's initialisation (done -1) and after every
// frame of a synchronous effect with the state and whether it was the
// last; tests watch the frames through it. Null removes it.
using EffectFrameObserver = void (*)(const qbEffectState& state, int done, void* data);
void SetEffectFrameObserver(EffectFrameObserver observer, void* data);

void FinishEffect(qbEffectState* state, int normalEnd);
void FreeEffectState(qbEffectState* state, int normalEnd);
