// Static checker of loaded code: one forward pass that proves every operand
// stays inside the frame, the constants and the code, so the interpreter can
// trust them. The same pass, asked about one register, finds the instruction
// that last set it (for the variable names in error messages). Tools that
// write chunks ask it where and why it refuses one, so each refusal carries
// its reason.
#include "vm/codecheck.h"
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

// The reasons several checks share.
constexpr const char* kOutsideA = "register A is outside the frame (maxstack)";
constexpr const char* kOutsideB = "register B is outside the frame (maxstack)";
constexpr const char* kNoRKB = "operand B is neither a register inside the frame (maxstack) nor a constant of the pool";
constexpr const char* kNoRKC = "operand C is neither a register inside the frame (maxstack) nor a constant of the pool";
constexpr const char* kOpenResults =
    "C = 0 leaves its results open, but the next instruction does not take them (CALL, TAILCALL or RETURN with "
    "B = 0, or SETLISTO)";

struct Checker {
    const ScriptProto* pt;
    VmCodeFault* fault;  // null: nobody asks why

    // Always false, so that a check reads `return k.Refuse(pc, "why")`.
    bool Refuse(int pc, const char* reason) const {
        if (fault) {
            fault->pc = pc;
            fault->reason = reason;
        }
        return false;
    }

    bool IsReg(int r) const { return r >= 0 && r < pt->maxstacksize; }
    bool IsRK(int r) const {
        return IsReg(r) || (r >= kRKConstBase && r - kRKConstBase < pt->sizek);
    }
    bool InCode(int pc) const { return pc >= 0 && pc < pt->sizecode; }
    int Op(int pc) const { return GetOpcode(pt->code[pc]); }
};

