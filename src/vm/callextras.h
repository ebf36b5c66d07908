// What a native command call may have to do besides calling its handler: the
// call tracer and the plugins' command hooks. Both are rare, so the call path
// reads one word and takes the slower road only while a bit of it is set.
#pragma once

#include <cstdint>

enum : uint32_t {
    kCallExtraTrace = 1,  // debug output is on and debug functions are allowed
    kCallExtraHooks = 2,  // at least one command hook is installed
};

// Main thread only, like every other script-facing switch.
extern uint32_t NativeCallExtras;

inline void SetNativeCallExtra(uint32_t bit, bool on) {
    NativeCallExtras = on ? (NativeCallExtras | bit) : (NativeCallExtras & ~bit);
}
