// Text output of a parsed chunk. Everything that is not the default is spelled out
// (pool order, line info, header bytes), so that the text reassembles byte for byte.
#include "lib/disassembler.h"

#include <cstdio>
#include <set>

#include "lib/chunk_codec.h"
#include "lib/text_syntax.h"
#include "vm/codecheck.h"
#include "vm/opcodes.h"

namespace {

struct Printer {
    std::string out;
    int depth = 0;

    void Line(const std::string& text, int outdent = 0) {
        out.append(static_cast<size_t>(depth - outdent) * 2, ' ');
        out += text;
        out += '\n';
    }
};

std::string NameText(const RawString& name) {
    if (!name.empty() && name.back() == '\0') {
        std::string text = name.substr(0, name.size() - 1);
        if (IsIdentifier(text)) return text;
    }
    return FormatStringLiteral(name);
}

// A one-letter sigil before a number or name. Built by appending: g++ 12 at -O3
// misreads `"L" + temporary` (an insert at the front) as an overlapping copy.
std::string Sigil(char sigil, const std::string& text) {
    std::string out(1, sigil);
    out += text;
    return out;
}

std::string ConstantText(const Constant& k) {
    switch (k.kind) {
        case ConstKind::Nil: return "nil";
        case ConstKind::Number: return Sigil('#', FormatNumber(k.numberBits));
        case ConstKind::String: return FormatStringLiteral(k.string);
        case ConstKind::Raw: break;  // never produced by the reader
    }
    return "nil";
}

std::string Hex32(uint32_t word) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", word);
    return buf;
}

std::string HeaderOptions(const ChunkHeader& h) {
    ChunkHeader standard;
    std::string options;
    if (h.order == 0)
        options += " bigendian";
    else if (h.order != 1)
        options += " order=" + std::to_string(h.order);
    if (h.sizes != standard.sizes) {
        options += " sizes=";
        for (size_t i = 0; i < h.sizes.size(); ++i) {
            if (i) options += ',';
            options += std::to_string(h.sizes[i]);
        }
    }
    if (h.testBits != standard.testBits) options += " test=" + FormatNumber(h.testBits);
    if (h.signature != standard.signature)
        options += " signature=raw" + QuoteBytes(std::string(h.signature.begin(), h.signature.end()));
    return options;
}

// Jump targets (inside the code or just past it) that get a label.
std::set<size_t> CollectTargets(const std::vector<uint32_t>& code) {
    std::set<size_t> targets;
    for (size_t pc = 0; pc < code.size(); ++pc) {
        int op = GetOpcode(code[pc]);
        int64_t offset;
        if (op == OP_JMP)
            offset = GetArgSJ(code[pc]);
        else if (op == OP_FORLOOP || op == OP_TFORPREP)
            offset = GetArgSBx(code[pc]);
        else
            continue;
        int64_t target = static_cast<int64_t>(pc) + 1 + offset;
        if (target >= 0 && target <= static_cast<int64_t>(code.size()))
            targets.insert(static_cast<size_t>(target));
    }
    return targets;
}

std::string Label(size_t pc) { return Sigil('L', std::to_string(pc)); }

struct InstructionText {
    std::string text;
    std::string comment;
};

InstructionText FormatInstruction(const FunctionRecord& f, const std::string& childPrefix, size_t pc,
                                  const std::set<size_t>& targets) {
    uint32_t i = f.code[pc];
    int op = GetOpcode(i);
    if (op >= kNumOpcodes) return {".word " + Hex32(i), ""};
    InstructionText r;
    auto constRef = [&](int index) {
        if (index < static_cast<int>(f.constants.size())) {
            if (!r.comment.empty()) r.comment += ", ";
            r.comment += ConstantText(f.constants[static_cast<size_t>(index)]);
        }
        return Sigil('k', std::to_string(index));
    };
    auto target = [&](int offset) {
        int64_t t = static_cast<int64_t>(pc) + 1 + offset;
        if (t >= 0 && targets.count(static_cast<size_t>(t))) return Label(static_cast<size_t>(t));
        return std::to_string(offset);
    };
    char padded[16];
    std::snprintf(padded, sizeof padded, "%-9s", kOpNames[op]);
    std::string name = padded;
    std::string a = std::to_string(GetArgA(i));
    switch (GetOpMode(op)) {
        case isJ: {
            int kind = GetJumpKind(i);
            if (kind == kJumpKindGosub)
                r.text = "GOSUB     " + target(GetArgSJ(i));
            else
                r.text = name + " " + (kind ? "kind=" + std::to_string(kind) + " " : std::string()) +
                         target(GetArgSJ(i));
            break;
        }
        case iABC: {
            int b = GetArgB(i), c = GetArgC(i);
            std::string bs = TestOpFlag(op, kOpBRK) && b >= kRKConstBase ? constRef(b - kRKConstBase)
                                                                         : std::to_string(b);
            std::string cs = TestOpFlag(op, kOpCRK) && c >= kRKConstBase ? constRef(c - kRKConstBase)
                                                                         : std::to_string(c);
            r.text = name + " " + a + " " + bs + " " + cs;
            break;
        }
        case iABx: {
            int bx = GetArgBx(i);
            std::string operand = std::to_string(bx);
            if (TestOpFlag(op, kOpBxConst))
                operand = constRef(bx);
            else if (op == OP_CLOSURE && bx < static_cast<int>(f.functions.size()))
                operand = childPrefix + std::to_string(bx);
            r.text = name + " " + a + " " + operand;
            break;
        }
        case iAsBx: r.text = name + " " + a + " " + target(GetArgSBx(i)); break;
    }
    return r;
}

