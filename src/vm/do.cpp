// Calls, protected runs and error unwinding: setting up and finishing a call of
// a script or native function, growing the value stack and the frame array,
// raising numbered errors (one C++ exception type) and loading chunks.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "core/errcodes.h"
#include "vm/callextras.h"
#include "vm/codecheck.h"
#include "vm/callgiven.h"
#include "vm/commandhooks.h"
#include "vm/internal.h"
#include "vm/skipswitch.h"

namespace {

constexpr int kStackSpare = 6;          // slots kept above the last usable one
constexpr int kNativeCallsHardLimit = kMaxNativeCalls + (kMaxNativeCalls >> 3);

// Atomic because tests and tools may run VMs on several threads; the count
// only ever has to differ.
std::atomic<uint64_t> scriptEpoch{0};

void CorrectStack(ScriptState* L, ScriptValue* oldstack) {
    L->top = (L->top - oldstack) + L->stack;
    for (GCObject* up = L->openupval; up != nullptr; up = up->next) {
        auto* uv = static_cast<VmUpval*>(up);
        uv->v = (uv->v - oldstack) + L->stack;
    }
    for (CallFrame* ci = L->base_ci; ci <= L->ci; ci++) {
        ci->top = (ci->top - oldstack) + L->stack;
        ci->base = (ci->base - oldstack) + L->stack;
    }
    L->base = L->ci->base;
}

// Collects the arguments beyond the fixed parameters into a table {..., n = k}
// that takes their place as the last parameter.
void AdjustVarargs(ScriptState* L, int nfixargs, ScriptValue* base) {
    int actual = static_cast<int>(L->top - base);
    if (actual < nfixargs) {
        VmCheckStackRoom(L, nfixargs - actual);
        for (; actual < nfixargs; ++actual) SetNil(L->top++);
    }
    int extra = actual - nfixargs;
    VmTable* htab = VmNewTable(L, extra, 1);
    // Held on the stack above the arguments while it is filled: making its
    // key may collect.
    SetTable(L->top, htab);
    VmIncrTop(L);
    const ScriptValue* args = L->top - 1 - extra;
    for (int i = 0; i < extra; i++) *VmTableSetInt(L, htab, i + 1) = args[i];
    ScriptValue key;
    SetString(&key, VmNewString(L, "n", 1));
    SetNumber(VmTableSet(L, htab, &key), extra);
    L->top -= extra + 1;
    SetTable(L->top, htab);
    VmIncrTop(L);
}

// Replaces a non-function by its "__call" metamethod, which gets the called
// value as its first argument.
ScriptValue* TryCallMetamethod(ScriptState* L, ScriptValue* func) {
    const ScriptValue* tm = VmGetMetamethod(L, func, TM_CALL);
    if (!IsFunction(tm)) VmRaiseNamed(L, func, ERR_FUNCDECLA, "()");
    ptrdiff_t funcr = VmSaveStack(L, func);
    ScriptValue tmCopy = *tm;
    VmCheckStackRoom(L, 1);
    func = VmRestoreStack(L, funcr);
    for (ScriptValue* p = L->top; p > func; p--) *p = *(p - 1);
    L->top++;
    *func = tmCopy;
    return func;
}

CallFrame* NextFrame(ScriptState* L) {
    if (L->ci + 1 == L->end_ci) return VmGrowFrames(L);
    return ++L->ci;
}

void CallReturnHooks(ScriptState* L, ScriptValue* firstResult) {
    ptrdiff_t fr = VmSaveStack(L, firstResult);
    VmCallHook(L, kHookRet, -1);
    if (!(L->ci->state & kFrameNative)) {
        while (L->ci->tailcalls-- > 0) VmCallHook(L, kHookTailRet, -1);
    }
    (void)VmRestoreStack(L, fr);
}

// The optional steps of a native call, in their order: the tracer line, the
// last-error reset, then the command hooks, which may stand in for the handler.
[[maybe_unused]] int CallHandlerWithExtras(ScriptState* L, CommandHandler f) {
    if ((NativeCallExtras & kCallExtraTrace) && !L->g->endFlag) VmTraceCall(L);
    if (f != VmActiveHost.keepsLastError) VmLastErrorCode = 0;
    int n = 0;
    if ((NativeCallExtras & kCallExtraHooks) && TryCommandHook(L, f, &n)) return n;
    if (NativeCallExtras & kCallExtraSkip) return CallSkippableHandler(L, f);
    return f(L);
}

// Where a handler's frame stood: a handler that called script code itself,
// unprotected, may run out of memory with that code's frames above its own.
struct HandlerFrame {
    ptrdiff_t frame;
    uint16_t nCcalls;
    uint8_t allowhook;
};

// The handler's memory ran out: its frame is the current one again, as
// when it returns an error code, and that code is ERR_MEM.
int OutOfMemory(ScriptState* L, const HandlerFrame& h) {
    CallFrame* ci = VmRestoreFrame(L, h.frame);
    if (L->ci != ci) {
        VmCloseUpvalues(L, ci->base);
        L->ci = ci;
        L->base = ci->base;
        VmDropGosubs(L, static_cast<int>(ci - L->base_ci) + 1);
        L->top = ci->base;
    }
    L->nCcalls = h.nCcalls;
    L->allowhook = h.allowhook;
    return ERR_MEM;
}

// The native branch of a call: the handler runs inside its own frame, and an
// error code it returns is offered to the script's error handler first.
ScriptValue* CallNative(ScriptState* L, ScriptValue* func, int* errorCode) {
    ptrdiff_t funcr = VmSaveStack(L, func);
    VmCheckStackRoom(L, kMinStackForHandler);
    CallFrame* ci = NextFrame(L);
    func = VmRestoreStack(L, funcr);
    L->base = ci->base = func + 1;
    ci->top = L->top + kMinStackForHandler;
    ci->state = kFrameNative;
    ci->tailcalls = 0;
    if (L->hookmask & kMaskCall) VmCallHook(L, kHookCall, -1);
    CommandHandler f = static_cast<VmNativeClosure*>(ClosureValue(L->base - 1))->f;
    int n;
    const HandlerFrame handlerFrame{VmSaveFrame(L, L->ci), L->nCcalls, L->allowhook};
    // A command whose own memory ran out (a container that could not grow,
    // a size no container can hold) failed as a command: ERR_MEM goes the
    // way of any other error code, so a script that does not exit on errors
    // goes on. So does the VM's heap running out for the command (below).
    try {
#ifndef QB_NO_CALL_EXTRAS
        const uint32_t extras = NativeCallExtras;
        if (extras == 0 || (extras == kCallExtraHooks && !(HookedHandlerFilter & HandlerFilterBit(f)))) {
            // GetLastError must still see the code of the command before it.
            if (f != VmActiveHost.keepsLastError) VmLastErrorCode = 0;
            n = f(L);
        } else {
            n = CallHandlerWithExtras(L, f);
        }
#else
        // Only the command-hook benchmark's baseline VM is built without the
        // check of the extras word.
        if (f != VmActiveHost.keepsLastError) VmLastErrorCode = 0;
        n = f(L);
#endif
    } catch (const std::bad_alloc&) {
        n = OutOfMemory(L, handlerFrame);
    } catch (const std::length_error&) {
        n = OutOfMemory(L, handlerFrame);
    } catch (const VmError& e) {
        // The VM's heap ran out while the command's own frame was current (a
        // string, table or buffer it was building): the command failed, as
        // above. Out of memory in script code it called, that code's error
        // goes on unwinding.
        if (e.code != ERR_MEM || L->ci != VmRestoreFrame(L, handlerFrame.frame)) throw;
        // The throw marked the protected run around this call as failed; it
        // goes on.
        L->errorJmp->status = 0;
        n = OutOfMemory(L, handlerFrame);
    }
    auto u = static_cast<uint32_t>(n);
    if (u <= static_cast<uint32_t>(kMaxResultCount)) return L->top - n;
    if (n == kLabelJumpResume) return kPreCallLabelResume;
    if (n == kLabelJumpRepeat) return kPreCallLabelRepeat;
    int code = n;
    VmGlobal* g = L->g;
    if (!g->errorHandlerRunning) {
        g->errorHandlerRunning = true;
        struct Clear {
            VmGlobal* g;
            ~Clear() { g->errorHandlerRunning = false; }
        } clear{g};
        code = VmActiveHost.scriptErrorHandler(L, code);
    }
    *errorCode = code;
    return L->top;  // no results
}

}  // namespace

