// The string library's command table, in the order the library registers
// it.
#include "libs/stringlib.h"

#include "core/settings.h"

namespace {

const ScriptCommand kStringCommands[] = {
    {"LowerStr", cmdLowerStr},
    {"UpperStr", cmdUpperStr},
    {"Val", cmdVal},
    {"StrStr", cmdStrStr},
    {"UnrightStr", cmdUnrightStr},
    {"UnleftStr", cmdUnleftStr},
    {"Chr", cmdChr},
    {"MidStr", cmdMidStr},
    {"RightStr", cmdRightStr},
    {"LeftStr", cmdLeftStr},
    {"FindStr", cmdFindStr},
    {"AddStr", cmdAddStr},
    {"HexStr", cmdHexStr},
    {"Asc", cmdAsc},
    {"StrLen", cmdStrLen},
    {"ReplaceStr", cmdReplaceStr},
    {"BinStr", cmdBinStr},
    {"SplitStr", cmdSplitStr},
    {"PadNum", cmdPadNum},
    {"StrToArray", cmdStrToArray},
    {"TrimStr", cmdTrimStr},
    {"ToString", cmdToString},
    {"ToNumber", cmdToNumber},
    {"UnmidStr", cmdUnmidStr},
    {"CountStr", cmdCountStr},
    {"InsertStr", cmdInsertStr},
    {"RepeatStr", cmdRepeatStr},
    {"MD5Str", cmdMD5Str},
    {"CRC32Str", cmdCRC32Str},
    {"FormatStr", cmdFormatStr},
    {"PatternFindStr", cmdPatternFindStr},
    {"PatternReplaceStr", cmdPatternReplaceStr},
    {"Eval", cmdEval},
    {"PatternFindStrDirect", cmdPatternFindStrDirect},
    {"PatternFindStrShort", cmdPatternFindStrShort},
    {"ArrayToStr", cmdArrayToStr},
    {"Base64Str", cmdBase64Str},
    {"ToUserData", cmdToUserData},
    {nullptr, nullptr},
};
static_assert(sizeof kStringCommands / sizeof kStringCommands[0] == 39);

}  // namespace

int InitStringLibrary(ScriptState* L) {
    // Registration raises on failure; its result only counts the tables made.
    VmRegisterCommands(L, nullptr, kStringCommands, 0);
    return RegisterCommandTable(kStringCommands, "string");
}
