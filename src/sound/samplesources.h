// Where CreateSample's "memory" and "file" sources read their bytes: memory
// blocks and open files belong to libraries above this folder, which
// install the readers when they open.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/argapi.h"

struct qbSampleSourceHooks {
    // Copies bytes of the memory block from offset: 0, ERR_FINDMEMBLK,
    // ERR_FINDARRAY or ERR_MEMRANGE (the block is too short).
    int (*readMemory)(ObjectID block, int64_t offset, void* out, size_t bytes) = nullptr;
    // Reads the next bytes of the open file: 0, ERR_FINDFILE, ERR_FINDARRAY,
    // ERR_WRITEONLY or ERR_READ (fewer bytes were left).
    int (*readFile)(ObjectID file, void* out, size_t bytes) = nullptr;
};

// Each library sets its own reader; a null reader leaves the other's.
void SetSampleMemoryReader(int (*reader)(ObjectID, int64_t, void*, size_t));
void SetSampleFileReader(int (*reader)(ObjectID, void*, size_t));
// Without a reader the object can't exist: ERR_FINDMEMBLK or ERR_FINDFILE.
int ReadSampleMemory(ObjectID block, int64_t offset, void* out, size_t bytes);
int ReadSampleFile(ObjectID file, void* out, size_t bytes);