// ---- errors -------------------------------------------------------------

uint32_t NativeCallExtras = 0;
uint64_t HookedHandlerFilter = 0;

void VmThrow(ScriptState* L, int code) {
    if (L->errorJmp == nullptr) {
        if (L->g->panic) L->g->panic(L);
        char text[kVmErrorTextSize];
        VmActiveHost.errorText(code, text);
        std::fprintf(stderr, "%s\n", text);
        std::exit(1);
    }
    L->errorJmp->status = code;
    throw VmError{code};
}

void VmRaiseError(ScriptState* L, int code) {
    // A bad instruction met while running has no checker's place to show.
    if (code == ERR_BADBYTECODE) VmActiveHost.setErrorDetail("");
    CallFrame* ci = L->ci;
    VmActiveHost.noteRaise(L, (ci->state & kFrameNative) ? -1 : VmCurrentLine(L, ci));
    VmThrow(L, code);
}

void VmRaiseNamed(ScriptState* L, const ScriptValue* slot, int code, const char* suffix) {
    const char* kind = nullptr;
    const char* name = VmGetVarName(L, slot, &kind);
    char detail[kVmErrorDetailSize];
    std::snprintf(detail, sizeof detail, "%s%s", name ? name : "??", suffix);
    VmActiveHost.setErrorDetail(detail);
    VmRaiseError(L, code);
}

