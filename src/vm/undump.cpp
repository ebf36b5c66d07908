// Loader of precompiled chunks: turns a byte stream into a tree of checked
// function prototypes.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/errcodes.h"
#include "vm/codecheck.h"
#include "vm/internal.h"
#include "vm/quicken.h"

namespace {

// Byte-order byte of a little-endian writer; any other value means big-endian.
constexpr uint8_t kOrderLittleEndian = 1;
// The header's test number must truncate to this.
constexpr double kTruncatedTestNumber = 31415926.0;
// Constant type bytes.
constexpr uint8_t kConstNil = 0;
constexpr uint8_t kConstNumber = 3;
constexpr uint8_t kConstString = 4;

// Function records nest; each level costs native stack, so crafted input
// must not be able to nest them without bound.
constexpr int kMaxFunctionNesting = 200;

// When the stream's size is unknown, a count says nothing about the bytes
// that will really arrive: arrays start at most this large and double while
// their elements are read.
constexpr size_t kInitialCapacity = 256;
// Strings longer than this are read piecewise when the size is unknown.
constexpr size_t kStringPiece = 64 * 1024;

// The fewest bytes one element of each array takes in the stream; with a
// known stream size, counts that the rest cannot hold are refused up front.
constexpr size_t kMinLineInfoBytes = 4;
constexpr size_t kMinLocVarBytes = 4 + 1 + 4 + 4;     // name of one byte, startpc, endpc
constexpr size_t kMinUpvalueNameBytes = 4 + 1;
constexpr size_t kMinConstantBytes = 1;               // a nil
constexpr size_t kMinFunctionBytes = 4 + 4 + 4 + 6 * 4;  // source, line, 4 bytes, 6 counts
constexpr size_t kInstructionBytes = 4;

struct LoadState {
    ScriptState* L;
    VmReader* z;
    bool bigEndian;
    VmCodeFault* fault;     // null: the reason of a refusal is not wanted
    std::vector<int> path;  // nested-function indices down to the one being read
};

[[noreturn]] void Fail(const LoadState& S, int code) { VmThrow(S.L, code); }

// What the checker's verdict leaves out and a report needs once the
// prototype is gone: where the function and the refused instruction stand.
void NoteRefusedFunction(VmCodeFault& fault, const std::vector<int>& path, const ScriptProto* f) {
    fault.path = path;
    fault.codeSize = f->sizecode;
    const bool inCode = fault.pc >= 0 && fault.pc < f->sizecode && f->code != nullptr;
    fault.opcode = inCode ? GetOpcode(f->code[fault.pc]) : -1;
    fault.line = inCode && fault.pc < f->sizelineinfo ? f->lineinfo[fault.pc] : 0;
}

// A refusal that a well-formed stream can still earn, with its reason for
// whoever asked (the function being read, not one of its instructions).
[[noreturn]] void Refuse(const LoadState& S, int code, const char* reason) {
    if (S.fault) {
        *S.fault = VmCodeFault{};
        S.fault->path = S.path;
        S.fault->reason = reason;
    }
    Fail(S, code);
}

void ReadBlock(const LoadState& S, void* b, size_t n) {
    if (VmReaderRead(S.z, b, n) != 0) Fail(S, ERR_UNEXPECTEDEOF);
}

uint8_t ReadByte(const LoadState& S) {
    uint8_t b = 0;
    ReadBlock(S, &b, 1);
    return b;
}

template <size_t N>
uint64_t ReadUnsigned(const LoadState& S) {
    uint8_t b[N];
    ReadBlock(S, b, N);
    uint64_t v = 0;
    for (size_t i = 0; i < N; ++i) {
        size_t from = S.bigEndian ? i : N - 1 - i;
        v = (v << 8) | b[from];
    }
    return v;
}

uint32_t ReadWord(const LoadState& S) { return static_cast<uint32_t>(ReadUnsigned<4>(S)); }

int32_t ReadInt(const LoadState& S) {
    auto v = static_cast<int32_t>(ReadWord(S));
    if (v < 0) Fail(S, ERR_BADINTEGER);
    return v;
}

double ReadNumber(const LoadState& S) { return std::bit_cast<double>(ReadUnsigned<8>(S)); }

// Reads an element count and, when the stream size is known, refuses one that
// the remaining bytes cannot hold before anything is allocated for it.
void CheckRoom(const LoadState& S, size_t n, size_t minBytesEach) {
    if (S.z->sizeKnown && static_cast<uint64_t>(n) * minBytesEach > S.z->remainingTotal)
        Fail(S, ERR_UNEXPECTEDEOF);
}

size_t ReadCount(const LoadState& S, size_t minBytesEach) {
    auto n = static_cast<size_t>(ReadInt(S));
    CheckRoom(S, n, minBytesEach);
    return n;
}

// Makes room for element `index` of an array whose final length is `total`.
// The prototype's count field always equals the allocated length and new
// elements are cleared, so an abandoned prototype can be freed as it stands.
template <typename T>
void EnsureRoom(const LoadState& S, T*& v, int32_t& cap, size_t index, size_t total, const T& blank) {
    auto have = static_cast<size_t>(cap);
    if (index < have) return;
    size_t want = S.z->sizeKnown ? total : std::min(total, std::max(have * 2, kInitialCapacity));
    v = VmResizeVector<T>(S.L, v, have, want);
    std::fill(v + have, v + want, blank);
    cap = static_cast<int32_t>(want);
}

// A VM-allocated block that grows while a long string arrives piecewise.
struct PieceBuffer {
    ScriptState* L;
    char* data = nullptr;
    size_t size = 0;
    ~PieceBuffer() {
        if (data) VmRealloc(L, data, size, 0);
    }
    void Grow(size_t n) {
        data = static_cast<char*>(VmRealloc(L, data, size, n));
        size = n;
    }
};

// Returns null for size 0, which stands for no string.
VmString* ReadString(const LoadState& S) {
    uint32_t size = ReadWord(S);
    if (size == 0) return nullptr;
    size_t len = size - 1;  // the last byte is the writer's terminator
    if (S.z->sizeKnown && size > S.z->remainingTotal) Fail(S, ERR_UNEXPECTEDEOF);
    if (S.z->sizeKnown || size <= kStringPiece) {
        char* buf = VmBufferReserve(S.L, size);
        ReadBlock(S, buf, size);
        return VmNewString(S.L, buf, len);
    }
    PieceBuffer piece{S.L};
    size_t have = 0;
    while (have < size) {
        size_t next = std::min<size_t>(size, std::max(have * 2, kStringPiece));
        piece.Grow(next);
        ReadBlock(S, piece.data + have, next - have);
        have = next;
    }
    return VmNewString(S.L, piece.data, len);
}

VmString* ReadName(const LoadState& S) {
    VmString* s = ReadString(S);
    if (s == nullptr) Fail(S, ERR_BADBYTECODE);
    return s;
}

void ReadLineInfo(const LoadState& S, ScriptProto* f) {
    size_t n = ReadCount(S, kMinLineInfoBytes);
    for (size_t i = 0; i < n; ++i) {
        EnsureRoom<int32_t>(S, f->lineinfo, f->sizelineinfo, i, n, 0);
        f->lineinfo[i] = static_cast<int32_t>(ReadWord(S));
    }
}

void ReadLocals(const LoadState& S, ScriptProto* f) {
    size_t n = ReadCount(S, kMinLocVarBytes);
    for (size_t i = 0; i < n; ++i) {
        EnsureRoom<VmLocVar>(S, f->locvars, f->sizelocvars, i, n, VmLocVar{nullptr, 0, 0});
        VmLocVar& v = f->locvars[i];
        v.varname = ReadName(S);
        v.startpc = ReadInt(S);
        v.endpc = ReadInt(S);
    }
}

void ReadUpvalueNames(const LoadState& S, ScriptProto* f) {
    auto n = static_cast<size_t>(ReadInt(S));
    if (n != 0 && n != f->nups) Refuse(S, ERR_BADUPVALUES, "it names a different number of upvalues than it has");
    CheckRoom(S, n, kMinUpvalueNameBytes);
    for (size_t i = 0; i < n; ++i) {
        EnsureRoom<VmString*>(S, f->upvalues, f->sizeupvalues, i, n, nullptr);
        f->upvalues[i] = ReadName(S);
    }
}

void ReadConstants(const LoadState& S, ScriptProto* f) {
    size_t n = ReadCount(S, kMinConstantBytes);
    ScriptValue nil{};
    SetNil(&nil);
    for (size_t i = 0; i < n; ++i) {
        EnsureRoom<ScriptValue>(S, f->k, f->sizek, i, n, nil);
        ScriptValue* o = &f->k[i];
        switch (ReadByte(S)) {
            case kConstNil:
                break;
            case kConstNumber:
                SetNumber(o, ReadNumber(S));
                break;
            case kConstString: {
                // A string constant must have a text; size 0 would be none.
                VmString* s = ReadString(S);
                if (s == nullptr) Refuse(S, ERR_BADCONSTANT, "a string constant has no text (raw\"\", size 0)");
                SetString(o, s);
                break;
            }
            default:
                Fail(S, ERR_BADCONSTANT);
        }
    }
}

void ReadCode(const LoadState& S, ScriptProto* f) {
    size_t n = ReadCount(S, kInstructionBytes);
    for (size_t i = 0; i < n; ++i) {
        EnsureRoom<Instruction>(S, f->code, f->sizecode, i, n, 0);
        f->code[i] = ReadWord(S);
    }
}

void ReadFunction(LoadState& S, ScriptProto* f, VmString* enclosingSource, int depth);

void ReadNested(LoadState& S, ScriptProto* f, int depth) {
    size_t n = ReadCount(S, kMinFunctionBytes);
    for (size_t i = 0; i < n; ++i) {
        EnsureRoom<ScriptProto*>(S, f->p, f->sizep, i, n, nullptr);
        f->p[i] = VmNewProto(S.L);
        if (S.fault) S.path.push_back(static_cast<int>(i));
        ReadFunction(S, f->p[i], f->source, depth + 1);
        if (S.fault) S.path.pop_back();
    }
}

// Fills a prototype that is already reachable (from the stack, or from the
// one that encloses it), and stores every object it reads at once, so that
// the loader holds nothing a collection could take.
void ReadFunction(LoadState& S, ScriptProto* f, VmString* enclosingSource, int depth) {
    if (depth > kMaxFunctionNesting) Fail(S, ERR_BADBYTECODE);
    f->source = ReadString(S);
    if (f->source == nullptr) f->source = enclosingSource;
    f->lineDefined = ReadInt(S);
    f->nups = ReadByte(S);
    f->numparams = ReadByte(S);
    f->is_vararg = ReadByte(S);
    f->maxstacksize = ReadByte(S);
    ReadLineInfo(S, f);
    ReadLocals(S, f);
    ReadUpvalueNames(S, f);
    ReadConstants(S, f);
    ReadNested(S, f, depth);
    ReadCode(S, f);
    if (!VmCheckCode(f, depth == 0, S.fault)) {
        if (S.fault) NoteRefusedFunction(*S.fault, S.path, f);
        Fail(S, ERR_BADBYTECODE);
    }
    VmQuicken(S.L, f);
}

void ReadHeader(LoadState& S) {
    // Compared as they arrive, so that a short text file is reported as
    // foreign data rather than as a truncated chunk.
    for (unsigned char expected : kChunkSignature)
        if (ReadByte(S) != expected) Fail(S, ERR_BADSIGNATURE);
    S.bigEndian = ReadByte(S) != kOrderLittleEndian;
    for (unsigned char expected : kChunkSizes)
        if (ReadByte(S) != expected) Fail(S, ERR_VMMISMATCH);
    // Compared in floating point: any truncation toward zero that lands on
    // the integer is accepted, and NaN or huge values simply fail.
    if (std::trunc(ReadNumber(S)) != kTruncatedTestNumber) Fail(S, ERR_UNKNUMFMT);
}

}  // namespace

ScriptProto* VmUndump(ScriptState* L, VmReader* z, VmCodeFault* fault) {
    LoadState S{L, z, false, fault, {}};
    ReadHeader(S);
    // The stack holds the outermost prototype while it is read; a failed
    // load drops it with the rest of what the protected call left.
    VmCheckStackRoom(L, 1);
    ScriptProto* f = VmNewProto(L);
    SetGCValue(L->top++, f, kTypeProto);
    ReadFunction(S, f, nullptr, 0);
    L->top--;
    return f;
}
