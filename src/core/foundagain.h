// A command's hold on what more than an id finds (the picture a shown
// object is drawn from: a brush's planes, an anim's frame): the finder runs
// again whenever script code ran since it last ran (VmScriptEpoch), as
// qbObjectRef (core/objectref.h) finds an object again by its id.
#pragma once

#include <cstdint>
#include <utility>

#include "vm/vm.h"

template <class Value, class Finder>
class qbFoundAgain {
public:
    explicit qbFoundAgain(Finder find) : find_(std::move(find)) {}

    // What to use now: 0, or the finder's error when it is gone.
    int Take(Value* out) {
        if (!found_ || epoch_ != VmScriptEpoch()) {
            found_ = false;
            epoch_ = VmScriptEpoch();
            if (int err = find_(&value_)) return err;
            found_ = true;
        }
        *out = value_;
        return 0;
    }

private:
    Finder find_;
    Value value_{};
    uint64_t epoch_ = 0;
    bool found_ = false;
};
