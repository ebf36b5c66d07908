// Native folders held by descriptor.
#include "core/folderfd.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

qbFd& qbFd::operator=(qbFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

qbFd::~qbFd() {
    if (fd_ >= 0) close(fd_);
}

qbFd OpenFolderPath(const char* systemPath) {
    return qbFd(open(systemPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

qbFd OpenFolderAt(int parent, const char* name) {
    if (BeforeEnteringFolder) BeforeEnteringFolder(parent, name);
    return qbFd(openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

qbFd MakeFolderAt(int parent, const char* name, bool* made) {
    // Never more open than the folder it copies while it is filled: its
    // own mode comes once it is.
    *made = mkdirat(parent, name, 0700) == 0;
    if (!*made && errno != EEXIST) return qbFd();
    return OpenFolderAt(parent, name);
}

mode_t CurrentUmask() {
    // umask() alone would set it, and a file made by another thread
    // meanwhile would take the wrong mask.
    const qbFd status(open("/proc/self/status", O_RDONLY | O_CLOEXEC));
    char text[4096];
    ssize_t got = 0;
    while (status.get() >= 0 && got < static_cast<ssize_t>(sizeof text) - 1) {
        const ssize_t n = read(status.get(), text + got, sizeof text - 1 - static_cast<size_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += n;
    }
    text[got] = '\0';
    const char* field = std::strstr(text, "\nUmask:");
    return field ? static_cast<mode_t>(std::strtoul(field + 7, nullptr, 8)) & 0777 : 022;
}

bool ListFolderAt(int folder, std::vector<qbFolderEntryAt>* entries) {
    // The stream takes a descriptor of its own, so the folder stays open
    // for the calls made in it after the listing.
    const int own = fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return false;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(own), closedir);
    if (!dir) {
        close(own);
        return false;
    }
    while (const dirent* entry = readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        qbFolderEntryAt e{entry->d_name, {}};
        if (fstatat(folder, entry->d_name, &e.st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        entries->push_back(std::move(e));
    }
    return true;
}

std::string PathThroughFolder(int folder, const std::string& name) {
    return "/proc/self/fd/" + std::to_string(folder) + "/" + name;
}

bool IsPlainEntryName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}
