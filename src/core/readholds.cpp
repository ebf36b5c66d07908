// The process-wide list of held files. Videos are freed on their own
// threads' behalf and fonts opened by worker threads, so the list is guarded.
#include "core/readholds.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <new>
#include <vector>

#include "core/file.h"

namespace {

struct Holder {
    const void* owner;  // null for a qbReadHold
    qbFileId file;
};

struct Holds {
    std::mutex mutex;
    std::vector<Holder> list;
};

Holds& TheHolds() {
    static Holds holds;
    return holds;
}

void Add(const void* owner, const qbFileId& file) {
    if (!file) return;
    Holds& h = TheHolds();
    std::lock_guard lock(h.mutex);
    try {
        h.list.push_back({owner, file});
    } catch (const std::bad_alloc&) {
        // Out of memory the reader goes unguarded rather than failing its
        // open: the writers' refusal is the rarer loss.
    }
}

void Remove(const void* owner, const qbFileId& file) {
    if (!file) return;
    Holds& h = TheHolds();
    std::lock_guard lock(h.mutex);
    auto it = std::find_if(h.list.begin(), h.list.end(),
                           [&](const Holder& x) { return x.owner == owner && x.file == file; });
    if (it != h.list.end()) h.list.erase(it);
}

}  // namespace

qbReadHold::qbReadHold(const qbReadHold& other) : file_(other.file_) { Add(nullptr, file_); }

qbReadHold& qbReadHold::operator=(const qbReadHold& other) { return *this = other.file_; }

qbReadHold& qbReadHold::operator=(const qbFileId& file) {
    // The new hold first: a file held by both stays held throughout.
    Add(nullptr, file);
    Remove(nullptr, file_);
    file_ = file;
    return *this;
}

qbReadHold::~qbReadHold() { Remove(nullptr, file_); }

void HoldReadFile(const void* owner, const qbFileId& file) {
    if (!owner) return;
    ReleaseReadFile(owner);
    Add(owner, file);
}

void ReleaseReadFile(const void* owner) {
    if (!owner) return;
    Holds& h = TheHolds();
    std::lock_guard lock(h.mutex);
    std::erase_if(h.list, [owner](const Holder& x) { return x.owner == owner; });
}

bool IsFileRead(const qbFileId& file) {
    if (!file) return false;
    Holds& h = TheHolds();
    std::lock_guard lock(h.mutex);
    return std::any_of(h.list.begin(), h.list.end(), [&](const Holder& x) { return x.file == file; });
}

qbFileId SystemFileIdOf(const char* path) {
    struct stat st;
    if (!path || !*path || stat(path, &st) != 0) return {};
    return FileIdOf(st);
}

qbFileId OpenFileIdOf(const qbFile* file) {
    if (!file || file->adapter || file->memory || !file->stdio || !file->stdio->stream) return {};
    struct stat st;
    if (fstat(file->stdio->stream->fd, &st) != 0) return {};
    return FileIdOf(st);
}