int VmProtectedRun(ScriptState* L, VmProtectedFn f, void* ud) {
    VmErrorJump lj{L->errorJmp, 0};
    L->errorJmp = &lj;
    try {
        f(L, ud);
    } catch (const VmError& e) {
        lj.status = e.code;
    } catch (const std::bad_alloc&) {
        lj.status = ERR_MEM;
    }
    L->errorJmp = lj.previous;
    return lj.status;
}

int VmProtectedCall(ScriptState* L, VmProtectedFn f, void* ud, ptrdiff_t oldtop, ptrdiff_t ef) {
    uint16_t oldnCcalls = L->nCcalls;
    ptrdiff_t oldci = VmSaveFrame(L, L->ci);
    uint8_t oldallowhooks = L->allowhook;
    ptrdiff_t olderrfunc = L->errfunc;
    L->errfunc = ef;
    int status = VmProtectedRun(L, f, ud);
    if (status != 0) {
        ScriptValue* oldtopp = VmRestoreStack(L, oldtop);
        VmCloseUpvalues(L, oldtopp);
        L->nCcalls = oldnCcalls;
        L->ci = VmRestoreFrame(L, oldci);
        L->base = L->ci->base;
        VmDropGosubs(L, static_cast<int>(L->ci - L->base_ci) + 1);
        L->allowhook = oldallowhooks;
        // Drop whatever the failed call left, so that callers that retry in a
        // loop (callbacks with errors switched off) do not creep up the stack.
        L->top = oldtopp;
        L->stack_last = L->stack + L->stacksize - kStackSpare;
        if (L->size_ci > kMaxFrames && (L->ci - L->base_ci) < kMaxFrames - 1)
            VmReallocFrames(L, kMaxFrames);
    }
    L->errfunc = olderrfunc;
    return status;
}

int VmProtectedNative(ScriptState* L, VmProtectedFn f, void* ud) {
    return VmProtectedCall(L, f, ud, VmSaveStack(L, L->top), L->errfunc);
}

// ---- stack and frames -------------------------------------------------------

void VmReallocStack(ScriptState* L, int newsize) {
    ScriptValue* oldstack = L->stack;
    L->stack = VmResizeVector(L, L->stack, static_cast<size_t>(L->stacksize), static_cast<size_t>(newsize));
    for (int i = L->stacksize; i < newsize; i++) SetNil(L->stack + i);
    L->stacksize = newsize;
    L->stack_last = L->stack + newsize - kStackSpare;
    CorrectStack(L, oldstack);
}

void VmGrowStack(ScriptState* L, int n) {
    if (n <= L->stacksize)
        VmReallocStack(L, 2 * L->stacksize);
    else
        VmReallocStack(L, L->stacksize + n + kExtraStack);
}

void VmReallocFrames(ScriptState* L, int newsize) {
    CallFrame* oldci = L->base_ci;
    L->base_ci = VmResizeVector(L, L->base_ci, L->size_ci, static_cast<size_t>(newsize));
    L->size_ci = static_cast<uint16_t>(newsize);
    L->ci = (L->ci - oldci) + L->base_ci;
    L->end_ci = L->base_ci + L->size_ci;
}

