// Stripes and blinds, effect types 0 to 23: the picture cut into parallel
// bands, each filled by a growing strip.
#pragma once

struct qbEffectState;

int RenderHStripes(qbEffectState* state, int* done);
int RenderVStripes(qbEffectState* state, int* done);
int RenderHBlinds(qbEffectState* state, int* done);
int RenderVBlinds(qbEffectState* state, int* done);
