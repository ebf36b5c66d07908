// The strip walks, effect types 105 to 110: SPIRAL, SWISS, QUADRECT,
// HSPLIT, VSPLIT and UPNDOWN uncover the new picture piece by piece in a
// fixed order. They keep no pictures; a replay repeats their frames.
#pragma once

struct qbEffectState;

int RenderSpiral(qbEffectState* state, int* done);
int RenderSwiss(qbEffectState* state, int* done);
int RenderQuadRect(qbEffectState* state, int* done);
int RenderSplit(qbEffectState* state, int* done);
int RenderUpDown(qbEffectState* state, int* done);
