// The files that live objects go on reading: a from-disk anim, a video, a
// music stream, a loaded plugin (mapped by the loader), an open font. Every
// road by which the player writes a file asks here, by device and inode,
// before it cuts or replaces anything: a reader whose file is cut under it
// reads garbage, and one that maps it dies of SIGBUS at its next page.
#pragma once

#include "core/fileid.h"

struct qbFile;

// Holds a file for as long as it lives; a record that reads a file carries
// one. A copy holds the same file once more.
struct qbReadHold {
    qbReadHold() = default;
    qbReadHold(const qbReadHold& other);
    qbReadHold& operator=(const qbReadHold& other);
    // Holds file instead of what was held (an empty id: nothing).
    qbReadHold& operator=(const qbFileId& file);
    ~qbReadHold();
    const qbFileId& file() const { return file_; }

private:
    qbFileId file_;
};

// For readers that can carry no hold of their own (the font engines):
// owner holds file until ReleaseReadFile(owner); a second hold of the same
// owner replaces its first.
void HoldReadFile(const void* owner, const qbFileId& file);
void ReleaseReadFile(const void* owner);

// Whether a live object reads file.
bool IsFileRead(const qbFileId& file);

// The file a system path (no player text: as the system gave it) stands
// for, links followed; empty when there is none.
qbFileId SystemFileIdOf(const char* path);
// The native file an open handle reads: its stream's, or an applet part's
// container; empty for memory and adapter files.
qbFileId OpenFileIdOf(const qbFile* file);
