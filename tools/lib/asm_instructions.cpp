// Instruction encoding of the assembler: mnemonics, operand kinds, constant
// operands, label and nested-function references.
#include <algorithm>
#include <cctype>
#include <string>

#include "lib/asm_internal.h"
#include "lib/assembler.h"
#include "lib/text_syntax.h"
#include "vm/opcodes.h"

namespace qbasm {
namespace {

constexpr int kMaxConstIndexRK = 511 - kRKConstBase;
constexpr uint32_t kMaskSJ = ((1u << kSizeJ) - 1) << kPosJ;
constexpr uint32_t kMaskBx = ((1u << kSizeBx) - 1) << kPosBx;

constexpr char kGosub[] = "GOSUB";

bool IsConstantWord(const std::string& w) {
    if (w.empty()) return false;
    if (w[0] == '#' || w == "nil" || IsStringLiteral(w)) return true;
    return w.size() > 1 && w[0] == 'k' &&
           std::all_of(w.begin() + 1, w.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The script language writes hexadecimal as $FF0000, and the reference
// gives colours so; the assembler writes it as C does. The hint for digits
// that read as hexadecimal, else nothing.
std::string HexHint(const std::string& digits) {
    const bool hex = !digits.empty() && digits.size() <= 16 && std::all_of(digits.begin(), digits.end(), [](char c) {
                         return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                     });
    return hex ? ": write hexadecimal numbers as #0x" + digits : std::string();
}

struct OperandContext {
    FunctionBuilder& f;
    const std::string& mnemonic;
    std::string& error;

    bool Fail(const std::string& what, const std::string& word) {
        error = "bad " + what + " of " + mnemonic + ": '" + word + "'";
        return false;
    }

    bool Plain(const std::string& word, const char* what, int64_t lo, int64_t hi, int64_t& v) {
        if (!ParseInteger(word, v)) return Fail(what, word);
        if (v < lo || v > hi) {
            error = std::string(what) + " of " + mnemonic + " out of range " + std::to_string(lo) +
                    ".." + std::to_string(hi) + ": " + word;
            return false;
        }
        return true;
    }

    // A constant operand: its pool index, adding the literal to the pool first.
    bool ConstIndex(const std::string& word, const char* what, int64_t& index) {
        if (word[0] == 'k') {
            if (!ParseInteger(word.substr(1), index)) return Fail(what, word);
            return true;
        }
        Constant k;
        if (!ParseConstantLiteral(word, k, error)) return false;
        index = static_cast<int64_t>(AddConstant(f, k, true));
        return true;
    }

    // A constant written as the script language writes hexadecimal.
    bool ScriptHex(const std::string& word, const char* what) {
        if (word.size() < 2 || word[0] != '$' || HexHint(word.substr(1)).empty()) return false;
        error = "bad " + std::string(what) + " of " + mnemonic + ": '" + word + "'" + HexHint(word.substr(1));
        return true;
    }

    bool RK(const std::string& word, const char* what, int64_t& v) {
        if (ScriptHex(word, what)) return false;
        if (!IsConstantWord(word)) return Plain(word, what, 0, 511, v);
        int64_t index = 0;
        if (!ConstIndex(word, what, index)) return false;
        if (index > kMaxConstIndexRK) {
            error = "constant " + std::to_string(index) + " is out of reach of " + what + " of " +
                    mnemonic + " (at most " + std::to_string(kMaxConstIndexRK) + ")";
            return false;
        }
        v = kRKConstBase + index;
        return true;
    }

    bool Bx(const std::string& word, int64_t& v) {
        if (ScriptHex(word, "operand Bx")) return false;
        if (!IsConstantWord(word)) return Plain(word, "operand Bx", 0, kMaxArgBx, v);
        if (!ConstIndex(word, "operand Bx", v)) return false;
        if (v > kMaxArgBx) return Fail("operand Bx", word);
        return true;
    }

    // A signed offset, or a name resolved when the function ends.
    bool Target(const std::string& word, const char* what, int64_t lo, int64_t hi, int64_t& v,
                Fixup::Kind kind, int line) {
        if (IsIdentifier(word)) {
            f.fixups.push_back({kind, f.rec.code.size(), word, line});
            v = 0;
            return true;
        }
        return Plain(word, what, lo, hi, v);
    }
};

bool AssembleJump(OperandContext& ctx, std::vector<std::string> operands, bool gosub, int line,
                  uint32_t& word) {
    int64_t kind = gosub ? kJumpKindGosub : 0;
    for (auto it = operands.begin(); it != operands.end();) {
        if (it->rfind("kind=", 0) == 0) {
            if (gosub) return ctx.Fail("operand", *it);
            if (!ctx.Plain(it->substr(5), "kind", 0, 3, kind)) return false;
            it = operands.erase(it);
        } else {
            ++it;
        }
    }
    if (operands.size() != 1) {
        ctx.error = ctx.mnemonic + " expects one jump target";
        return false;
    }
    int64_t offset = 0;
    if (!ctx.Target(operands[0], "jump offset", -kBiasSJ, kBiasSJ + 1, offset, Fixup::Kind::Jump,
                    line))
        return false;
    word = CreateJ(static_cast<int>(offset), static_cast<int>(kind));
    return true;
}

bool LookupLabel(const FunctionBuilder& f, const Fixup& fix, size_t& target, std::string& error) {
    auto it = f.labels.find(fix.name);
    if (it == f.labels.end()) {
        error = "unknown label '" + fix.name + "'";
        return false;
    }
    target = it->second;
    return true;
}

}  // namespace

int FindMnemonic(const std::string& mnemonic, bool& gosub) {
    gosub = EqualsNoCase(mnemonic, kGosub);
    if (gosub) return OP_JMP;
    for (int op = 0; op < kNumOpcodes; ++op)
        if (EqualsNoCase(mnemonic, kOpNames[op])) return op;
    return -1;
}

size_t AddConstant(FunctionBuilder& f, const Constant& k, bool pooled) {
    auto& pool = f.rec.constants;
    if (pooled) {
        auto it = std::find_if(pool.begin(), pool.end(),
                               [&](const Constant& c) { return SameConstant(c, k); });
        if (it != pool.end()) return static_cast<size_t>(it - pool.begin());
    }
    pool.push_back(k);
    return pool.size() - 1;
}

bool ParseConstantLiteral(const std::string& word, Constant& k, std::string& error) {
    k = Constant{};
    if (word == "nil") return true;
    if (IsStringLiteral(word)) {
        k.kind = ConstKind::String;
        return ParseStringLiteral(word, k.string, error);
    }
    if (word.size() > 1 && word[0] == '#' && ParseNumber(word.substr(1), k.numberBits)) {
        k.kind = ConstKind::Number;
        return true;
    }
    error = "bad constant '" + word + "'";
    // #CENTER and its kin are names of the script language, which only a
    // compiler knows.
    // #FF0000 may be either: a name or hexadecimal digits without their $.
    if (word.size() > 1 && word[0] == '#' && IsIdentifier(word.substr(1))) {
        error += ": the assembler knows no #NAME constants, write the number";
        if (const std::string hint = HexHint(word.substr(1)); !hint.empty()) error += " (" + hint.substr(2) + ")";
    } else if (word.size() > 2 && word.compare(0, 2, "#$") == 0) {
        error += HexHint(word.substr(2));
    }
    return false;
}

bool AssembleInstruction(FunctionBuilder& f, const std::vector<std::string>& words, int line,
                         std::string& error) {
    const std::string& mnemonic = words[0];
    bool gosub = false;
    int op = FindMnemonic(mnemonic, gosub);
    if (op < 0) {
        error = "unknown instruction '" + mnemonic + "'";
        return false;
    }
    OperandContext ctx{f, mnemonic, error};
    std::vector<std::string> operands(words.begin() + 1, words.end());
    uint32_t word = 0;
    int64_t a = 0, b = 0, c = 0;
    switch (GetOpMode(op)) {
        case isJ:
            if (!AssembleJump(ctx, operands, gosub, line, word)) return false;
            break;
        case iABC:
            if (operands.empty() || operands.size() > 3) {
                error = mnemonic + " expects operands A [B [C]]";
                return false;
            }
            if (!ctx.Plain(operands[0], "operand A", 0, 255, a)) return false;
            if (operands.size() > 1 &&
                !(TestOpFlag(op, kOpBRK) ? ctx.RK(operands[1], "operand B", b)
                                         : ctx.Plain(operands[1], "operand B", 0, 511, b)))
                return false;
            if (operands.size() > 2 &&
                !(TestOpFlag(op, kOpCRK) ? ctx.RK(operands[2], "operand C", c)
                                         : ctx.Plain(operands[2], "operand C", 0, 511, c)))
                return false;
            word = CreateABC(op, static_cast<int>(a), static_cast<int>(b), static_cast<int>(c));
            break;
        case iABx:
        case iAsBx: {
            bool isSigned = GetOpMode(op) == iAsBx;
            if (operands.size() != 2) {
                error = mnemonic + (isSigned ? " expects operands A sBx" : " expects operands A Bx");
                return false;
            }
            if (!ctx.Plain(operands[0], "operand A", 0, 255, a)) return false;
            bool ok;
            if (isSigned)
                ok = ctx.Target(operands[1], "operand sBx", -kBiasSBx, kBiasSBx + 1, b,
                                Fixup::Kind::LoopJump, line);
            else if (TestOpFlag(op, kOpBxConst))
                ok = ctx.Bx(operands[1], b);
            else if (op == OP_CLOSURE)
                ok = ctx.Target(operands[1], "operand Bx", 0, kMaxArgBx, b, Fixup::Kind::Closure,
                                line);
            else
                ok = ctx.Plain(operands[1], "operand Bx", 0, kMaxArgBx, b);
            if (!ok) return false;
            word = isSigned ? CreateAsBx(op, static_cast<int>(a), static_cast<int>(b))
                            : CreateABx(op, static_cast<int>(a), static_cast<int>(b));
            break;
        }
    }
    AddInstruction(f, word, line);
    return true;
}

void AddInstruction(FunctionBuilder& f, uint32_t word, int line) {
    f.rec.code.push_back(word);
    f.lines.push_back(f.currentLine.value_or(line));
    f.places.lines.push_back(line);
}

bool ResolveFixups(FunctionBuilder& f, std::string& error, int& errorLine) {
    for (const Fixup& fix : f.fixups) {
        errorLine = fix.line;
        size_t target = 0;
        switch (fix.kind) {
            case Fixup::Kind::Jump:
            case Fixup::Kind::LoopJump: {
                if (!LookupLabel(f, fix, target, error)) return false;
                int64_t offset = static_cast<int64_t>(target) - static_cast<int64_t>(fix.index + 1);
                bool jump = fix.kind == Fixup::Kind::Jump;
                int64_t bias = jump ? kBiasSJ : kBiasSBx;
                if (offset < -bias || offset > bias + 1) {
                    error = "label '" + fix.name + "' is out of reach";
                    return false;
                }
                uint32_t& word = f.rec.code[fix.index];
                auto field = static_cast<uint32_t>(offset + bias);
                word = jump ? (word & ~kMaskSJ) | field << kPosJ
                            : (word & ~kMaskBx) | field << kPosBx;
                break;
            }
            case Fixup::Kind::Closure: {
                auto it = std::find(f.childNames.begin(), f.childNames.end(), fix.name);
                if (it == f.childNames.end()) {
                    error = "unknown nested function '" + fix.name + "'";
                    return false;
                }
                uint32_t& word = f.rec.code[fix.index];
                word = (word & ~kMaskBx) |
                       static_cast<uint32_t>(it - f.childNames.begin()) << kPosBx;
                break;
            }
            case Fixup::Kind::LocalStart:
            case Fixup::Kind::LocalEnd: {
                if (!LookupLabel(f, fix, target, error)) return false;
                LocalVar& local = f.rec.locals[fix.index];
                (fix.kind == Fixup::Kind::LocalStart ? local.startpc : local.endpc) =
                    static_cast<int32_t>(target);
                break;
            }
        }
    }
    return true;
}

int EstimateMaxStack(const std::vector<uint32_t>& code) {
    int top = 1;
    auto use = [&top](int reg) {
        if (reg < kRKConstBase) top = std::max(top, reg);
    };
    for (uint32_t i : code) {
        int op = GetOpcode(i);
        if (op >= kNumOpcodes || op == OP_JMP) continue;
        int a = GetArgA(i), b = GetArgB(i), c = GetArgC(i);
        use(a);
        if (GetOpMode(op) == iABC) {
            if (TestOpFlag(op, kOpBReg) || TestOpFlag(op, kOpBRK)) use(b);
            if (TestOpFlag(op, kOpCRK)) use(c);
        }
        switch (op) {
            case OP_LOADNIL: use(b); break;
            case OP_CONCAT: use(c); break;
            case OP_CALL:
            case OP_TAILCALL: use(a + std::max({b - 1, c - 2, 0})); break;
            case OP_RETURN: use(a + std::max(b - 2, 0)); break;
            case OP_FORLOOP:
            case OP_TFORPREP: use(a + 2); break;
            case OP_TFORLOOP: use(a + c + 5); break;  // the call frame sits above the loop state
            case OP_SETLIST: use(a + 1 + GetArgBx(i) % kFieldsPerFlush); break;
            case OP_SELF: use(a + 1); break;
            default: break;
        }
    }
    return std::min(top + 1, kMaxStack);
}

}  // namespace qbasm

std::vector<std::string> AssemblerMnemonics() {
    std::vector<std::string> names(std::begin(kOpNames), std::end(kOpNames));
    names.emplace_back(qbasm::kGosub);
    return names;
}
