// Native folders held by descriptor. A walk that deletes or writes inside a
// tree someone else may change meanwhile names each entry in its open
// parent and never follows a link it meets, so a folder swapped for a link
// during the walk leads nowhere outside the tree (as `rm -r` walks).
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

// Owns one descriptor; -1 when empty.
class qbFd {
public:
    qbFd() = default;
    explicit qbFd(int fd) : fd_(fd) {}
    qbFd(qbFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    qbFd& operator=(qbFd&& other) noexcept;
    qbFd(const qbFd&) = delete;
    qbFd& operator=(const qbFd&) = delete;
    ~qbFd();
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// An entry of a folder as the system names it, described without following
// a link (st_mode tells a link from what it leads to).
struct qbFolderEntryAt {
    std::string name;
    struct stat st;
};

// The folder a path names, the path's own links followed (the caller named
// it); empty when it is no folder.
qbFd OpenFolderPath(const char* systemPath);
// The folder name names inside parent, never through a link: empty (errno
// ELOOP or ENOTDIR) when name is no longer a folder.
qbFd OpenFolderAt(int parent, const char* name);
// Makes the folder name inside parent, or takes the one there, and opens it
// as OpenFolderAt does: one mkdirat, one openat, whatever the depth. A folder
// made is its maker's alone (0700) until the caller gives it its own mode;
// *made tells whether it was made.
qbFd MakeFolderAt(int parent, const char* name, bool* made);
// The process's file creation mask, read without changing it.
mode_t CurrentUmask();
// The entries of an open folder but "." and "..", read whole; false when it
// can't be read. An entry gone since the listing is left out.
bool ListFolderAt(int folder, std::vector<qbFolderEntryAt>* entries);
// A path that reaches name inside the open folder through the descriptor,
// for calls that take only a path: no folder above it is looked up again.
std::string PathThroughFolder(int folder, const std::string& name);
// Whether name is one entry of a folder: not empty, ".", ".." or holding '/'.
bool IsPlainEntryName(const std::string& name);

// Called, where a build defines it, between listing a folder and entering
// one of its folders (parent, the entry's name): tests change the tree there.
void BeforeEnteringFolder(int parent, const char* name) __attribute__((weak));
