// Argument-count check shared by all command handlers.
#include "core/argapi.h"

#include "core/errcodes.h"
#include "core/startup.h"

ScriptState* CheckArgCount(ScriptState* L, int min, int max, int version, int revision) {
    int n = VmGetTop(L);
    if (min == 0 && max == 0 && n >= 1) VmRaiseError(L, ERR_TOOMANYARGS);
    if (n < min) VmRaiseError(L, ERR_MISSINGPARAMTR);
    if (max >= 1 && n > max) VmRaiseError(L, ERR_TOOMANYARGS);
    if (version != 0 && !RequireAppletVersion(version, revision)) VmRaiseError(L, ERR_OLDAPPLET);
    return L;
}

int PushObjectID(ScriptState* L, ObjectID id) {
    if (id.handle)
        VmPushLightUserdata(L, id.handle);
    else
        VmPushNumber(L, id.number);
    return 1;
}
