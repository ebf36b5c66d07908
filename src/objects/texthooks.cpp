// The text library's hooks for the layers, installed when it opens.
#include "objects/texthooks.h"

namespace {
qbTextLayerHooks installed{};
}

void SetTextLayerHooks(const qbTextLayerHooks* hooks) { installed = hooks ? *hooks : qbTextLayerHooks{}; }
const qbTextLayerHooks& TextLayerHooks() { return installed; }
