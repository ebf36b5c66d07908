// Line driver of the assembler: labels, directives, the nesting of functions,
// the check that code ends in RETURN, and the header and layout overrides used
// to build broken chunks on purpose.
#include "lib/assembler.h"

#include <algorithm>
#include <optional>
#include <sstream>
#include <utility>

#include "lib/asm_internal.h"
#include "lib/chunk_codec.h"
#include "lib/text_syntax.h"

namespace qbasm {
namespace {

struct AsmState {
    Chunk chunk;
    std::vector<FunctionBuilder> stack;  // open functions, innermost last
    bool mainDone = false;
    int line = 0;
    int errorLine = 0;
    std::string error;
    // The first function that does not end in RETURN, reported when the text
    // is through.
    std::optional<std::pair<int, std::string>> missingReturn;
    bool unchecked = false;  // .unchecked was given
    SourcePlaces mainPlaces;

    bool Fail(const std::string& message) {
        error = message;
        errorLine = line;
        return false;
    }
};

bool SplitKey(const std::string& word, std::string& key, std::string& value) {
    size_t eq = word.find('=');
    if (eq == std::string::npos) return false;
    key = word.substr(0, eq);
    value = word.substr(eq + 1);
    return true;
}

bool IntIn(AsmState& st, const std::string& text, int64_t lo, int64_t hi, const std::string& what,
           int64_t& v) {
    if (!ParseInteger(text, v)) return st.Fail("bad " + what + ": '" + text + "'");
    if (v < lo || v > hi)
        return st.Fail(what + " out of range " + std::to_string(lo) + ".." + std::to_string(hi) +
                       ": " + text);
    return true;
}

// A name is written bare when it is an identifier, else as a string literal.
bool ParseName(AsmState& st, const std::string& word, RawString& name) {
    if (IsStringLiteral(word)) {
        std::string error;
        if (!ParseStringLiteral(word, name, error)) return st.Fail(error);
        return true;
    }
    if (!IsIdentifier(word)) return st.Fail("bad name '" + word + "'");
    name = MakeRawString(word);
    return true;
}

bool DoHeader(AsmState& st, const std::vector<std::string>& args) {
    if (!st.stack.empty() || st.mainDone) return st.Fail(".header must come before .function");
    ChunkHeader& h = st.chunk.header;
    for (const std::string& arg : args) {
        std::string key, value;
        int64_t v = 0;
        if (arg == "bigendian") {
            h.order = 0;
        } else if (arg == "littleendian") {
            h.order = 1;
        } else if (!SplitKey(arg, key, value)) {
            return st.Fail("unknown .header option '" + arg + "'");
        } else if (key == "order") {
            if (!IntIn(st, value, 0, 255, "order", v)) return false;
            h.order = static_cast<uint8_t>(v);
        } else if (key == "sizes") {
            std::stringstream list(value);
            std::string item;
            size_t n = 0;
            while (std::getline(list, item, ',')) {
                if (n >= h.sizes.size()) return st.Fail("sizes takes 8 values");
                if (!IntIn(st, item, 0, 255, "size", v)) return false;
                h.sizes[n++] = static_cast<uint8_t>(v);
            }
            if (n != h.sizes.size()) return st.Fail("sizes takes 8 values");
        } else if (key == "test") {
            std::string number = !value.empty() && value[0] == '#' ? value.substr(1) : value;
            if (!ParseNumber(number, h.testBits)) return st.Fail("bad test number '" + value + "'");
        } else if (key == "signature") {
            RawString bytes;
            std::string error;
            if (!ParseStringLiteral(value, bytes, error)) return st.Fail(error);
            if (value[0] == '"') bytes.pop_back();  // the signature has no terminator
            if (bytes.size() != h.signature.size()) return st.Fail("signature must be 4 bytes");
            std::copy(bytes.begin(), bytes.end(), h.signature.begin());
        } else {
            return st.Fail("unknown .header option '" + arg + "'");
        }
    }
    return true;
}

bool DoFunction(AsmState& st, const std::vector<std::string>& args) {
    if (st.stack.empty() && st.mainDone) return st.Fail("a chunk has only one main function");
    FunctionBuilder f;
    f.openLine = st.line;
    f.rec.lineDefined = st.stack.empty() ? 0 : 1;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string key, value;
        if (!SplitKey(args[i], key, value)) {
            if (i != 0 || !IsIdentifier(args[i])) return st.Fail("bad function name '" + args[i] + "'");
            f.name = args[i];
            continue;
        }
        int64_t v = 0;
        if (key == "line") {
            if (!IntIn(st, value, INT32_MIN, INT32_MAX, "line", v)) return false;
            f.rec.lineDefined = static_cast<int32_t>(v);
            continue;
        }
        uint8_t* field = key == "params"     ? &f.rec.numParams
                         : key == "vararg"   ? &f.rec.isVararg
                         : key == "maxstack" ? &f.rec.maxStack
                         : key == "upvalues" ? &f.rec.nups
                                             : nullptr;
        if (!field) return st.Fail("unknown .function option '" + key + "'");
        if (!IntIn(st, value, 0, 255, key, v)) return false;
        *field = static_cast<uint8_t>(v);
        f.nupsGiven |= key == "upvalues";
        f.maxStackGiven |= key == "maxstack";
    }
    if (!st.stack.empty() && !f.name.empty()) {
        const auto& siblings = st.stack.back().childNames;
        if (std::find(siblings.begin(), siblings.end(), f.name) != siblings.end())
            return st.Fail("nested function '" + f.name + "' defined twice");
    }
    st.stack.push_back(std::move(f));
    return true;
}

// How an error names a function.
std::string FunctionTitle(const FunctionBuilder& f, bool isMain) {
    if (!f.name.empty()) return "function '" + f.name + "'";
    return isMain ? "the main function" : "the function opened on line " + std::to_string(f.openLine);
}

std::string InstructionName(uint32_t word) {
    int op = GetOpcode(word);
    if (op >= kNumOpcodes) return ".word";
    return op == OP_JMP && GetJumpKind(word) == kJumpKindGosub ? "GOSUB" : kOpNames[op];
}

// The player's loader refuses code whose last instruction is not RETURN with
// no more than "Bad bytecode!", so the assembler says which function it is.
void CheckEndsInReturn(AsmState& st, const FunctionBuilder& f, bool isMain) {
    const auto& code = f.rec.code;
    if (f.returnUnchecked || st.missingReturn || (!code.empty() && GetOpcode(code.back()) == OP_RETURN)) return;
    std::string what = FunctionTitle(f, isMain);
    what += code.empty() ? " has no instructions, so it does not end in RETURN"
                         : " does not end in RETURN (its last instruction, on line " +
                               std::to_string(f.lastCodeLine) + ", is " + InstructionName(code.back()) + ")";
    what += "; the player would refuse it with \"Bad bytecode!\". End it with RETURN 0 1, or write .noreturn "
            "to keep it as it is";
    st.missingReturn = {{st.line, what}};
}

bool DoEnd(AsmState& st) {
    if (st.stack.empty()) return st.Fail(".end without .function");
    FunctionBuilder f = std::move(st.stack.back());
    st.stack.pop_back();
    if (!ResolveFixups(f, st.error, st.errorLine)) return false;
    CheckEndsInReturn(st, f, st.stack.empty());
    if (!f.explicitLineInfo && !f.noLines) f.rec.lineInfo = f.lines;
    if (!f.nupsGiven)
        f.rec.nups = static_cast<uint8_t>(std::min<size_t>(f.rec.upvalueNames.size(), 255));
    // The frame holds the parameters (and the table of extra arguments)
    // even where the code never names them.
    if (!f.maxStackGiven)
        f.rec.maxStack = static_cast<uint8_t>(
            std::min(std::max(EstimateMaxStack(f.rec.code), f.rec.numParams + (f.rec.isVararg ? 1 : 0)), kMaxStack));
    f.places.title = FunctionTitle(f, st.stack.empty());
    f.places.openLine = f.openLine;
    if (st.stack.empty()) {
        st.chunk.main = std::move(f.rec);
        st.mainPlaces = std::move(f.places);
        st.mainDone = true;
    } else {
        st.stack.back().rec.functions.push_back(std::move(f.rec));
        st.stack.back().places.functions.push_back(std::move(f.places));
        st.stack.back().childNames.push_back(f.name);
    }
    return true;
}

bool DoCount(AsmState& st, FunctionBuilder& f, const std::vector<std::string>& args) {
    if (args.empty()) return st.Fail(".count needs KEY=N");
    for (const std::string& arg : args) {
        std::string key, value;
        int64_t v = 0;
        if (!SplitKey(arg, key, value)) return st.Fail("bad .count option '" + arg + "'");
        CountOverrides& c = f.rec.counts;
        std::optional<uint32_t>* field = key == "lineinfo"              ? &c.lineInfo
                                         : key == "locals"              ? &c.locals
                                         : key == "upvalues"            ? &c.upvalues
                                         : key == "k" || key == "constants" ? &c.constants
                                         : key == "functions"           ? &c.functions
                                         : key == "code"                ? &c.code
                                                                        : nullptr;
        if (!field) return st.Fail("unknown .count key '" + key + "'");
        if (!IntIn(st, value, INT32_MIN, UINT32_MAX, "count", v)) return false;
        *field = static_cast<uint32_t>(v);
    }
    return true;
}

bool DoLocal(AsmState& st, FunctionBuilder& f, const std::vector<std::string>& args) {
    if (args.size() != 3) return st.Fail(".local needs NAME START END");
    LocalVar local;
    if (!ParseName(st, args[0], local.name)) return false;
    int32_t* pcs[2] = {&local.startpc, &local.endpc};
    for (int i = 0; i < 2; ++i) {
        const std::string& arg = args[1 + i];
        if (IsIdentifier(arg)) {
            auto kind = i == 0 ? Fixup::Kind::LocalStart : Fixup::Kind::LocalEnd;
            f.fixups.push_back({kind, f.rec.locals.size(), arg, st.line});
            continue;
        }
        int64_t v = 0;
        if (!IntIn(st, arg, INT32_MIN, INT32_MAX, "local range", v)) return false;
        *pcs[i] = static_cast<int32_t>(v);
    }
    f.rec.locals.push_back(local);
    return true;
}

bool DoFunctionDirective(AsmState& st, FunctionBuilder& f, const std::string& name,
                         const std::vector<std::string>& args) {
    int64_t v = 0;
    std::string error;
    if (name == ".source") {
        if (args.size() != 1) return st.Fail(".source needs a string or 'inherit'");
        if (args[0] == "inherit") {
            f.rec.source.clear();
        } else if (!IsStringLiteral(args[0]) || !ParseStringLiteral(args[0], f.rec.source, error)) {
            return st.Fail(error.empty() ? "bad .source '" + args[0] + "'" : error);
        }
    } else if (name == ".noreturn") {
        if (!args.empty()) return st.Fail(".noreturn takes no operands");
        f.returnUnchecked = true;
    } else if (name == ".const") {
        if (args.empty()) return st.Fail(".const needs a constant");
        for (const std::string& arg : args) {
            Constant k;
            if (!ParseConstantLiteral(arg, k, error)) return st.Fail(error);
            AddConstant(f, k, false);
        }
    } else if (name == ".rawconst") {
        if (args.empty() || args.size() > 2) return st.Fail(".rawconst needs TYPE [HEXBYTES]");
        Constant k;
        k.kind = ConstKind::Raw;
        if (!IntIn(st, args[0], 0, 255, "constant type", v)) return false;
        k.rawType = static_cast<uint8_t>(v);
        if (args.size() == 2 && !ParseHexBytes(args[1], k.rawPayload))
            return st.Fail("bad hex bytes '" + args[1] + "'");
        AddConstant(f, k, false);
    } else if (name == ".local") {
        return DoLocal(st, f, args);
    } else if (name == ".upvalue") {
        if (args.size() != 1) return st.Fail(".upvalue needs a name");
        RawString upvalue;
        if (!ParseName(st, args[0], upvalue)) return false;
        f.rec.upvalueNames.push_back(upvalue);
    } else if (name == ".nolines") {
        if (!args.empty()) return st.Fail(".nolines takes no operands");
        if (f.explicitLineInfo) return st.Fail(".nolines and .lineinfo can't be mixed");
        if (f.currentLine) return st.Fail(".line and .nolines can't be mixed");
        f.noLines = true;
    } else if (name == ".line") {
        if (f.explicitLineInfo) return st.Fail(".line and .lineinfo can't be mixed");
        if (f.noLines) return st.Fail(".line and .nolines can't be mixed");
        if (args.size() != 1 || !IntIn(st, args[0], INT32_MIN, INT32_MAX, "line", v)) {
            return st.error.empty() ? st.Fail(".line needs a number") : false;
        }
        f.currentLine = static_cast<int32_t>(v);
    } else if (name == ".lineinfo") {
        if (f.currentLine) return st.Fail(".line and .lineinfo can't be mixed");
        if (f.noLines) return st.Fail(".nolines and .lineinfo can't be mixed");
        f.explicitLineInfo = true;
        for (const std::string& arg : args) {
            if (!IntIn(st, arg, INT32_MIN, INT32_MAX, "line", v)) return false;
            f.rec.lineInfo.push_back(static_cast<int32_t>(v));
        }
    } else if (name == ".count") {
        return DoCount(st, f, args);
    } else if (name == ".word") {
        if (args.empty()) return st.Fail(".word needs an instruction word");
        f.returnUnchecked = true;
        f.places.rawCode = true;
        for (const std::string& arg : args) {
            if (!IntIn(st, arg, 0, UINT32_MAX, "instruction word", v)) return false;
            AddInstruction(f, static_cast<uint32_t>(v), st.line);
        }
    } else {
        return st.Fail("unknown directive '" + name + "'");
    }
    return true;
}

bool DoDirective(AsmState& st, const std::vector<std::string>& words) {
    const std::string& name = words[0];
    std::vector<std::string> args(words.begin() + 1, words.end());
    int64_t v = 0;
    if (name == ".header") return DoHeader(st, args);
    if (name == ".function") return DoFunction(st, args);
    if (name == ".end") return args.empty() ? DoEnd(st) : st.Fail(".end takes no operands");
    if (name == ".truncate") {
        if (args.size() != 1 || !IntIn(st, args[0], 0, INT32_MAX, "size", v))
            return st.error.empty() ? st.Fail(".truncate needs a size") : false;
        st.chunk.truncateAt = static_cast<size_t>(v);
        return true;
    }
    if (name == ".tail") {
        std::string bytes;
        if (args.size() != 1 || !ParseHexBytes(args[0], bytes))
            return st.Fail(".tail needs hex bytes");
        st.chunk.tail += bytes;
        return true;
    }
    if (name == ".unchecked") {
        if (!args.empty()) return st.Fail(".unchecked takes no operands");
        st.unchecked = true;
        return true;
    }
    if (st.stack.empty()) return st.Fail(name + " outside a function");
    return DoFunctionDirective(st, st.stack.back(), name, args);
}

bool ProcessLine(AsmState& st, const std::string& line) {
    std::vector<std::string> words;
    if (!SplitWords(line, words, st.error)) return st.Fail(st.error);
    while (!words.empty() && words[0].size() > 1 && words[0].back() == ':' &&
           IsIdentifier(words[0].substr(0, words[0].size() - 1))) {
        if (st.stack.empty()) return st.Fail("label outside a function");
        FunctionBuilder& f = st.stack.back();
        std::string label = words[0].substr(0, words[0].size() - 1);
        if (!f.labels.emplace(label, f.rec.code.size()).second)
            return st.Fail("label '" + label + "' defined twice");
        words.erase(words.begin());
    }
    if (words.empty()) return true;
    if (words[0][0] == '.') return DoDirective(st, words);
    if (st.stack.empty()) return st.Fail("instruction outside a function");
    std::string error;
    if (!AssembleInstruction(st.stack.back(), words, st.line, error)) return st.Fail(error);
    st.stack.back().lastCodeLine = st.line;
    return true;
}

}  // namespace
}  // namespace qbasm

