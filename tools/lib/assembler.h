// The bytecode assembler: turns the text form into a chunk (AssemblerHelp
// describes the syntax and the instruction set).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/chunk_model.h"

// Where each function of an assembled chunk stands in its text, nested as
// the chunk nests them.
struct SourcePlaces {
    std::string title;                   // how errors name the function
    int openLine = 0;                    // the line of its .function
    std::vector<int> lines;              // the text line of each instruction
    bool rawCode = false;                // written with .word
    std::vector<SourcePlaces> functions;  // by nested-function index
};

struct AssembledText {
    Chunk chunk;
    SourcePlaces places;  // of the main function
    bool unchecked = false;  // .unchecked: the player's code checker is not asked
};

// All report the first error as "line N: message". AssembleChunk and
// AssembleText write whatever the text describes, so that tests can build
// chunks the player refuses; AssembleChecked, which qbasm uses, also refuses
// what the player's code checker would refuse, naming the instruction's line.
// Each directive for broken chunks lifts only the checks its own record
// needs lifted (AssemblerHelp lists them).
bool AssembleSource(const std::string& text, AssembledText& out, std::string& error);
bool AssembleChunk(const std::string& text, Chunk& chunk, std::string& error);
bool AssembleText(const std::string& text, std::vector<uint8_t>& out, std::string& error);
bool AssembleChecked(const std::string& text, std::vector<uint8_t>& out, std::string& error);

// Every mnemonic the assembler reads: the opcodes' names and GOSUB.
std::vector<std::string> AssemblerMnemonics();
// The text of qbasm --help: the text form, the literals and the instruction
// set, its rows made from the opcode table.
std::string AssemblerHelp();
