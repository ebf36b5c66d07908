// The handlers of the system library's commands, for its command tables.
#pragma once

struct ScriptState;

// Values and tables.
int cmdGetType(ScriptState* L);
int cmdIsNil(ScriptState* L);
int cmdIIf(ScriptState* L);
int cmdHaveItem(ScriptState* L);
int cmdRawGet(ScriptState* L);
int cmdRawSet(ScriptState* L);
int cmdRawEqual(ScriptState* L);
int cmdGetMetaTable(ScriptState* L);
int cmdSetMetaTable(ScriptState* L);
int cmdCollectGarbage(ScriptState* L);
int cmdGCInfo(ScriptState* L);
int cmdNextItem(ScriptState* L);
int cmdPairs(ScriptState* L);
int cmdIPairs(ScriptState* L);
int cmdForEach(ScriptState* L);
int cmdForEachI(ScriptState* L);
int cmdIsTableEmpty(ScriptState* L);
int cmdTableItems(ScriptState* L);
int cmdListItems(ScriptState* L);
int cmdInsertItem(ScriptState* L);
int cmdRemoveItem(ScriptState* L);
int cmdUnpack(ScriptState* L);
int cmdConcat(ScriptState* L);
int cmdCopyTable(ScriptState* L);
int cmdSort(ScriptState* L);

// Timers, waiting and dates.
int cmdWait(ScriptState* L);
int cmdGetDate(ScriptState* L);
int cmdGetTime(ScriptState* L);
int cmdGetWeekday(ScriptState* L);
int cmdGetDateNum(ScriptState* L);
int cmdCompareDates(ScriptState* L);
int cmdStartTimer(ScriptState* L);
int cmdStopTimer(ScriptState* L);
int cmdPauseTimer(ScriptState* L);
int cmdResumeTimer(ScriptState* L);
int cmdResetTimer(ScriptState* L);
int cmdGetTimer(ScriptState* L);
int cmdWaitTimer(ScriptState* L);

// Error policy and debugging.
int cmdGetErrorName(ScriptState* L);
int cmdAssert(ScriptState* L);
int cmdDebugPrompt(ScriptState* L);
int cmdEnableLineHook(ScriptState* L);
int cmdDisableLineHook(ScriptState* L);
int cmdLegacyControl(ScriptState* L);

// Objects, their data, pointers and the catalog.
int cmdHaveObject(ScriptState* L);
int cmdGetObjects(ScriptState* L);
int cmdGetObjectType(ScriptState* L);
int cmdSetObjectData(ScriptState* L);
int cmdGetObjectData(ScriptState* L);
int cmdHaveObjectData(ScriptState* L);
int cmdClearObjectData(ScriptState* L);
int cmdCopyObjectData(ScriptState* L);
int cmdIncreasePointer(ScriptState* L);
int cmdDecreasePointer(ScriptState* L);
int cmdOpenCatalog(ScriptState* L);
int cmdCloseCatalog(ScriptState* L);
int cmdGetCatalogString(ScriptState* L);

// Information about the applet, the program and the system.
int cmdGetApplicationInfo(ScriptState* L);
int cmdGetCommandLine(ScriptState* L);
int cmdGetProgramInfo(ScriptState* L);
int cmdGetFileArgument(ScriptState* L);
int cmdGetSystemCountry(ScriptState* L);
int cmdGetSystemLanguage(ScriptState* L);
int cmdGetMemoryInfo(ScriptState* L);
int cmdGetConstant(ScriptState* L);
int cmdGetVersion(ScriptState* L);
int cmdGetSystemInfo(ScriptState* L);
int cmdHavePlugin(ScriptState* L);
int cmdEnablePlugin(ScriptState* L);
int cmdDisablePlugin(ScriptState* L);
int cmdGetPlugins(ScriptState* L);
int cmdLoadPlugin(ScriptState* L);

// Requesters.
int cmdSystemRequest(ScriptState* L);
int cmdStringRequest(ScriptState* L);
int cmdFileRequest(ScriptState* L);
int cmdPathRequest(ScriptState* L);
int cmdListRequest(ScriptState* L);
int cmdColorRequest(ScriptState* L);
int cmdFontRequest(ScriptState* L);

// The clipboard and URLs.
int cmdClearClipboard(ScriptState* L);
int cmdPeekClipboard(ScriptState* L);
int cmdGetClipboard(ScriptState* L);
int cmdSetClipboard(ScriptState* L);
int cmdOpenURL(ScriptState* L);
