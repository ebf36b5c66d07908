// Static checker of loaded code: one forward pass that proves every operand
// stays inside the frame, the constants and the code, so the interpreter can
// trust them. The same pass, asked about one register, finds the instruction
// that last set it (for the variable names in error messages).
#include "vm/internal.h"

namespace {

// Register number that no instruction names: the pass then only checks.
constexpr int kNoRegister = 255;
// RETURN with this C returns from a gosub and names no registers.
constexpr int kReturnFromGosub = 1;
// NEWTABLE size bounds: the array part (B as mantissa:3 exponent:6) and the
// log2 of the hash part (C), so that code cannot ask for absurd tables.
constexpr int kNewTableMantissaBits = 3;
constexpr int kNewTableMantissaMask = (1 << kNewTableMantissaBits) - 1;
constexpr uint64_t kMaxNewTableArray = uint64_t{1} << kMaxArrayBits;
constexpr int kMaxNewTableHashBits = kMaxNodeBits;
// The highest register CONCAT may end at (it is never a constant).
constexpr int kMaxConcatLast = kRKConstBase - 1;
// TFORLOOP calls from three slots above its loop variables: the generator,
// its state and the control value are copied to A + C + 3 .. A + C + 5.
constexpr int kTForCallBaseOffset = 3;
constexpr int kTForCallSlots = 3;

struct Checker {
    const ScriptProto* pt;

