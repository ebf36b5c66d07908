// The interpreter loop. One activation runs the function it was entered with
// and every script function that calls further (script-to-script calls and
// returns do not recurse on the native stack). It also owns the end flag, the
// gosub stack and the label jumps that command handlers request.
#include <cmath>
#include <cstdlib>
#include <cstdint>

#include "core/context.h"
#include "core/errcodes.h"
#include "vm/internal.h"

namespace {

// Both candidate addresses are formed and one is selected, so that the
// choice compiles to a conditional move rather than a branch per operand.
inline const ScriptValue* RK(ScriptValue* base, const ScriptValue* k, int x) {
    uintptr_t reg = reinterpret_cast<uintptr_t>(base) + static_cast<uintptr_t>(x) * sizeof(ScriptValue);
    uintptr_t cst = reinterpret_cast<uintptr_t>(k) + static_cast<uintptr_t>(x - kRKConstBase) * sizeof(ScriptValue);
    return reinterpret_cast<const ScriptValue*>(x >= kRKConstBase ? cst : reg);
}

// Line and count hook events before an instruction. The frame's saved pc is
// current here; the hook's own bookkeeping uses the frame's traced pc.
// The running prototype comes from the interpreter, which holds it already:
// finding it from the frame is a chain of dependent loads.
void TraceExec(ScriptState* L, const ScriptProto* p, const Instruction* pc) {
    uint8_t mask = L->hookmask;
    if ((mask & kMaskCount) && --L->hookcount <= 0) {
        L->hookcount = L->basehookcount;
        VmCallHook(L, kHookCount, -1);
        return;
    }
    if (!(mask & kMaskLine)) return;
    CallFrame* ci = L->ci;
    auto lineAt = [p](const Instruction* at) {
        ptrdiff_t idx = at - p->code - 1;
        return (p->sizelineinfo > 0 && idx >= 0 && idx < p->sizelineinfo) ? p->lineinfo[idx] : 0;
    };
    int newline = lineAt(pc);
    if (!L->hookinit) {
        // Tracing starts now: every live frame remembers where it stands.
        L->hookinit = 1;
        for (CallFrame* f = L->base_ci; f <= L->ci; f++) f->tracedpc = f->savedpc;
        return;
    }
    if (pc - p->code - 1 == 0 || ci->tracedpc == nullptr) ci->tracedpc = pc;
    if (pc <= ci->tracedpc || newline != lineAt(ci->tracedpc)) {
        VmCallHook(L, kHookLine, newline);
        ci = L->ci;
    }
    ci->tracedpc = pc;
}

[[noreturn]] void Raise(ScriptState* L, int code) { VmRaiseError(L, code); }

// The gosub stack is shared by all functions; each entry remembers the depth
// of the frame that pushed it. It is made on first use: most scripts never
// gosub, and it is not script memory.
void PushGosub(ScriptState* L, const Instruction* resume) {
    VmGlobal* g = L->g;
    if (g->gosubCount >= kGosubStackSize) Raise(L, ERR_INTERNAL);
    if (g->gosubStack == nullptr) {
        g->gosubStack = static_cast<GosubEntry*>(std::calloc(kGosubStackSize, sizeof(GosubEntry)));
        if (g->gosubStack == nullptr) Raise(L, ERR_MEM);
    }
    g->gosubStack[g->gosubCount++] = {resume, static_cast<int>(L->ci - L->base_ci)};
}

inline double ToNumberOrRaise(ScriptState* L, ScriptValue* v) {
    if (IsNumber(v)) return v->value.n;
    ScriptValue n;
    if (!VmToNumberValue(v, &n)) Raise(L, ERR_VALUEEXPECTED);
    *v = n;
    return n.value.n;
}

inline int64_t IntOperand(double x) { return static_cast<int64_t>(VmTruncInt32(x)); }

}  // namespace

void VmUpdateTrap(ScriptState* L) {
    L->trap = (L->hookmask & kTrapHookBits) | (L->g->endFlag ? kTrapEnd : 0);
}

void VmSetEndFlag(ScriptState* L, int value) {
    L->g->endFlag = value;
    VmUpdateTrap(L->g->mainthread ? L->g->mainthread : L);
    if (L->g->mainthread && L != L->g->mainthread) VmUpdateTrap(L);
}
int VmGetEndFlag(ScriptState* L) { return L->g->endFlag; }

