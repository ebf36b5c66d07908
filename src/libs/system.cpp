// The system library's commands: End, GetLastError and the debug output.
#include "libs/system.h"

#include <cstdio>

#include "core/argapi.h"
#include "core/errcodes.h"
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
    {"DebugPrint", cmdDebugPrint},
    {"DebugPrintNR", cmdDebugPrintNR},
    {"DebugStr", cmdDebugPrint},
    {"DebugVal", cmdDebugPrint},
    {"End", cmdEnd},
    {"GetLastError", cmdGetLastError},
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

int InitSystemLibrary(ScriptState* L) {
    // Registration raises on failure; its result only counts the tables made.
    VmRegisterCommands(L, nullptr, kSystemCommands, 0);
    return RegisterCommandTable(kSystemCommands, "system");
}

void FreeSystemObjects(ScriptState*) {}