void FormatFunction(Printer& p, const FunctionRecord& f, const std::string& name) {
    p.Line(".function " + name + " params=" + std::to_string(f.numParams) +
           " vararg=" + std::to_string(f.isVararg) + " maxstack=" + std::to_string(f.maxStack) +
           " upvalues=" + std::to_string(f.nups) + " line=" + std::to_string(f.lineDefined));
    ++p.depth;
    if (f.code.empty() || GetOpcode(f.code.back()) != OP_RETURN) p.Line(".noreturn");
    if (!f.source.empty()) p.Line(".source " + FormatStringLiteral(f.source));
    for (const Constant& k : f.constants) p.Line(".const " + ConstantText(k));
    for (const LocalVar& local : f.locals)
        p.Line(".local " + NameText(local.name) + " " + std::to_string(local.startpc) + " " +
               std::to_string(local.endpc));
    for (const RawString& upvalue : f.upvalueNames) p.Line(".upvalue " + NameText(upvalue));

    bool perInstructionLines = !f.code.empty() && f.lineInfo.size() == f.code.size();
    if (f.lineInfo.empty() && !f.code.empty()) p.Line(".nolines");
    if (!perInstructionLines && !f.lineInfo.empty()) {
        for (size_t i = 0; i < f.lineInfo.size(); i += 16) {
            std::string line = ".lineinfo";
            for (size_t j = i; j < f.lineInfo.size() && j < i + 16; ++j) {
                line += ' ';
                line += std::to_string(f.lineInfo[j]);
            }
            p.Line(line);
        }
    }

    std::string childPrefix = (name == "main" ? "f" : name + "_");
    std::set<size_t> targets = CollectTargets(f.code);
    for (size_t pc = 0; pc < f.code.size(); ++pc) {
        if (perInstructionLines && (pc == 0 || f.lineInfo[pc] != f.lineInfo[pc - 1]))
            p.Line(".line " + std::to_string(f.lineInfo[pc]));
        if (targets.count(pc)) p.Line(Label(pc) + ":", 1);
        InstructionText it = FormatInstruction(f, childPrefix, pc, targets);
        if (!it.comment.empty()) it.text += std::string(it.text.size() < 28 ? 28 - it.text.size() : 1, ' ') +
                                            "; " + it.comment;
        p.Line(it.text);
    }
    if (targets.count(f.code.size())) p.Line(Label(f.code.size()) + ":", 1);
    for (size_t i = 0; i < f.functions.size(); ++i)
        FormatFunction(p, f.functions[i], childPrefix + std::to_string(i));
    --p.depth;
    p.Line(".end");
}

}  // namespace

std::string FormatChunk(const Chunk& chunk, bool refused) {
    Printer p;
    p.Line("; Quenbrook bytecode chunk");
    if (refused) p.Line(".unchecked                  ; the player's loader refuses this chunk");
    std::string options = HeaderOptions(chunk.header);
    if (!options.empty()) p.Line(".header" + options);
    FormatFunction(p, chunk.main, "main");
    if (!chunk.tail.empty()) p.Line(".tail " + FormatHexBytes(chunk.tail));
    return p.out;
}

bool DisassembleChunk(const std::vector<uint8_t>& bytes, std::string& text, std::string& error) {
    Chunk chunk;
    if (!ReadChunk(bytes, chunk, error)) return false;
    // Reassembled, such a chunk must pass qbasm as it is.
    const bool refused = VmCheckChunk(reinterpret_cast<const char*>(bytes.data()), bytes.size(), nullptr) != 0;
    text = FormatChunk(chunk, refused);
    return true;
}
