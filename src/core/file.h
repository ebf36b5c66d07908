// The file layer: one handle type with 64-bit sizes and positions for every
// kind of file. A name may denote a file inside the applet (a chunk name), a
// lent memory buffer (":::memory"), a file served by a file-adapter plugin, or
// an ordinary file opened through stdio; readers never know which.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "core/fdstream.h"
#include "core/fileid.h"
#include "core/memfile.h"

// Open mode bits.
enum : uint32_t {
    kFileModeRead = 1,
    kFileModeWrite = 2,      // create or truncate
    kFileModeReadWrite = 4,  // create when missing
    kFileModeAdapters = 8,   // file adapters may serve the name
    kFileModeStreamSeek = 16,  // a stream-only adapter file may be sought by reading forward
    // A FIFO or device may be read as well as a regular file (reading waits
    // for its writer). Without it a native name opens for reading only when
    // it is a regular file: loaders and probes never wait on a FIFO.
    kFileModeAnyKind = 32,
    // A FIFO may be read as well as a regular file, a device not: readers
    // that read to the end (checksums) would never end on /dev/zero.
    kFileModeFifoToo = 64,
    // A write opens a FIFO only when a reader has it open (ERR_WRITEFILE
    // else), where a plain open waits for one: the writers of whole files.
    // Once open, writes wait for the reader as usual.
    kFileModeNoWait = 128,
    // The name is the system's path, taken byte for byte: no "PROGDIR:",
    // no text conversion. A walk names an entry through its open folder
    // this way, so that a name the player's text can't tell from another
    // spelling still opens the entry listed.
    kFileModeSystemName = 256,
};

// Seek modes (the script's SEEK_CURRENT, SEEK_BEGINNING, SEEK_END).
enum : int { kSeekCurrent = 0, kSeekBeginning = 1, kSeekEnd = 2 };

// "All ones": the size of a file not opened for reading.
constexpr int64_t kUnknownFileSize = -1;

// The inbuilt back-end for ordinary files and for chunks of the applet file.
struct StdioFile {
    std::unique_ptr<qbFdStream> stream;  // null for a chunk whose container has no path
    int limit = 0;           // 1 for applet chunks: reads stop at size
    int64_t base = 0;        // offset of a chunk in its container
    int64_t size = kUnknownFileSize;
    int64_t position = 0;  // relative to base
    // A file read whose size the system can't tell (a FIFO, a device, a
    // /proc file): its end is known only once a read met it.
    bool streamed = false;
    bool endMet = false;
    // A read stopped short of the file's end: a read error, or the file cut
    // below the size it had when opened. Cleared by a seek.
    bool readFailed = false;
    std::string path;  // the full path in the player's text, or the chunk name
    std::unique_ptr<uint8_t[]> window;  // read-ahead bytes (see qbFile::getPtr)
};

struct qbAdapterPlugin;

struct qbFile {
    // Bytes of a stdio file read ahead and not yet taken: FileGetC takes them
    // inline, every other operation accounts for them.
    const uint8_t* getPtr = nullptr;
    const uint8_t* getEnd = nullptr;
    qbAdapterPlugin* adapter = nullptr;  // the serving file adapter; null for the inbuilt back-ends
    void* adapterHandle = nullptr;
    std::unique_ptr<StdioFile> stdio;
    uint32_t mode = 0;
    uint32_t streamFlags = 0;  // written by the adapter: bit 0 streaming, bit 1 no seeking
    // An adapter's read gave less than asked: the end (or a failure) was
    // met, whatever its end test says. Cleared by a seek.
    bool adapterEndMet = false;
    MemoryFile* memory = nullptr;
    int64_t memoryPosition = 0;
    // Set when the handle made the record (":::memory" names); a virtual
    // file stays its owner's.
    std::unique_ptr<MemoryFile> ownedMemory;
};

// Null when the file cannot be opened; callers report ERR_READFILE or
// ERR_WRITEFILE with the name. adapterTag is the "|"-separated "adapter"
// choice (null or "default": any).
qbFile* FileOpen(const char* name, uint32_t mode, const char* adapterTag);
// The writing roads' own opens of a native file, the system's path taken
// byte for byte (core/replacefile.h):
// - a handle over fd, a new regular file opened for writing, which it owns
//   from here on (even when it fails): the bytes go to the file that was
//   made and checked, never to what a name leads to later;
// - the file at systemPath opened to write in place as FileOpen would
//   (mode: kFileModeWrite, with kFileModeNoWait), never through a link at its
//   last part, and only when it is still the file expected (device and
//   inode) before anything is cut; with no file expected, a new file only.
qbFile* FileOverNewFile(int fd, const char* systemPath);
qbFile* FileOpenExpected(const char* systemPath, uint32_t mode, const qbFileId& expected);
// The file a file adapter serves under name, or null when none serves it
// (no inbuilt back-end is asked).
qbFile* FileOpenThroughAdapter(const char* name, uint32_t mode, const char* adapterTag);
// Frees the handle in all cases; returns whether the file closed cleanly.
int FileClose(qbFile* file);

