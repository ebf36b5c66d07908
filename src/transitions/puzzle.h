// The puzzle, effect type 82: square tiles of the new picture, one per
// frame, in a random order fixed when the effect starts.
#pragma once

#include <cstdint>

struct qbEffectState;

int RenderPuzzle(qbEffectState* state, int* done);
void FreePuzzleData(qbEffectState* state, int normalEnd);

// Fills order[0..n-1] with a permutation of 0..n-1, one draw in [0, 1)
// per slot: slot j takes (int)(n x draw), or the nearest free number below
// it, or, with none below, the nearest free number above it. Near-linear
// in n. ERR_MEM when its work tables cannot be had.
int FillPuzzleOrder(int32_t* order, int32_t n, double (*draw)());
