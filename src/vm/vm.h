// The native API of the script VM: everything command handlers, the runtime
// and (later) plugins use to work on script values through a ScriptState.
#pragma once

#include <cstddef>
#include <cstdint>

struct ScriptState;
struct ScriptProto;

// Value tags. kTypeNone answers the type query for an index above the top.
enum : int {
    kTypeNone = -1,
    kTypeNil = 0,
    kTypeBoolean = 1,
    kTypeLightUserdata = 2,
    kTypeNumber = 3,
    kTypeString = 4,
    kTypeTable = 5,
    kTypeFunction = 6,
    kTypeUserdata = 7,
    kTypeThread = 8,
};

// Pseudo-indices.
constexpr int kRegistryIndex = -10000;
constexpr int kGlobalsIndex = -10001;
constexpr int VmUpvalueIndex(int i) { return kGlobalsIndex - i; }

// Handler results: 0..999 results pushed; -1/-2 label jump requests; any other
// value is an error code.
constexpr int kMaxResultCount = 999;
constexpr int kLabelJumpResume = -1;   // continue after the call when the label returns
constexpr int kLabelJumpRepeat = -2;   // call the command again when the label returns
constexpr int kMultRet = -1;
constexpr int kMinStackForHandler = 20;

using CommandHandler = int (*)(ScriptState*);

struct ScriptCommand {
    const char* name;
    CommandHandler handler;
};

struct ScriptConstant {
    const char* name;
    const char* str;  // null for a number constant
    double num;
};

// Chunk reader: returns the next block and its size; null or size 0 ends input.
using VmReaderFn = const char* (*)(ScriptState*, void* data, size_t* size);
// Chunk writer for the dumper.
using VmWriterFn = int (*)(ScriptState*, const void* p, size_t size, void* data);

// Debug record filled by VmGetStackLevel/VmGetInfo.
constexpr int kChunkIdSize = 60;
struct VmDebugRecord {
    int event = 0;
    const char* name = nullptr;
    const char* namewhat = "";
    const char* what = "";
    const char* source = "";
    int currentline = -1;
    int nups = 0;
    int linedefined = -1;
    char short_src[kChunkIdSize];  // filled by VmGetInfo "S"; hooks leave it unset
    int i_ci = 0;  // frame index; 0 for a lost tail call
};
using VmHook = void (*)(ScriptState*, VmDebugRecord*, int* errorCode);
enum : int { kHookCall = 0, kHookRet = 1, kHookLine = 2, kHookCount = 3, kHookTailRet = 4 };
enum : int { kMaskCall = 1, kMaskRet = 2, kMaskLine = 4, kMaskCount = 8 };

// ---- state -------------------------------------------------------------
ScriptState* VmOpen();
void VmClose(ScriptState* L);

// ---- stack -------------------------------------------------------------
int VmGetTop(ScriptState* L);
void VmSetTop(ScriptState* L, int idx);
void VmPushValue(ScriptState* L, int idx);
void VmRemove(ScriptState* L, int idx);
void VmInsert(ScriptState* L, int idx);
void VmReplace(ScriptState* L, int idx);
int VmCheckStack(ScriptState* L, int n);

// ---- queries -----------------------------------------------------------
int VmIsCFunction(ScriptState* L, int idx);
int VmIsNumber(ScriptState* L, int idx);
int VmIsString(ScriptState* L, int idx);
int VmIsUserdata(ScriptState* L, int idx);
int VmType(ScriptState* L, int idx);
const char* VmTypeName(ScriptState* L, int tag);
int VmEqual(ScriptState* L, int idx1, int idx2);
int VmRawEqual(ScriptState* L, int idx1, int idx2);
int VmCompareLess(ScriptState* L, int idx1, int idx2, int noCase);
double VmToNumber(ScriptState* L, int idx);
int VmToBoolean(ScriptState* L, int idx);
const char* VmToCString(ScriptState* L, int idx);
size_t VmStrLen(ScriptState* L, int idx);
CommandHandler VmToCFunction(ScriptState* L, int idx);
void* VmToUserdata(ScriptState* L, int idx);
ScriptState* VmToThread(ScriptState* L, int idx);
const void* VmToPointer(ScriptState* L, int idx);

