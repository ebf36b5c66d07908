// Closures, function prototypes and upvalues: creation, freeing, and the open
// upvalue list that lets closures share a stack slot until it goes away.
#include "vm/internal.h"

VmScriptClosure* VmNewScriptClosure(ScriptState* L, int nups, const ScriptValue* globals) {
    size_t size = sizeof(VmScriptClosure) + static_cast<size_t>(nups) * sizeof(VmUpval*);
    auto* c = static_cast<VmScriptClosure*>(VmRealloc(L, nullptr, 0, size));
    VmLinkObject(L, c, kTypeFunction);
    c->isNative = 0;
    c->nupvalues = static_cast<uint8_t>(nups);
    c->gclist = nullptr;
    c->p = nullptr;
    c->globals = *globals;
    VmUpval** ups = VmScriptUpvals(c);
    for (int i = 0; i < nups; i++) ups[i] = nullptr;
    return c;
}

VmNativeClosure* VmNewNativeClosure(ScriptState* L, int nups) {
    size_t size = sizeof(VmNativeClosure) + static_cast<size_t>(nups) * sizeof(ScriptValue);
    auto* c = static_cast<VmNativeClosure*>(VmRealloc(L, nullptr, 0, size));
    VmLinkObject(L, c, kTypeFunction);
    c->isNative = 1;
    c->nupvalues = static_cast<uint8_t>(nups);
    c->gclist = nullptr;
    c->f = nullptr;
    ScriptValue* ups = VmNativeUpvalues(c);
    for (int i = 0; i < nups; i++) SetNil(&ups[i]);
    return c;
}

ScriptProto* VmNewProto(ScriptState* L) {
    auto* p = static_cast<ScriptProto*>(VmRealloc(L, nullptr, 0, sizeof(ScriptProto)));
    VmLinkObject(L, p, kTypeProto);
    p->k = nullptr;
    p->code = nullptr;
    p->p = nullptr;
    p->lineinfo = nullptr;
    p->linestarts = nullptr;
    p->qcode = nullptr;
    p->qdelta = 0;
    p->locvars = nullptr;
    p->upvalues = nullptr;
    p->source = nullptr;
    p->sizeupvalues = 0;
    p->sizek = 0;
    p->sizecode = 0;
    p->sizelineinfo = 0;
    p->sizep = 0;
    p->sizelocvars = 0;
    p->lineDefined = 0;
    p->gclist = nullptr;
    p->nups = 0;
    p->numparams = 0;
    p->is_vararg = 0;
    p->maxstacksize = 0;
    return p;
}

// Nested prototypes, strings and constants are objects of their own; only the
// arrays belong to this record. A loader abandoned midway may leave an array
// null, which frees (and counts) nothing.
void VmFreeProto(ScriptState* L, ScriptProto* p) {
    VmFreeVector(L, p->code, static_cast<size_t>(p->sizecode));
    VmFreeVector(L, p->p, static_cast<size_t>(p->sizep));
    VmFreeVector(L, p->k, static_cast<size_t>(p->sizek));
    VmFreeVector(L, p->lineinfo, static_cast<size_t>(p->sizelineinfo));
    VmFreeVector(L, p->linestarts, static_cast<size_t>(p->sizecode));
    VmFreeVector(L, p->qcode, static_cast<size_t>(p->sizecode));
    VmFreeVector(L, p->locvars, static_cast<size_t>(p->sizelocvars));
    VmFreeVector(L, p->upvalues, static_cast<size_t>(p->sizeupvalues));
    VmRealloc(L, p, sizeof(ScriptProto), 0);
}

VmUpval* VmFindUpvalue(ScriptState* L, ScriptValue* level) {
    GCObject** pp = &L->openupval;
    VmUpval* p;
    while ((p = static_cast<VmUpval*>(*pp)) != nullptr && p->v >= level) {
        if (p->v == level) return p;
        pp = &p->next;
    }
    auto* uv = static_cast<VmUpval*>(VmRealloc(L, nullptr, 0, sizeof(VmUpval)));
    uv->tt = kTypeUpval;
    uv->marked = kMarkBit;  // open upvalues are reached through the stack, never swept
    uv->v = level;
    SetNil(&uv->value);
    uv->next = *pp;
    *pp = uv;
    return uv;
}

void VmCloseUpvalues(ScriptState* L, ScriptValue* level) {
    VmUpval* p;
    while ((p = static_cast<VmUpval*>(L->openupval)) != nullptr && p->v >= level) {
        p->value = *p->v;
        p->v = &p->value;
        L->openupval = p->next;
        VmLinkObject(L, p, kTypeUpval);
    }
}

const char* VmGetLocalName(const ScriptProto* p, int localNumber, int pc) {
    for (int i = 0; i < p->sizelocvars && p->locvars[i].startpc <= pc; i++) {
        if (pc < p->locvars[i].endpc) {
            if (--localNumber == 0) {
                const VmString* name = p->locvars[i].varname;
                return name != nullptr ? VmStrData(name) : "?";
            }
        }
    }
    return nullptr;
}
