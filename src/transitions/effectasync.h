// Effects the script steps itself: the state handed to an async-draw
// object, its frame step and queries, jumps to any frame and the rebuild
// after the layer's picture changed size.
#pragma once

#include <cstdint>
#include <memory>

#include "transitions/effectstate.h"

// Takes a started effect. Without stepSync it becomes an async-draw object
// whose id is pushed: 1 (one result). With stepSync the object is stepped
// here to its end: 0. Or an error code, the state freed.
int RunAsyncEffect(std::unique_ptr<qbEffectState> state);

// The async-draw callbacks; the userdata is the state.
int EffectAsyncStep(void* state, int32_t* done);
int32_t EffectAsyncQuery(int32_t code, void* data, void* state);

// Brings a real-time layer effect to frame n: one seek call for the
// families that seek, else frames 1..n drawn again unseen.
int SeekEffectFrame(qbEffectState* state, int32_t frame, bool force);

// Bit 1: the current BGPic's pending layer redraw into background; bit 2:
// the emulated BGPic's into image, each only when asked in which and
// pending. Returns the bits redrawn.
int RefreshEmulatedBGPic(qbEffectState* state, int which);
