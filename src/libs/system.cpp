// The system library's commands: End, the error policy and the script's error
// handler, and the debug output.
#include "libs/system.h"

#include <cstdio>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "core/objects.h"
#include "display/placement.h"
#include "libs/errorhandler.h"
#include "libs/prefs.h"
#include "libs/systemcommands.h"
#include "libs/systeminternal.h"
#include "sound/soundlib.h"

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

// The command tables in their order; rows without a handler are commands
// this player does not offer yet.
const ScriptCommand kSystemCommands[] = {
    {"Wait", cmdWait},
    {"OpenCatalog", cmdOpenCatalog},
    {"CloseCatalog", cmdCloseCatalog},
    {nullptr, nullptr},
};

const ScriptCommand kSystemCommands2[] = {
    {"GetCatalogString", cmdGetCatalogString},
    {"GetDate", cmdGetDate},
    {"GetTime", cmdGetTime},
    {"GetWeekday", cmdGetWeekday},
    {"GetDateNum", cmdGetDateNum},
    {"CompareDates", cmdCompareDates},
    {"StartTimer", cmdStartTimer},
    {"StopTimer", cmdStopTimer},
    {"PauseTimer", cmdPauseTimer},
    {"ResumeTimer", cmdResumeTimer},
    {"ResetTimer", cmdResetTimer},
    {"GetTimer", cmdGetTimer},
    {"WaitTimer", cmdWaitTimer},
    {"SavePrefs", cmdSavePrefs},
    {"LoadPrefs", cmdLoadPrefs},
    {"DeletePrefs", cmdDeletePrefs},
    {"End", cmdEnd},
    {"GetLastError", cmdGetLastError},
    {"ExitOnError", cmdExitOnError},
    {"RaiseOnError", cmdRaiseOnError},
    {"Error", cmdError},
    {"GetErrorName", cmdGetErrorName},
    {"Assert", cmdAssert},
    {"DebugPrint", cmdDebugPrint},
    {"DebugStr", cmdDebugPrint},
    {"DebugVal", cmdDebugPrint},
    {"DebugPrintNR", cmdDebugPrintNR},
    {"DebugPrompt", cmdDebugPrompt},
    {"DebugOutput", cmdDebugOutput},
    {"EnableLineHook", cmdEnableLineHook},
    {"DisableLineHook", cmdDisableLineHook},
    {"LegacyControl", cmdLegacyControl},
    {"GetVersion", cmdGetVersion},
    {"GetApplicationInfo", cmdGetApplicationInfo},
    {"GetSystemInfo", cmdGetSystemInfo},
    {"GetCommandLine", cmdGetCommandLine},
    {"GetProgramInfo", cmdGetProgramInfo},
    {"GetFileArgument", cmdGetFileArgument},
    {"GetSystemCountry", cmdGetSystemCountry},
    {"GetSystemLanguage", cmdGetSystemLanguage},
    {"GetMemoryInfo", cmdGetMemoryInfo},
    {"GetConstant", cmdGetConstant},
    {"GetType", cmdGetType},
    {"IsNil", cmdIsNil},
    {"IIf", cmdIIf},
    {"HaveItem", cmdHaveItem},
    {"RawGet", cmdRawGet},
    {"RawSet", cmdRawSet},
    {"RawEqual", cmdRawEqual},
    {"GetMetaTable", cmdGetMetaTable},
    {"SetMetaTable", cmdSetMetaTable},
    {"CollectGarbage", cmdCollectGarbage},
    {"GCInfo", cmdGCInfo},
    {"NextItem", cmdNextItem},
    {"Pairs", cmdPairs},
    {"IPairs", cmdIPairs},
    {"ForEach", cmdForEach},
    {"ForEachI", cmdForEachI},
    {"IsTableEmpty", cmdIsTableEmpty},
    {"TableItems", cmdTableItems},
    {"ListItems", cmdListItems},
    {"InsertItem", cmdInsertItem},
    {"RemoveItem", cmdRemoveItem},
    {"Unpack", cmdUnpack},
    {"Concat", cmdConcat},
    {"CopyTable", cmdCopyTable},
    {"Sort", cmdSort},
    {"HaveObject", cmdHaveObject},
    {"GetObjects", cmdGetObjects},
    {"GetObjectType", cmdGetObjectType},
    {"SetObjectData", cmdSetObjectData},
    {"GetObjectData", cmdGetObjectData},
    {"HaveObjectData", cmdHaveObjectData},
    {"ClearObjectData", cmdClearObjectData},
    {"CopyObjectData", cmdCopyObjectData},
    {"IncreasePointer", cmdIncreasePointer},
    {"DecreasePointer", cmdDecreasePointer},
    {"OpenURL", cmdOpenURL},
    {"ClearClipboard", cmdClearClipboard},
    {"PeekClipboard", cmdPeekClipboard},
    {"GetClipboard", cmdGetClipboard},
    {"SetClipboard", cmdSetClipboard},
    {"SystemRequest", cmdSystemRequest},
    {"StringRequest", cmdStringRequest},
    {"FileRequest", cmdFileRequest},
    {"PathRequest", cmdPathRequest},
    {"ListRequest", cmdListRequest},
    {"ColorRequest", cmdColorRequest},
    {"FontRequest", cmdFontRequest},
    {"HavePlugin", cmdHavePlugin},
    {"EnablePlugin", cmdEnablePlugin},
    {"DisablePlugin", cmdDisablePlugin},
    {"GetPlugins", cmdGetPlugins},
    {"LoadPlugin", cmdLoadPlugin},
    {nullptr, nullptr},
};

