// Creating commands build the new object in full under an automatic id and
// only then give it the number the script asked for, so that a command that
// fails leaves the object that had the number as it was.
#pragma once

#include "core/argapi.h"
#include "core/objectlist.h"
#include "core/objects.h"

// A number first frees the object that had it (freeOld(ObjectID)); when
// that free is refused, the new object goes (dropNew(made)) and the old one
// stays. Nil keeps the automatic id. freeOld must never free made: a caller
// whose new object is built on the old one refuses before it gets here.
template <class Object, class FreeOld, class DropNew>
int AdoptObjectID(Object* made, NewObjectID id, FreeOld freeOld, DropNew dropNew) {
    if (id.chooseFlag) return 0;
    if (int err = freeOld(ObjectID{id.id, nullptr})) {
        dropNew(made);
        return err;
    }
    if (int err = RenumberObject(made, ObjectID{id.id, nullptr})) {
        dropNew(made);
        return err;
    }
    return 0;
}

// The command's result: the automatic id, or nothing for a number.
inline int NewObjectResult(ScriptState* L, const qbObject& made, NewObjectID id) {
    if (!id.chooseFlag) return 0;
    PushObjectID(L, IDOf(made));
    return 1;
}
