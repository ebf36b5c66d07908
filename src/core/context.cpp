// The script context: which command runs, in which source and at which line;
// mapping compiled lines back to include files; the road of a command error.
#include "core/context.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <string>

#include "core/applet.h"
#include "core/argapi.h"
#include "core/chars.h"
#include "core/errcodes.h"
#include "core/runstate.h"
#include "core/settings.h"
#include "vm/host.h"

namespace {

constexpr const char* kNoCommand = "----";
constexpr size_t kSourceNameSize = 1024;

char commandName[kCommandNameSize] = "----";
char sourceName[kSourceNameSize] = "?";
int currentLine = -1;
// Set by a raise, cleared by a reset: the context then holds where that error
// happened, and nothing may refresh it until the error has been reported.
bool raiseRecorded = false;

void CopyCut(char* dest, size_t size, const char* src) {
    size_t n = src ? std::min(std::strlen(src), size - 1) : 0;
    if (n) std::memmove(dest, src, n);
    dest[n] = 0;
}

bool IsNamedKind(const char* namewhat) {
    return std::strcmp(namewhat, "field") == 0 || std::strcmp(namewhat, "global") == 0 ||
           std::strcmp(namewhat, "local") == 0 || std::strcmp(namewhat, "method") == 0;
}

// The include entry that holds the current line of the current source.
const qbIncludeEntry* FindIncludeEntry(ScriptState* L) {
    const qbApplet* applet = GetAppletRecord(L);
    if (!applet || currentLine < 0) return nullptr;
    // A function without a source belongs to the entries that name none.
    const char* source = std::strcmp(sourceName, "?") == 0 ? "" : sourceName;
    auto line = static_cast<uint32_t>(currentLine);
    for (const qbIncludeEntry& e : applet->includeTable)
        if (e.sourceChunkName == source && e.firstLine <= line && line <= e.lastLine) return &e;
    return nullptr;
}

}  // namespace

qbApplet* GetAppletRecord(ScriptState* L) {
    ScriptState* s = L ? L : GetMainState();
    return s ? static_cast<qbApplet*>(VmRegistryGetUserdata(s, "applet")) : nullptr;
}

qbCommandLine* GetCommandLineArgs(ScriptState* L) {
    ScriptState* s = L ? L : GetMainState();
    return s ? static_cast<qbCommandLine*>(VmRegistryGetUserdata(s, "clargs")) : nullptr;
}

void UpdateCurrentCommandInfo(ScriptState* L) {
    // The frames of a recorded raise may have unwound since (a callback's
    // error comes back out of the command that ran it): they no longer tell.
    if (raiseRecorded) return;
    VmDebugRecord ar;
    bool haveSource = false;
    for (int level = 0; VmGetStackLevel(L, level, &ar); ++level) {
        if (!VmGetInfo(L, "Sn", &ar)) continue;
        const char* source = ar.source ? ar.source : "";
        if (!haveSource && source[0] != '=' && source[0] != '?') {
            CopyCut(sourceName, sizeof sourceName, *source ? source : "?");
            haveSource = true;
        }
        if (std::strcmp(commandName, kNoCommand) != 0) {
            if (haveSource) break;
            continue;
        }
        const char* namewhat = ar.namewhat ? ar.namewhat : "";
        const char* what = ar.what ? ar.what : "";
        if (!*namewhat && std::strcmp(what, "Quenbrook") == 0) {
            CopyCut(commandName, sizeof commandName, "<<unnamed>>");
        } else if (IsNamedKind(namewhat)) {
            if (std::strcmp(what, "Quenbrook") == 0) {
                CopyCut(commandName, sizeof commandName, ar.name ? ar.name : "anonymous");
            } else if (std::strcmp(what, "C") == 0 && ar.name) {
                // Scripts may write a command in any case; show the table's spelling.
                const char* spelled = FindCommandSpelling(ar.name);
                CopyCut(commandName, sizeof commandName, spelled ? spelled : ar.name);
            }
        }
    }
    if (currentLine != -1) return;
    // The line of the script level nearest the command: a command that
    // another command called (ForEach given a command as its function)
    // stands over that command's native frame, which has no line, as a lost
    // tail call's record has none.
    for (int level = 1; VmGetStackLevel(L, level, &ar); ++level) {
        if (!VmGetInfo(L, "Sl", &ar)) continue;
        if (ar.what && (std::strcmp(ar.what, "C") == 0 || std::strcmp(ar.what, "tail") == 0)) continue;
        currentLine = ar.currentline;
        break;
    }
}

