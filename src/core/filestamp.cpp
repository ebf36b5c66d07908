// Stamps of open files, asked of their descriptors.
#include "core/filestamp.h"

#include <sys/stat.h>

#include <cstdio>

#include "core/file.h"

qbFileStamp StampOfDescriptor(int fd) {
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) return {};
    qbFileStamp stamp;
    stamp.id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    stamp.size = st.st_size;
    stamp.modifiedNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    return stamp;
}

int DescriptorOfOpenFile(qbFile* file) {
    if (!file || file->adapter || file->memory || !file->stdio || !file->stdio->stream) return -1;
    return fileno(file->stdio->stream);
}

qbFileStamp StampOfOpenFile(qbFile* file) { return StampOfDescriptor(DescriptorOfOpenFile(file)); }