size_t FileRead(qbFile* file, void* buffer, size_t count);
size_t FileWrite(qbFile* file, const void* buffer, size_t count);
inline size_t FileReadBytes(qbFile* file, void* buffer, size_t count) { return FileRead(file, buffer, count); }
inline size_t FileWriteBytes(qbFile* file, const void* buffer, size_t count) { return FileWrite(file, buffer, count); }
int FilePutC(qbFile* file, int c);
// Bytes written; the terminator is not written.
size_t FileWriteString(qbFile* file, const char* text);
// Returns the position before the seek, or -1; a seek by 0 from the current
// position tells the position.
int64_t FileSeek(qbFile* file, int64_t offset, int mode);
// 1 at the end: past the size, or once a read met the end (a file cut
// after it was opened, a stream without a size), or failed.
int FileEof(qbFile* file);
// After a read that gave fewer bytes than asked (or FileGetC's -1): 1 when
// it stopped short of the file's end rather than at it, a read error or a
// file cut below the size it had when opened (an adapter's file: a short
// read while its end test says no end). Every reader that reads to the end
// asks it, so that a prefix is never taken for the whole file.
int FileReadFailed(qbFile* file);
int FileFlush(qbFile* file);
// kUnknownFileSize when unknown; an adapter file that can't say gives 0.
int64_t GetFileSize(qbFile* file);

int FileGetCSlow(qbFile* file);
// Byte 0-255, or -1 at the end. Every image, sound and anim reader reads
// through this, so the stdio and memory cases stay inline.
inline int FileGetC(qbFile* file) {
    if (!file) return -1;
    if (file->getPtr < file->getEnd) [[likely]]
        return *file->getPtr++;
    if (MemoryFile* m = file->memory; m && !file->adapter) {
        if (file->memoryPosition >= m->size) return -1;
        return m->data[file->memoryPosition++];
    }
    return FileGetCSlow(file);
}

// The bytes FileGetC would hand out next without another read (none for
// adapter files), so that a reader scanning many bytes can work on them in
// place; FileConsumeBuffered(n) takes the first n of them.
struct qbBufferedBytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
};
inline qbBufferedBytes FileBufferedBytes(const qbFile* file) {
    if (!file) return {};
    if (file->getPtr < file->getEnd) return {file->getPtr, static_cast<size_t>(file->getEnd - file->getPtr)};
    if (const MemoryFile* m = file->memory; m && !file->adapter && file->memoryPosition >= 0 &&
                                            file->memoryPosition < m->size)
        return {m->data + file->memoryPosition, static_cast<size_t>(m->size - file->memoryPosition)};
    return {};
}
inline void FileConsumeBuffered(qbFile* file, size_t n) {
    if (file->getPtr < file->getEnd)
        file->getPtr += n;
    else
        file->memoryPosition += static_cast<int64_t>(n);
}

// Stream flags an adapter set; IsFileNoSeek is their bit 1.
uint32_t GetFileFlags(const qbFile* file);
int IsFileNoSeek(const qbFile* file);
// The serving file adapter's name; null for the inbuilt back-ends (callers
// then use the native path).
const char* GetFileAdapterName(const qbFile* file);

// Byte-order readers assembled from FileGetC; a byte past the end reads as
// all ones.
int FileReadInt16LE(qbFile* file);
int FileReadInt16BE(qbFile* file);
int FileReadUInt16BE(qbFile* file);
uint32_t FileReadUInt32LE(qbFile* file);
uint32_t FileReadUInt32BE(qbFile* file);
// Through FilePutC; the result of the last byte.
int FileWriteUInt16LE(qbFile* file, uint32_t value);
int FileWriteUInt16BE(qbFile* file, uint32_t value);
int FileWriteUInt32LE(qbFile* file, uint32_t value);
int FileWriteUInt32BE(qbFile* file, uint32_t value);

// Reads a whole file into a new block (FreeMemory frees it) with extra
// uncleared bytes behind the data. With file given, that handle is rewound
// and read and stays open; else name is opened (file adapters allowed with
// useAdapters). 0, or ERR_READFILE (detail = name), ERR_READ, ERR_MEM; nothing
// stays allocated on failure. size may be null.
int LoadFileToMemory(const char* name, const char* adapterTag, qbFile* file, void** data, int64_t* size,
                     int useAdapters, size_t extra);
// Copies source (or the open file given) into a new destination file: 0, or
// ERR_READFILE / ERR_WRITEFILE (detail = the name), ERR_READ, ERR_WRITE.
int CopyFileContents(const char* source, const char* adapterTag, const char* destination, qbFile* file);

struct FileCloser {
    void operator()(qbFile* f) const { FileClose(f); }
};
using qbFilePtr = std::unique_ptr<qbFile, FileCloser>;
