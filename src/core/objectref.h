// A command's hold on an object it looked up: the kind (its finder), the id
// and the script epoch it was found at, never a pointer kept by hand.
//
// Script code may run inside a command (an option field's "__index", a
// function the script gave it, a handler or a callback) and free, replace or
// resize anything. Every call from native code into the VM moves the script
// epoch (VmScriptEpoch, vm/vm.h), so Take finds the object again by its id
// whenever the epoch moved since it was last found: a free from there stands
// and the command fails with the kind's not-found error. The pointer Take
// gives is for use at once; it is never kept across a call that may run
// script code (take it again after one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "core/objects.h"
#include "vm/vm.h"

#ifdef QB_CHECK_HOLDS
// The pointer Take gives, in a tree configured with QB_CHECK_HOLDS: it
// carries the epoch it was taken at, and any use once script code ran since
// (the record may be gone) aborts. Elsewhere it is the plain pointer.
template <class T>
class qbTaken {
public:
    qbTaken() = default;
    qbTaken(std::nullptr_t) {}
    qbTaken(T* object, uint64_t epoch) : object_(object), epoch_(epoch) {}
    T* operator->() const { return Checked(); }
    T& operator*() const { return *Checked(); }
    operator T*() const { return Checked(); }

private:
    T* Checked() const {
        if (object_ && epoch_ != VmScriptEpoch()) {
            std::fprintf(stderr, "object reference: a pointer taken before script code ran is used after it\n");
            std::abort();
        }
        return object_;
    }
    T* object_ = nullptr;
    uint64_t epoch_ = 0;
};
#else
template <class T>
using qbTaken = T*;
#endif

// Find is the kind's look-up by id: 0 and the record, or the kind's
// not-found error (and *out null).
template <class T, int (*Find)(ScriptState* L, ObjectID id, T** out)>
class qbObjectRef {
public:
    // Holds nothing: Take answers the kind's not-found error.
    qbObjectRef() = default;
    qbObjectRef(ScriptState* L, ObjectID id) : L_(L), id_(id) {}
    // Holds a record the command has in hand (one it made, the current one).
    qbObjectRef(ScriptState* L, T* found) : L_(L), id_(IDOf(*found)), object_(found), epoch_(VmScriptEpoch()) {}

    // The record to use now: 0, or the not-found error when it is gone.
    int Take(qbTaken<T>* out) {
        if (!object_ || epoch_ != VmScriptEpoch()) {
            object_ = nullptr;
            epoch_ = VmScriptEpoch();
            if (int err = Find(L_, id_, &object_)) {
                object_ = nullptr;
                *out = nullptr;
                return err;
            }
        }
#ifdef QB_CHECK_HOLDS
        *out = qbTaken<T>(object_, epoch_);
#else
        *out = object_;
#endif
        return 0;
    }
    ObjectID id() const { return id_; }

private:
    ScriptState* L_ = nullptr;
    ObjectID id_;
    T* object_ = nullptr;
    uint64_t epoch_ = 0;
};
