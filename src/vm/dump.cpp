// Writes a script function back into a precompiled chunk (host byte order),
// debug information included, for the libraries that store functions.
#include "core/errcodes.h"
#include "vm/internal.h"

namespace {

struct DumpState {
    ScriptState* L;
    VmWriterFn writer;
    void* data;
};

void Block(DumpState* d, const void* p, size_t n) { d->writer(d->L, p, n, d->data); }
void Byte(DumpState* d, int b) {
    auto c = static_cast<unsigned char>(b);
    Block(d, &c, 1);
}
void Int(DumpState* d, int32_t x) { Block(d, &x, sizeof x); }
void Size(DumpState* d, uint32_t x) { Block(d, &x, sizeof x); }
void Number(DumpState* d, double x) { Block(d, &x, sizeof x); }

void String(DumpState* d, const VmString* s) {
    if (s == nullptr) {
        Size(d, 0);
        return;
    }
    Size(d, s->len + 1);
    Block(d, VmStrData(s), s->len + 1);
}

void Function(DumpState* d, const ScriptProto* f, const VmString* parentSource) {
    String(d, f->source == parentSource ? nullptr : f->source);
    Int(d, f->lineDefined);
    Byte(d, f->nups);
    Byte(d, f->numparams);
    Byte(d, f->is_vararg);
    Byte(d, f->maxstacksize);
    Int(d, f->sizelineinfo);
    Block(d, f->lineinfo, sizeof(int32_t) * static_cast<size_t>(f->sizelineinfo));
    Int(d, f->sizelocvars);
    for (int i = 0; i < f->sizelocvars; i++) {
        String(d, f->locvars[i].varname);
        Int(d, f->locvars[i].startpc);
        Int(d, f->locvars[i].endpc);
    }
    Int(d, f->sizeupvalues);
    for (int i = 0; i < f->sizeupvalues; i++) String(d, f->upvalues[i]);
    Int(d, f->sizek);
    for (int i = 0; i < f->sizek; i++) {
        const ScriptValue* o = &f->k[i];
        Byte(d, o->tt);
        if (IsNumber(o))
            Number(d, o->value.n);
        else if (IsString(o))
            String(d, StrValue(o));
    }
    Int(d, f->sizep);
    for (int i = 0; i < f->sizep; i++) Function(d, f->p[i], f->source);
    Int(d, f->sizecode);
    Block(d, f->code, sizeof(Instruction) * static_cast<size_t>(f->sizecode));
}

}  // namespace

void VmDump(ScriptState* L, const ScriptProto* p, VmWriterFn w, void* data) {
    DumpState d{L, w, data};
    Block(&d, kChunkSignature, sizeof kChunkSignature);
    Byte(&d, 1);  // little-endian host
    Block(&d, kChunkSizes, sizeof kChunkSizes);
    Number(&d, kChunkTestNumber);
    Function(&d, p, nullptr);
}

int VmDumpFunction(ScriptState* L, int idx, VmWriterFn writer, void* data) {
    VmPushValue(L, idx);
    ScriptValue f = *(L->top - 1);
    L->top--;
    if (!IsFunction(&f)) return ERR_FUNCEXPECTED;
    auto* cl = ClosureValue(&f);
    if (cl->isNative) return ERR_NOQBFUNC;
    VmDump(L, static_cast<VmScriptClosure*>(cl)->p, writer, data);
    return 0;
}
