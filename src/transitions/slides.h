// Slides, cards, crushes and flip coins (effect types 101 to 104, 111,
// 112 and 120 to 127): the old and the new picture moved or squashed
// whole, over a fill colour where neither lies. Whole BGPics only.
#pragma once

struct qbEffectState;

int RenderSlide(qbEffectState* state, int* done);
int RenderCard(qbEffectState* state, int* done);
int RenderCrush(qbEffectState* state, int* done);
int RenderFlipCoin(qbEffectState* state, int* done);
