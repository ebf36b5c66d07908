// Writing a file whole or not at all: the bytes go to a new file beside the
// target, which takes the target's place only once complete. A failure, or a
// reader of the target that is cut short, never costs the old file.
#pragma once

#include <string>

#include "core/file.h"
#include "core/fileid.h"

// True when both names are native objects that exist and are one file (the
// same device and inode: links and other names of it too).
bool IsSameNativeFile(const char* a, const char* b);

struct qbReplaceFile {
    qbFilePtr file;      // where the bytes go
    std::string temp;    // the new file's system path; empty when writing in place
    std::string target;  // the system path it replaces
    qbFileId made;       // the new file, which alone may take the target's place
    qbReplaceFile() = default;
    qbReplaceFile(const qbReplaceFile&) = delete;
    qbReplaceFile& operator=(const qbReplaceFile&) = delete;
    // A new file never committed goes.
    ~qbReplaceFile();
};

struct qbReplaceOptions {
    // A file adapter, when one is installed, may take the name (and writes
    // it in place); adapterTag chooses among them.
    bool adapters = false;
    const char* adapterTag = nullptr;
    // The file the command reads what it writes from (null: none).
    const char* source = nullptr;
    // A link at name is replaced as a file would be, never written
    // through: for a walk inside a tree another user may change.
    bool keepLinks = false;
    // name and source are the system's paths, taken byte for byte (no
    // "PROGDIR:", no text conversion, no adapter): a walk names an entry
    // through its open folder.
    bool systemNames = false;
};

// Every command that writes a file the script names opens it here:
// - a name that is the command's own source, or a file that a live object
//   reads from (a from-disk anim, a video, a music stream), is refused with
//   ERR_WRONGUSAGE before anything is written: the write would cut what is
//   being read;
// - a regular file, or a new one, is written as a new file in name's folder
//   that takes its place at CommitReplaceFile, written through the
//   descriptor that made it;
// - a link leads to its target, except in a folder everybody may write and
//   only owners may delete from (sticky, the system's temporary folder),
//   where a link made by another than the writer or the folder's owner is
//   refused (ERR_WRITEFILE), and so is a file there the writer does not
//   own: the kernel's own rules for such folders, whatever its switches;
// - an existing name that is no regular file (a FIFO, a device), a part of
//   the applet, memory, or a name an adapter may serve is written in place,
//   so that it stays what it is: opened without following a link at its
//   last part, and only while it is the file that was looked at.
// 0, ERR_WRONGUSAGE, or ERR_WRITEFILE with name as the detail.
int BeginReplaceFile(const char* name, const qbReplaceOptions& options, qbReplaceFile* out);
// The descriptor of the native file being written, for calls the file
// layer has none of (a copy in the kernel, modes, dates); -1 for others.
// Bytes written through the file are buffered: flush them first.
int ReplaceFileDescriptor(const qbReplaceFile& replace);
// The refusal alone, for writers that open the file themselves (saver
// plugins): 0, or ERR_WRONGUSAGE with name as the detail.
int CheckWriteTarget(const char* name, const char* source);
// Closes the file and puts it in the target's place. 0, or ERR_WRITE (also
// when something else took the new file's name meanwhile: it is never
// renamed over the target).
int CommitReplaceFile(qbReplaceFile* replace);

// Called, where a build defines it, between making the new file and
// writing it (the new file's system path), and between looking at a file
// written in place and opening it (its system path): tests change the
// folder there.
void AfterMakingNewFile(const char* temp) __attribute__((weak));
void BeforeOpeningInPlace(const char* path) __attribute__((weak));