CallFrame* VmGrowFrames(ScriptState* L) {
    if (L->size_ci > kMaxFrames) {
        VmThrow(L, ERR_STACK);  // already reporting an overflow
    } else {
        VmReallocFrames(L, 2 * L->size_ci);
        if (L->size_ci > kMaxFrames) VmRaiseError(L, ERR_STACK);
    }
    return ++L->ci;
}

// ---- calls --------------------------------------------------------------------

ScriptValue* VmPreCall(ScriptState* L, ScriptValue* func, int* errorCode) {
    if (!IsFunction(func)) func = TryCallMetamethod(L, func);
    auto* cl = ClosureValue(func);
    if (cl->isNative) return CallNative(L, func, errorCode);

    ScriptProto* p = static_cast<VmScriptClosure*>(cl)->p;
    ptrdiff_t funcr = VmSaveStack(L, func);
    if (p->is_vararg) AdjustVarargs(L, p->numparams, func + 1);
    VmCheckStackRoom(L, p->maxstacksize);
    CallFrame* ci = NextFrame(L);
    func = VmRestoreStack(L, funcr);
    L->base = ci->base = func + 1;
    ci->top = L->base + p->maxstacksize;
    ci->savedpc = p->code;
    ci->tracedpc = nullptr;
    ci->tailcalls = 0;
    ci->state = kFrameSavedPC;
    while (L->top < ci->top) SetNil(L->top++);
    L->top = ci->top;
    return nullptr;
}

void VmPostCall(ScriptState* L, ScriptValue* firstResult, int wanted) {
    if (L->hookmask & kMaskRet) {
        ptrdiff_t fr = VmSaveStack(L, firstResult);
        CallReturnHooks(L, firstResult);
        firstResult = VmRestoreStack(L, fr);
    }
    ScriptValue* res = L->ci->base - 1;
    VmDropGosubs(L, static_cast<int>(L->ci - L->base_ci));
    L->ci--;
    L->base = L->ci->base;
    while (wanted != 0 && firstResult < L->top) {
        CopyValue(res++, firstResult++);
        wanted--;
    }
    while (wanted-- > 0) SetNil(res++);
    L->top = res;
}

int VmCallValue(ScriptState* L, ScriptValue* func, int nresults) {
    // The one road of every call from native code: what it runs may free
    // anything the caller found.
    scriptEpoch.fetch_add(1, std::memory_order_relaxed);
    if (++L->nCcalls >= kMaxNativeCalls) {
        if (L->nCcalls == kMaxNativeCalls)
            VmRaiseError(L, ERR_STACK);
        else if (L->nCcalls >= kNativeCallsHardLimit)
            VmThrow(L, ERR_STACK);
    }
    struct Depth {
        ScriptState* L;
        ~Depth() { L->nCcalls--; }
    } depth{L};
    ptrdiff_t funcr = VmSaveStack(L, func);
    // The results land from the function's slot upwards.
    if (nresults > 0) VmCheckStackRoom(L, nresults);
    func = VmRestoreStack(L, funcr);
    ptrdiff_t callerFrame = VmSaveFrame(L, L->ci);
    int err = 0;
    ScriptValue* firstResult = VmPreCall(L, func, &err);
    if (firstResult == nullptr) firstResult = VmExecute(L);
    if (firstResult == nullptr || firstResult == kPreCallLabelResume || firstResult == kPreCallLabelRepeat) {
        // Cut short (end flag) or a label request outside the interpreter loop:
        // the call settles as having returned nothing.
        func = VmRestoreStack(L, funcr);
        VmCloseUpvalues(L, func + 1);
        L->ci = VmRestoreFrame(L, callerFrame) + 1;
        L->top = L->ci->base;
        firstResult = L->top;
    }
    VmPostCall(L, firstResult, nresults);
    VmCheckGC(L);
    return err;
}

// ---- public call API ----------------------------------------------------------

uint64_t VmScriptEpoch() { return scriptEpoch.load(std::memory_order_relaxed); }

namespace {
struct CallArgs {
    ScriptValue* func;
    int nresults;
    int err;
};
void DoProtectedCall(ScriptState* L, void* ud) {
    auto* c = static_cast<CallArgs*>(ud);
    c->err = VmCallValue(L, c->func, c->nresults);
}
}  // namespace

