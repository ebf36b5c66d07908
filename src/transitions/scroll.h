// The scrolls, effect types 47 to 54: the picture travels in from beyond a
// screen edge or corner to its place (or from there out when hiding),
// moved by the movement engine one step per frame.
#pragma once

struct qbEffectState;

int RenderScroll(qbEffectState* state, int* done);
// Puts a scrolled layer back at its start (refreshed unless the effect was
// stopped) and ends the move.
void EndScroll(qbEffectState* state, int normalEnd);
