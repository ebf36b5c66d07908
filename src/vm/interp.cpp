// The interpreter loop. One activation runs the function it was entered with
// and every script function that calls further (script-to-script calls and
// returns do not recurse on the native stack). It also owns the end flag, the
// gosub stack and the label jumps that command handlers request.
#include <cmath>
#include <cstdint>

#include "core/context.h"
#include "core/errcodes.h"
#include "vm/internal.h"

namespace {

inline const ScriptValue* RK(ScriptValue* base, const ScriptValue* k, int x) {
    return x >= kRKConstBase ? k + (x - kRKConstBase) : base + x;
}

// Line and count hook events before an instruction.
void TraceExec(ScriptState* L, const Instruction* pc) {
    uint8_t mask = L->hookmask;
    --L->hookcount;
    if ((mask & kMaskCount) && L->hookcount == 0) {
        L->hookcount = L->basehookcount;
        VmCallHook(L, kHookCount, -1);
        return;
    }
    if (!(mask & kMaskLine)) return;
    CallFrame* ci = L->ci;
    const ScriptProto* p = static_cast<VmScriptClosure*>(ClosureValue(ci->base - 1))->p;
    auto lineAt = [p](const Instruction* at) {
        ptrdiff_t idx = at - p->code - 1;
        return (p->sizelineinfo > 0 && idx >= 0 && idx < p->sizelineinfo) ? p->lineinfo[idx] : 0;
    };
    int newline = lineAt(pc);
    if (!L->hookinit) {
        // Tracing starts now: every live frame remembers where it stands.
        L->hookinit = 1;
        for (CallFrame* f = L->base_ci; f <= L->ci; f++)
            if (f->state & kFrameHasFrame) f->savedpc = *f->pc;
        return;
    }
    if (pc - p->code - 1 == 0) ci->savedpc = pc;
    if (pc <= ci->savedpc || newline != lineAt(ci->savedpc)) {
        VmCallHook(L, kHookLine, newline);
        ci = L->ci;
    }
    ci->savedpc = pc;
}

[[noreturn]] void Raise(ScriptState* L, int code) {
    VmRaiseError(L, code);
    throw VmError{code};  // only reached when a command hook swallowed the raise
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

void VmSetEndFlag(ScriptState* L, int value) { L->g->endFlag = value; }
int VmGetEndFlag(ScriptState* L) { return L->g->endFlag; }

ScriptValue* VmExecute(ScriptState* L) {
    VmGlobal* g = L->g;
    const Instruction* pc;
    VmScriptClosure* cl;
    const ScriptValue* k;
    ScriptValue* base;

    if (L->hookmask & kMaskCall) {
        L->ci->pc = &pc;
        VmCallHook(L, kHookCall, -1);
    }
retentry:
    L->ci->pc = &pc;
    L->ci->state = kFrameHasFrame;
    pc = L->ci->savedpc;
    cl = static_cast<VmScriptClosure*>(ClosureValue(L->base - 1));
    k = cl->p->k;
    base = L->base;

    for (;;) {
        if (g->endFlag) return nullptr;
        const Instruction i = *pc++;
        if (L->hookmask & (kMaskLine | kMaskCount)) {
            TraceExec(L, pc);
            base = L->base;
        }
        ScriptValue* ra = base + GetArgA(i);
        switch (GetOpcode(i)) {
            case OP_MOVE:
                *ra = base[GetArgB(i)];
                break;
            case OP_LOADK:
                *ra = k[GetArgBx(i)];
                break;
            case OP_LOADBOOL:
                // Truth values are the numbers 1 and 0.
                SetNumber(ra, GetArgB(i));
                if (GetArgC(i)) pc++;
                break;
            case OP_LOADNIL: {
                ScriptValue* rb = base + GetArgB(i);
                do SetNil(rb--);
                while (rb >= ra);
                break;
            }
            case OP_GETUPVAL:
                *ra = *VmScriptUpvals(cl)[GetArgB(i)]->v;
                break;
            case OP_GETGLOBAL: {
                const ScriptValue* key = k + GetArgBx(i);
                if (IsTable(&cl->globals)) {
                    const ScriptValue* v = VmTableGetStr(TableValue(&cl->globals), StrValue(key));
                    if (!IsNil(v)) {
                        *ra = *v;
                        break;
                    }
                }
                ScriptValue v = VmGetTable(L, &cl->globals, key, false);
                base = L->base;
                base[GetArgA(i)] = v;
                break;
            }
            case OP_GETTABLE: {
                const ScriptValue* rb = base + GetArgB(i);
                const ScriptValue* rc = RK(base, k, GetArgC(i));
                if (IsTable(rb)) {
                    const ScriptValue* v = VmTableGet(TableValue(rb), rc);
                    if (!IsNil(v)) {
                        *ra = *v;
                        break;
                    }
                }
                ScriptValue v = VmGetTable(L, rb, rc, true);
                base = L->base;
                base[GetArgA(i)] = v;
                break;
            }
            case OP_SETGLOBAL:
                VmSetTable(L, &cl->globals, k + GetArgBx(i), ra);
                base = L->base;
                break;
            case OP_SETUPVAL:
                *VmScriptUpvals(cl)[GetArgB(i)]->v = *ra;
                break;
            case OP_SETTABLE:
                VmSetTable(L, ra, RK(base, k, GetArgB(i)), RK(base, k, GetArgC(i)));
                base = L->base;
                break;
            case OP_NEWTABLE: {
                int b = GetArgB(i);
                int arraySize = (b & 7) << (b >> 3);
                SetTable(ra, VmNewTable(L, arraySize, GetArgC(i)));
                break;
            }
            case OP_ADD:
            case OP_SUB:
            case OP_MUL:
            case OP_DIV:
            case OP_DIVINT:
            case OP_MOD:
            case OP_LSH:
            case OP_RSH:
            case OP_OR:
            case OP_AND:
            case OP_XOR:
            case OP_POW: {
                const ScriptValue* rb = RK(base, k, GetArgB(i));
                const ScriptValue* rc = RK(base, k, GetArgC(i));
                int op = GetOpcode(i);
                if (IsNumber(rb) && IsNumber(rc)) {
                    double nb = rb->value.n, nc = rc->value.n;
                    switch (op) {
                        case OP_ADD: SetNumber(ra, nb + nc); break;
                        case OP_SUB: SetNumber(ra, nb - nc); break;
                        case OP_MUL: SetNumber(ra, nb * nc); break;
                        case OP_DIV:
                            if (nc == 0) Raise(L, ERR_ZERODIVISION);
                            SetNumber(ra, nb / nc);
                            break;
                        case OP_DIVINT:
                        case OP_MOD: {
                            int64_t ib = IntOperand(nb), ic = IntOperand(nc);
                            if (ic == 0) Raise(L, ERR_ZERODIVISION);
                            SetNumber(ra, static_cast<double>(op == OP_DIVINT ? ib / ic : ib % ic));
                            break;
                        }
                        case OP_LSH:
                            SetNumber(ra, static_cast<uint32_t>(VmBitPattern(nb) << (VmTruncInt32(nc) & 31)));
                            break;
                        case OP_RSH:
                            SetNumber(ra, VmBitPattern(nb) >> (VmTruncInt32(nc) & 31));
                            break;
                        case OP_OR: SetNumber(ra, VmBitPattern(nb) | VmBitPattern(nc)); break;
                        case OP_AND: SetNumber(ra, VmBitPattern(nb) & VmBitPattern(nc)); break;
                        case OP_XOR: SetNumber(ra, VmBitPattern(nb) ^ VmBitPattern(nc)); break;
                        default: SetNumber(ra, std::pow(nb, nc)); break;
                    }
                } else {
                    ScriptValue v = VmArith(L, rb, rc, TM_ADD + (op - OP_ADD));
                    base = L->base;
                    base[GetArgA(i)] = v;
                }
                break;
            }
            case OP_UNM: {
                const ScriptValue* rb = base + GetArgB(i);
                if (IsNumber(rb)) {
                    SetNumber(ra, -rb->value.n);
                } else {
                    ScriptValue v = VmUnaryMinus(L, rb);
                    base = L->base;
                    base[GetArgA(i)] = v;
                }
                break;
            }
            case OP_NOT:
                SetNumber(ra, VmIsFalse(base + GetArgB(i)) ? 1 : 0);
                break;
            case OP_BNOT: {
                const ScriptValue* rb = base + GetArgB(i);
                if (IsNumber(rb)) {
                    SetNumber(ra, static_cast<uint32_t>(~VmBitPattern(rb->value.n)));
                } else {
                    ScriptValue v = VmBitNot(L, rb);
                    base = L->base;
                    base[GetArgA(i)] = v;
                }
                break;
            }
            case OP_CONCAT: {
                int b = GetArgB(i), c = GetArgC(i);
                VmConcatRange(L, c - b + 1, c);
                base = L->base;
                base[GetArgA(i)] = base[b];
                break;
            }
            case OP_JMP:
                if (GetJumpKind(i) == kJumpKindGosub) {
                    if (g->gosubCount >= kGosubStackSize) Raise(L, ERR_INTERNAL);
                    g->gosubStack[g->gosubCount++] = pc;
                }
                pc += GetArgSJ(i);
                break;
            case OP_EQ:
            case OP_LT:
            case OP_LE: {
                const ScriptValue* rb = RK(base, k, GetArgB(i));
                const ScriptValue* rc = RK(base, k, GetArgC(i));
                int res;
                if (IsNumber(rb) && IsNumber(rc)) {
                    double nb = rb->value.n, nc = rc->value.n;
                    res = GetOpcode(i) == OP_EQ ? nb == nc : GetOpcode(i) == OP_LT ? nb < nc : nb <= nc;
                } else {
                    res = GetOpcode(i) == OP_EQ   ? VmEqualObj(L, rb, rc)
                          : GetOpcode(i) == OP_LT ? VmLessThan(L, rb, rc)
                                                  : VmLessEqual(L, rb, rc);
                    base = L->base;
                }
                if (res != GetArgA(i))
                    pc++;
                else
                    pc += GetArgSJ(*pc) + 1;
                break;
            }
            case OP_TEST: {
                const ScriptValue* rb = base + GetArgB(i);
                int isFalse = VmIsFalse(rb) ? 1 : 0;
                if (isFalse == GetArgC(i)) {
                    pc++;
                } else {
                    *ra = *rb;
                    pc += GetArgSJ(*pc) + 1;
                }
                break;
            }
            case OP_CALL:
            case OP_TAILCALL: {
                int b = GetArgB(i);
                int nresults = GetArgC(i) - 1;
                if (b != 0) L->top = ra + b;
                g->currentInstrIndex = static_cast<int>(pc - cl->p->code);
                int err = 0;
                ScriptValue* firstResult = VmPreCall(L, ra, &err);
                if (err != 0) {
                    // The command's frame is still the current level, so the
                    // error text can name it.
                    HandleCommandError(L, err);
                }
                if (firstResult == nullptr) {
                    if (GetOpcode(i) == OP_CALL) {
                        (L->ci - 1)->savedpc = pc;
                        (L->ci - 1)->state = kFrameSavedPC | kFrameCalling;
                    } else {
                        // The called function takes the running function's
                        // place; the caller's frame counts one lost tail call.
                        CallFrame* ci = L->ci - 1;
                        ScriptValue* func = ci->base - 1;
                        ScriptValue* pfunc = (ci + 1)->base - 1;
                        if (L->openupval) VmCloseUpvalues(L, base);
                        int aux = 0;
                        for (; pfunc + aux < L->top; aux++) func[aux] = pfunc[aux];
                        ci->top = L->top = func + aux;
                        ci->savedpc = L->ci->savedpc;
                        ci->tailcalls++;
                        ci->state = kFrameSavedPC;
                        L->ci--;
                        L->base = L->ci->base;
                    }
                    goto retentry;
                }
                if (firstResult == kPreCallLabelResume || firstResult == kPreCallLabelRepeat) {
                    if (g->gosubCount >= kGosubStackSize) Raise(L, ERR_INTERNAL);
                    const Instruction* resume = firstResult == kPreCallLabelResume ? pc : pc - 2;
                    ptrdiff_t target = (pc - cl->p->code) + g->labelJumpOffset;
                    if (resume < cl->p->code || target < 0 || target >= cl->p->sizecode) Raise(L, ERR_INTERNAL);
                    g->gosubStack[g->gosubCount++] = resume;
                    pc = cl->p->code + target;
                    firstResult = L->top;
                }
                VmPostCall(L, firstResult, nresults);
                if (nresults >= 0) L->top = L->ci->top;
                base = L->base;
                break;
            }
            case OP_RETURN: {
                int b = GetArgB(i);
                if (GetArgC(i) == 1) {
                    if (g->gosubCount == 0) Raise(L, ERR_RETWOGOSUB);
                    const Instruction* back = g->gosubStack[--g->gosubCount];
                    // A gosub left open by another function cannot be returned
                    // to from this one's code.
                    if (back < cl->p->code || back >= cl->p->code + cl->p->sizecode) Raise(L, ERR_INTERNAL);
                    pc = back;
                    break;
                }
                if (b != 0) L->top = ra + b - 1;
                if (L->openupval) VmCloseUpvalues(L, base);
                L->ci->state = kFrameSavedPC;
                L->ci->savedpc = pc;
                if (!((L->ci - 1)->state & kFrameCalling)) return ra;
                int wanted = GetArgC(*((L->ci - 1)->savedpc - 1)) - 1;
                VmPostCall(L, ra, wanted);
                if (wanted >= 0) L->top = L->ci->top;
                goto retentry;
            }
            case OP_FORLOOP: {
                if (!IsNumber(ra)) Raise(L, ERR_VALUEEXPECTED);
                double limit = ToNumberOrRaise(L, ra + 1);
                double step = ToNumberOrRaise(L, ra + 2);
                double idx = ra->value.n + step;
                if (step > 0 ? idx <= limit : idx >= limit) {
                    pc += GetArgSBx(i);
                    SetNumber(ra, idx);
                }
                break;
            }
            case OP_TFORLOOP: {
                int nvar = GetArgC(i) + 1;
                ScriptValue* cb = ra + nvar + 2;
                cb[0] = ra[0];
                cb[1] = ra[1];
                cb[2] = ra[2];
                L->top = cb + 3;
                ptrdiff_t raOff = VmSaveStack(L, ra);
                int err = VmCallValue(L, cb, nvar);
                if (err != 0) HandleCommandError(L, err);
                L->top = L->ci->top;
                base = L->base;
                ra = VmRestoreStack(L, raOff);
                cb = ra + nvar + 2;
                for (int j = 0; j < nvar; j++) ra[2 + j] = cb[j];
                if (IsNil(ra + 2))
                    pc++;
                else
                    pc += GetArgSJ(*pc) + 1;
                break;
            }
            case OP_TFORPREP:
                if (IsTable(ra)) {
                    ra[1] = *ra;
                    ScriptValue key;
                    SetString(&key, VmNewString(L, "next", 4));
                    ScriptValue v = VmGetTable(L, &cl->globals, &key, false);
                    base = L->base;
                    ra = base + GetArgA(i);
                    *ra = v;
                }
                pc += GetArgSBx(i);
                break;
            case OP_SETLIST:
            case OP_SETLISTO: {
                int bc = GetArgBx(i);
                int n;
                if (GetOpcode(i) == OP_SETLIST) {
                    n = (bc & (kFieldsPerFlush - 1)) + 1;
                } else {
                    n = static_cast<int>(L->top - ra) - 1;
                    L->top = L->ci->top;
                }
                if (!IsTable(ra)) return nullptr;
                VmTable* h = TableValue(ra);
                int first = bc & ~(kFieldsPerFlush - 1);
                for (; n > 0; n--) *VmTableSetInt(L, h, first + n - 1) = ra[n];
                break;
            }
            case OP_CLOSE:
                VmCloseUpvalues(L, ra);
                break;
            case OP_CLOSURE: {
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
                break;
            }
            case OP_SELF: {
                ScriptValue rb = base[GetArgB(i)];
                const ScriptValue* rc = RK(base, k, GetArgC(i));
                if (!IsString(rc)) return nullptr;
                ra[1] = rb;
                if (IsTable(&rb)) {
                    const ScriptValue* v = VmTableGetStr(TableValue(&rb), StrValue(rc));
                    if (!IsNil(v)) {
                        *ra = *v;
                        break;
                    }
                }
                ScriptValue v = VmGetTable(L, &rb, rc, false);
                base = L->base;
                base[GetArgA(i)] = v;
                break;
            }
            default:
                break;  // opcodes above the table do nothing
        }
    }
}