bool AssembleSource(const std::string& text, AssembledText& out, std::string& error) {
    qbasm::AsmState st;
    std::istringstream in(text);
    std::string line;
    bool ok = true;
    while (ok && std::getline(in, line)) {
        ++st.line;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ok = qbasm::ProcessLine(st, line);
    }
    if (ok && !st.stack.empty()) {
        st.line = st.stack.back().openLine;
        ok = st.Fail(".function without .end");
    }
    if (ok && !st.mainDone) {
        st.line = std::max(st.line, 1);
        ok = st.Fail("no .function in the text");
    }
    if (ok && st.missingReturn) {
        st.line = st.missingReturn->first;
        ok = st.Fail(st.missingReturn->second);
    }
    if (!ok) {
        error = "line " + std::to_string(st.errorLine) + ": " + st.error;
        return false;
    }
    out.chunk = std::move(st.chunk);
    out.places = std::move(st.mainPlaces);
    out.unchecked = st.unchecked;
    return true;
}

bool AssembleChunk(const std::string& text, Chunk& chunk, std::string& error) {
    AssembledText assembled;
    if (!AssembleSource(text, assembled, error)) return false;
    chunk = std::move(assembled.chunk);
    return true;
}

bool AssembleText(const std::string& text, std::vector<uint8_t>& out, std::string& error) {
    Chunk chunk;
    if (!AssembleChunk(text, chunk, error)) return false;
    out = WriteChunk(chunk);
    return true;
}
