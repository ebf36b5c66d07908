// A file as a reader met it: which file (device and inode), its size and
// its modification time, so that a reader that let it go can tell, on
// opening the name again, whether it meets the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/fileid.h"

struct qbFile;

struct qbFileStamp {
    qbFileId id;
    int64_t size = -1;
    int64_t modifiedNs = 0;
    bool operator==(const qbFileStamp&) const = default;
    explicit operator bool() const { return static_cast<bool>(id); }
};

// Of an open descriptor; empty when it can't be asked.
qbFileStamp StampOfDescriptor(int fd);
// Of the native file an open file reads (an applet part: its container);
// empty for memory and adapter files.
qbFileStamp StampOfOpenFile(qbFile* file);
// The descriptor of a native file opened for reading, -1 for other files;
// *base (when given) is where the file's bytes start in it (an applet
// part's offset in its container).
int DescriptorOfOpenFile(qbFile* file, int64_t* base = nullptr);
// Up to count bytes at offset, without moving the descriptor's position
// (pread): fewer where the file ends sooner, now that a writer may have cut
// it.
size_t ReadDescriptorAt(int fd, int64_t offset, void* buffer, size_t count);
