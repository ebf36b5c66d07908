// The flows, effect types 70 to 73: the new picture settles band by band
// from one edge while its last settled line is smeared over the rest, as
// if it ran down like paint.
#pragma once

struct qbEffectState;

int RenderHFlowTop(qbEffectState* state, int* done);
int RenderHFlowBottom(qbEffectState* state, int* done);
int RenderVFlowLeft(qbEffectState* state, int* done);
int RenderVFlowRight(qbEffectState* state, int* done);
// The flows' cleanup: frees the work picture.
void FreeFlowData(qbEffectState* state, int normalEnd);
