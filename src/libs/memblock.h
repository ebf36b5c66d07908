// The memblock library: raw memory blocks that scripts allocate, wrap
// around a pointer or lay over a virtual string file, and read and write as
// typed values.
#pragma once

#include <cstdint>

#include "core/objects.h"

struct ScriptState;
struct MemoryFile;

constexpr int kObjectTypeMemory = 39;

struct qbMemBlock : qbObject {
    int32_t size = 0;            // 0: not known (a pointer block made without one)
    uint8_t* bytes = nullptr;    // unused for a virtual-file block
    bool foreign = false;        // never freed here
    MemoryFile* file = nullptr;  // a virtual-file block reads data and size here at each access
    qbMemBlock() = default;
    qbMemBlock(const qbMemBlock&) = delete;
    qbMemBlock& operator=(const qbMemBlock&) = delete;
    // Frees owned bytes and lets go of the virtual file.
    ~qbMemBlock();
};

// Opens the library into the table on the stack top; 0 or an error code.
int InitMemblockLibrary(ScriptState* L);
void FreeAllMemblocks(ScriptState* L);

// The block of that id: 0, ERR_FINDARRAY (automatic id) or ERR_FINDMEMBLK.
int GetMemBlock(ObjectID id, qbMemBlock** out);
// The block's first byte and its size (0 when not known) as of now.
uint8_t* MemBlockData(const qbMemBlock& block);
int64_t MemBlockSize(const qbMemBlock& block);
