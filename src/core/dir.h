// Directory handles: a lock on a path (a directory to list or any object to
// examine), served by a directory adapter, a file adapter's Stat, the running
// applet's chunks, or the native file system.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "core/chunkname.h"
#include "core/fileinfo.h"
#include "core/pluginadapters.h"

struct NativeLock;

struct qbDirHandle {
    qbAdapterPlugin* dirAdapter = nullptr;   // its OpenDir took the path
    qbAdapterPlugin* fileAdapter = nullptr;  // its Stat accepted the path
    void* adapterHandle = nullptr;
    std::unique_ptr<NativeLock> native;
    std::string name;       // as given
    std::string lastEntry;  // name of the last entry read (player text)
    qbAdapterStat stat;
    bool isChunk = false;
    qbChunkName chunk;
    ~qbDirHandle();
};

enum : int { kDirLockRead = 1, kDirUseAdapters = 4 };

// Null when nothing can lock the name; a chunk name locks the file inside the
// applet (not a directory).
qbDirHandle* DirOpen(const char* name, int mode, const char* adapterTag);
void DirClose(qbDirHandle* handle);
// 0 with *isDir 1 for a directory, else ERR_NOTADIR with the path (or the
// chunk name) as the detail. isDir may be null.
int DirCheck(qbDirHandle* handle, int* isDir);
// 1 with the next entry, 0 when there are no more. "." and ".." are never
// listed; names come in the player's text (raw bytes where a name doesn't
// convert) and stay valid until the next call. Each output may be null.
int ReadDirEntry(qbDirHandle* handle, const char** name, int* isDir, qbFileInfo* info);
// Fills the info of the locked object itself; 0.
int ExamineDirHandle(qbDirHandle* handle, qbFileInfo* info);
// The full path of the locked object; 1.
int GetDirHandlePath(qbDirHandle* handle, char* buffer, size_t bufferSize);
std::string GetDirHandlePath(qbDirHandle* handle);
// The serving directory or file adapter's name; null for the inbuilt back-ends.
const char* GetDirAdapterName(const qbDirHandle* handle);

struct DirCloser {
    void operator()(qbDirHandle* h) const { DirClose(h); }
};
using qbDirHandlePtr = std::unique_ptr<qbDirHandle, DirCloser>;

struct qbPathInfo {
    int32_t kind = 0;
    int64_t size = 0;
    uint32_t protection = 0;
    qbDateRecord modified;
    qbDateRecord accessed;
    qbDateRecord modifiedCopy;
    std::string path;
    std::string name;
};

// 1 with the description of path, 0 when nothing can lock it.
int GetPathInfo(const char* path, qbPathInfo* out, int useAdapters);