bool PreCheck(const Checker& k, bool isTopLevel) {
    const ScriptProto* pt = k.pt;
    if (pt->maxstacksize > kMaxStack) return k.Refuse(-1, "maxstack is above the VM's limit");
    // The fixed parameters and the table of extra arguments must fit the frame.
    if (pt->numparams + (pt->is_vararg ? 1 : 0) > pt->maxstacksize)
        return k.Refuse(-1, "its parameters (and the table of extra arguments) need more registers than maxstack "
                            "gives");
    if (isTopLevel && pt->nups != 0) return k.Refuse(-1, "the main function cannot have upvalues");
    if (pt->sizeupvalues != 0 && pt->sizeupvalues != pt->nups)
        return k.Refuse(-1, "it names a different number of upvalues than it has");
    if (pt->sizelineinfo != pt->sizecode && pt->sizelineinfo != 0)
        return k.Refuse(-1, "its line info does not give one line per instruction");
    if (pt->sizecode <= 0 || pt->code == nullptr) return k.Refuse(-1, "it has no instructions");
    if (k.Op(pt->sizecode - 1) != OP_RETURN) return k.Refuse(pt->sizecode - 1, "its last instruction is not RETURN");
    return true;
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
bool SymbolicRun(const ScriptProto* pt, int lastpc, int reg, bool isTopLevel, int* last, VmCodeFault* fault) {
    Checker k{pt, fault};
    *last = -1;
    if (!PreCheck(k, isTopLevel)) return false;
    // The instructions after a CLOSURE that only list its upvalues; they set
    // nothing, though they look like MOVE and GETUPVAL.
    int upvalueListEnd = -1;
    for (int pc = 0; pc < lastpc; ++pc) {
        const Instruction i = pt->code[pc];
        const int op = GetOpcode(i);
        if (op >= kNumOpcodes) return k.Refuse(pc, "it is no instruction the VM knows");
        const int a = GetArgA(i);
        const OpMode mode = GetOpMode(op);
        int b = 0;
        int c = 0;
        if (mode != isJ && !k.IsReg(a)) return k.Refuse(pc, kOutsideA);
        switch (mode) {
            case iABC:
                b = GetArgB(i);
                c = GetArgC(i);
                if (TestOpFlag(op, kOpBReg)) {
                    if (!k.IsReg(b)) return k.Refuse(pc, kOutsideB);
                } else if (TestOpFlag(op, kOpBRK)) {
                    if (!k.IsRK(b)) return k.Refuse(pc, kNoRKB);
                }
                if (TestOpFlag(op, kOpCRK) && !k.IsRK(c)) return k.Refuse(pc, kNoRKC);
                break;
            case iABx:
                b = GetArgBx(i);
                if (TestOpFlag(op, kOpBxConst) && b >= pt->sizek)
                    return k.Refuse(pc, "constant Bx is beyond the constant pool");
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
            if (pc + 2 >= pt->sizecode || k.Op(pc + 1) != OP_JMP)
                return k.Refuse(pc, "a test must be followed by a JMP (and that by more code)");
        }
        switch (op) {
            case OP_LOADBOOL:
                if (c != 0 && pc + 2 >= pt->sizecode)
                    return k.Refuse(pc, "C = 1 skips the next instruction, and there is none after it");
                break;
            case OP_LOADNIL:
                if (a <= reg && reg <= b && !listsUpvalues) *last = pc;
                break;
            case OP_GETUPVAL:
            case OP_SETUPVAL:
                if (b >= pt->nups) return k.Refuse(pc, "upvalue B is beyond the function's upvalues");
                break;
            case OP_GETGLOBAL:
            case OP_SETGLOBAL:
                if (!IsString(&pt->k[b])) return k.Refuse(pc, "the global's name (constant Bx) is not a string");
                break;
            case OP_NEWTABLE:
                if (!NewTableSizesOk(b, c)) return k.Refuse(pc, "the table sizes B and C are too large");
                break;
            case OP_CONCAT:
                if (c > kMaxConcatLast || !k.IsReg(c) || b >= c)
                    return k.Refuse(pc, "registers B to C must be at least two, inside the frame (maxstack)");
                break;
            case OP_JMP: {
                int dest = pc + 1 + b;
                if (!k.InCode(dest)) return k.Refuse(pc, "it jumps outside the code");
                // A gosub comes back to the next instruction, so only plain
                // forward jumps that stay before lastpc are followed.
                if (reg != kNoRegister && GetJumpKind(i) != kJumpKindGosub && pc < dest && dest <= lastpc)
                    pc = dest - 1;
                break;
            }
            case OP_CALL:
            case OP_TAILCALL:
                if (b != 0 && !k.IsReg(a + b - 1))
                    return k.Refuse(pc, "its arguments (registers A + 1 to A + B - 1) pass the frame (maxstack)");
                if (c == 0) {
                    if (!TakesOpenResults(k, pc + 1)) return k.Refuse(pc, kOpenResults);
                } else if (c >= 2 && !k.IsReg(a + c - 2)) {
                    return k.Refuse(pc, "its results (registers A to A + C - 2) pass the frame (maxstack)");
                }
                if (reg != kNoRegister && reg >= a) *last = pc;
                break;
            case OP_RETURN:
                if (c != kReturnFromGosub && b >= 2 && !k.IsReg(a + b - 2))
                    return k.Refuse(pc, "its results (registers A to A + B - 2) pass the frame (maxstack)");
                break;
            case OP_FORLOOP:
                if (!k.IsReg(a + 2)) return k.Refuse(pc, "its loop registers A to A + 2 pass the frame (maxstack)");
                if (!k.InCode(pc + 1 + b)) return k.Refuse(pc, "it jumps outside the code");
                break;
            case OP_TFORPREP:
                if (!k.IsReg(a + 1)) return k.Refuse(pc, "its registers A and A + 1 pass the frame (maxstack)");
                if (!k.InCode(pc + 1 + b)) return k.Refuse(pc, "it jumps outside the code");
                break;
            case OP_TFORLOOP:
                if (!k.IsReg(a + c + kTForCallBaseOffset + kTForCallSlots - 1))
                    return k.Refuse(pc, "its call slots (registers up to A + C + 5) pass the frame (maxstack)");
                break;
            case OP_SETLIST:
            case OP_SETLISTO:
                if (!k.IsReg(a + 1 + (b % kFieldsPerFlush)))
                    return k.Refuse(pc, "the values it stores pass the frame (maxstack)");
                break;
            case OP_CLOSURE: {
                if (b >= pt->sizep || pt->p[b] == nullptr) return k.Refuse(pc, "nested function Bx does not exist");
                int nup = pt->p[b]->nups;
                if (pc + nup >= pt->sizecode) return k.Refuse(pc, "the list of its upvalues runs past the code");
                for (int j = 1; j <= nup; ++j) {
                    int listed = k.Op(pc + j);
                    if (listed != OP_MOVE && listed != OP_GETUPVAL)
                        return k.Refuse(pc + j, "the closure's upvalues must each be listed by a MOVE or GETUPVAL");
                }
                if (nup > 0) upvalueListEnd = pc + nup;
                break;
            }
            case OP_SELF:
                if (!k.IsReg(a + 1)) return k.Refuse(pc, "register A + 1 is outside the frame (maxstack)");
                if (reg == a + 1) *last = pc;
                break;
            default:
                break;
        }
    }
    return true;
}

}  // namespace

bool VmCheckCode(const ScriptProto* pt, bool isTopLevel, VmCodeFault* fault) {
    int last = -1;
    return SymbolicRun(pt, pt->sizecode, kNoRegister, isTopLevel, &last, fault);
}

int VmSymbolicLastSetter(const ScriptProto* pt, int lastpc, int reg) {
    if (lastpc < 0 || reg < 0 || reg >= kNoRegister) return -1;
    if (lastpc > pt->sizecode) lastpc = pt->sizecode;
    int last = -1;
    if (!SymbolicRun(pt, lastpc, reg, false, &last, nullptr)) return -1;
    return last;
}

std::string VmDescribeCodeFault(const VmCodeFault& fault) {
    if (!fault.reason) return {};
    // Nested functions are numbered from 0, as CLOSURE's Bx names them.
    std::string text = "the main function";
    for (int index : fault.path) text = "nested function " + std::to_string(index) + " of " + text;
    if (fault.pc >= 0) {
        text += ", instruction " + std::to_string(fault.pc + 1) + " of " + std::to_string(fault.codeSize);
        if (fault.opcode >= 0) {
            text += " (";
            text += fault.opcode < kNumOpcodes ? kOpNames[fault.opcode] : "opcode " + std::to_string(fault.opcode);
            if (fault.line > 0) text += ", line " + std::to_string(fault.line);
            text += ")";
        }
    }
    text += ": ";
    text += fault.reason;
    // The message it follows begins a sentence, so this one does too.
    text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}
