// The lent picture codecs.
#include "platform/imagecodecs.h"

#include <atomic>

namespace {
std::atomic<const qbImageCodecHooks*> codecHooks{nullptr};
}  // namespace

void SetImageCodecHooks(const qbImageCodecHooks* hooks) { codecHooks.store(hooks); }

const qbImageCodecHooks* GetImageCodecHooks() { return codecHooks.load(); }
