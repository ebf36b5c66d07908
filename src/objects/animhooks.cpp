#include "objects/animhooks.h"

namespace {

qbAnimObjectHooks hooks{};

}  // namespace

void SetAnimObjectHooks(const qbAnimObjectHooks* h) { hooks = h ? *h : qbAnimObjectHooks{}; }

const qbAnimObjectHooks& AnimObjectHooks() { return hooks; }
