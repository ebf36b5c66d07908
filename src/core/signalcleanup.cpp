// The handler runs in signal context, so the table is filled beforehand and
// the handler uses only system calls: no allocation, no locks, no stdio.
#include "core/signalcleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

constexpr int kMaxPaths = 32;
constexpr size_t kMaxPathLength = 4096;

struct CleanupEntry {
    char path[kMaxPathLength];
    bool folder;
    std::atomic<bool> live;
};

CleanupEntry entries[kMaxPaths];
// Entries below this index have been written; a slot once taken stays taken.
std::atomic<int> used{0};

// Removes every entry of the folder (one level: the player writes no
// subfolders there), then the folder.
void RemoveFolder(const char* path) {
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        alignas(8) char buffer[4096];
        for (;;) {
            const long n = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
            if (n <= 0) break;
            for (long offset = 0; offset < n;) {
                // struct linux_dirent64: ino (8), off (8), reclen (2), type (1), name.
                unsigned short length = 0;
                std::memcpy(&length, buffer + offset + 16, sizeof length);
                const char* name = buffer + offset + 19;
                if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) unlinkat(fd, name, 0);
                if (length == 0) break;
                offset += length;
            }
        }
        close(fd);
    }
    rmdir(path);
}

void OnFatalSignal(int sig) {
    const int n = used.load();
    for (int i = n; i-- > 0;) {
        CleanupEntry& e = entries[i];
        if (!e.live.load()) continue;
        if (e.folder)
            RemoveFolder(e.path);
        else
            unlink(e.path);
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

}  // namespace

void InstallSignalCleanup() {
    struct sigaction action {};
    action.sa_handler = OnFatalSignal;
    sigemptyset(&action.sa_mask);
    // A second signal while cleaning up waits until the first has ended it.
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGINT);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

void AddSignalCleanupPath(const char* systemPath, bool folder) {
    if (!systemPath || std::strlen(systemPath) >= kMaxPathLength) return;
    const int slot = used.load();
    if (slot >= kMaxPaths) return;
    CleanupEntry& e = entries[slot];
    std::strcpy(e.path, systemPath);
    e.folder = folder;
    e.live.store(true);
    used.store(slot + 1);
}

void ForgetSignalCleanupPath(const char* systemPath) {
    const int n = used.load();
    for (int i = 0; i < n; ++i)
        if (entries[i].live.load() && std::strcmp(entries[i].path, systemPath) == 0) entries[i].live.store(false);
}
