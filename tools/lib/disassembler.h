// The bytecode disassembler: chunk -> assembler text that assembles back to the
// same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/chunk_model.h"

// refused: the player's loader refuses the chunk, so the text says .unchecked.
std::string FormatChunk(const Chunk& chunk, bool refused = false);
bool DisassembleChunk(const std::vector<uint8_t>& bytes, std::string& text, std::string& error);
