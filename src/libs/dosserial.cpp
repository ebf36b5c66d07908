// The dos library's commands that write tables and functions into open
// files and read them back, at the file's current position.
#include "core/argapi.h"
#include "core/errcodes.h"
#include "libs/dos.h"
#include "libs/doscommands.h"
#include "libs/serialize.h"
#include "vm/vm.h"

namespace {

int ForWriting(ScriptState* L, qbFileObject** out) {
    if (int err = GetFileRecord(GetObjectIDArg(L, 1), out)) return err;
    return (*out)->access == 1 ? ERR_READONLY : 0;
}

int ForReading(ScriptState* L, qbFileObject** out) {
    if (int err = GetFileRecord(GetObjectIDArg(L, 1), out)) return err;
    return (*out)->access == 2 ? ERR_WRITEONLY : 0;
}

bool FlagArg(ScriptState* L, int idx) { return VmOptNumber(L, idx, 0) != 0; }

// Runs a reader; on success only its result stays above the arguments.
int ReadOne(ScriptState* L, int (*reader)(ScriptState*, qbSerialSource&)) {
    qbFileObject* record = nullptr;
    if (int err = ForReading(L, &record)) return err;
    const int top = VmGetTop(L);
    qbSerialSource source{record->file, nullptr, 0, 0};
    if (int err = reader(L, source)) {
        VmSetTop(L, top);
        return err;
    }
    VmSetTop(L, top + 1);
    return 1;
}

}  // namespace

int cmdWriteTable(ScriptState* L) {
    CheckArgCount(L, 2, 4, 0, 0);
    VmCheckTable(L, 2);
    const bool armour = FlagArg(L, 3);
    const bool noWrap = FlagArg(L, 4);
    qbFileObject* record = nullptr;
    if (int err = ForWriting(L, &record)) return err;
    return WriteTableLayout(L, 2, record->file, armour, noWrap);
}

int cmdReadTable(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return ReadOne(L, ReadTableLayout);
}

int cmdWriteFunction(ScriptState* L) {
    CheckArgCount(L, 2, 4, 0, 0);
    VmCheckFunction(L, 2);
    const bool armour = FlagArg(L, 3);
    const bool noWrap = FlagArg(L, 4);
    qbFileObject* record = nullptr;
    if (int err = ForWriting(L, &record)) return err;
    return WriteFunctionLayout(L, 2, record->file, armour, noWrap);
}

int cmdReadFunction(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return ReadOne(L, ReadFunctionLayout);
}
