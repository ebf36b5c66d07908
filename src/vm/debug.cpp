// Debug information: call levels, function descriptions, current lines and
// the names of values (from the debug records that chunks carry), printable
// chunk names, the hooks, and the call tracer's output line.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/errcodes.h"
#include "vm/internal.h"

namespace {

constexpr int kNoRegister = 255;

const ScriptProto* FrameProto(const CallFrame* ci) {
    return static_cast<VmScriptClosure*>(ClosureValue(ci->base - 1))->p;
}

void FuncInfo(VmDebugRecord* ar, const ScriptValue* func) {
    auto* cl = ClosureValue(func);
    if (cl->isNative) {
        ar->source = "=[C]";
        ar->linedefined = -1;
        ar->what = "C";
    } else {
        const ScriptProto* p = static_cast<VmScriptClosure*>(cl)->p;
        ar->source = p->source ? VmStrData(p->source) : "=?";
        ar->linedefined = p->lineDefined;
        ar->what = (ar->linedefined == 0) ? "main" : "Quenbrook";
    }
    VmChunkId(ar->short_src, ar->source, kChunkIdSize);
}

void TailCallInfo(VmDebugRecord* ar) {
    ar->name = nullptr;
    ar->namewhat = "";
    ar->what = "tail";
    ar->linedefined = -1;
    ar->currentline = -1;
    ar->source = "=(tail call)";
    VmChunkId(ar->short_src, ar->source, kChunkIdSize);
    ar->nups = 0;
}

// The global whose value is this very function (commands live there).
const char* GlobalNameOf(ScriptState* L, const ScriptValue* func) {
    if (!IsTable(&L->gt)) return nullptr;
    VmTable* gt = TableValue(&L->gt);
    int size = VmNodeCount(gt);
    if (gt->node == L->g->dummynode) return nullptr;
    for (int n = 0; n < size; n++) {
        const VmNode* node = gt->node + n;
        if (IsString(&node->key) && VmRawEqualObj(&node->val, func)) return VmStrData(StrValue(&node->key));
    }
    return nullptr;
}

const char* FuncName(ScriptState* L, CallFrame* ci, const ScriptValue* func, const char** name) {
    bool fromCaller = !((ci->state & kFrameNative) == 0 && ci->tailcalls > 0) && ci > L->base_ci + 1;
    if (fromCaller) {
        CallFrame* caller = ci - 1;
        if (!(caller->state & kFrameNative)) {
            int pc = VmCurrentPC(L, caller);
            const ScriptProto* p = FrameProto(caller);
            if (pc >= 0 && pc < p->sizecode) {
                Instruction i = p->code[pc];
                if (GetOpcode(i) == OP_CALL || GetOpcode(i) == OP_TAILCALL) {
                    const char* kind = VmGetObjectName(L, caller, GetArgA(i), name);
                    if (kind) return kind;
                }
            }
        }
    }
    *name = GlobalNameOf(L, func);
    return *name ? "global" : nullptr;
}

const char* ConstantName(const ScriptProto* p, int c) {
    if (c >= kRKConstBase && c - kRKConstBase < p->sizek && IsString(&p->k[c - kRKConstBase]))
        return VmStrData(StrValue(&p->k[c - kRKConstBase]));
    return "?";
}

}  // namespace

int VmCurrentPC(ScriptState*, CallFrame* ci) {
    if (ci->state & kFrameNative) return -1;
    return static_cast<int>(ci->savedpc - FrameProto(ci)->code) - 1;
}

int VmCurrentLine(ScriptState* L, CallFrame* ci) {
    int pc = VmCurrentPC(L, ci);
    if (pc < 0) return -1;
    const ScriptProto* p = FrameProto(ci);
    if (p->sizelineinfo == 0 || pc >= p->sizelineinfo) return 0;
    return p->lineinfo[pc];
}

