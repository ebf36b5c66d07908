// The string library's command table, in the order the library registers
// it. Rows without a handler are commands this player does not have yet.
#include "libs/stringlib.h"

#include "core/settings.h"

namespace {

const ScriptCommand kStringCommands[] = {
    {"LowerStr", nullptr},
    {"UpperStr", nullptr},
    {"Val", nullptr},
    {"StrStr", nullptr},
    {"UnrightStr", nullptr},
    {"UnleftStr", nullptr},
    {"Chr", nullptr},
    {"MidStr", nullptr},
    {"RightStr", nullptr},
    {"LeftStr", nullptr},
    {"FindStr", nullptr},
    {"AddStr", nullptr},
    {"HexStr", nullptr},
    {"Asc", nullptr},
    {"StrLen", nullptr},
    {"ReplaceStr", nullptr},
    {"BinStr", nullptr},
    {"SplitStr", nullptr},
    {"PadNum", nullptr},
    {"StrToArray", nullptr},
    {"TrimStr", nullptr},
    {"ToString", nullptr},
    {"ToNumber", nullptr},
    {"UnmidStr", nullptr},
    {"CountStr", nullptr},
    {"InsertStr", nullptr},
    {"RepeatStr", nullptr},
    {"MD5Str", nullptr},
    {"CRC32Str", nullptr},
    {"FormatStr", nullptr},
    {"PatternFindStr", cmdPatternFindStr},
    {"PatternReplaceStr", cmdPatternReplaceStr},
    {"Eval", cmdEval},
    {"PatternFindStrDirect", cmdPatternFindStrDirect},
    {"PatternFindStrShort", cmdPatternFindStrShort},
    {"ArrayToStr", nullptr},
    {"Base64Str", nullptr},
    {"ToUserData", nullptr},
    {nullptr, nullptr},
};
static_assert(sizeof kStringCommands / sizeof kStringCommands[0] == 39);

}  // namespace

int InitStringLibrary(ScriptState* L) {
    // Registration raises on failure; its result only counts the tables made.
    VmRegisterCommands(L, nullptr, kStringCommands, 0);
    return RegisterCommandTable(kStringCommands, "string");
}
