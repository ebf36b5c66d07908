// Conversion between the chunk model and its byte stream, in either byte order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/chunk_model.h"

// Writes every field as the model holds it, count overrides and truncation included.
std::vector<uint8_t> WriteChunk(const Chunk& chunk);

// Parses a chunk whose layout is intact (counts fit the data, constant types are
// 0, 3 or 4); the checks of the VM's code checker are not applied. Bytes after the
// main function land in chunk.tail. On failure, error names the byte offset.
bool ReadChunk(const std::vector<uint8_t>& bytes, Chunk& chunk, std::string& error);
