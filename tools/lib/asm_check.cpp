// The player's own code checker run over an assembled chunk, so that qbasm
// refuses what the player would refuse with no more than "Bad bytecode!",
// naming the function, the line and the reason instead.
#include <sstream>

#include "core/errcodes.h"
#include "lib/assembler.h"
#include "lib/chunk_codec.h"
#include "lib/text_syntax.h"
#include "vm/codecheck.h"

namespace {

// The words of line n (1-based), comment and extra blanks dropped.
std::string SourceLine(const std::string& text, int n) {
    std::istringstream in(text);
    std::string line;
    for (int i = 0; i < n && std::getline(in, line); ++i) {
    }
    std::vector<std::string> words;
    std::string error;
    SplitWords(line, words, error);
    std::string joined;
    for (const std::string& word : words) joined += (joined.empty() ? "" : " ") + word;
    return joined;
}

std::string Describe(const std::string& text, const AssembledText& assembled, int status, const VmCodeFault& fault,
                     int& line) {
    const SourcePlaces* places = &assembled.places;
    const FunctionRecord* record = &assembled.chunk.main;
    for (int index : fault.path) {
        if (index < 0 || static_cast<size_t>(index) >= places->functions.size() ||
            static_cast<size_t>(index) >= record->functions.size())
            break;
        places = &places->functions[static_cast<size_t>(index)];
        record = &record->functions[static_cast<size_t>(index)];
    }
    const bool atInstruction = fault.pc >= 0 && static_cast<size_t>(fault.pc) < places->lines.size();
    line = atInstruction ? places->lines[static_cast<size_t>(fault.pc)] : places->openLine;
    std::string what = places->title + " (maxstack=" + std::to_string(record->maxStack) + "): the player refuses ";
    if (atInstruction) {
        what += '\'';
        what += SourceLine(text, line);
        what += '\'';
    } else {
        what += "the function";
    }
    // The checker's refusals read "Bad bytecode!"; the loader's others have
    // texts of their own.
    what += status == ERR_BADBYTECODE ? " with \"Bad bytecode!\": " : " as it loads: ";
    what += fault.reason;
    what += "; write .unchecked to keep the chunk as it is";
    return what;
}

// The function as the checker is shown it: each directive for broken
// chunks has its own part put right, so that the checker still judges
// everything else in the function and in the rest of the chunk.
void PutRightForChecking(FunctionRecord& f, const SourcePlaces& places) {
    f.counts = {};  // .count: the lists are read with their real counts
    // .lineinfo: line info of another length than the code is left out.
    if (f.lineInfo.size() != f.code.size()) f.lineInfo.clear();
    // .rawconst: its bytes are not read; the one question the checker asks
    // of a constant, whether it names a global, is answered yes.
    for (Constant& k : f.constants)
        if (k.kind == ConstKind::Raw) k = {ConstKind::String, 0, MakeRawString("?"), 0, {}};
    const uint32_t kReturn = CreateABC(OP_RETURN, 0, 1, 0);
    if (places.rawCode) {
        // .word: the function's instructions are not checked.
        f.code = {kReturn};
        f.lineInfo.clear();
    } else if (f.code.empty() || GetOpcode(f.code.back()) != OP_RETURN) {
        // .noreturn: the code is checked as if RETURN ended it.
        if (!f.lineInfo.empty()) f.lineInfo.push_back(f.lineInfo.back());
        f.code.push_back(kReturn);
    }
    for (size_t i = 0; i < f.functions.size() && i < places.functions.size(); ++i)
        PutRightForChecking(f.functions[i], places.functions[i]);
}

// .header, .truncate and .tail: the chunk is checked with the player's own
// header and without the cut or the extra bytes.
std::vector<uint8_t> CheckedForm(const AssembledText& assembled) {
    Chunk chunk = assembled.chunk;
    chunk.header = ChunkHeader{};
    chunk.tail.clear();
    chunk.truncateAt.reset();
    PutRightForChecking(chunk.main, assembled.places);
    return WriteChunk(chunk);
}

}  // namespace

bool AssembleChecked(const std::string& text, std::vector<uint8_t>& out, std::string& error) {
    AssembledText assembled;
    if (!AssembleSource(text, assembled, error)) return false;
    std::vector<uint8_t> bytes = WriteChunk(assembled.chunk);
    if (!assembled.unchecked) {
        const std::vector<uint8_t> checked = CheckedForm(assembled);
        VmCodeFault fault;
        const int status = VmCheckChunk(reinterpret_cast<const char*>(checked.data()), checked.size(), &fault);
        if (status != 0 && fault.reason) {
            int line = 0;
            const std::string what = Describe(text, assembled, status, fault, line);
            error = "line " + std::to_string(line) + ": " + what;
            return false;
        }
        if (status != 0) {
            error = "line 1: the player's loader refuses this chunk (error " + std::to_string(status) +
                    "); write .unchecked to keep it as it is";
            return false;
        }
    }
    out = std::move(bytes);
    return true;
}
