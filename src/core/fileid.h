// Which native file a name stands for: its device and inode, the same for
// every name and link of it, so that a write can tell it would go over a
// file being read.
#pragma once

#include <cstdint>

struct qbFileId {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const qbFileId&) const = default;
    explicit operator bool() const { return device != 0 || inode != 0; }
};

// The native file name denotes (links followed); empty for applet parts,
// memory files and names that denote nothing.
qbFileId NativeFileIdOf(const char* name);
