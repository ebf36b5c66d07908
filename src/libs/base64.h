// Base64 (RFC 4648 alphabet, "=" padding), shared by the serialised tables,
// the string library, the transfer engine and the plugins' base table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vm/vm.h"

struct qbFile;

// Characters for length bytes without line feeds.
constexpr size_t Base64EncodedSize(size_t length) { return (length + 2) / 3 * 4; }
// Bytes that decoding text of length characters can give at most.
constexpr size_t Base64DecodedBound(size_t length) { return length / 4 * 3 + 3; }

// Encodes into exactly one target: a VM string buffer, memory (room for
// Base64EncodedSize bytes) or a file, where without noWrap a line feed goes
// before every 73rd character (lines of 72, none at the end). *count (may be
// null) gets the characters made, line feeds included. 0 or ERR_WRITE.
int EncodeBase64(qbFile* file, ScriptBuffer* stringBuffer, uint8_t* memory, const uint8_t* source, size_t length,
                 size_t* count, int noWrap);
// Decodes into memory (room for Base64DecodedBound bytes) or a VM string
// buffer. Blanks and control characters are skipped; 0 or ERR_BADBASE64.
int DecodeBase64(const uint8_t* source, size_t length, uint8_t* memory, ScriptBuffer* stringBuffer, size_t* count);