void ResetCurrentCommandInfo() {
    CopyCut(commandName, sizeof commandName, kNoCommand);
    currentLine = -1;
    raiseRecorded = false;
}

void RecordRaise(ScriptState* L, int line) {
    // A raise in a native frame over a recorded one is that same error coming
    // back out of the native command that ran the callback or error handler it
    // was raised in, as that command's own code: it keeps its place. A raise
    // in a script frame is a new error wherever it happens.
    if (raiseRecorded && line < 0) return;
    ResetCurrentCommandInfo();
    // The line first: only an unknown line is taken from the calling level.
    currentLine = line;
    UpdateCurrentCommandInfo(L);
    raiseRecorded = true;
}

const char* GetCurrentCommandName() { return commandName; }

void SetCurrentCommandName(const char* name) { CopyCut(commandName, sizeof commandName, name ? name : kNoCommand); }

const char* GetCurrentSourceName() { return sourceName; }

void SetCurrentSourceName(const char* name) { CopyCut(sourceName, sizeof sourceName, name && *name ? name : "?"); }

int GetCurrentLine() { return currentLine; }

void SetCurrentLine(int line) { currentLine = line; }

const char* GetCurrentScriptName(ScriptState* L) {
    const qbIncludeEntry* e = FindIncludeEntry(L);
    return e ? e->fileName.c_str() : "---";
}

int GetCurrentScriptLine(ScriptState* L) {
    const qbIncludeEntry* e = FindIncludeEntry(L);
    if (!e) return -1;
    int64_t line = int64_t{e->lineOffset} + 1 + currentLine - int64_t{e->firstLine};
    return static_cast<int>(line);
}

int GetLastErrorCode() { return VmLastErrorCode; }

void SetLastErrorCode(int code) { VmLastErrorCode = code; }

int HandleCommandError(ScriptState* L, int code) {
    VmLastErrorCode = code;
    bool raise = GetRuntimeTag(kTagRaiseErrors) != 0;
    if (GetRuntimeTag(kTagCallbackNesting) == 0) {
        if (!raise) {
            ResetCurrentCommandInfo();
            return 0;
        }
        // Outside callbacks an error ends the whole script, not only this function.
        VmSetEndFlag(L, 1);
    } else if (!raise) {
        return 0;
    }
    // The raise records the line (from the calling script level while the
    // command's own frame is current) and the command's name.
    VmRaiseError(L, code);
    return 0;
}

int CallScriptFunction(ScriptState* L, const char* name, int nresults, int nargs, ...) {
    if (!L || !name) return 0;
    if (nargs < 0 || !VmCheckStack(L, nargs + 1)) return ERR_STACK;
    char lower[64];
    CopyCut(lower, sizeof lower, name);
    StrToLower(lower);
    VmPushString(L, lower);
    VmGetTableAt(L, kGlobalsIndex);
    va_list ap;
    va_start(ap, nargs);
    for (int i = 0; i < nargs; ++i) {
        switch (va_arg(ap, int)) {
        case kArgInt: VmPushNumber(L, va_arg(ap, int)); break;
        case kArgUInt: VmPushNumber(L, va_arg(ap, unsigned)); break;
        case kArgString: VmPushString(L, va_arg(ap, const char*)); break;
        case kArgNil: VmPushNil(L); break;
        case kArgLightUd: VmPushLightUserdata(L, va_arg(ap, void*)); break;
        case kArgObjectID: PushObjectID(L, *va_arg(ap, const ObjectID*)); break;
        default: break;
        }
    }
    va_end(ap);
    return VmCall(L, nargs, nresults);
}
