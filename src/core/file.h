// The file layer: one handle type with 64-bit sizes and positions for every
// kind of file; ordinary files go through the stdio back-end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

// Open mode bits.
enum : uint32_t {
    kFileModeRead = 1,
    kFileModeWrite = 2,      // create or truncate
    kFileModeReadWrite = 4,  // create when missing
    kFileModeAdapters = 8,   // file adapters may serve the name
    kFileModeStreamSeek = 16,
};

// Seek modes (the script's SEEK_CURRENT, SEEK_BEGINNING, SEEK_END).
enum : int { kSeekCurrent = 0, kSeekBeginning = 1, kSeekEnd = 2 };

// "All ones": the size of a file not opened for reading.
constexpr int64_t kUnknownFileSize = -1;
constexpr size_t kFilePathSize = 1024;

struct StdioFile {
    FILE* stream = nullptr;
    int limit = 0;      // 1 for applet chunks: reads stop at size
    int64_t base = 0;   // offset of a chunk in its container
    int64_t size = kUnknownFileSize;
    int64_t position = 0;  // relative to base
    int lastWasWrite = 0;
    char path[kFilePathSize] = {};
};

struct MemoryFile;

struct qbFile {
    void* adapterNode = nullptr;  // the serving file adapter; null for the inbuilt back-ends
    std::unique_ptr<StdioFile> stdio;
    uint32_t mode = 0;
    uint32_t streamFlags = 0;  // bit 0 streaming, bit 1 no seeking
    MemoryFile* memory = nullptr;
    int64_t memoryPosition = 0;
    int ownsMemory = 0;
};

// Null when the file cannot be opened; callers report the error with the name.
qbFile* FileOpen(const char* name, uint32_t mode, const char* adapterTag);
// Frees the handle in all cases; returns whether the file closed cleanly.
int FileClose(qbFile* file);

size_t FileRead(qbFile* file, void* buffer, size_t count);
size_t FileWrite(qbFile* file, const void* buffer, size_t count);
int FileGetC(qbFile* file);  // -1 at the end
int FilePutC(qbFile* file, int c);
// Returns the position before the seek, or -1.
int64_t FileSeek(qbFile* file, int64_t offset, int mode);
int FileEof(qbFile* file);
int FileFlush(qbFile* file);
int64_t GetFileSize(qbFile* file);

// Byte-order readers assembled from FileGetC; a byte past the end reads as all ones.
int FileReadInt16BE(qbFile* file);
int FileReadUInt16BE(qbFile* file);
uint32_t FileReadUInt32BE(qbFile* file);

struct FileCloser {
    void operator()(qbFile* f) const { FileClose(f); }
};
using qbFilePtr = std::unique_ptr<qbFile, FileCloser>;