const char* VmGetObjectName(ScriptState* L, CallFrame* ci, int stackpos, const char** name) {
    if (ci->state & kFrameNative) return nullptr;
    const ScriptProto* p = FrameProto(ci);
    int pc = VmCurrentPC(L, ci);
    *name = VmGetLocalName(p, stackpos + 1, pc);
    if (*name) return "local";
    // The code is checked symbolically for the instruction that last set the
    // register before this point.
    for (int depth = 0; depth < kNoRegister; depth++) {
        int setter = VmSymbolicLastSetter(p, pc, stackpos);
        if (setter < 0 || setter >= p->sizecode) return nullptr;
        Instruction i = p->code[setter];
        switch (GetOpcode(i)) {
            case OP_GETGLOBAL: {
                int g = GetArgBx(i);
                if (g >= p->sizek || !IsString(&p->k[g])) return nullptr;
                *name = VmStrData(StrValue(&p->k[g]));
                return "global";
            }
            case OP_MOVE: {
                int a = GetArgA(i), b = GetArgB(i);
                if (b >= a) return nullptr;
                stackpos = b;
                *name = VmGetLocalName(p, stackpos + 1, pc);
                if (*name) return "local";
                continue;
            }
            case OP_GETTABLE:
                *name = ConstantName(p, GetArgC(i));
                return "field";
            case OP_SELF:
                *name = ConstantName(p, GetArgC(i));
                return "method";
            default:
                return nullptr;
        }
    }
    return nullptr;
}

const char* VmGetVarName(ScriptState* L, const ScriptValue* o, const char** kind) {
    CallFrame* ci = L->ci;
    *kind = nullptr;
    if (ci->state & kFrameNative) return nullptr;
    if (o < ci->base || o >= ci->top) return nullptr;
    const char* name = nullptr;
    *kind = VmGetObjectName(L, ci, static_cast<int>(o - ci->base), &name);
    return *kind ? name : nullptr;
}

void VmChunkId(char* out, const char* source, int bufflen) {
    if (bufflen <= 0) return;
    auto roomFor = [bufflen](int reserved) {
        return bufflen > reserved ? static_cast<size_t>(bufflen - reserved) : size_t{0};
    };
    if (*source == '=') {
        std::snprintf(out, static_cast<size_t>(bufflen), "%s", source + 1);
        return;
    }
    if (*source == '@') {
        source++;
        size_t len = std::strlen(source);
        size_t room = roomFor(8);
        if (len > room) {
            std::snprintf(out, static_cast<size_t>(bufflen), "...%s", source + len - room);
        } else {
            std::snprintf(out, static_cast<size_t>(bufflen), "%s", source);
        }
        return;
    }
    size_t len = std::strcspn(source, "\n\r");
    size_t room = roomFor(17);
    bool cut = false;
    if (len > room) {
        len = room;
        cut = true;
    }
    if (source[len] != '\0') cut = true;
    std::string s = "[string \"";
    s.append(source, len);
    if (cut) s += "...";
    s += "\"]";
    std::snprintf(out, static_cast<size_t>(bufflen), "%s", s.c_str());
}

int VmGetStackLevel(ScriptState* L, int level, VmDebugRecord* ar) {
    CallFrame* ci = L->ci;
    for (; level > 0 && ci > L->base_ci; ci--) {
        level--;
        if (!(ci->state & kFrameNative)) level -= ci->tailcalls;
    }
    if (level == 0 && ci > L->base_ci) {
        ar->i_ci = static_cast<int>(ci - L->base_ci);
        return 1;
    }
    if (level < 0) {
        ar->i_ci = 0;  // a lost tail call
        return 1;
    }
    return 0;
}

int VmGetInfo(ScriptState* L, const char* what, VmDebugRecord* ar) {
    const ScriptValue* f = nullptr;
    CallFrame* ci = nullptr;
    ScriptValue fromTop;
    if (*what == '>') {
        if (L->top <= L->base) VmRaiseError(L, ERR_STACK);
        fromTop = *(L->top - 1);
        if (!IsFunction(&fromTop)) VmRaiseError(L, ERR_FUNCEXPECTED);
        L->top--;
        f = &fromTop;
        what++;
    } else if (ar->i_ci != 0) {
        ci = L->base_ci + ar->i_ci;
        f = ci->base - 1;
    }
    int status = 1;
    for (; *what; what++) {
        switch (*what) {
            case 'S':
                if (f == nullptr) TailCallInfo(ar); else FuncInfo(ar, f);
                break;
            case 'l':
                ar->currentline = ci ? VmCurrentLine(L, ci) : -1;
                break;
            case 'u':
                ar->nups = f ? ClosureValue(f)->nupvalues : 0;
                break;
            case 'n':
                ar->namewhat = ci ? FuncName(L, ci, f, &ar->name) : nullptr;
                if (ar->namewhat == nullptr) {
                    ar->namewhat = "";
                    ar->name = nullptr;
                }
                break;
            case 'f':
                VmCheckStackRoom(L, 1);
                if (f) *L->top = *f; else SetNil(L->top);
                L->top++;
                break;
            default:
                status = 0;
        }
    }
    return status;
}

