// A long string read in blocks: it grows without moving what it holds, so
// that n bytes cost n and one block while they come, and at most 2n while
// they become one VM string.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct ScriptState;

struct qbBlockString {
    std::vector<std::string> blocks;
    size_t size = 0;
};

// The bytes a full block holds.
inline constexpr size_t kStringBlock = size_t{1} << 20;

// Appends one byte (may throw std::bad_alloc).
void AppendByte(qbBlockString* s, char c);
// A new last block of n bytes (at most kStringBlock) for the caller to fill;
// TrimLastBlock gives back what it did not fill.
char* AppendBlock(qbBlockString* s, size_t n);
void TrimLastBlock(qbBlockString* s, size_t unused);
// Pushes the bytes as one VM string and empties s: blocks are let go as
// they are copied.
void PushBlockString(ScriptState* L, qbBlockString* s);
// The bytes as one std::string (for readers outside the VM).
std::string JoinBlocks(const qbBlockString& s);
