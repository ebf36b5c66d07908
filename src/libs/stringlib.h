// The string library: its command table and the commands built so far.
#pragma once

#include "vm/vm.h"

// Opens the library into the table on the stack top; 0 or an error code.
int InitStringLibrary(ScriptState* L);

int cmdPatternFindStr(ScriptState* L);
int cmdPatternReplaceStr(ScriptState* L);
int cmdPatternFindStrDirect(ScriptState* L);
int cmdPatternFindStrShort(ScriptState* L);
int cmdEval(ScriptState* L);

// Slicing, joining and the byte-level commands (stringslice.cpp).
int cmdLowerStr(ScriptState* L);
int cmdUpperStr(ScriptState* L);
int cmdUnrightStr(ScriptState* L);
int cmdUnleftStr(ScriptState* L);
int cmdChr(ScriptState* L);
int cmdMidStr(ScriptState* L);
int cmdRightStr(ScriptState* L);
int cmdLeftStr(ScriptState* L);
int cmdAddStr(ScriptState* L);
int cmdAsc(ScriptState* L);
int cmdStrLen(ScriptState* L);
int cmdSplitStr(ScriptState* L);
int cmdStrToArray(ScriptState* L);
int cmdArrayToStr(ScriptState* L);
int cmdTrimStr(ScriptState* L);
int cmdUnmidStr(ScriptState* L);
int cmdInsertStr(ScriptState* L);
int cmdRepeatStr(ScriptState* L);

// Searching (stringsearch.cpp).
int cmdFindStr(ScriptState* L);
int cmdCountStr(ScriptState* L);
int cmdReplaceStr(ScriptState* L);

// Numbers, values, digests and FormatStr (stringconv.cpp).
int cmdVal(ScriptState* L);
int cmdStrStr(ScriptState* L);
int cmdHexStr(ScriptState* L);
int cmdBinStr(ScriptState* L);
int cmdPadNum(ScriptState* L);
int cmdToString(ScriptState* L);
int cmdToNumber(ScriptState* L);
int cmdToUserData(ScriptState* L);
int cmdMD5Str(ScriptState* L);
int cmdCRC32Str(ScriptState* L);
int cmdBase64Str(ScriptState* L);
int cmdFormatStr(ScriptState* L);
