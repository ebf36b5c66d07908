// HSTRANGEPUSH and VSTRANGEPUSH (effect types 99 and 100): the rows of
// one parity come in from one side, the others from the opposite side.
#pragma once

struct qbEffectState;

int RenderStrangePush(qbEffectState* state, int* done);
void FreeStrangePushData(qbEffectState* state, int normalEnd);
// The two planes the halves are drawn through: copies of the picture's
// alpha plane (or of its mask, all set without one) with the even rows
// cleared in the first and the odd rows in the second. 0,
// ERR_ALLOCALPHA or ERR_ALLOCMASK.
int MakeInterlacedPlanes(qbEffectState* state);
