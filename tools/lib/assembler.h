// The bytecode assembler: turns the text form into a chunk (see qbasm's usage
// text in tools/qbasm/main.cpp for the syntax).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/chunk_model.h"

// Both report the first error as "line N: message".
bool AssembleChunk(const std::string& text, Chunk& chunk, std::string& error);
bool AssembleText(const std::string& text, std::vector<uint8_t>& out, std::string& error);
