// The system library's commands: End, the error policy and the script's error
// handler, and the debug output.
#include "libs/system.h"

#include <cstdio>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "libs/errorhandler.h"

namespace {

std::string FormatPointer(const char* prefix, const void* p) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%p", prefix, p);
    return buf;
}

std::string TypeText(ScriptState* L, int idx) {
    switch (VmType(L, idx)) {
    case kTypeNil: return "Nil";
    case kTypeBoolean: return VmToBoolean(L, idx) ? "true" : "false";
    case kTypeNumber: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.14g", VmToNumber(L, idx));
        return buf;
    }
    case kTypeString: return std::string(VmToCString(L, idx), VmStrLen(L, idx));
    case kTypeTable: return FormatPointer("Table: ", VmToPointer(L, idx));
    case kTypeFunction: return FormatPointer("Function: ", VmToPointer(L, idx));
    case kTypeThread: return FormatPointer("Thread: ", VmToPointer(L, idx));
    case kTypeUserdata:
    case kTypeLightUserdata: return FormatPointer("UserData: ", VmToPointer(L, idx));
    default: return "";
    }
}

// Prints every argument; the text goes out as it is, "%" included.
void PrintArguments(ScriptState* L) {
    int n = VmGetTop(L);
    for (int i = 1; i <= n; ++i) {
        std::string text = ValueToString(L, i);
        if (i > 1) std::fputc(' ', stdout);
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
}

const ScriptCommand kSystemCommands[] = {
    {"DebugOutput", cmdDebugOutput},
    {"DebugPrint", cmdDebugPrint},
    {"DebugPrintNR", cmdDebugPrintNR},
    {"DebugStr", cmdDebugPrint},
    {"DebugVal", cmdDebugPrint},
    {"End", cmdEnd},
    {"Error", cmdError},
    {"ExitOnError", cmdExitOnError},
    {"GetLastError", cmdGetLastError},
    {"RaiseOnError", cmdRaiseOnError},
    {nullptr, nullptr},
};

}  // namespace

std::string ValueToString(ScriptState* L, int idx) {
    if (idx < 0 && idx > kRegistryIndex) idx = VmGetTop(L) + idx + 1;
    if (VmCallMetafield(L, idx, "__tostring")) {
        // A method that gives no text falls back to the plain conversion.
        std::string text = VmType(L, -1) == kTypeString || VmType(L, -1) == kTypeNumber
                               ? TypeText(L, -1)
                               : TypeText(L, idx);
        VmSetTop(L, -2);
        return text;
    }
    return TypeText(L, idx);
}

int cmdDebugPrint(ScriptState* L) {
    CheckArgCount(L, 1, -1, 0, 0);
    PrintArguments(L);
    std::fputc('\n', stdout);
    return 0;
}

int cmdDebugPrintNR(ScriptState* L) {
    CheckArgCount(L, 1, -1, 0, 0);
    PrintArguments(L);
    std::fflush(stdout);
    return 0;
}

int cmdEnd(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    VmSetEndFlag(L, 1);
    return ERR_USERABORT;
}

int cmdRaiseOnError(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    bool install = VmType(L, 1) != kTypeNil;
    if (install) VmCheckFunction(L, 1);
    // A handler only makes sense while errors stop the script.
    if (GetRuntimeTag(kTagRaiseErrors) == 0) return ERR_WRONGUSAGE;
    ReleaseErrorHandler(L);
    if (install) {
        VmPushValue(L, 1);
        SetErrorHandlerRef(VmMakeRef(L, kRegistryIndex));
    }
    return 0;
}

int cmdExitOnError(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    bool on = VmCheckNumber(L, 1) != 0;
    // An installed handler relies on errors being raised.
    if (!on && GetErrorHandlerRef() != -1) return ERR_WRONGUSAGE;
    SetRuntimeTag(kTagRaiseErrors, on ? 1 : 0);
    return 0;
}

int cmdError(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    SetErrorDetail(VmCheckString(L, 1, nullptr));
    return ERR_ERRORCALLED;
}

int cmdDebugOutput(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    SetDebugOutputDevice(ClampToInt32(VmCheckNumber(L, 1)));
    return 0;
}

int InitSystemLibrary(ScriptState* L) {
    // Registration raises on failure; its result only counts the tables made.
    VmRegisterCommands(L, nullptr, kSystemCommands, 0);
    return RegisterCommandTable(kSystemCommands, "system");
}

void FreeSystemObjects(ScriptState* L) { ReleaseErrorHandler(L); }
