// The script context: which command is running, in which source file and at
// which line; the route of a command's error code; the records start-up keeps
// in the VM registry.
#pragma once

#include "vm/vm.h"

struct qbApplet;
struct qbCommandLine;

constexpr int kCommandNameSize = 128;

qbApplet* GetAppletRecord(ScriptState* L);
qbCommandLine* GetCommandLineArgs(ScriptState* L);

// Fills in what is unknown of the running command, source and line; nothing
// while a raise's record stands.
void UpdateCurrentCommandInfo(ScriptState* L);
// Back to no command and no line; a raise's record is let go.
void ResetCurrentCommandInfo();
// Where a raise happened: the raising script frame's line, or -1 in a native
// frame for the line of the script level that called it; with the command and
// source. The record stands until the next reset.
void RecordRaise(ScriptState* L, int line);
const char* GetCurrentCommandName();
void SetCurrentCommandName(const char* name);
const char* GetCurrentSourceName();
void SetCurrentSourceName(const char* name);
int GetCurrentLine();
void SetCurrentLine(int line);
const char* GetCurrentScriptName(ScriptState* L);
int GetCurrentScriptLine(ScriptState* L);

// The code of the last failed command: the VM's VmLastErrorCode, which every
// native call but GetLastError clears.
int GetLastErrorCode();
void SetLastErrorCode(int code);

// Every error code a native command returned that no script handler took.
int HandleCommandError(ScriptState* L, int code);

// Calls the global function `name` with typed arguments (see CallArgType;
// an ObjectID argument is passed as a const ObjectID*).
enum CallArgType : int { kArgInt = 0, kArgUInt = 1, kArgString = 2, kArgNil = 3, kArgLightUd = 4, kArgObjectID = 5 };
int CallScriptFunction(ScriptState* L, const char* name, int nresults, int nargs, ...);
