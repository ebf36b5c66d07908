// Whole tables of placeholder operations, from which a backend starts
// before it fills in what it really does.
#pragma once

#include <type_traits>

#include "core/errcodes.h"
#include "platform/platform_ops.h"

namespace platform_fill {

template <class F>
struct Refuse;
// The answer of an operation this backend cannot perform: the caller must see
// a failure it can report.
template <class R, class... A>
struct Refuse<R (*)(A...)> {
    static R call(A...) {
        if constexpr (std::is_void_v<R>) {
            return;
        } else if constexpr (std::is_pointer_v<R>) {
            return nullptr;
        } else if constexpr (std::is_integral_v<R> && std::is_signed_v<R>) {
            return static_cast<R>(ERR_UNSUPPORTEDFEAT);
        } else {
            return R{};
        }
    }
};

template <class F>
struct Neutral;
// The answer of an operation with nothing to do: success, nothing made.
template <class R, class... A>
struct Neutral<R (*)(A...)> {
    static R call(A...) {
        if constexpr (!std::is_void_v<R>) return R{};
    }
};

inline qbPlatformOps RefusingOps(const char* name) {
    qbPlatformOps ops;
    ops.name = name;
#define QB_OP_REFUSE(ret, op, params, args) ops.op = &Refuse<decltype(ops.op)>::call;
    QB_PLATFORM_OPERATIONS(QB_OP_REFUSE)
#undef QB_OP_REFUSE
    return ops;
}

inline qbPlatformOps NeutralOps(const char* name) {
    qbPlatformOps ops;
    ops.name = name;
#define QB_OP_NEUTRAL(ret, op, params, args) ops.op = &Neutral<decltype(ops.op)>::call;
    QB_PLATFORM_OPERATIONS(QB_OP_NEUTRAL)
#undef QB_OP_NEUTRAL
    return ops;
}

}  // namespace platform_fill
