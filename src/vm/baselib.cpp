// The one function the VM itself puts into the globals: "next", which the
// generic loop (TFORPREP) calls to walk a table.
#include "vm/internal.h"

namespace {

// next(table, key) -> the following key and its value, or nil at the end.
int NextCommand(ScriptState* L) {
    VmCheckTable(L, 1);
    VmSetTop(L, 2);  // a missing key starts the walk
    if (VmNext(L, 1)) return 2;
    VmPushNil(L);
    return 1;
}

}  // namespace

void VmOpenBaseFunctions(ScriptState* L) {
    VmPushString(L, "next");
    VmPushCClosure(L, NextCommand, 0);
    VmRawSet(L, kGlobalsIndex);
}
