// Rectangles and the diagonal: the new picture grows as a rectangle from
// an anchor (types 38 to 46), the old one shrinks towards one (88 to 96),
// or a staircase of square blocks crosses it from the top-left (83).
#pragma once

struct qbEffectState;

int RenderRect(qbEffectState* state, int* done);
int RenderRectBack(qbEffectState* state, int* done);
int RenderDiagonal(qbEffectState* state, int* done);
