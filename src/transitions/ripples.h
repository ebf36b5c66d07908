// Effects that displace the pictures while they blend: water rings from
// the centre (WATER1-4, 134-137) and a swirl that twists and untwists
// (STRUDEL, 138).
#pragma once

struct qbEffectState;

int RenderWater(qbEffectState* state, int* done);
void FreeWaterData(qbEffectState* state, int normalEnd);
int RenderStrudel(qbEffectState* state, int* done);
void FreeStrudelData(qbEffectState* state, int normalEnd);