const uint8_t* VmLineStarts(ScriptState* L, ScriptProto* p) {
    if (p->linestarts != nullptr) return p->linestarts;
    auto lineAt = [p](int idx) { return idx < p->sizelineinfo ? p->lineinfo[idx] : 0; };
    uint8_t* starts = VmNewVector<uint8_t>(L, static_cast<size_t>(p->sizecode));
    for (int idx = 0; idx < p->sizecode; idx++) starts[idx] = idx == 0 || lineAt(idx) != lineAt(idx - 1);
    p->linestarts = starts;
    return starts;
}

int VmSetHook(ScriptState* L, VmHook func, int mask, int count) {
    if (func == nullptr || mask == 0) {
        mask = 0;
        func = nullptr;
    }
    L->hook = func;
    L->basehookcount = count;
    L->hookcount = count;
    L->hookmask = static_cast<uint8_t>(mask);
    L->hookinit = 0;
    L->lineperiod = L->linecountdown = 1;
    VmUpdateTrap(L);
    return 1;
}

void VmSetLineHookPeriod(ScriptState* L, int period) {
    L->lineperiod = L->linecountdown = period < 1 ? 1 : period;
}

int VmGetLineHookPeriod(ScriptState* L) { return L->lineperiod; }

void VmCallHook(ScriptState* L, int event, int line) {
    if (L->hook == nullptr || !L->allowhook) return;
    VmRunHook(L, event, line);
}

namespace {

// printf into a string; the pieces are short apart from the texts, which are
// appended whole so that a long argument is never cut.
__attribute__((format(printf, 2, 3))) void AppendF(std::string& out, const char* format, ...) {
    char piece[128];
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(piece, sizeof piece, format, ap);
    va_end(ap);
    if (n > 0) out.append(piece, std::min(static_cast<size_t>(n), sizeof piece - 1));
}

}  // namespace

void VmTraceCall(ScriptState* L) {
    VmDebugRecord ar;
    const char* name = nullptr;
    if (VmGetStackLevel(L, 0, &ar) && VmGetInfo(L, "n", &ar)) name = ar.name;
    int nargs = static_cast<int>(L->top - L->base);
    std::string line;
    if (name) {
        line = "Now calling ";
        line += name;
        line += "()";
    } else if (nargs == 2 && (IsString(L->base + 1) || IsNumber(L->base + 1))) {
        // Read like a text, without converting the argument the handler gets.
        const ScriptValue* key = L->base + 1;
        char num[64];
        if (IsNumber(key)) VmNumberToText(key->value.n, num);
        line = "Now trying to find metamethod ";
        line += IsNumber(key) ? num : VmStrData(StrValue(key));
        line += "()";
    } else {
        line = "Now calling <unknown>()";
    }
    if (nargs > 0) line += " with arguments ";
    for (int i = 0; i < nargs; i++) {
        const ScriptValue* v = L->base + i;
        switch (v->tt) {
            case kTypeNil: AppendF(line, "#%d=(NIL) ", i + 1); break;
            case kTypeNumber: AppendF(line, "#%d=(NUMBER)%g ", i + 1, v->value.n); break;
            case kTypeString:
                AppendF(line, "#%d=(STRING)\"", i + 1);
                line += VmStrData(StrValue(v));  // as "%s" prints it: up to a NUL
                line += "\" ";
                break;
            case kTypeTable: AppendF(line, "#%d=(TABLE)%p ", i + 1, static_cast<void*>(v->value.gc)); break;
            case kTypeFunction: AppendF(line, "#%d=(FUNCPTR)%p ", i + 1, static_cast<void*>(v->value.gc)); break;
            default: AppendF(line, "#%d=(INTERNAL)%d ", i + 1, v->tt); break;
        }
    }
    line += "\n";
    VmActiveHost.print(line.c_str());
}
