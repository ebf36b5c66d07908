// Eval: the expression evaluator with the variables of its options table.
#include <new>
#include <string>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "libs/eval.h"
#include "libs/stringlib.h"

namespace {

// The "variables" option of the options table at idx: a table indexed from 0
// of {name, value} tables. 0 or ERR_WRONGUSAGE.
int ReadVariables(ScriptState* L, int idx, std::vector<qbEvalVariable>& vars) {
    VmPushString(L, "variables");
    IndexOptionTable(L, idx);
    const int list = VmGetTop(L);
    if (VmType(L, list) == kTypeNil) return 0;
    if (VmType(L, list) != kTypeTable) return ERR_WRONGUSAGE;
    for (int i = 0;; ++i) {
        VmPushNumber(L, i);
        IndexOptionTable(L, list);
        const int entry = VmGetTop(L);
        if (VmType(L, entry) == kTypeNil) break;
        if (VmType(L, entry) != kTypeTable) return ERR_WRONGUSAGE;
        VmPushString(L, "name");
        IndexOptionTable(L, entry);
        if (VmType(L, -1) != kTypeString) return ERR_WRONGUSAGE;
        qbEvalVariable v;
        v.name.assign(VmToCString(L, -1), VmStrLen(L, -1));
        if (!IsEvalVariableName(v.name)) return ERR_WRONGUSAGE;
        GetTableFieldFloat(L, entry, "value", &v.value, nullptr);
        vars.push_back(std::move(v));
        VmSetTop(L, entry - 1);
    }
    return 0;
}

}  // namespace

int cmdEval(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const char* text = VmCheckString(L, 1, nullptr);
    std::vector<qbEvalVariable> vars;
    double result = 0;
    try {
        if (VmType(L, 2) > kTypeNil) {
            VmCheckTable(L, 2);
            if (int err = ReadVariables(L, 2, vars)) return err;
        }
        if (int err = EvaluateExpression(text, vars, &result)) return err;
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    VmPushNumber(L, result);
    return 1;
}
