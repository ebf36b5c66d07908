// Curtains, bars and quarters, effect types 24 to 29: two to four growing
// bands of the new picture per frame.
#pragma once

struct qbEffectState;

int RenderVOpenCurtain(qbEffectState* state, int* done);
int RenderVCloseCurtain(qbEffectState* state, int* done);
int RenderHOpenCurtain(qbEffectState* state, int* done);
int RenderHCloseCurtain(qbEffectState* state, int* done);
int RenderBars(qbEffectState* state, int* done);
int RenderQuarters(qbEffectState* state, int* done);
