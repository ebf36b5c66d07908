// ROLLTOP, ROLLLEFT, WALLPAPERTOP and WALLPAPERLEFT (effect types 84 to
// 87): the new picture unrolls like a blind, a curl travelling from the
// top (or left) edge across it.
#pragma once

struct qbEffectState;

int RenderRoll(qbEffectState* state, int* done);
void FreeRollData(qbEffectState* state, int normalEnd);
// Draws the curl at the record's position into the curl picture and its
// planes, the pictures locked for the time of it; the record's extent,
// start and end tell where it lies.
void DrawRollWithLock(qbEffectState* state);