const ScriptConstant kSystemConstants[] = {
    {"SECONDS", nullptr, 0},
    {"MILLISECONDS", nullptr, 1},
    {"TICKS", nullptr, 2},
    {"DATEYEAR", nullptr, 0},
    {"DATEMONTH", nullptr, 1},
    {"DATEDAY", nullptr, 2},
    {"DATETIME", nullptr, 3},
    {"NIL", nullptr, 0},
    {"NUMBER", nullptr, 2},
    {"STRING", nullptr, 3},
    {"TABLE", nullptr, 4},
    {"FUNCTION", nullptr, 5},
    {"USERDATA", nullptr, 8},
    {"LIGHTUSERDATA", nullptr, 9},
    {"THREAD", nullptr, 10},
    {"INTEGER", nullptr, 1},
    {"LONG", nullptr, 1},
    {"SHORT", nullptr, 6},
    {"WORD", nullptr, 6},
    {"BYTE", nullptr, 7},
    {"FLOAT", nullptr, 11},
    {"DOUBLE", nullptr, 12},
    {"LANGUAGE_ENGLISH", nullptr, 0},
    {"LANGUAGE_GERMAN", nullptr, 1},
    {"LANGUAGE_DUTCH", nullptr, 2},
    {"LANGUAGE_ITALIAN", nullptr, 3},
    {"LANGUAGE_FRENCH", nullptr, 4},
    {"LANGUAGE_SPANISH", nullptr, 5},
    {"LANGUAGE_PORTUGUESE", nullptr, 6},
    {"LANGUAGE_SWEDISH", nullptr, 7},
    {"LANGUAGE_DANISH", nullptr, 8},
    {"LANGUAGE_FINNISH", nullptr, 9},
    {"LANGUAGE_NORWEGIAN", nullptr, 10},
    {"LANGUAGE_POLISH", nullptr, 11},
    {"LANGUAGE_HUNGARIAN", nullptr, 12},
    {"LANGUAGE_GREEK", nullptr, 13},
    {"LANGUAGE_CZECH", nullptr, 14},
    {"LANGUAGE_TURKISH", nullptr, 15},
    {"LANGUAGE_CROATIAN", nullptr, 16},
    {"LANGUAGE_RUSSIAN", nullptr, 17},
    {"LANGUAGE_UNKNOWN", nullptr, 18},
    {"COUNTRY_UNITEDKINGDOM", nullptr, 0},
    {"COUNTRY_USA", nullptr, 1},
    {"COUNTRY_AUSTRALIA", nullptr, 2},
    {"COUNTRY_BELGIUM", nullptr, 3},
    {"COUNTRY_BULGARIA", nullptr, 4},
    {"COUNTRY_BRAZIL", nullptr, 5},
    {"COUNTRY_CANADA", nullptr, 6},
    {"COUNTRY_CZECHREPUBLIC", nullptr, 7},
    {"COUNTRY_DENMARK", nullptr, 8},
    {"COUNTRY_GERMANY", nullptr, 9},
    {"COUNTRY_SPAIN", nullptr, 10},
    {"COUNTRY_FRANCE", nullptr, 11},
    {"COUNTRY_GREECE", nullptr, 12},
    {"COUNTRY_ITALY", nullptr, 13},
    {"COUNTRY_LIECHTENSTEIN", nullptr, 14},
    {"COUNTRY_LITHUANIA", nullptr, 15},
    {"COUNTRY_LUXEMBOURG", nullptr, 16},
    {"COUNTRY_HUNGARY", nullptr, 17},
    {"COUNTRY_MALTA", nullptr, 18},
    {"COUNTRY_MONACO", nullptr, 19},
    {"COUNTRY_NETHERLANDS", nullptr, 20},
    {"COUNTRY_NORWAY", nullptr, 21},
    {"COUNTRY_POLAND", nullptr, 22},
    {"COUNTRY_PORTUGAL", nullptr, 23},
    {"COUNTRY_ROMANIA", nullptr, 24},
    {"COUNTRY_RUSSIA", nullptr, 25},
    {"COUNTRY_SANMARINO", nullptr, 26},
    {"COUNTRY_SLOVAKIA", nullptr, 27},
    {"COUNTRY_SLOVENIA", nullptr, 28},
    {"COUNTRY_SWITZERLAND", nullptr, 29},
    {"COUNTRY_FINLAND", nullptr, 30},
    {"COUNTRY_SWEDEN", nullptr, 31},
    {"COUNTRY_TURKEY", nullptr, 32},
    {"COUNTRY_IRELAND", nullptr, 33},
    {"COUNTRY_AUSTRIA", nullptr, 34},
    {"COUNTRY_ICELAND", nullptr, 35},
    {"COUNTRY_ANDORRA", nullptr, 36},
    {"COUNTRY_UKRAINE", nullptr, 37},
    {"COUNTRY_UNKNOWN", nullptr, 38},
    {"REQICON_NONE", nullptr, 0},
    {"REQICON_INFORMATION", nullptr, 1},
    {"REQICON_ERROR", nullptr, 2},
    {"REQICON_WARNING", nullptr, 3},
    {"REQICON_QUESTION", nullptr, 4},
    {"REQ_NORMAL", nullptr, 0},
    {"REQ_MULTISELECT", nullptr, 1},
    {"REQ_SAVEMODE", nullptr, 2},
    {"REQ_HIDEICONS", nullptr, 65536},
    {"CLIPBOARD_EMPTY", nullptr, 0},
    {"CLIPBOARD_TEXT", nullptr, 1},
    {"CLIPBOARD_IMAGE", nullptr, 2},
    {"CLIPBOARD_SOUND", nullptr, 3},
    {"CLIPBOARD_UNKNOWN", nullptr, 4},
    {nullptr, nullptr, 0},
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
    // Someone follows the lines as they come, also through a pipe or a log file.
    std::fflush(stdout);
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
    bool on = GetFlagArg(L, 1, false);
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
    if (int err = RegisterObjectList(TimerListHead())) return err;
    // Registration raises on failure; its result only counts the tables made.
    VmRegisterCommands(L, nullptr, kSystemCommands, 0);
    VmRegisterCommands(L, nullptr, kSystemCommands2, 0);
    VmRegisterConstants(L, kSystemConstants, 0);
    // Displays that remember their position keep it in the preferences file.
    SetPlacementStore(qbPlacementStore{[](ScriptState* S) { return ReadPrefsFile(S, false); }, &WritePrefsFile});
    // PlayMusic stops the current music first while the word is set.
    SetSingleMusicQuery(&GetLegacySingleMusic);
    if (int err = RegisterCommandTable(kSystemCommands, "system", kSystemConstants)) return err;
    return RegisterCommandTable(kSystemCommands2, "system");
}

void FreeSystemObjects(ScriptState* L) {
    FreeAllTimers(L);
    CloseScriptCatalog();
    ForgetLastFileFolder();
    ReleaseErrorHandler(L);
}
