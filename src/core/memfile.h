// Files in memory: the virtual files of the dos library (reached through
// ":::chunkS" names) and buffers that native code lends to the file layer
// (reached through ":::memory" names).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct MemoryFile {
    MemoryFile* next = nullptr;  // link of the virtual-file list
    int writable = 0;
    // The registry reference under which the dos library keeps the record;
    // ":::chunkS" names carry it.
    int32_t registryRef = -1;
    // Handles open on the record; its owner must not free it while above 0
    // (the dos library refuses to undefine a string file until then).
    int32_t openCount = 0;
    // From the C heap (AllocMemory) for writable files, since writes grow it
    // with realloc; a lent buffer for ":::memory" records.
    uint8_t* data = nullptr;
    int64_t capacity = 0;
    int64_t size = 0;
    const char* name = nullptr;
    char nameText[8] = "Unnamed";
};

// Writes grow the block in steps of this many bytes.
constexpr int64_t kMemoryFileGrowStep = 65536;

// The virtual-file list; the records stay their owner's.
void AddVirtualFile(MemoryFile* file);
void RemoveVirtualFile(MemoryFile* file);
int IsVirtualFile(const MemoryFile* file);
// The listed record kept under that registry reference, or null.
MemoryFile* FindVirtualFile(int32_t registryRef);

// Lending a buffer: only registered ranges open through ":::memory" names, so
// that no script text can become a pointer. 0, or ERR_WRONGUSAGE for a null or
// empty buffer, ERR_MEM. Unregister before the buffer goes away; files still
// open on it must be closed first.
int RegisterMemoryBuffer(const void* data, uint64_t size);
void UnregisterMemoryBuffer(const void* data);
// 1 when [data, data + size) lies inside one registered buffer.
int IsRegisteredMemory(const void* data, uint64_t size);

// ":::memory" followed by the address and the size as 16 hex digits each. The
// name is plain text: a binary address may hold NUL bytes, and a short script
// string must not make the parser read past its end.
inline constexpr char kMemoryNamePrefix[] = ":::memory";
std::string MakeMemoryName(const void* data, uint64_t size);
int IsMemoryName(const char* name);
// 1 with the address and size, or 0 when the text after the prefix is not
// exactly the two numbers.
int ParseMemoryName(const char* name, const void** data, uint64_t* size);

// The operations on a memory file at a handle's position; writes fail on a
// record that isn't writable.
size_t MemoryFileRead(MemoryFile* file, int64_t* position, void* buffer, size_t count);
size_t MemoryFileWrite(MemoryFile* file, int64_t* position, const void* buffer, size_t count);
// Returns the position before the seek; the new one is kept inside the data.
int64_t MemoryFileSeek(MemoryFile* file, int64_t* position, int64_t offset, int mode);
