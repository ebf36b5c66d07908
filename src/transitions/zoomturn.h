// Zoom in and out (types 118, 119) and the turn downs (128 to 131): the
// pictures scaled anew every frame. Whole BGPics only.
#pragma once

struct qbEffectState;

int RenderZoomInOut(qbEffectState* state, int* done);
int RenderTurnDown(qbEffectState* state, int* done);
