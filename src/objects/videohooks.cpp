#include "objects/videohooks.h"

namespace {
qbVideoLayerHooks hooks;
}

void SetVideoLayerHooks(const qbVideoLayerHooks* installed) { hooks = installed ? *installed : qbVideoLayerHooks{}; }
const qbVideoLayerHooks& VideoLayerHooks() { return hooks; }
