// The system library: ending the program, error policy and debug output.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

#include "vm/vm.h"

// Opens the library into the table on the stack top; 0 or an error code.
int InitSystemLibrary(ScriptState* L);
// Frees the library's timers and buffers at shutdown.
void FreeSystemObjects(ScriptState* L);

// The text of any value as the debug commands print it (a "__tostring"
// metamethod first, else by type).
std::string ValueToString(ScriptState* L, int idx);

int cmdDebugPrint(ScriptState* L);
int cmdDebugPrintNR(ScriptState* L);
int cmdEnd(ScriptState* L);
int cmdRaiseOnError(ScriptState* L);
int cmdExitOnError(ScriptState* L);
int cmdError(ScriptState* L);
int cmdDebugOutput(ScriptState* L);

// The full date text of the local time, "05-Mar-2016 09:04:01", into a
// caller's buffer (also for the trace output of other libraries).
void FormatCurrentDate(char* buffer, size_t size);
std::string FormatDate(const std::tm& local);
// The GetDateNum field of a local time: the four-digit year, month, day,
// hhmmss; 0 for another field.
int DateNumOf(const std::tm& local, int field);
// CompareDates on two texts: *result 0, 1 (a later) or 2 (a earlier); 0 or
// ERR_INVALIDDATE.
int CompareDateTexts(const char* a, const char* b, bool dateOnly, int* result);

// The number of consecutive non-nil elements of the list at idx from index
// 0, stopping also at an empty string when asked.
int CountListItems(ScriptState* L, int idx, bool stopAtEmptyString);

// The two compatibility words of LegacyControl, read by the draw and sound
// libraries.
int GetLegacyLineBasedShapes();
int GetLegacySingleMusic();
// Whether Assert checks its value (on unless switched off at start-up).
void SetAssertionsEnabled(bool on);
bool AreAssertionsEnabled();
// Whether EnableLineHook switched the line hook on.
bool IsLineHookEnabled();

// The plugin commands work on the plugin list, which sits above this
// library: it lends them here when the libraries open. pushPluginList pushes
// what GetPlugins returns (for GetVersion); 0 or an error code.
struct qbSystemPluginCommands {
    CommandHandler havePlugin = nullptr;
    CommandHandler enablePlugin = nullptr;
    CommandHandler disablePlugin = nullptr;
    CommandHandler getPlugins = nullptr;
    CommandHandler loadPlugin = nullptr;
    int (*pushPluginList)(ScriptState* L) = nullptr;
};
void SetSystemPluginCommands(const qbSystemPluginCommands& commands);