// ---- push --------------------------------------------------------------
void VmPushNil(ScriptState* L);
void VmPushNumber(ScriptState* L, double n);
void VmPushLString(ScriptState* L, const char* s, size_t len);
void VmPushString(ScriptState* L, const char* s);
void VmPushStringFast(ScriptState* L, const char* s);
void VmPushLightUserdata(ScriptState* L, void* p);
void VmPushBoolean(ScriptState* L, int b);
void VmPushCClosure(ScriptState* L, CommandHandler fn, int n);

// ---- get / set ---------------------------------------------------------
void VmGetTableAt(ScriptState* L, int idx);
void VmRawGet(ScriptState* L, int idx);
void VmRawGetIndex(ScriptState* L, int idx, int n);
void VmPushNewTable(ScriptState* L);
void VmPushNewTableSized(ScriptState* L, int narray, int lnhash);
void VmGetGlobalsTable(ScriptState* L, int idx);
int VmGetMetatable(ScriptState* L, int idx);
void VmSetTableAt(ScriptState* L, int idx);
void VmRawSet(ScriptState* L, int idx);
void VmRawSetIndex(ScriptState* L, int idx, int n);
int VmSetGlobalsTable(ScriptState* L, int idx);
int VmSetMetatable(ScriptState* L, int idx);
void* VmNewUserdata(ScriptState* L, size_t size);

// ---- calls -------------------------------------------------------------
int VmCall(ScriptState* L, int nargs, int nresults);
int VmPCall(ScriptState* L, int nargs, int nresults, int errfunc);
// Moves on at every call the host makes into the VM (VmCall, VmPCall, a
// given function, a metamethod a native read runs, a finaliser): whatever a
// command found before a later value may have been freed by the code that
// ran. Every VM of the process moves the one count.
uint64_t VmScriptEpoch();
int VmLoad(ScriptState* L, VmReaderFn reader, void* data, const char* chunkname);
// Loads a chunk held whole in memory (an applet body): its size is known, so
// counts that the remaining bytes cannot hold are refused before allocating.
int VmLoadBuffer(ScriptState* L, const char* data, size_t size, const char* chunkname);
int VmDumpFunction(ScriptState* L, int idx, VmWriterFn writer, void* data);

// ---- misc --------------------------------------------------------------
int VmNext(ScriptState* L, int idx);
void VmConcat(ScriptState* L, int n);
int VmGetUpvalues(ScriptState* L);
const char* VmGetUpvalue(ScriptState* L, int funcindex, int n);
const char* VmSetUpvalue(ScriptState* L, int funcindex, int n);
int VmGetN(ScriptState* L, int idx);
void VmSetN(ScriptState* L, int idx, int n);

// Raises an error code: records line and current command, then unwinds to the
// innermost protected run. Never returns.
[[noreturn]] void VmRaiseError(ScriptState* L, int code);
// Passes a code on to the innermost protected run as it is, without recording
// a line (for code that caught a raise and cannot handle it). Outside every
// protected run the panic function runs and the process exits with status 1.
[[noreturn]] void VmThrow(ScriptState* L, int code);

// Runs fn(L, data) in the current frame so that a raise inside it stops here:
// the frame, the stack top and the native depth are restored and the code is
// returned (0 when nothing was raised).
using VmNativeRunFn = void (*)(ScriptState* L, void* data);
int VmProtectedNative(ScriptState* L, VmNativeRunFn fn, void* data);

// ---- debug -------------------------------------------------------------
int VmGetStackLevel(ScriptState* L, int level, VmDebugRecord* ar);
int VmGetInfo(ScriptState* L, const char* what, VmDebugRecord* ar);
int VmSetHook(ScriptState* L, VmHook func, int mask, int count);
// Lets the line hook see only every period-th line event (period >= 1; the
// first event it sees is the period-th). A hook that would count events itself
// costs a call per event; the interpreter counts them for almost nothing.
// VmSetHook sets the period back to 1.
void VmSetLineHookPeriod(ScriptState* L, int period);
int VmGetLineHookPeriod(ScriptState* L);

