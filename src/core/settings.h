// Process-wide runtime settings read and written through {tag, value} lists,
// the command-table registry, and the hook lists for tags other parts own.
#pragma once

#include <cstdint>
#include <span>

#include "vm/vm.h"

enum RuntimeTag : int {
    kTagQuiet = 1,
    kTagNoSound = 2,
    // The channel count the output opens with (start-up: -NUMCHANNELS or 30).
    kTagAudioChannels = 3,
    // The mask mode for drawing into a selected mask and the alpha intensity
    // for a selected alpha channel (-1 none); kept by the graphics library.
    kTagMaskMode = 4,
    kTagAlphaIntensity = 6,
    kTagDeclaring = 5,
    kTagCallbackNesting = 10,
    kTagRaiseErrors = 11,
    // Whether the script handles sample loops, sample ends, music ends and
    // video ends; kept by the sound and video code through the hooks.
    kTagSampleLoopHandler = 12,
    kTagSampleEndHandler = 13,
    kTagMusicEndHandler = 18,
    kTagVideoEndHandler = 23,
    kTagFileAndLine = 22,
};

struct RuntimeTagItem {
    int tag;
    intptr_t value;  // the value for set, the address of an int for get
};

// Returns how many tags were handled; unknown tags go to the hooks.
int SetRuntimeTags(void* arg, const RuntimeTagItem* items, int count);
int GetRuntimeTags(void* arg, const RuntimeTagItem* items, int count);
// Convenience for the runtime's own code.
void SetRuntimeTag(int tag, int value);
int GetRuntimeTag(int tag);

// Marks a script callback that native code runs, for as long as it runs:
// the commands that must not run inside a callback (WaitEvent) refuse while
// one is held. The count nests, so a callback run inside another keeps the
// outer one marked when it returns.
struct qbCallbackScope {
    qbCallbackScope() { SetRuntimeTag(kTagCallbackNesting, 1); }
    ~qbCallbackScope() { SetRuntimeTag(kTagCallbackNesting, 0); }
    qbCallbackScope(const qbCallbackScope&) = delete;
    qbCallbackScope& operator=(const qbCallbackScope&) = delete;
};

using TagHookFn = int (*)(void* arg, int tag, intptr_t value);
int AddSetTagHook(TagHookFn fn);
int AddGetTagHook(TagHookFn fn);

struct CommandTableNode {
    const ScriptCommand* table;
    const ScriptConstant* constants;  // null for a library without constants
    char name[64];
};
// A library records its tables here as well as with the VM, so that error
// texts and the command reference can name what scripts reach.
int RegisterCommandTable(const ScriptCommand* table, const char* libname,
                         const ScriptConstant* constants = nullptr);
// The recorded tables in the order their libraries were opened.
std::span<const CommandTableNode> RegisteredCommandTables();
// The command table's own spelling of a command name (compared without case),
// or null when no registered table has it.
const char* FindCommandSpelling(const char* name);
// The handler a registered table gives a command name (compared without
// case; the first table opened wins, so the player's own libraries come
// before a plugin's), or null. The player calls its own commands through
// it, never through what a script stored under the name.
CommandHandler FindCommandHandler(const char* name);

int InitRuntimeCore();
void FreeRuntimeLists(ScriptState* L);
// Resets every setting and list to its start-up value (tests and shutdown).
void ResetRuntimeSettings();
