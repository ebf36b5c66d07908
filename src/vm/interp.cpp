// The interpreter loop. One activation runs the function it was entered with
// and every script function that calls further (script-to-script calls and
// returns do not recurse on the native stack). It also owns the end flag, the
// gosub stack and the label jumps that command handlers request.
#include <cmath>
#include <cstdlib>
#include <cstdint>

#include "core/errcodes.h"
#include "vm/internal.h"
#include "vm/quicken.h"

#define QB_LIKELY(x) __builtin_expect(!!(x), 1)
#define QB_UNLIKELY(x) __builtin_expect(!!(x), 0)

namespace {

// A register or constant operand: values of 250 and above name constants.
// The operand kind differs from site to site of one handler; a branch lets
// the load start before the comparison is done, a conditional move would not.
// Registers go straight on, constants jump aside and back.
inline const ScriptValue* RK(const ScriptValue* base, const ScriptValue* k, uint32_t x) {
    if (QB_LIKELY(x < static_cast<uint32_t>(kRKConstBase))) return base + x;
    return k + (x - kRKConstBase);
}

// The three dispatch tables of the loop: the plain one; the line table, whose
// entries first look whether the instruction starts a line (a function with
// line information under a line hook alone); and the slow table, whose one
// entry goes through the general tracer (count hook, tracing still to start,
// end flag).
enum : int { kPlainTable = 0, kLineTable = 1, kSlowTable = 2 };

// The line of the instruction just fetched (pc is one past it); 0 without
// line information.
inline int LineAt(const ScriptProto* p, const Instruction* pc) {
    ptrdiff_t idx = pc - p->code - 1;
    return idx >= 0 && idx < p->sizelineinfo ? p->lineinfo[idx] : 0;
}

// The line-start flag of the instruction just fetched is one byte at
// (pc / 4) + delta: instructions are 4-byte aligned, so one shift and one add
// find it from pc alone.
inline bool StartsLine(const Instruction* pc, uintptr_t delta) {
    return *reinterpret_cast<const uint8_t*>((reinterpret_cast<uintptr_t>(pc) >> 2) + delta) != 0;
}

// Which table the running function needs while the trap word is set.
__attribute__((always_inline)) inline int HookedTable(ScriptState* L, ScriptProto* p, uint32_t trap,
                                                     uintptr_t* lineDelta) {
    if (trap & (kTrapEnd | kTrapInit | kMaskCount)) return kSlowTable;
    if (!(trap & kMaskLine) || p->sizelineinfo == 0) return kPlainTable;
    const uint8_t* starts = p->linestarts != nullptr ? p->linestarts : VmLineStarts(L, p);
    *lineDelta = reinterpret_cast<uintptr_t>(starts) - (reinterpret_cast<uintptr_t>(p->code) >> 2) - 1;
    return kLineTable;
}

// Line and count hook events before an instruction, one instruction at a time
// (the slow table). The frame's saved pc is current here; the hook's own
// bookkeeping uses the frame's traced pc. The running prototype comes from the
// interpreter, which holds it already: finding it from the frame is a chain of
// dependent loads.
void TraceExec(ScriptState* L, const ScriptProto* p, const Instruction* pc) {
    uint8_t mask = L->hookmask;
    if ((mask & kMaskCount) && --L->hookcount <= 0) {
        L->hookcount = L->basehookcount;
        VmCallHook(L, kHookCount, -1);
        return;
    }
    if (!(mask & kMaskLine)) return;
    CallFrame* ci = L->ci;
    int newline = LineAt(p, pc);
    if (!L->hookinit) {
        // Tracing starts now: every live frame remembers where it stands.
        L->hookinit = 1;
        VmUpdateTrap(L);
        for (CallFrame* f = L->base_ci; f <= L->ci; f++) f->tracedpc = f->savedpc;
        return;
    }
    if (pc - p->code - 1 == 0 || ci->tracedpc == nullptr) ci->tracedpc = pc;
    if ((pc <= ci->tracedpc || newline != LineAt(p, ci->tracedpc)) && L->allowhook && VmLineEventDue(L)) {
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
    uint32_t hooks = L->hookmask & kTrapHookBits;
    uint32_t init = (hooks & (kMaskLine | kMaskCount)) && !L->hookinit ? kTrapInit : 0;
    L->trap = hooks | init | (L->g->endFlag ? kTrapEnd : 0);
}

void VmSetEndFlag(ScriptState* L, int value) {
    L->g->endFlag = value;
    VmUpdateTrap(L->g->mainthread ? L->g->mainthread : L);
    if (L->g->mainthread && L != L->g->mainthread) VmUpdateTrap(L);
}
// The interpreter loop follows this small function, which starts a cache
// line: so the loop starts 16 bytes into a line whatever the linker puts
// before this file. Where it happened to land moved fib, loop, closure and
// native calls by 5 to 13 % between builds that differed only in other files;
// 16 bytes in measured best (0, 32 and 48 were slower).
[[gnu::aligned(64)]] int VmGetEndFlag(ScriptState* L) { return L->g->endFlag; }

// Dispatch is a table of label addresses (computed goto): one indirect jump
// per instruction, each from its own site. pc, base and the constants live in
// locals (pc in a register: it is stored into the frame only before something
// that may look at it — a call, a metamethod, a raise, an allocation, a hook).
//
// Hooks and the end flag cost the hook-free path nothing per instruction: the
// trap word says when the interpreter must look, and it can change only when
// something calls out, after which the table is chosen again. The places where
// control does not simply go on to the next instruction (jumps, calls and
// returns) read the trap word themselves. The line hook's events come from
// those places and, in functions with line information, from the line table's
// check of the pre-decoded line-start flag; the general tracer runs only for
// the count hook and at the instruction where tracing starts.
ScriptValue* VmExecute(ScriptState* L) {
#define QB_HANDLERS(P)                                                                                    \
        &&P##MOVE, &&P##LOADK, &&P##LOADBOOL, &&P##LOADNIL, &&P##GETUPVAL, &&P##GETGLOBAL, &&P##GETTABLE, \
            &&P##SETGLOBAL, &&P##SETUPVAL, &&P##SETTABLE, &&P##NEWTABLE, QB_NOTWIN(P), QB_NOTWIN(P), \
            QB_NOTWIN(P), QB_NOTWIN(P), QB_NOTWIN(P), QB_NOTWIN(P), QB_NOTWIN(P), QB_NOTWIN(P), QB_NOTWIN(P),  \
            QB_NOTWIN(P), QB_NOTWIN(P), QB_NOTWIN(P),                                                      \
            &&P##UNM, &&P##NOT, &&P##BNOT, &&P##CONCAT, &&P##JMP, QB_NOTWIN(P), QB_NOTWIN(P), QB_NOTWIN(P), &&P##TEST,   \
            &&P##CALL, &&P##CALL, &&P##RETURN, QB_NOTWIN(P), &&P##TFORLOOP, &&P##TFORPREP, &&P##SETLIST,  \
            &&P##SETLIST, &&P##CLOSE, &&P##CLOSURE, &&P##SELF, QB_NOPS(P)
// Opcodes that always run from their pre-decoded form.
#define QB_NOTWIN(P) &&P##NOTWIN
#define QB_NOPS(P)                                                                                        \
    &&P##NOP, &&P##NOP, &&P##NOP, &&P##NOP, &&P##NOP, &&P##NOP, &&P##NOP, &&P##NOP, &&P##NOP, &&P##NOP,   \
        &&P##NOP, &&P##NOP, &&P##NOP, &&P##NOP, &&P##NOP, &&P##NOP, &&P##NOP, &&P##NOP, &&P##NOP,         \
        &&P##NOP, &&P##NOP
#define QB_Q4(name) &&q_##name##_RR, &&q_##name##_RK, &&q_##name##_KR, &&q_##name##_KK
#define QB_QUICK                                                                                           \
    QB_Q4(ADD), QB_Q4(SUB), QB_Q4(MUL), QB_Q4(DIV), QB_Q4(DIVINT), QB_Q4(MOD), QB_Q4(LSH), QB_Q4(RSH),      \
        QB_Q4(OR), QB_Q4(AND), QB_Q4(XOR), QB_Q4(POW), QB_Q4(EQ), QB_Q4(LT), QB_Q4(LE), &&q_FORLOOP
#define QB_X8(x) x, x, x, x, x, x, x, x
#define QB_X64(x) QB_X8(QB_X8(x))
    static void* const kTables[3][256] = {{QB_HANDLERS(op_), QB_QUICK},
                                          {QB_X64(&&hk_any), QB_X64(&&hk_any), QB_X64(&&hk_any), QB_X64(&&hk_any)},
                                          {QB_X64(&&hook_slow), QB_X64(&&hook_slow), QB_X64(&&hook_slow),
                                           QB_X64(&&hook_slow)}};
    static_assert(kQuickHandlers <= 256);
#undef QB_X64
#undef QB_X8
#undef QB_QUICK
#undef QB_Q4
#undef QB_NOPS
#undef QB_NOTWIN
#undef QB_HANDLERS
    void* const* const kDispatch = kTables[kPlainTable];
    void* const* disp = kDispatch;
    const Instruction* pc;
    VmScriptClosure* cl;
    const ScriptValue* k;
    ScriptValue* base;
    Instruction i;
    QuickWord q;                       // the pre-decoded word of the instruction just fetched
    uintptr_t qdelta = 0;              // where the running function's words are: see QAT
    uint32_t trapSeen = 0;             // the trap word that disp was chosen for
    uintptr_t lineDelta = 0;           // line table only: where the line-start flags are
    const Instruction* jfrom = nullptr;  // hook_jump: one past the instruction that jumped

// The table for the running function and the trap word; with the trap word
// clear it is the plain one.
#define SELECT_TABLE()                                                                    \
    do {                                                                                  \
        trapSeen = L->trap;                                                               \
        disp = kTables[QB_LIKELY(trapSeen == 0) ? kPlainTable                             \
                                                : HookedTable(L, cl->p, trapSeen, &lineDelta)]; \
    } while (0)
// After anything that may have called out: the stack and the frame array
// may have moved, and the trap word may have changed.
#define REFRESH()                                          \
    do {                                                   \
        base = L->base;                                    \
        if (QB_UNLIKELY(L->trap != trapSeen)) SELECT_TABLE(); \
    } while (0)
// A function starts or resumes: the table follows it while the trap word is set.
#define ENTER()                                   \
    do {                                          \
        base = L->base;                           \
        if (QB_UNLIKELY(L->trap)) SELECT_TABLE(); \
    } while (0)
// The word of the instruction at pc lies at (pc * 2) + qdelta: instructions
// are 4 bytes and words 8, so one scaled index finds it from pc alone.
#define QAT(at) (*reinterpret_cast<const QuickWord*>((reinterpret_cast<uintptr_t>(at) << 1) + qdelta))
#define SET_QDELTA(p) (qdelta = (p)->qdelta)
#define FETCH()       \
    do {              \
        q = QAT(pc);  \
        pc++;         \
    } while (0)
#define DISPATCH()                   \
    do {                             \
        FETCH();                     \
        goto* disp[q & 0xFF];        \
    } while (0)
// A handler that decodes its instruction itself.
#define OP(name) \
    op_##name:   \
    i = pc[-1];
// After a jump (pc holds the target): with the trap word set, the hook
// decides from where the jump came. A function that runs from the plain table
// under the trap word has no line information, so only a backward jump can be
// an event there; the others dispatch from their own site as without hooks.
#define JUMPED(from)                                                      \
    do {                                                                  \
        if (QB_UNLIKELY(L->trap) && (pc < (from) || disp != kDispatch)) { \
            jfrom = (from);                                               \
            goto hook_jump;                                               \
        }                                                                 \
        DISPATCH();                                                       \
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
#define RKB() RK(base, k, (i >> kPosB) & 0x1FF)
#define RKC() RK(base, k, (i >> kPosC) & 0x1FF)
#define STORE_RESULT(v)              \
    do {                             \
        SAVEPC();                    \
        ScriptValue result_ = (v);   \
        REFRESH();                   \
        base[GetArgA(i)] = result_;  \
    } while (0)

callentry:
    L->ci->state = kFrameHasFrame;
    pc = L->ci->savedpc;
    cl = static_cast<VmScriptClosure*>(ClosureValue(L->base - 1));
    k = cl->p->k;
    SET_QDELTA(cl->p);
    base = L->base;
    if (QB_UNLIKELY(L->trap)) goto hook_entry;
    DISPATCH();
retentry:
    L->ci->state = kFrameHasFrame;
    pc = L->ci->savedpc;
    cl = static_cast<VmScriptClosure*>(ClosureValue(L->base - 1));
    k = cl->p->k;
    SET_QDELTA(cl->p);
    ENTER();
    DISPATCH();

OP(MOVE) {
    ScriptValue* ra = base + GetArgA(i);
    CopyValue(ra, base + GetArgB(i));
    DISPATCH();
}
OP(LOADK) {
    ScriptValue* ra = base + GetArgA(i);
    *ra = k[GetArgBx(i)];
    DISPATCH();
}
OP(LOADBOOL) {
    ScriptValue* ra = base + GetArgA(i);
    // Truth values are the numbers 1 and 0.
    SetNumber(ra, GetArgB(i));
    if (GetArgC(i)) {
        pc++;
        JUMPED(pc - 1);
    }
    DISPATCH();
}
OP(LOADNIL) {
    ScriptValue* ra = base + GetArgA(i);
    ScriptValue* rb = base + GetArgB(i);
    do SetNil(rb--);
    while (rb >= ra);
    DISPATCH();
}
OP(GETUPVAL) {
    ScriptValue* ra = base + GetArgA(i);
    CopyValue(ra, VmScriptUpvals(cl)[GetArgB(i)]->v);
    DISPATCH();
}
OP(GETGLOBAL) {
    ScriptValue* ra = base + GetArgA(i);
    const ScriptValue* key = k + GetArgBx(i);
    if (QB_LIKELY(IsTable(&cl->globals))) {
        const ScriptValue* v = VmTableGetStrFast(TableValue(&cl->globals), StrValue(key));
        if (QB_LIKELY(!IsNil(v))) {
            CopyValue(ra, v);
            DISPATCH();
        }
    }
    STORE_RESULT(VmGetTable(L, &cl->globals, key, false));
    DISPATCH();
}
OP(GETTABLE) {
    ScriptValue* ra = base + GetArgA(i);
    const ScriptValue* rb = base + GetArgB(i);
    const ScriptValue* rc = RKC();
    if (QB_LIKELY(IsTable(rb))) {
        VmTable* h = TableValue(rb);
        const ScriptValue* v;
        if (IsString(rc))
            v = VmTableGetStrFast(h, StrValue(rc));
        else if (const ScriptValue* slot = VmTableArraySlot(h, rc))
            v = slot;
        else
            v = VmTableGet(h, rc);
        if (QB_LIKELY(!IsNil(v))) {
            CopyValue(ra, v);
            DISPATCH();
        }
    }
    STORE_RESULT(VmGetTable(L, rb, rc, true));
    DISPATCH();
}
OP(SETGLOBAL) {
    ScriptValue* ra = base + GetArgA(i);
    PROTECT(VmSetTable(L, &cl->globals, k + GetArgBx(i), ra));
    DISPATCH();
}
OP(SETUPVAL) {
    ScriptValue* ra = base + GetArgA(i);
    CopyValue(VmScriptUpvals(cl)[GetArgB(i)]->v, ra);
    DISPATCH();
}
OP(SETTABLE) {
    ScriptValue* ra = base + GetArgA(i);
    const ScriptValue* rb = RKB();
    if (QB_LIKELY(IsTable(ra))) {
        // An existing slot takes the value whatever the metatable says; a
        // nil one only when the metatable is known to have no "__newindex".
        VmTable* h = TableValue(ra);
        ScriptValue* slot = IsString(rb) ? const_cast<ScriptValue*>(VmTableGetStrFast(h, StrValue(rb)))
                                         : VmTableArraySlot(h, rb);
        if (QB_LIKELY(slot != nullptr && slot != &kNilObject)) {
            if (QB_LIKELY(!IsNil(slot))) {
                CopyValue(slot, RKC());
                DISPATCH();
            }
            if (h->metatable != nullptr && (h->metatable->flags & (1u << TM_NEWINDEX))) {
                h->flags = 0;  // a key appears: the table's own absence cache is stale
                CopyValue(slot, RKC());
                DISPATCH();
            }
        }
    }
    PROTECT(VmSetTable(L, ra, rb, RKC()));
    DISPATCH();
}
OP(NEWTABLE) {
    ScriptValue* ra = base + GetArgA(i);
    // B is a tiny float: mantissa in the low 3 bits, exponent above. An
    // exponent beyond the array limit asks for a size the table refuses.
    int b = GetArgB(i), mantissa = b & 7, exponent = b >> 3;
    int arraySize = mantissa == 0 ? 0 : exponent > kMaxArrayBits ? INT32_MAX : mantissa << exponent;
    SAVEPC();
    SetTable(ra, VmNewTable(L, arraySize, GetArgC(i)));
    if (VmCheckGC(L)) REFRESH();
    DISPATCH();
}


// The pre-decoded forms: the operand kinds are fixed in the handler number,
// the offsets come from the word. The slow paths are the generic ones.
#define QA() reinterpret_cast<ScriptValue*>(reinterpret_cast<char*>(base) + ((q >> 16) & 0xFFFF))
#define QOPND(arr, shift) \
    reinterpret_cast<const ScriptValue*>(reinterpret_cast<const char*>(arr) + ((q >> (shift)) & 0xFFFF))
#define QARITH(name, form, barr, carr, event, expr)                       \
    q_##name##_##form : {                                                  \
        ScriptValue* ra = QA();                                            \
        const ScriptValue* rb = QOPND(barr, 32);                           \
        const ScriptValue* rc = QOPND(carr, 48);                           \
        if (QB_LIKELY(IsNumber(rb) && IsNumber(rc))) {                     \
            double nb = rb->value.n, nc = rc->value.n;                     \
            SetNumber(ra, (expr));                                         \
        } else {                                                           \
            SAVEPC();                                                      \
            ScriptValue result_ = VmArith(L, rb, rc, event);               \
            REFRESH();                                                     \
            *QA() = result_;                                               \
        }                                                                  \
        DISPATCH();                                                        \
    }
#define QARITH4(name, event, expr)                   \
    QARITH(name, RR, base, base, event, expr)        \
    QARITH(name, RK, base, k, event, expr)           \
    QARITH(name, KR, k, base, event, expr)           \
    QARITH(name, KK, k, k, event, expr)
    QARITH4(ADD, TM_ADD, nb + nc)
    QARITH4(SUB, TM_SUB, nb - nc)
    QARITH4(MUL, TM_MUL, nb * nc)
    QARITH4(DIV, TM_DIV, (nc == 0 ? (SAVEPC(), Raise(L, ERR_ZERODIVISION), 0.0) : nb / nc))
    QARITH4(DIVINT, TM_DIVINT, (IntOperand(nc) == 0 ? (SAVEPC(), Raise(L, ERR_ZERODIVISION), 0.0)
                                                    : static_cast<double>(IntOperand(nb) / IntOperand(nc))))
    QARITH4(MOD, TM_MOD, (IntOperand(nc) == 0 ? (SAVEPC(), Raise(L, ERR_ZERODIVISION), 0.0)
                                              : static_cast<double>(IntOperand(nb) % IntOperand(nc))))
    QARITH4(LSH, TM_LSH, static_cast<uint32_t>(VmBitPattern(nb) << (VmTruncInt32(nc) & 31)))
    QARITH4(RSH, TM_RSH, VmBitPattern(nb) >> (VmTruncInt32(nc) & 31))
    QARITH4(OR, TM_OR, VmBitPattern(nb) | VmBitPattern(nc))
    QARITH4(AND, TM_AND, VmBitPattern(nb) & VmBitPattern(nc))
    QARITH4(XOR, TM_XOR, VmBitPattern(nb) ^ VmBitPattern(nc))
    QARITH4(POW, TM_POW, std::pow(nb, nc))
#undef QARITH4
#undef QARITH

OP(UNM) {
    ScriptValue* ra = base + GetArgA(i);
    const ScriptValue* rb = base + GetArgB(i);
    if (QB_LIKELY(IsNumber(rb)))
        SetNumber(ra, -rb->value.n);
    else
        STORE_RESULT(VmUnaryMinus(L, rb));
    DISPATCH();
}
OP(NOT) {
    ScriptValue* ra = base + GetArgA(i);
    SetNumber(ra, VmIsFalse(base + GetArgB(i)) ? 1 : 0);
    DISPATCH();
}
OP(BNOT) {
    ScriptValue* ra = base + GetArgA(i);
    const ScriptValue* rb = base + GetArgB(i);
    if (QB_LIKELY(IsNumber(rb)))
        SetNumber(ra, static_cast<uint32_t>(~VmBitPattern(rb->value.n)));
    else
        STORE_RESULT(VmBitNot(L, rb));
    DISPATCH();
}
OP(CONCAT) {
    int b = GetArgB(i), c = GetArgC(i);
    PROTECT(VmConcatRange(L, c - b + 1, c));
    base[GetArgA(i)] = base[b];
    if (VmCheckGC(L)) REFRESH();
    DISPATCH();
}
OP(JMP) {
    const Instruction* from = pc;
    if (GetJumpKind(i) == kJumpKindGosub) {
        SAVEPC();
        PushGosub(L, pc);
    }
    pc += GetArgSJ(i);
    JUMPED(from);
}


#define QCOMPARE(name, form, barr, carr, numexpr, slow)   \
    q_##name##_##form : {                                  \
        const ScriptValue* rb = QOPND(barr, 32);           \
        const ScriptValue* rc = QOPND(carr, 48);           \
        const Instruction* from = pc;                      \
        int res;                                           \
        if (QB_LIKELY(IsNumber(rb) && IsNumber(rc))) {     \
            double nb = rb->value.n, nc = rc->value.n;     \
            res = (numexpr);                               \
        } else {                                           \
            SAVEPC();                                      \
            res = slow(L, rb, rc);                         \
            REFRESH();                                     \
        }                                                  \
        if (res != static_cast<int>((q >> 8) & 0xFF))      \
            pc++;                                          \
        else                                               \
            pc += GetArgSJ(*pc) + 1;                       \
        JUMPED(from);                                      \
    }
#define QCOMPARE4(name, numexpr, slow)                     \
    QCOMPARE(name, RR, base, base, numexpr, slow)          \
    QCOMPARE(name, RK, base, k, numexpr, slow)             \
    QCOMPARE(name, KR, k, base, numexpr, slow)             \
    QCOMPARE(name, KK, k, k, numexpr, slow)
    QCOMPARE4(EQ, nb == nc, VmEqualObj)
    QCOMPARE4(LT, nb < nc, VmLessThan)
    QCOMPARE4(LE, nb <= nc, VmLessEqual)
#undef QCOMPARE4
#undef QCOMPARE

OP(TEST) {
    ScriptValue* ra = base + GetArgA(i);
    const ScriptValue* rb = base + GetArgB(i);
    const Instruction* from = pc;
    if ((VmIsFalse(rb) ? 1 : 0) == GetArgC(i)) {
        pc++;
    } else {
        CopyValue(ra, rb);
        pc += GetArgSJ(*pc) + 1;
    }
    JUMPED(from);
}
OP(CALL) {
    ScriptValue* ra = base + GetArgA(i);
    int b = GetArgB(i);
    int nresults = GetArgC(i) - 1;
    if (b != 0) L->top = ra + b;
    if (GetOpcode(i) == OP_CALL && IsFunction(ra) && !ClosureValue(ra)->isNative) {
        // A script function without varargs whose frame fits without growing
        // anything is entered right here.
        auto* callee = static_cast<VmScriptClosure*>(ClosureValue(ra));
        const ScriptProto* p = callee->p;
        if (QB_LIKELY(!p->is_vararg && L->ci + 1 != L->end_ci && L->stack_last - L->top > p->maxstacksize)) {
            CallFrame* nci = ++L->ci;
            (nci - 1)->savedpc = pc;
            (nci - 1)->qdelta = qdelta;
            (nci - 1)->state = kFrameSavedPC | kFrameCalling;
            base = L->base = nci->base = ra + 1;
            nci->top = base + p->maxstacksize;
            nci->savedpc = p->code;
            nci->tailcalls = 0;
            nci->state = kFrameHasFrame;
            for (ScriptValue* slot = L->top; slot < nci->top; slot++) SetNil(slot);
            L->top = nci->top;
            cl = callee;
            k = p->k;
            pc = p->code;
            SET_QDELTA(p);
            if (QB_UNLIKELY(L->trap)) goto hook_entry;
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
        VmActiveHost.commandError(L, err);
    }
    if (firstResult == nullptr) {
        if (GetOpcode(i) == OP_CALL) {
            (L->ci - 1)->savedpc = pc;
            (L->ci - 1)->qdelta = qdelta;
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
        const Instruction* from = pc;
        pc = cl->p->code + target;
        JUMPED(from);
    }
    VmPostCall(L, firstResult, nresults);
    if (nresults >= 0) L->top = L->ci->top;
    REFRESH();
    DISPATCH();
}
OP(RETURN) {
    ScriptValue* ra = base + GetArgA(i);
    int b = GetArgB(i);
    if (QB_UNLIKELY(GetArgC(i) == 1)) {
        // Only a gosub of this very frame can be returned from.
        if (L->g->gosubCount == 0 || L->g->gosubStack[L->g->gosubCount - 1].depth != static_cast<int>(L->ci - L->base_ci))
            RAISE(ERR_RETWOGOSUB);
        const Instruction* from = pc;
        pc = L->g->gosubStack[--L->g->gosubCount].pc;
        JUMPED(from);
    }
    if (b != 0) L->top = ra + b - 1;
    if (L->openupval && static_cast<VmUpval*>(L->openupval)->v >= base) VmCloseUpvalues(L, base);
    CallFrame* ci = L->ci;
    if (!((ci - 1)->state & kFrameCalling)) {
        ci->state = kFrameSavedPC;
        ci->savedpc = pc;
        return ra;
    }
    int wanted = GetArgC((ci - 1)->savedpc[-1]) - 1;
    bool trapped = L->trap != 0;
    if (QB_UNLIKELY(trapped)) {
        // A return hook, or the caller needs its table chosen again.
        if (L->hookmask & kMaskRet) {
            ci->state = kFrameSavedPC;
            ci->savedpc = pc;
            VmPostCall(L, ra, wanted);
            if (wanted >= 0) L->top = L->ci->top;
            goto retentry;
        }
    }
    // The common return into a calling script frame, without a return hook.
    ScriptValue* res = ci->base - 1;
    ScriptValue* top = L->top;
    if (L->g->gosubCount > 0) VmDropGosubs(L, static_cast<int>(ci - L->base_ci));
    L->ci = --ci;
    L->base = ci->base;
    int n = wanted;
    while (n != 0 && ra < top) {
        CopyValue(res++, ra++);
        n--;
    }
    while (n-- > 0) SetNil(res++);
    L->top = wanted >= 0 ? ci->top : res;
    ci->state = kFrameHasFrame;
    pc = ci->savedpc;
    base = ci->base;
    cl = static_cast<VmScriptClosure*>(ClosureValue(base - 1));
    k = cl->p->k;
    qdelta = ci->qdelta;  // stored when it called: no chain of loads through the closure
    // Without the trap word the plain table stays, and so it does between
    // two functions without line information.
    if (QB_UNLIKELY(trapped) && (L->trap != trapSeen || disp != kDispatch || cl->p->sizelineinfo != 0))
        SELECT_TABLE();
    DISPATCH();
}
q_FORLOOP: {
    ScriptValue* ra = QA();
    if (QB_UNLIKELY(!IsNumber(ra))) RAISE(ERR_VALUEEXPECTED);
    double limit = QB_LIKELY(IsNumber(ra + 1)) ? ra[1].value.n : (SAVEPC(), ToNumberOrRaise(L, ra + 1));
    double step = QB_LIKELY(IsNumber(ra + 2)) ? ra[2].value.n : (SAVEPC(), ToNumberOrRaise(L, ra + 2));
    double idx = ra->value.n + step;
    if (QB_LIKELY(step > 0)) {
        if (!(idx <= limit)) DISPATCH();
    } else if (!(idx >= limit)) {
        DISPATCH();
    }
    const Instruction* from = pc;
    pc += static_cast<int32_t>(q >> 32);
    ra->value.n = idx;
    JUMPED(from);
}
OP(TFORLOOP) {
    ScriptValue* ra = base + GetArgA(i);
    int nvar = GetArgC(i) + 1;
    ScriptValue* cb = ra + nvar + 2;
    cb[0] = ra[0];
    cb[1] = ra[1];
    cb[2] = ra[2];
    L->top = cb + 3;
    SAVEPC();
    ptrdiff_t raOff = VmSaveStack(L, ra);
    int err = VmCallValue(L, cb, nvar);
    if (err != 0) VmActiveHost.commandError(L, err);
    L->top = L->ci->top;
    REFRESH();
    ra = VmRestoreStack(L, raOff);
    cb = ra + nvar + 2;
    for (int j = 0; j < nvar; j++) ra[2 + j] = cb[j];
    const Instruction* from = pc;
    if (IsNil(ra + 2))
        pc++;
    else
        pc += GetArgSJ(*pc) + 1;
    JUMPED(from);
}
OP(TFORPREP) {
    ScriptValue* ra = base + GetArgA(i);
    if (IsTable(ra)) {
        SAVEPC();
        ra[1] = *ra;
        // The name waits in the register that the function goes to: an
        // "__index" call may grow the stack, which may collect.
        SetString(ra, VmNewString(L, "next", 4));
        ScriptValue v = VmGetTable(L, &cl->globals, ra, false);
        REFRESH();
        base[GetArgA(i)] = v;
    }
    const Instruction* from = pc;
    pc += GetArgSBx(i);
    JUMPED(from);
}
OP(SETLIST) {
    ScriptValue* ra = base + GetArgA(i);
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
OP(CLOSE) {
    ScriptValue* ra = base + GetArgA(i);
    VmCloseUpvalues(L, ra);
    DISPATCH();
}
OP(CLOSURE) {
    ScriptValue* ra = base + GetArgA(i);
    SAVEPC();
    ScriptProto* p = cl->p->p[GetArgBx(i)];
    int nup = p->nups;
    VmScriptClosure* ncl = VmNewScriptClosure(L, nup, &cl->globals);
    ncl->p = p;
    // Stored before its upvalues are made, which may collect; they capture
    // slots, not values, so the target register may be among them.
    SetClosure(ra, ncl);
    // The upvalue descriptions that follow are not run: control goes on
    // after them as if by a jump.
    const Instruction* from = pc;
    for (int j = 0; j < nup; j++, pc++) {
        if (GetOpcode(*pc) == OP_GETUPVAL)
            VmScriptUpvals(ncl)[j] = VmScriptUpvals(cl)[GetArgB(*pc)];
        else
            VmScriptUpvals(ncl)[j] = VmFindUpvalue(L, base + GetArgB(*pc));
    }
    if (VmCheckGC(L)) REFRESH();
    if (nup > 0) JUMPED(from);
    DISPATCH();
}
OP(SELF) {
    ScriptValue* ra = base + GetArgA(i);
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
// Loading gives every function its pre-decoded words; code that reached here
// without them would otherwise run as something else.
op_NOTWIN:
    RAISE(ERR_INTERNAL);

// ---- hooks and the end flag (only with the trap word set) ----------------

// The line table: an instruction that starts a line is a line event when
// control came to it straight on (jumps, calls and returns decide for
// themselves).
hk_any:
    if (QB_UNLIKELY(StartsLine(pc, lineDelta))) goto hook_line;
    goto* kDispatch[q & 0xFF];

// A line event for the instruction just fetched, then that instruction.
hook_line:
    if (QB_LIKELY(L->allowhook) && VmLineEventDue(L)) {
        SAVEPC();
        // The plain table serves here only functions without line information.
        VmRunHook(L, kHookLine, disp == kDispatch ? 0 : LineAt(cl->p, pc));
        base = L->base;
        if (QB_UNLIKELY(L->trap != trapSeen)) {
            SELECT_TABLE();
            if (trapSeen & kTrapEnd) return nullptr;
        }
    }
    goto* kDispatch[q & 0xFF];

// The slow table: end flag, count hook, or tracing still to start.
hook_slow:
    if (L->g->endFlag) return nullptr;
    PROTECT(TraceExec(L, cl->p, pc));
    if (L->g->endFlag) return nullptr;
    goto* kDispatch[q & 0xFF];

// A jump with the trap word set. Under a line hook alone it is decided here:
// going back (or to itself) is an event, and so is arriving on another line.
hook_jump:
    if ((L->trap & (kTrapEnd | kTrapInit | kMaskCount | kMaskLine)) != kMaskLine) DISPATCH();
    FETCH();
    // Only a function with line information runs from the line table here.
    if (pc <= jfrom || (disp != kDispatch && LineAt(cl->p, pc) != LineAt(cl->p, jfrom))) goto hook_line;
    goto* kDispatch[q & 0xFF];

// A function starts with the trap word set: its call event, then its first
// line event, which a function without line information gets here.
hook_entry:
    if (L->hookmask & kMaskCall) {
        VmCallHook(L, kHookCall, -1);
        base = L->base;
    }
    // From a function without line information into another the table stays.
    if (L->trap != trapSeen || disp != kDispatch || cl->p->sizelineinfo != 0) SELECT_TABLE();
    if (disp == kDispatch && (trapSeen & kMaskLine)) {
        FETCH();
        goto hook_line;
    }
    DISPATCH();

#undef SELECT_TABLE
#undef REFRESH
#undef ENTER
#undef SAVEPC
#undef PROTECT
#undef RAISE
#undef DISPATCH
#undef FETCH
#undef QAT
#undef SET_QDELTA
#undef OP
#undef QA
#undef QOPND
#undef JUMPED
#undef RKB
#undef RKC
#undef STORE_RESULT
}
