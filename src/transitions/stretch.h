// The stretches and the directional zooms, effect types 55 to 69: the
// whole new picture scaled to a rectangle that grows from an edge, a
// centre line or an anchor point; hiding shrinks it and gives back what
// it leaves.
#pragma once

#include <cstdint>

struct qbEffectState;

int RenderStretchZoom(qbEffectState* state, int* done);
// The moving extent after n steps: n x step where it grows, size - n x
// step where it shrinks (STRETCHRIGHT and STRETCHBOTTOM shrink when
// showing, hiding turns each round); 0 for other types.
int32_t StretchEdgeSize(const qbEffectState* state, int32_t n);
// Frees the hiding work picture.
void EndStretch(qbEffectState* state, int normalEnd);
