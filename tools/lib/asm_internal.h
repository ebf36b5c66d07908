// State shared by the assembler's line driver and its instruction encoder.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "lib/assembler.h"
#include "lib/chunk_model.h"

namespace qbasm {

// An operand that names something defined later in the function.
struct Fixup {
    enum class Kind { Jump, LoopJump, Closure, LocalStart, LocalEnd };
    Kind kind;
    size_t index;  // instruction index, or local index for the Local kinds
    std::string name;
    int line;
};

struct FunctionBuilder {
    FunctionRecord rec;
    std::string name;
    int openLine = 0;
    bool nupsGiven = false;
    bool maxStackGiven = false;
    std::map<std::string, size_t> labels;
    std::vector<Fixup> fixups;
    std::vector<std::string> childNames;  // by nested-function index
    std::optional<int32_t> currentLine;   // set by .line; until then each instruction's text line
    std::vector<int32_t> lines;           // one per instruction
    bool explicitLineInfo = false;        // .lineinfo given
    bool noLines = false;                 // .nolines given
    SourcePlaces places;                  // the text lines of its instructions and nested functions
    int lastCodeLine = 0;                 // text line of the last instruction
    // The loader refuses code that does not end in RETURN; .noreturn, and
    // .word, whose words the assembler cannot read, lift that check.
    bool returnUnchecked = false;
};

// Appends (or, when pooled, reuses an equal entry of) the function's constant pool.
size_t AddConstant(FunctionBuilder& f, const Constant& k, bool pooled);

// Parses one constant literal: #number, "string", raw"bytes" or nil.
bool ParseConstantLiteral(const std::string& word, Constant& k, std::string& error);

// Finds an opcode by its mnemonic, in any letter case; -1 when unknown.
// GOSUB is JMP with the gosub kind.
int FindMnemonic(const std::string& mnemonic, bool& gosub);

// Appends an instruction word written on text line `line`.
void AddInstruction(FunctionBuilder& f, uint32_t word, int line);

// Encodes one instruction line (mnemonic and operand words) into f's code.
bool AssembleInstruction(FunctionBuilder& f, const std::vector<std::string>& words, int line,
                         std::string& error);

// Resolves labels and nested-function names of f once its .end is reached.
bool ResolveFixups(FunctionBuilder& f, std::string& error, int& errorLine);

// Highest register the code mentions plus one: the default maxstack.
int EstimateMaxStack(const std::vector<uint32_t>& code);

}  // namespace qbasm
