// The anim side of the layer and movement commands: anims that layers make
// their own, their frames inserted and removed, the blank anims CreateLayer
// makes, and what a moving anim holds.
#pragma once

struct qbAnimObjectHooks;

// Fills the entries of the hook table that this file answers.
void FillAnimLayerHooks(qbAnimObjectHooks* hooks);
