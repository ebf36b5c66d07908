// Stamps of open files, asked of their descriptors, and reads at a position.
#include "core/filestamp.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "core/file.h"

qbFileStamp StampOfDescriptor(int fd) {
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) return {};
    qbFileStamp stamp;
    stamp.id = FileIdOf(st);
    stamp.size = st.st_size;
    stamp.modifiedNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    return stamp;
}

int DescriptorOfOpenFile(qbFile* file, int64_t* base) {
    if (!file || file->adapter || file->memory || !file->stdio || !file->stdio->stream) return -1;
    if (base) *base = file->stdio->base;
    return file->stdio->stream->fd;
}

size_t ReadDescriptorAt(int fd, int64_t offset, void* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = pread(fd, static_cast<char*>(buffer) + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

qbFileStamp StampOfOpenFile(qbFile* file) { return StampOfDescriptor(DescriptorOfOpenFile(file)); }
