// Directory handles over adapters, applet chunks and native locks.
#include "core/dir.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/chars.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/filenames.h"
#include "core/fileops.h"
#include "core/loadertags.h"
#include "core/memfile.h"

// A native lock: a directory stream for directories, a read-only descriptor
// for files. Paths are kept in the system's form for the calls and in the
// player's text for the callers.
struct NativeLock {
    std::string systemPath;
    std::string path;
    DIR* dir = nullptr;
    int fd = -1;
    std::string entryPath;  // player text, for the last entry's info
    ~NativeLock() {
        if (dir) closedir(dir);
        if (fd >= 0) close(fd);
    }
};

namespace {

bool AdapterMayServe(const qbAdapterPlugin* p, const char* tag) {
    if (!AdapterCallable(p) || p->skipAsLoader) return false;
    if (!LoaderAllowedByTag(tag, p->name, 1)) return false;
    return !p->onlyWhenNamed || LoaderNamedByTag(tag, p->name);
}

bool OpenThroughAdapters(qbDirHandle* h, const char* name, const char* tag) {
    for (qbAdapterNode* node = GetAdapterList(kPluginCapsDirAdapter); node; node = node->next) {
        qbAdapterPlugin* p = node->plugin;
        if (!AdapterMayServe(p, tag) || !p->slots.OpenDir) continue;
        if (void* handle = p->slots.OpenDir(name)) {
            h->dirAdapter = p;
            h->adapterHandle = handle;
            return true;
        }
    }
    for (qbAdapterNode* node = GetAdapterList(kPluginCapsFileAdapter); node; node = node->next) {
        qbAdapterPlugin* p = node->plugin;
        if (!AdapterMayServe(p, tag) || !p->slots.Stat) continue;
        h->stat = PresetAdapterStat();
        if (p->slots.Stat(name, &h->stat)) {
            h->fileAdapter = p;
            return true;
        }
    }
    return false;
}

std::unique_ptr<NativeLock> OpenNativeLock(const char* name, int mode) {
    if (mode != kDirLockRead) {
        ConsolePrintf("QBOS_LOCK_WRITE unsupported.\n");
        return nullptr;
    }
    auto lock = std::make_unique<NativeLock>();
    const std::string given = NativePathOf(*name ? name : ".");
    char full[PATH_MAX];
    if (!realpath(given.c_str(), full)) return nullptr;
    lock->systemPath = full;
    lock->path = FromSystemPath(full);
    struct stat st;
    if (stat(full, &st) != 0) return nullptr;
    if (S_ISDIR(st.st_mode)) {
        lock->dir = opendir(full);
        if (!lock->dir) return nullptr;
    } else if (S_ISREG(st.st_mode)) {
        // Without waiting, and asked again of the descriptor: a FIFO put in
        // the file's place meanwhile would hold the open until written to.
        lock->fd = open(full, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (lock->fd < 0 || fstat(lock->fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    } else {
        return nullptr;
    }
    return lock;
}

int ReadNativeDirEntry(qbDirHandle* h, const char** name, int* isDir, qbFileInfo* info) {
    NativeLock* lock = h->native.get();
    if (!lock->dir) return 0;
    while (const dirent* entry = readdir(lock->dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        std::string full = lock->systemPath;
        if (full.empty() || full.back() != '/') full += '/';
        full += entry->d_name;
        struct stat st;
        if (stat(full.c_str(), &st) != 0) continue;
        h->lastEntry = FromSystemPath(entry->d_name);
        lock->entryPath = FromSystemPath(full.c_str());
        if (name) *name = h->lastEntry.c_str();
        if (isDir) *isDir = S_ISDIR(st.st_mode) ? 1 : 0;
        if (info) {
            *info = qbFileInfo{};
            StatToFileInfo(st, info);
            info->path = lock->entryPath.c_str();
        }
        return 1;
    }
    return 0;
}

void ExamineNativeLock(NativeLock* lock, qbFileInfo* info) {
    struct stat st;
    const bool ok = lock->fd >= 0 ? fstat(lock->fd, &st) == 0 : stat(lock->systemPath.c_str(), &st) == 0;
    if (ok) StatToFileInfo(st, info);
    info->path = lock->path.c_str();
}

void FillChunkInfo(const qbDirHandle* h, qbFileInfo* info) {
    info->kind = 0;
    info->size = static_cast<int64_t>(h->chunk.virtualFile ? h->chunk.virtualFile->size : h->chunk.size);
    info->protection = kFileAttrAllUser;
    info->accessTime = info->modifyTime = info->changeTime = GetChunkFileTime();
    info->path = h->name.c_str();
}

}  // namespace

qbDirHandle::~qbDirHandle() = default;

qbDirHandle* DirOpen(const char* name, int mode, const char* adapterTag) {
    if (!name) return nullptr;
    auto h = std::make_unique<qbDirHandle>();
    const bool chunk = IsChunkName(name);
    bool taken = (mode & kDirUseAdapters) && !chunk && OpenThroughAdapters(h.get(), name, adapterTag);
    if (!taken) {
        if (chunk) {
            taken = ParseChunkName(name, &h->chunk) != 0;
            h->isChunk = taken;
        } else if (LoaderAllowedByTag(adapterTag, "inbuilt", 0)) {
            h->native = OpenNativeLock(name, mode & ~kDirUseAdapters);
            taken = h->native != nullptr;
        }
    }
    if (!taken) return nullptr;
    h->name = name;
    return h.release();
}

void DirClose(qbDirHandle* handle) {
    std::unique_ptr<qbDirHandle> owner(handle);
    if (owner && owner->dirAdapter && AdapterCallable(owner->dirAdapter) && owner->dirAdapter->slots.CloseDir)
        owner->dirAdapter->slots.CloseDir(owner->adapterHandle);
}

int DirCheck(qbDirHandle* handle, int* isDir) {
    if (isDir) *isDir = 0;
    if (!handle) return ERR_NOTADIR;
    if (handle->dirAdapter) {
        if (isDir) *isDir = 1;
        return 0;
    }
    if (handle->native && handle->native->dir) {
        if (isDir) *isDir = 1;
        return 0;
    }
    SetErrorDetail(handle->native ? handle->native->path.c_str() : handle->name.c_str());
    return ERR_NOTADIR;
}

int ReadDirEntry(qbDirHandle* handle, const char** name, int* isDir, qbFileInfo* info) {
    if (!handle) return 0;
    if (handle->native) return ReadNativeDirEntry(handle, name, isDir, info);
    qbAdapterPlugin* p = handle->dirAdapter;
    if (!p || !AdapterCallable(p) || !p->slots.NextDirEntry) return 0;
    handle->stat = PresetAdapterStat();
    if (!p->slots.NextDirEntry(handle->adapterHandle, &handle->stat)) return 0;
    handle->lastEntry = handle->stat.name ? handle->stat.name : "";
    if (name) *name = handle->lastEntry.c_str();
    if (isDir) *isDir = handle->stat.type == 1 ? 1 : 0;
    if (info) {
        *info = qbFileInfo{};
        AdapterStatToFileInfo(handle->stat, info);
        info->path = handle->stat.path;
    }
    return 1;
}

int ExamineDirHandle(qbDirHandle* handle, qbFileInfo* info) {
    if (!handle || !info) return 0;
    *info = qbFileInfo{};
    if (handle->fileAdapter) {
        AdapterStatToFileInfo(handle->stat, info);
        info->path = handle->stat.path ? handle->stat.path : handle->name.c_str();
    } else if (handle->dirAdapter) {
        info->kind = 1;
        info->protection = kFileAttrAllUser;
        info->accessTime = info->modifyTime = info->changeTime = GetChunkFileTime();
        info->path = handle->name.c_str();
    } else if (handle->native) {
        ExamineNativeLock(handle->native.get(), info);
    } else if (handle->isChunk) {
        FillChunkInfo(handle, info);
    }
    return 0;
}

std::string GetDirHandlePath(qbDirHandle* handle) {
    if (!handle) return {};
    if (handle->native) return handle->native->path;
    if (handle->isChunk) {
        std::string path = GetCurrentDirPath();
        const std::string part = FilePartEx(handle->chunk.fileName.c_str());
        if (!path.empty() && path.back() != '/') path += '/';
        return path + part;
    }
    return handle->name;
}

int GetDirHandlePath(qbDirHandle* handle, char* buffer, size_t bufferSize) {
    if (!buffer || bufferSize == 0) return 0;
    const std::string path = GetDirHandlePath(handle);
    const size_t n = std::min(path.size(), bufferSize - 1);
    std::memcpy(buffer, path.data(), n);
    buffer[n] = 0;
    return 1;
}

const char* GetDirAdapterName(const qbDirHandle* handle) {
    if (!handle) return nullptr;
    if (handle->dirAdapter) return handle->dirAdapter->name;
    if (handle->fileAdapter) return handle->fileAdapter->name;
    return nullptr;
}

int GetPathInfo(const char* path, qbPathInfo* out, int useAdapters) {
    if (!path || !out) return 0;
    *out = qbPathInfo{};
    if (useAdapters) {
        for (qbAdapterNode* node = GetAdapterList(kPluginCapsFileAdapter); node; node = node->next) {
            qbAdapterPlugin* p = node->plugin;
            if (!AdapterCallable(p) || p->skipAsLoader || !p->slots.Stat) continue;
            qbAdapterStat st = PresetAdapterStat();
            if (!p->slots.Stat(path, &st)) continue;
            out->kind = st.type == 1 ? 1 : 0;
            out->size = st.size;
            out->protection = st.protection;
            out->modified = out->modifiedCopy = st.modified;
            out->accessed = st.accessed;
            out->path = st.path ? st.path : "";
            out->name = st.name ? st.name : "";
            return 1;
        }
    }
    qbDirHandlePtr handle(DirOpen(path, kDirLockRead, nullptr));
    if (!handle) return 0;
    qbFileInfo info;
    ExamineDirHandle(handle.get(), &info);
    out->kind = info.kind;
    out->size = info.size;
    out->protection = info.protection;
    out->path = GetDirHandlePath(handle.get());
    out->name = info.name;
    out->modified = out->modifiedCopy = TimeToDate(info.modifyTime);
    out->accessed = TimeToDate(info.accessTime);
    return 1;
}
