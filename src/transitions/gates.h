// Gates and push, effect types 74 to 81: the halves of a picture slide
// apart or together, or the new picture pushes the old one out. Whole
// BGPics only.
#pragma once

#include <cstdint>

struct qbEffectState;

int RenderHOpenGate(qbEffectState* state, int* done);
int RenderHCloseGate(qbEffectState* state, int* done);
int RenderVOpenGate(qbEffectState* state, int* done);
int RenderVCloseGate(qbEffectState* state, int* done);
int RenderPush(qbEffectState* state, int* done);

// The inner edges of an opening gate after n steps: with half = size / 2
// rounded up, the second word half - n x step and the first size - half +
// n x step.
void SetGateEdges(qbEffectState* state, int32_t size, int32_t n);
