// What a native command call may have to do besides calling its handler: the
// call tracer and the plugins' command hooks. Both are rare, so the call path
// reads one word and takes the slower road only while a bit of it is set.
#pragma once

#include <cstdint>

#include "vm/vm.h"

enum : uint32_t {
    kCallExtraTrace = 1,  // debug output is on and debug functions are allowed
    kCallExtraHooks = 2,  // at least one command hook is installed
    kCallExtraSkip = 4,   // a test tree's switch skips one command (vm/skipswitch.h)
};

// Main thread only, like every other script-facing switch.
extern uint32_t NativeCallExtras;

inline void SetNativeCallExtra(uint32_t bit, bool on) {
    NativeCallExtras = on ? (NativeCallExtras | bit) : (NativeCallExtras & ~bit);
}

// One bit per handler that some command hook lists (set when a handler is
// added, cleared when the hooks are emptied): a handler whose bit is clear
// is hooked by none, so its calls skip the hook lookup.
extern uint64_t HookedHandlerFilter;
inline uint64_t HandlerFilterBit(CommandHandler f) {
    return uint64_t{1} << ((reinterpret_cast<uintptr_t>(f) * 0x9E3779B97F4A7C15u) >> 58);
}