    bool IsReg(int r) const { return r >= 0 && r < pt->maxstacksize; }
    bool IsRK(int r) const {
        return IsReg(r) || (r >= kRKConstBase && r - kRKConstBase < pt->sizek);
    }
    bool InCode(int pc) const { return pc >= 0 && pc < pt->sizecode; }
    int Op(int pc) const { return GetOpcode(pt->code[pc]); }
};

bool PreCheck(const Checker& k, bool isTopLevel) {
    const ScriptProto* pt = k.pt;
    if (pt->maxstacksize > kMaxStack) return false;
    // The fixed parameters and the table of extra arguments must fit the frame.
    if (pt->numparams + (pt->is_vararg ? 1 : 0) > pt->maxstacksize) return false;
    if (isTopLevel && pt->nups != 0) return false;
    if (pt->sizeupvalues != 0 && pt->sizeupvalues != pt->nups) return false;
    if (pt->sizelineinfo != pt->sizecode && pt->sizelineinfo != 0) return false;
    if (pt->sizecode <= 0 || pt->code == nullptr) return false;
    return k.Op(pt->sizecode - 1) == OP_RETURN;
}

// An open result count (CALL with C = 0) leaves the stack top for the next
// instruction, which must be one that takes it.
bool TakesOpenResults(const Checker& k, int pc) {
    if (!k.InCode(pc)) return false;
    Instruction i = k.pt->code[pc];
    switch (GetOpcode(i)) {
        case OP_CALL:
        case OP_TAILCALL:
        case OP_RETURN:
            return GetArgB(i) == 0;
        case OP_SETLISTO:
            return true;
        default:
            return false;
    }
}

bool NewTableSizesOk(int b, int c) {
    int mantissa = b & kNewTableMantissaMask;
    int exponent = b >> kNewTableMantissaBits;
    if (mantissa != 0) {
        if (exponent > kMaxArrayBits) return false;
        if ((static_cast<uint64_t>(mantissa) << exponent) > kMaxNewTableArray) return false;
    }
    return c <= kMaxNewTableHashBits;
}

// Runs over the code before lastpc. Returns false when a check fails; *last
// receives the pc of the last instruction that set `reg` (-1 when none).
bool SymbolicRun(const ScriptProto* pt, int lastpc, int reg, bool isTopLevel, int* last) {
    Checker k{pt};
    *last = -1;
    if (!PreCheck(k, isTopLevel)) return false;
    // The instructions after a CLOSURE that only list its upvalues; they set
    // nothing, though they look like MOVE and GETUPVAL.
    int upvalueListEnd = -1;
    for (int pc = 0; pc < lastpc; ++pc) {
        const Instruction i = pt->code[pc];
        const int op = GetOpcode(i);
        if (op >= kNumOpcodes) return false;
        const int a = GetArgA(i);
        const OpMode mode = GetOpMode(op);
        int b = 0;
        int c = 0;
        if (mode != isJ && !k.IsReg(a)) return false;
        switch (mode) {
            case iABC:
                b = GetArgB(i);
                c = GetArgC(i);
                if (TestOpFlag(op, kOpBReg)) {
                    if (!k.IsReg(b)) return false;
                } else if (TestOpFlag(op, kOpBRK)) {
                    if (!k.IsRK(b)) return false;
                }
                if (TestOpFlag(op, kOpCRK) && !k.IsRK(c)) return false;
                break;
            case iABx:
                b = GetArgBx(i);
                if (TestOpFlag(op, kOpBxConst) && b >= pt->sizek) return false;
                break;
            case iAsBx:
                b = GetArgSBx(i);
                break;
            case isJ:
                b = GetArgSJ(i);
                break;
        }
        const bool listsUpvalues = pc <= upvalueListEnd;
        if (TestOpFlag(op, kOpSetsA) && a == reg && !listsUpvalues) *last = pc;
        if (TestOpFlag(op, kOpTest)) {
            if (pc + 2 >= pt->sizecode || k.Op(pc + 1) != OP_JMP) return false;
        }
        switch (op) {
            case OP_LOADBOOL:
                if (c != 0 && pc + 2 >= pt->sizecode) return false;
                break;
            case OP_LOADNIL:
                if (a <= reg && reg <= b && !listsUpvalues) *last = pc;
                break;
            case OP_GETUPVAL:
            case OP_SETUPVAL:
                if (b >= pt->nups) return false;
                break;
            case OP_GETGLOBAL:
            case OP_SETGLOBAL:
                if (!IsString(&pt->k[b])) return false;
                break;
            case OP_NEWTABLE:
                if (!NewTableSizesOk(b, c)) return false;
                break;
            case OP_CONCAT:
                if (c > kMaxConcatLast || !k.IsReg(c) || b >= c) return false;
                break;
            case OP_JMP: {
                int dest = pc + 1 + b;
                if (!k.InCode(dest)) return false;
                // A gosub comes back to the next instruction, so only plain
                // forward jumps that stay before lastpc are followed.
                if (reg != kNoRegister && GetJumpKind(i) != kJumpKindGosub && pc < dest && dest <= lastpc)
                    pc = dest - 1;
                break;
            }
            case OP_CALL:
            case OP_TAILCALL:
                if (b != 0 && !k.IsReg(a + b - 1)) return false;
                if (c == 0) {
                    if (!TakesOpenResults(k, pc + 1)) return false;
                } else if (c >= 2 && !k.IsReg(a + c - 2)) {
                    return false;
                }
                if (reg != kNoRegister && reg >= a) *last = pc;
                break;
            case OP_RETURN:
                if (c != kReturnFromGosub && b >= 2 && !k.IsReg(a + b - 2)) return false;
                break;
            case OP_FORLOOP:
                if (!k.IsReg(a + 2) || !k.InCode(pc + 1 + b)) return false;
                break;
            case OP_TFORPREP:
                if (!k.IsReg(a + 1) || !k.InCode(pc + 1 + b)) return false;
                break;
            case OP_TFORLOOP:
                if (!k.IsReg(a + c + kTForCallBaseOffset + kTForCallSlots - 1)) return false;
                break;
            case OP_SETLIST:
            case OP_SETLISTO:
                if (!k.IsReg(a + 1 + (b % kFieldsPerFlush))) return false;
                break;
            case OP_CLOSURE: {
                if (b >= pt->sizep || pt->p[b] == nullptr) return false;
                int nup = pt->p[b]->nups;
                if (pc + nup >= pt->sizecode) return false;
                for (int j = 1; j <= nup; ++j) {
                    int listed = k.Op(pc + j);
                    if (listed != OP_MOVE && listed != OP_GETUPVAL) return false;
                }
                if (nup > 0) upvalueListEnd = pc + nup;
                break;
            }
            case OP_SELF:
                if (!k.IsReg(a + 1)) return false;
                if (reg == a + 1) *last = pc;
                break;
            default:
                break;
        }
    }
    return true;
}

}  // namespace

bool VmCheckCode(const ScriptProto* pt, bool isTopLevel) {
    int last = -1;
    return SymbolicRun(pt, pt->sizecode, kNoRegister, isTopLevel, &last);
}

int VmSymbolicLastSetter(const ScriptProto* pt, int lastpc, int reg) {
    if (lastpc < 0 || reg < 0 || reg >= kNoRegister) return -1;
    if (lastpc > pt->sizecode) lastpc = pt->sizecode;
    int last = -1;
    if (!SymbolicRun(pt, lastpc, reg, false, &last)) return -1;
    return last;
}
