// The bytecode disassembler: chunk -> assembler text that assembles back to the
// same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/chunk_model.h"

std::string FormatChunk(const Chunk& chunk);
bool DisassembleChunk(const std::vector<uint8_t>& bytes, std::string& text, std::string& error);
