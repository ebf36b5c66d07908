// The backend operations: one list, one signature each. Every operation
// is a field of qbPlatformOps and a free function of the same name that
// calls the active backend, so the portable code is written against the
// free functions and tests swap the whole backend at once.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/nativebitmap.h"
#include "platform/platform_audio.h"
#include "platform/platform_bitmap.h"
#include "platform/platform_input.h"
#include "platform/platform_media.h"
#include "platform/platform_requesters.h"
#include "platform/platform_startup.h"
#include "platform/platform_system.h"
#include "platform/platform_types.h"
#include "platform/platform_window.h"

// X(result, name, (parameters), (arguments)) for every operation.
#define QB_PLATFORM_OPERATIONS(X) \
    QB_PLATFORM_STARTUP_OPS(X) \
    QB_PLATFORM_WINDOW_OPS(X) \
    QB_PLATFORM_BITMAP_OPS(X) \
    QB_PLATFORM_INPUT_OPS(X) \
    QB_PLATFORM_REQUESTER_OPS(X) \
    QB_PLATFORM_SYSTEM_OPS(X) \
    QB_PLATFORM_AUDIO_OPS(X) \
    QB_PLATFORM_IMAGE_OPS(X) \
    QB_PLATFORM_TEXT_OPS(X) \
    QB_PLATFORM_MOVIE_OPS(X) \
    QB_PLATFORM_MOVIE_SOURCE_OPS(X) \
    QB_PLATFORM_HOOK_OPS(X)

struct qbPlatformOps {
    const char* name = nullptr;
#define QB_OP_FIELD(ret, op, params, args) ret(*op) params = nullptr;
    QB_PLATFORM_OPERATIONS(QB_OP_FIELD)
#undef QB_OP_FIELD
};

#define QB_OP_DECLARE(ret, op, params, args) ret op params;
QB_PLATFORM_OPERATIONS(QB_OP_DECLARE)
#undef QB_OP_DECLARE

// Waits without a limit.
inline int WaitForNativeEvent() { return WaitForNativeEvent(-1); }

// The in-memory backend, the player's backend until the window system
// arrives, and the Linux backend.
const qbPlatformOps& NullPlatformOps();
const qbPlatformOps& LinuxPlatformOps();

// Process-wide; null selects the in-memory backend. Swap only while no
// other thread is inside an operation.
void SetPlatformBackend(const qbPlatformOps* ops);
const qbPlatformOps& ActivePlatformOps();
