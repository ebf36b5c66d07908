// The free functions of the backend operations, each calling the active
// backend's table.
#include <atomic>

#include "platform/platform.h"

namespace {

// Other threads call PostWakeEvent while the main thread may swap backends.
std::atomic<const qbPlatformOps*> active{nullptr};

}  // namespace

void SetPlatformBackend(const qbPlatformOps* ops) { active.store(ops, std::memory_order_release); }

const qbPlatformOps& ActivePlatformOps() {
    const qbPlatformOps* ops = active.load(std::memory_order_acquire);
    return ops ? *ops : NullPlatformOps();
}

#define QB_OP_FORWARD(ret, op, params, args) \
    ret op params { return ActivePlatformOps().op args; }
QB_PLATFORM_OPERATIONS(QB_OP_FORWARD)
#undef QB_OP_FORWARD

bool PlatformBitmapsArePlainMemory() {
    // The in-memory backend shares the Linux backend's bitmap operations.
    const qbPlatformOps& ops = ActivePlatformOps();
    const qbPlatformOps& plain = NullPlatformOps();
    return ops.LockPlatformBitmap == plain.LockPlatformBitmap && ops.UnlockPlatformBitmap == plain.UnlockPlatformBitmap;
}