// Dispatch is a table of label addresses (computed goto): one indirect jump
// per instruction, each from its own site. pc, base, the constants and the
// trap word live in locals (pc in a register: it is stored into the frame
// only before something that may look at it — a call, a metamethod, a raise,
// an allocation, a hook). The trap word is read again after anything that may
// call out, since only that can set the end flag or install a hook.
ScriptValue* VmExecute(ScriptState* L) {
    static void* const kDispatch[64] = {
        &&op_MOVE, &&op_LOADK, &&op_LOADBOOL, &&op_LOADNIL, &&op_GETUPVAL, &&op_GETGLOBAL, &&op_GETTABLE,
        &&op_SETGLOBAL, &&op_SETUPVAL, &&op_SETTABLE, &&op_NEWTABLE, &&op_ADD, &&op_SUB, &&op_MUL, &&op_DIV,
        &&op_DIVINT, &&op_MOD, &&op_LSH, &&op_RSH, &&op_OR, &&op_AND, &&op_XOR, &&op_POW, &&op_UNM, &&op_NOT,
        &&op_BNOT, &&op_CONCAT, &&op_JMP, &&op_EQ, &&op_LT, &&op_LE, &&op_TEST, &&op_CALL, &&op_CALL,
        &&op_RETURN, &&op_FORLOOP, &&op_TFORLOOP, &&op_TFORPREP, &&op_SETLIST, &&op_SETLIST, &&op_CLOSE,
        &&op_CLOSURE, &&op_SELF,
        &&op_NOP, &&op_NOP, &&op_NOP, &&op_NOP, &&op_NOP, &&op_NOP, &&op_NOP, &&op_NOP, &&op_NOP, &&op_NOP,
        &&op_NOP, &&op_NOP, &&op_NOP, &&op_NOP, &&op_NOP, &&op_NOP, &&op_NOP, &&op_NOP, &&op_NOP, &&op_NOP,
        &&op_NOP,
    };
    const Instruction* pc;
    VmScriptClosure* cl;
    const ScriptValue* k;
    ScriptValue* base;
    Instruction i;
    ScriptValue* ra;
    uint32_t trap;

// After anything that may have called out: the stack and the frame array
// may have moved, and the trap word may have changed.
#define REFRESH()         \
    do {                  \
        base = L->base;   \
        trap = L->trap;   \
    } while (0)
// With the trap word set (end flag or hooks) each instruction is first looked
// at here, still dispatching from its own site. The line hook stays installed
// while a script runs, so its common case is decided inline: going straight on
// within one line (the line table says whether an instruction starts a new
// line) is no event.
#define DISPATCH()                                                                        \
    do {                                                                                  \
        i = *pc++;                                                                        \
        if (trap) {                                                                       \
            if (L->g->endFlag) return nullptr;                                            \
            CallFrame* hci_ = L->ci;                                                      \
            const ScriptProto* hp_ = cl->p;                                               \
            if ((L->hookmask & (kMaskLine | kMaskCount)) == kMaskLine && hci_->tracedpc != nullptr && \
                pc == hci_->tracedpc + 1 && L->hookinit &&                                \
                (hp_->sizelineinfo == 0 ||                                                \
                 hp_->lineinfo[pc - hp_->code - 1] == hp_->lineinfo[pc - hp_->code - 2])) { \
                hci_->tracedpc = pc;                                                      \
            } else if (L->hookmask & (kMaskLine | kMaskCount)) {                          \
                PROTECT(TraceExec(L, hp_, pc));                                           \
                if (L->g->endFlag) return nullptr;                                        \
            }                                                                             \
        }                                                                                 \
        ra = base + GetArgA(i);                                                           \
        goto* kDispatch[GetOpcode(i)];                                                    \
    } while (0)
#define SAVEPC() (L->ci->savedpc = pc)
#define PROTECT(stmt) \
    do {              \
        SAVEPC();     \
        stmt;         \
        REFRESH();    \
    } while (0)
#define RAISE(code)          \
    do {                     \
        SAVEPC();            \
        Raise(L, code);      \
    } while (0)
#define RKB() RK(base, k, GetArgB(i))
#define RKC() RK(base, k, GetArgC(i))
#define STORE_RESULT(v)              \
    do {                             \
        SAVEPC();                    \
        ScriptValue result_ = (v);   \
        REFRESH();                   \
        base[GetArgA(i)] = result_;  \
    } while (0)

callentry:
    if (L->hookmask & kMaskCall) VmCallHook(L, kHookCall, -1);
retentry:
    L->ci->state = kFrameHasFrame;
    pc = L->ci->savedpc;
    cl = static_cast<VmScriptClosure*>(ClosureValue(L->base - 1));
    k = cl->p->k;
    REFRESH();
    DISPATCH();

op_MOVE:
    *ra = base[GetArgB(i)];
    DISPATCH();
op_LOADK:
    *ra = k[GetArgBx(i)];
    DISPATCH();
op_LOADBOOL:
    // Truth values are the numbers 1 and 0.
    SetNumber(ra, GetArgB(i));
    if (GetArgC(i)) pc++;
    DISPATCH();
op_LOADNIL: {
    ScriptValue* rb = base + GetArgB(i);
    do SetNil(rb--);
    while (rb >= ra);
    DISPATCH();
}
op_GETUPVAL:
    *ra = *VmScriptUpvals(cl)[GetArgB(i)]->v;
    DISPATCH();
op_GETGLOBAL: {
    const ScriptValue* key = k + GetArgBx(i);
    if (IsTable(&cl->globals)) {
        const ScriptValue* v = VmTableGetStrFast(TableValue(&cl->globals), StrValue(key));
        if (!IsNil(v)) {
            *ra = *v;
            DISPATCH();
        }
    }
    STORE_RESULT(VmGetTable(L, &cl->globals, key, false));
    DISPATCH();
}
op_GETTABLE: {
    const ScriptValue* rb = base + GetArgB(i);
    const ScriptValue* rc = RKC();
    if (IsTable(rb)) {
        VmTable* h = TableValue(rb);
        const ScriptValue* v;
        if (IsString(rc))
            v = VmTableGetStrFast(h, StrValue(rc));
        else if (const ScriptValue* slot = VmTableArraySlot(h, rc))
            v = slot;
        else
            v = VmTableGet(h, rc);
        if (!IsNil(v)) {
            *ra = *v;
            DISPATCH();
        }
    }
    STORE_RESULT(VmGetTable(L, rb, rc, true));
    DISPATCH();
}
op_SETGLOBAL:
    PROTECT(VmSetTable(L, &cl->globals, k + GetArgBx(i), ra));
    DISPATCH();
op_SETUPVAL:
    *VmScriptUpvals(cl)[GetArgB(i)]->v = *ra;
    DISPATCH();
op_SETTABLE: {
    const ScriptValue* rb = RKB();
    if (IsTable(ra)) {
        // An existing slot takes the value whatever the metatable says; a
        // nil one only when the metatable is known to have no "__newindex".
        VmTable* h = TableValue(ra);
        ScriptValue* slot = IsString(rb) ? const_cast<ScriptValue*>(VmTableGetStrFast(h, StrValue(rb)))
                                         : VmTableArraySlot(h, rb);
        if (slot != nullptr && slot != &kNilObject) {
            if (!IsNil(slot)) {
                *slot = *RKC();
                DISPATCH();
            }
            if (h->metatable != nullptr && (h->metatable->flags & (1u << TM_NEWINDEX))) {
                h->flags = 0;  // a key appears: the table's own absence cache is stale
                *slot = *RKC();
                DISPATCH();
            }
        }
    }
    PROTECT(VmSetTable(L, ra, rb, RKC()));
    DISPATCH();
}
op_NEWTABLE: {
    // B is a tiny float: mantissa in the low 3 bits, exponent above. An
    // exponent beyond the array limit asks for a size the table refuses.
    int b = GetArgB(i), mantissa = b & 7, exponent = b >> 3;
    int arraySize = mantissa == 0 ? 0 : exponent > kMaxArrayBits ? INT32_MAX : mantissa << exponent;
    SAVEPC();
    SetTable(ra, VmNewTable(L, arraySize, GetArgC(i)));
    if (VmCheckGC(L)) REFRESH();
    DISPATCH();
}

#define ARITH(event, expr)                                    \
    {                                                         \
        const ScriptValue* rb = RKB();                        \
        const ScriptValue* rc = RKC();                        \
        if (IsNumber(rb) && IsNumber(rc)) {                   \
            double nb = rb->value.n, nc = rc->value.n;        \
            SetNumber(ra, (expr));                            \
        } else {                                              \
            STORE_RESULT(VmArith(L, rb, rc, event));          \
        }                                                     \
        DISPATCH();                                           \
    }
op_ADD:
    ARITH(TM_ADD, nb + nc)
op_SUB:
    ARITH(TM_SUB, nb - nc)
op_MUL:
    ARITH(TM_MUL, nb * nc)
op_DIV:
    ARITH(TM_DIV, (nc == 0 ? (SAVEPC(), Raise(L, ERR_ZERODIVISION), 0.0) : nb / nc))
op_DIVINT:
    ARITH(TM_DIVINT, (IntOperand(nc) == 0 ? (SAVEPC(), Raise(L, ERR_ZERODIVISION), 0.0)
                                          : static_cast<double>(IntOperand(nb) / IntOperand(nc))))
op_MOD:
    ARITH(TM_MOD, (IntOperand(nc) == 0 ? (SAVEPC(), Raise(L, ERR_ZERODIVISION), 0.0)
                                       : static_cast<double>(IntOperand(nb) % IntOperand(nc))))
op_LSH:
    ARITH(TM_LSH, static_cast<uint32_t>(VmBitPattern(nb) << (VmTruncInt32(nc) & 31)))
op_RSH:
    ARITH(TM_RSH, VmBitPattern(nb) >> (VmTruncInt32(nc) & 31))
op_OR:
    ARITH(TM_OR, VmBitPattern(nb) | VmBitPattern(nc))
op_AND:
    ARITH(TM_AND, VmBitPattern(nb) & VmBitPattern(nc))
op_XOR:
    ARITH(TM_XOR, VmBitPattern(nb) ^ VmBitPattern(nc))
op_POW:
    ARITH(TM_POW, std::pow(nb, nc))
#undef ARITH

op_UNM: {
    const ScriptValue* rb = base + GetArgB(i);
    if (IsNumber(rb))
        SetNumber(ra, -rb->value.n);
    else
        STORE_RESULT(VmUnaryMinus(L, rb));
    DISPATCH();
}
op_NOT:
    SetNumber(ra, VmIsFalse(base + GetArgB(i)) ? 1 : 0);
    DISPATCH();
op_BNOT: {
    const ScriptValue* rb = base + GetArgB(i);
    if (IsNumber(rb))
        SetNumber(ra, static_cast<uint32_t>(~VmBitPattern(rb->value.n)));
    else
        STORE_RESULT(VmBitNot(L, rb));
    DISPATCH();
}
op_CONCAT: {
    int b = GetArgB(i), c = GetArgC(i);
    PROTECT(VmConcatRange(L, c - b + 1, c));
    base[GetArgA(i)] = base[b];
    if (VmCheckGC(L)) REFRESH();
    DISPATCH();
}
op_JMP:
    if (GetJumpKind(i) == kJumpKindGosub) {
        SAVEPC();
        PushGosub(L, pc);
    }
    pc += GetArgSJ(i);
    DISPATCH();

#define COMPARE(numexpr, slow)                              \
    {                                                       \
        const ScriptValue* rb = RKB();                      \
        const ScriptValue* rc = RKC();                      \
        int res;                                            \
        if (IsNumber(rb) && IsNumber(rc)) {                 \
            double nb = rb->value.n, nc = rc->value.n;      \
            res = (numexpr);                                \
        } else {                                            \
            SAVEPC();                                       \
            res = slow(L, rb, rc);                          \
            REFRESH();                                      \
        }                                                   \
        if (res != GetArgA(i))                              \
            pc++;                                           \
        else                                                \
            pc += GetArgSJ(*pc) + 1;                        \
        DISPATCH();                                         \
    }
op_EQ:
    COMPARE(nb == nc, VmEqualObj)
op_LT:
    COMPARE(nb < nc, VmLessThan)
op_LE:
    COMPARE(nb <= nc, VmLessEqual)
#undef COMPARE

op_TEST: {
    const ScriptValue* rb = base + GetArgB(i);
    if ((VmIsFalse(rb) ? 1 : 0) == GetArgC(i)) {
        pc++;
    } else {
        *ra = *rb;
        pc += GetArgSJ(*pc) + 1;
    }
    DISPATCH();
}
op_CALL: {
    int b = GetArgB(i);
    int nresults = GetArgC(i) - 1;
    if (b != 0) L->top = ra + b;
    if (GetOpcode(i) == OP_CALL && IsFunction(ra) && !ClosureValue(ra)->isNative) {
        // A script function without varargs whose frame fits without growing
        // anything is entered right here.
        auto* callee = static_cast<VmScriptClosure*>(ClosureValue(ra));
        const ScriptProto* p = callee->p;
        if (!p->is_vararg && L->ci + 1 != L->end_ci && L->stack_last - L->top > p->maxstacksize) {
            CallFrame* nci = ++L->ci;
            (nci - 1)->savedpc = pc;
            (nci - 1)->state = kFrameSavedPC | kFrameCalling;
            base = L->base = nci->base = ra + 1;
            nci->top = base + p->maxstacksize;
            nci->savedpc = p->code;
            nci->tracedpc = nullptr;
            nci->tailcalls = 0;
            nci->state = kFrameHasFrame;
            for (ScriptValue* slot = L->top; slot < nci->top; slot++) SetNil(slot);
            L->top = nci->top;
            cl = callee;
            k = p->k;
            pc = p->code;
            if (L->hookmask & kMaskCall) {
                VmCallHook(L, kHookCall, -1);
                REFRESH();
            }
            DISPATCH();
        }
    }
    SAVEPC();
    // Only a command reads the index (to aim a label jump), so a script
    // callee entered above does not need it.
    L->g->currentInstrIndex = static_cast<int>(pc - cl->p->code);
    int err = 0;
    ScriptValue* firstResult = VmPreCall(L, ra, &err);
    if (err != 0) {
        // The command's frame is still the current level, so the error text
        // can name it.
        HandleCommandError(L, err);
    }
    if (firstResult == nullptr) {
        if (GetOpcode(i) == OP_CALL) {
            (L->ci - 1)->savedpc = pc;
            (L->ci - 1)->state = kFrameSavedPC | kFrameCalling;
        } else {
            // The called function takes the running function's place; the
            // caller's frame counts one lost tail call, and the gosubs of the
            // replaced function go with it.
            CallFrame* running = L->ci - 1;
            ScriptValue* func = running->base - 1;
            ScriptValue* pfunc = (running + 1)->base - 1;
            if (L->openupval && static_cast<VmUpval*>(L->openupval)->v >= base) VmCloseUpvalues(L, base);
            VmDropGosubs(L, static_cast<int>(running - L->base_ci));
            int aux = 0;
            for (; pfunc + aux < L->top; aux++) func[aux] = pfunc[aux];
            running->top = L->top = func + aux;
            running->savedpc = L->ci->savedpc;
            running->tracedpc = nullptr;
            running->tailcalls++;
            running->state = kFrameSavedPC;
            L->ci--;
            L->base = L->ci->base;
        }
        goto callentry;
    }
    if (firstResult == kPreCallLabelResume || firstResult == kPreCallLabelRepeat) {
        // A label jump: the code at the label returns here like a gosub.
        const Instruction* resume = firstResult == kPreCallLabelResume ? pc : pc - 2;
        ptrdiff_t target = (pc - cl->p->code) + L->g->labelJumpOffset;
        VmPostCall(L, L->top, nresults);
        if (nresults >= 0) L->top = L->ci->top;
        REFRESH();
        if (resume < cl->p->code || target < 0 || target >= cl->p->sizecode) RAISE(ERR_INTERNAL);
        PushGosub(L, resume);
        pc = cl->p->code + target;
        DISPATCH();
    }
    VmPostCall(L, firstResult, nresults);
    if (nresults >= 0) L->top = L->ci->top;
    REFRESH();
    DISPATCH();
}
op_RETURN: {
    int b = GetArgB(i);
    if (GetArgC(i) == 1) {
        // Only a gosub of this very frame can be returned from.
        if (L->g->gosubCount == 0 || L->g->gosubStack[L->g->gosubCount - 1].depth != static_cast<int>(L->ci - L->base_ci))
            RAISE(ERR_RETWOGOSUB);
        pc = L->g->gosubStack[--L->g->gosubCount].pc;
        DISPATCH();
    }
    if (b != 0) L->top = ra + b - 1;
    if (L->openupval && static_cast<VmUpval*>(L->openupval)->v >= base) VmCloseUpvalues(L, base);
    if (!((L->ci - 1)->state & kFrameCalling)) {
        L->ci->state = kFrameSavedPC;
        L->ci->savedpc = pc;
        return ra;
    }
    int wanted = GetArgC(*((L->ci - 1)->savedpc - 1)) - 1;
    if (L->hookmask & kMaskRet) {
        L->ci->state = kFrameSavedPC;
        L->ci->savedpc = pc;
        VmPostCall(L, ra, wanted);
    } else {
        // The common return into a calling script frame, without hooks.
        ScriptValue* res = L->ci->base - 1;
        if (L->g->gosubCount > 0) VmDropGosubs(L, static_cast<int>(L->ci - L->base_ci));
        L->ci--;
        L->base = L->ci->base;
        int n = wanted;
        while (n != 0 && ra < L->top) {
            *res++ = *ra++;
            n--;
        }
        while (n-- > 0) SetNil(res++);
        L->top = res;
    }
    if (wanted >= 0) L->top = L->ci->top;
    goto retentry;
}
op_FORLOOP: {
    if (!IsNumber(ra)) RAISE(ERR_VALUEEXPECTED);
    double limit = IsNumber(ra + 1) ? ra[1].value.n : (SAVEPC(), ToNumberOrRaise(L, ra + 1));
    double step = IsNumber(ra + 2) ? ra[2].value.n : (SAVEPC(), ToNumberOrRaise(L, ra + 2));
    double idx = ra->value.n + step;
    if (step > 0 ? idx <= limit : idx >= limit) {
        pc += GetArgSBx(i);
        ra->value.n = idx;
    }
    DISPATCH();
}
op_TFORLOOP: {
    int nvar = GetArgC(i) + 1;
    ScriptValue* cb = ra + nvar + 2;
    cb[0] = ra[0];
    cb[1] = ra[1];
    cb[2] = ra[2];
    L->top = cb + 3;
    SAVEPC();
    ptrdiff_t raOff = VmSaveStack(L, ra);
    int err = VmCallValue(L, cb, nvar);
    if (err != 0) HandleCommandError(L, err);
    L->top = L->ci->top;
    REFRESH();
    ra = VmRestoreStack(L, raOff);
    cb = ra + nvar + 2;
    for (int j = 0; j < nvar; j++) ra[2 + j] = cb[j];
    if (IsNil(ra + 2))
        pc++;
    else
        pc += GetArgSJ(*pc) + 1;
    DISPATCH();
}
op_TFORPREP:
    if (IsTable(ra)) {
        SAVEPC();
        ra[1] = *ra;
        ScriptValue key;
        SetString(&key, VmNewString(L, "next", 4));
        ScriptValue v = VmGetTable(L, &cl->globals, &key, false);
        REFRESH();
        base[GetArgA(i)] = v;
    }
    pc += GetArgSBx(i);
    DISPATCH();
op_SETLIST: {
    int bc = GetArgBx(i);
    int n;
    if (GetOpcode(i) == OP_SETLIST) {
        n = (bc & (kFieldsPerFlush - 1)) + 1;
    } else {
        n = static_cast<int>(L->top - ra) - 1;
        L->top = L->ci->top;
    }
    // Compiled code never stores a list into anything but a table.
    SAVEPC();
    if (!IsTable(ra)) Raise(L, ERR_BADBYTECODE);
    VmTable* h = TableValue(ra);
    int first = bc & ~(kFieldsPerFlush - 1);
    for (; n > 0; n--) *VmTableSetInt(L, h, first + n - 1) = ra[n];
    DISPATCH();
}
op_CLOSE:
    VmCloseUpvalues(L, ra);
    DISPATCH();
op_CLOSURE: {
    SAVEPC();
    ScriptProto* p = cl->p->p[GetArgBx(i)];
    int nup = p->nups;
    VmScriptClosure* ncl = VmNewScriptClosure(L, nup, &cl->globals);
    ncl->p = p;
    for (int j = 0; j < nup; j++, pc++) {
        if (GetOpcode(*pc) == OP_GETUPVAL)
            VmScriptUpvals(ncl)[j] = VmScriptUpvals(cl)[GetArgB(*pc)];
        else
            VmScriptUpvals(ncl)[j] = VmFindUpvalue(L, base + GetArgB(*pc));
    }
    SetClosure(ra, ncl);
    if (VmCheckGC(L)) REFRESH();
    DISPATCH();
}
op_SELF: {
    ScriptValue rb = base[GetArgB(i)];
    const ScriptValue* rc = RKC();
    // Method names are string constants in compiled code.
    if (!IsString(rc)) RAISE(ERR_BADBYTECODE);
    ra[1] = rb;
    if (IsTable(&rb)) {
        const ScriptValue* v = VmTableGetStrFast(TableValue(&rb), StrValue(rc));
        if (!IsNil(v)) {
            *ra = *v;
            DISPATCH();
        }
    }
    // The register (not a copy) goes in, so that an error can name it.
    STORE_RESULT(VmGetTable(L, base + GetArgB(i), rc, false));
    DISPATCH();
}
op_NOP:
    DISPATCH();

#undef REFRESH
#undef SAVEPC
#undef PROTECT
#undef RAISE
#undef DISPATCH
#undef RKB
#undef RKC
#undef STORE_RESULT
}
