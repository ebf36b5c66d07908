// The memblock library: raw memory blocks that scripts allocate, wrap
// around a pointer or lay over a virtual string file, and read and write as
// typed values.
#pragma once

#include <cstdint>

#include "core/objectref.h"
#include "core/objects.h"

struct ScriptState;
struct MemoryFile;

constexpr int kObjectTypeMemory = 39;

// A block owns its bytes, lies over a virtual file, or (a pointer block)
// lies inside another block. Pointers are taken only where they fall inside
// a live block, so that no number a script makes up becomes an address; the
// inner block follows its parent's data and counts as one of its users.
struct qbMemBlock : qbObject {
    int32_t size = 0;              // as given; 0 for a pointer block: the rest of its parent
    uint8_t* bytes = nullptr;      // an owning block's bytes
    bool foreign = false;          // never freed here
    MemoryFile* file = nullptr;    // a virtual-file block reads data and size here at each access
    qbMemBlock* parent = nullptr;  // a pointer block's outer block
    int64_t parentOffset = 0;
    int32_t users = 0;             // pointer blocks inside this one; it is not freed while any remain
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
// A command's hold on a block (core/objectref.h).
inline int FindMemBlockByID(ScriptState*, ObjectID id, qbMemBlock** out) { return GetMemBlock(id, out); }
using qbMemBlockRef = qbObjectRef<qbMemBlock, FindMemBlockByID>;
// The block's first byte and its size (0 when not known) as of now.
uint8_t* MemBlockData(const qbMemBlock& block);
int64_t MemBlockSize(const qbMemBlock& block);