// ---- collector: threshold and live count in kilobytes -----------------------
int VmGetGcThreshold(ScriptState* L);
int VmGetGcCount(ScriptState* L);
void VmSetGcThreshold(ScriptState* L, int kilobytes);

// ---- command layer -------------------------------------------------------
int VmRegisterCommands(ScriptState* L, const char* libname, const ScriptCommand* cmds, int nup);
void VmRegisterConstants(ScriptState* L, const ScriptConstant* consts, int user);
int VmLookupConstant(ScriptState* L, const char* name, const char** outText, double* outNumber);
int VmLookupLabel(ScriptState* L, const char* name);
// Aims the label jump that the running command asks for by returning
// kLabelJumpResume or kLabelJumpRepeat at the label's instruction index.
void VmAimLabelJump(ScriptState* L, int labelIndex);
void VmRegistrySetString(ScriptState* L, const char* name, const char* value);
void VmRegistrySetNumber(ScriptState* L, const char* name, double value);
void VmRegistrySetLightUserdata(ScriptState* L, const char* name, void* value);
double VmRegistryGetNumber(ScriptState* L, const char* name);
const char* VmRegistryGetString(ScriptState* L, const char* name);
void* VmRegistryGetUserdata(ScriptState* L, const char* name);

// Argument checkers: raise on failure (they do not return then).
double VmCheckNumber(ScriptState* L, int idx);
double VmOptNumber(ScriptState* L, int idx, double def);
uint32_t VmCheckInt(ScriptState* L, int idx);
uint32_t VmOptInt(ScriptState* L, int idx, uint32_t def);
const char* VmCheckString(ScriptState* L, int idx, size_t* len);
const char* VmOptString(ScriptState* L, int idx, const char* def, size_t* len);
void* VmCheckUserdata(ScriptState* L, int idx);
void VmCheckFunction(ScriptState* L, int idx);
void VmCheckTable(ScriptState* L, int idx);
int VmCheckType(ScriptState* L, int idx, int tag);
double VmGetFieldNumber(ScriptState* L, int idx, const char* field);
uint32_t VmGetFieldInt(ScriptState* L, int idx, const char* field);
const char* VmGetFieldString(ScriptState* L, int idx, size_t* len, const char* field);
double VmTryGetNumber(ScriptState* L, int idx, int* err);
const char* VmTryGetString(ScriptState* L, int idx, size_t* len, int* err);

// References into a table (normally the registry).
int VmMakeRef(ScriptState* L, int t);
void VmReleaseRef(ScriptState* L, int t, int ref);

// Named metatables and metafields.
int VmNewNamedMetatable(ScriptState* L, const char* name);
void VmGetNamedMetatable(ScriptState* L, const char* name);
void* VmCheckNamedUserdata(ScriptState* L, int idx, const char* name);
int VmGetMetafield(ScriptState* L, int idx, const char* field);
int VmCallMetafield(ScriptState* L, int idx, const char* field);
int VmFindString(const char* text, const char* const list[]);

// String buffer.
constexpr int kBufferSize = 1024;
struct ScriptBuffer {
    char* p;
    int lvl;
    ScriptState* L;
    char buffer[kBufferSize];
};
void VmBufferInit(ScriptState* L, ScriptBuffer* B);
char* VmBufferPrepare(ScriptBuffer* B);
void VmBufferAddLString(ScriptBuffer* B, const char* s, size_t l);
void VmBufferAddString(ScriptBuffer* B, const char* s);
void VmBufferAddValue(ScriptBuffer* B);
void VmBufferPushResult(ScriptBuffer* B);

// The end flag: non-zero stops every running activation before its next
// instruction. Set by End and by the runtime's command-error routine.
void VmSetEndFlag(ScriptState* L, int value);
int VmGetEndFlag(ScriptState* L);
