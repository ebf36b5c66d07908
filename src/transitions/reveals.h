// Reveals and lines, effect types 30 to 37: one band wiped across the
// picture from an edge, or the picture drawn a row or column at a time.
#pragma once

struct qbEffectState;

int RenderRevealLeft(qbEffectState* state, int* done);
int RenderRevealRight(qbEffectState* state, int* done);
int RenderRevealTop(qbEffectState* state, int* done);
int RenderRevealBottom(qbEffectState* state, int* done);
int RenderVLines2(qbEffectState* state, int* done);
int RenderHLines2(qbEffectState* state, int* done);
int RenderHLines(qbEffectState* state, int* done);
int RenderVLines(qbEffectState* state, int* done);