// The function and its arguments must lie inside the caller's frame.
static bool CallArgsPresent(ScriptState* L, int nargs) {
    if (nargs >= 0 && L->top - L->base >= nargs + 1) return true;
    VmRaiseError(L, ERR_STACK);
    return false;
}

int VmCall(ScriptState* L, int nargs, int nresults) {
    if (!CallArgsPresent(L, nargs)) return ERR_STACK;
    ScriptValue* func = L->top - (nargs + 1);
    return VmCallValue(L, func, nresults);
}

int VmCallGiven(ScriptState* L, int nargs, int nresults) {
    const int err = VmCall(L, nargs, nresults);
    if (err != 0) VmActiveHost.commandError(L, err);
    return err;
}

int VmPCall(ScriptState* L, int nargs, int nresults, int errfunc) {
    if (nargs < 0 || L->top - L->base < nargs + 1) return ERR_STACK;
    ptrdiff_t func = 0;
    if (errfunc != 0) func = VmSaveStack(L, errfunc > 0 ? L->base + (errfunc - 1) : L->top + errfunc);
    CallArgs c{L->top - (nargs + 1), nresults, 0};
    int status = VmProtectedCall(L, DoProtectedCall, &c, VmSaveStack(L, c.func), func);
    return status != 0 ? status : c.err;
}

// ---- loading ----------------------------------------------------------------------

namespace {
struct LoadArgs {
    VmReader* z;
    VmCodeFault* fault;  // null: the reason of a refusal is not wanted
};
// The closure comes first, so that the prototype is held the moment the
// loader lets go of it (a closure without one is skipped by the collector).
void DoLoad(ScriptState* L, void* ud) {
    auto* a = static_cast<LoadArgs*>(ud);
    VmScriptClosure* cl = VmNewScriptClosure(L, 0, &L->gt);
    SetClosure(L->top, cl);
    VmIncrTop(L);
    cl->p = VmUndump(L, a->z, a->fault);
}

int LoadWith(ScriptState* L, VmReader* z, VmCodeFault* fault = nullptr) {
    VmCheckGC(L);
    LoadArgs a{z, fault};
    ptrdiff_t oldtop = VmSaveStack(L, L->top);
    int status = VmProtectedCall(L, DoLoad, &a, oldtop, L->errfunc);
    // The scratch buffer only serves the loader.
    VmRealloc(L, L->g->buff.buffer, L->g->buff.size, 0);
    L->g->buff.buffer = nullptr;
    L->g->buff.size = 0;
    return status;
}

struct BufferSource {
    const char* data;
    size_t size;
};
const char* ReadWholeBuffer(ScriptState*, void* ud, size_t* size) {
    auto* s = static_cast<BufferSource*>(ud);
    *size = s->size;
    s->size = 0;
    return s->data;
}
}  // namespace

int VmLoad(ScriptState* L, VmReaderFn reader, void* data, const char* chunkname) {
    VmReader z;
    VmReaderInit(L, &z, reader, data, chunkname ? chunkname : "?");
    (void)VmReaderPeek(&z);
    return LoadWith(L, &z);
}

namespace {
int LoadBufferWith(ScriptState* L, const char* data, size_t size, const char* chunkname, VmCodeFault* fault) {
    BufferSource src{data, size};
    VmReader z;
    VmReaderInit(L, &z, ReadWholeBuffer, &src, chunkname ? chunkname : "?");
    z.sizeKnown = true;
    z.remainingTotal = size;
    return LoadWith(L, &z, fault);
}
}  // namespace

// A chunk the checker refuses is reported with its place and reason after
// "Bad bytecode!"; any other refusal leaves no stale place behind.
int VmLoadBuffer(ScriptState* L, const char* data, size_t size, const char* chunkname) {
    VmCodeFault fault;
    const int status = LoadBufferWith(L, data, size, chunkname, &fault);
    if (status == ERR_BADBYTECODE) VmActiveHost.setErrorDetail(VmDescribeCodeFault(fault).c_str());
    return status;
}

// The loader run for its verdict alone, in a state of its own, so that a
// tool learns where the player would refuse a chunk.
int VmCheckChunk(const char* data, size_t size, VmCodeFault* fault) {
    ScriptState* L = VmOpen();
    if (L == nullptr) return ERR_MEM;
    VmCodeFault found;
    const int status = LoadBufferWith(L, data, size, "?", &found);
    VmClose(L);
    if (status != 0 && fault) *fault = found;
    return status;
}
