// Writing a file whole or not at all: the bytes go to a new file beside the
// target, which takes the target's place only once complete. A failure, or a
// reader of the target that is cut short, never costs the old file.
#pragma once

#include <string>

#include "core/file.h"

// True when both names are native objects that exist and are one file (the
// same device and inode: links and other names of it too).
bool IsSameNativeFile(const char* a, const char* b);

struct qbReplaceFile {
    qbFilePtr file;      // where the bytes go
    std::string temp;    // the new file's system path; empty when writing in place
    std::string target;  // the system path it replaces
    qbReplaceFile() = default;
    qbReplaceFile(const qbReplaceFile&) = delete;
    qbReplaceFile& operator=(const qbReplaceFile&) = delete;
    // A new file never committed goes.
    ~qbReplaceFile();
};

// Opens the file to write name through: a new file in name's folder, or name
// itself where no rename can replace it (parts of the applet, memory, and,
// with adapters set while a file adapter is installed, whatever an adapter
// may serve). 0, or ERR_WRITEFILE with name as the detail.
int BeginReplaceFile(const char* name, bool adapters, qbReplaceFile* out);
// Closes the file and puts it in the target's place. 0, or ERR_WRITE.
int CommitReplaceFile(qbReplaceFile* replace);
