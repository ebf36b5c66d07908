// Chunk names: the generated names under which files inside the applet (and
// the dos library's virtual files) open like ordinary files.
//   ":::chunk" offset ":" size "*" file name "?" container path
//   ":::chunkS" registry slot ":" size "*" file name "?" extra text
#pragma once

#include <cstdint>
#include <string>

struct MemoryFile;

// The offset that makes MakeChunkName write a stream chunk.
inline constexpr uint64_t kStreamChunkOffset = UINT64_MAX;

// offset + base for a file chunk; with kStreamChunkOffset, baseOrSlot is the
// registry slot of the virtual file.
std::string MakeChunkName(const char* fileName, uint64_t offset, uint64_t size, uint64_t baseOrSlot,
                          const char* containerPath);

struct qbChunkName {
    bool stream = false;
    uint64_t offset = 0;  // absolute, in the container; 0 for stream chunks
    uint64_t size = 0;    // a stream chunk's is its virtual file's
    int32_t slot = 0;
    std::string fileName;
    std::string containerPath;  // empty for stream chunks
    std::string extension;      // ".png"; empty without a '.'
    MemoryFile* virtualFile = nullptr;
};

// 1 with the parts, or 0 for a name that isn't a well-formed chunk name (the
// numbers, ':', '*' and '?' are all required) or a stream chunk whose slot
// holds no virtual file.
int ParseChunkName(const char* name, qbChunkName* out);
// Looks at the first eight characters only.
int IsChunkName(const char* name);
