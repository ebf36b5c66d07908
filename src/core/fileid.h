// Which native file a name stands for: its device and inode, the same for
// every name and link of it, so that a write can tell it would go over a
// file being read.
#pragma once

#include <sys/stat.h>

#include <cstdint>

struct qbFileId {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const qbFileId&) const = default;
    explicit operator bool() const { return device != 0 || inode != 0; }
};

// The file stat or fstat described.
inline qbFileId FileIdOf(const struct stat& st) {
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// The native file name denotes (links followed); empty for applet parts,
// memory files and names that denote nothing.
qbFileId NativeFileIdOf(const char* name);
