#include "core/truth.h"

#include "core/argapi.h"

bool ScriptTruth(ScriptState* L, int idx) {
    switch (VmType(L, idx)) {
        case kTypeNone:
        case kTypeNil: return false;
        case kTypeBoolean: return VmToBoolean(L, idx) != 0;
        case kTypeNumber: return VmToNumber(L, idx) != 0;
        case kTypeString: {
            // The script's If looks at the first byte only.
            const char* text = VmToCString(L, idx);
            return text && text[0] != '\0';
        }
        default: return true;
    }
}

bool FieldTruth(ScriptState* L, int idx, const char* key, bool fallback) {
    if (idx < 0 && idx > kRegistryIndex) idx = VmGetTop(L) + idx + 1;
    VmCheckStack(L, 2);
    VmPushString(L, key);
    IndexOptionTable(L, idx);
    const bool value = VmType(L, -1) == kTypeNil ? fallback : ScriptTruth(L, -1);
    VmSetTop(L, -2);
    return value;
}

int PushTruth(ScriptState* L, bool value) {
    VmPushNumber(L, value ? 1 : 0);
    return 1;
}
