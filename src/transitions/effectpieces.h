// The frame start and end every renderer that uncovers the new picture in
// place shares.
#pragma once

#include "objects/layers.h"
#include "transitions/effectframe.h"
#include "transitions/effectstate.h"

// The layer is drawn while its effect runs.
inline void BeginEffectFrame(qbEffectState* s) {
    if (s->layer) s->layer->hidden = s->layer->pending = 0;
}

inline void EndEffectFrame(qbEffectState* s) {
    PresentEffectFrame(s);
    ++s->frame;
}
