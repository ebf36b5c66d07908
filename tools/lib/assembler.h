// The bytecode assembler: turns the text form into a chunk (AssemblerHelp
// describes the syntax and the instruction set).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/chunk_model.h"

// Both report the first error as "line N: message".
bool AssembleChunk(const std::string& text, Chunk& chunk, std::string& error);
bool AssembleText(const std::string& text, std::vector<uint8_t>& out, std::string& error);

// Every mnemonic the assembler reads: the opcodes' names and GOSUB.
std::vector<std::string> AssemblerMnemonics();
// The text of qbasm --help: the text form, the literals and the instruction
// set, its rows made from the opcode table.
std::string AssemblerHelp();
