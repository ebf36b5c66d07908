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

enum : int { kFree, kClaimed, kLive };

struct CleanupEntry {
    char path[kMaxPathLength];
    bool folder;
    // kFree, kClaimed while a thread fills or empties it, kLive: only live
    // entries are read by the handler, and their path stays put.
    std::atomic<int> state{kFree};
};

CleanupEntry entries[kMaxPaths];
// Entries at and past this index were never taken.
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
        if (e.state.load() != kLive) continue;
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
    // Every signal that ends the player by default and that something else
    // sends (a closed terminal, a quit key, the file size limit a write
    // passed, a reader of its output that went away, a timer or a user's
    // kill), so that no partial file of a replace stays behind. Those a
    // fault raises (SIGSEGV, SIGBUS, SIGFPE, SIGILL) leave state no handler
    // should trust.
    constexpr int kEnding[] = {SIGTERM, SIGINT,  SIGHUP,  SIGQUIT,   SIGXFSZ, SIGPIPE,
                               SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF};
    struct sigaction action {};
    action.sa_handler = OnFatalSignal;
    sigemptyset(&action.sa_mask);
    // A second signal while cleaning up waits until the first has ended it.
    for (int sig : kEnding) sigaddset(&action.sa_mask, sig);
    for (int sig : kEnding) {
        // Whoever started the player with one of these ignored (nohup; a
        // writer that wants EFBIG or EPIPE instead) keeps it so: it then
        // ends nothing, and leaves nothing to clean. So does a handler
        // something in the process set before (a profiler's SIGPROF). The
        // network library ignores SIGPIPE itself once it starts, for its
        // sockets.
        struct sigaction was {};
        const bool kept = sig != SIGTERM && sig != SIGINT && sigaction(sig, nullptr, &was) == 0 &&
                          was.sa_handler != SIG_DFL && was.sa_handler != OnFatalSignal;
        if (!kept) sigaction(sig, &action, nullptr);
    }
}

void AddSignalCleanupPath(const char* systemPath, bool folder) {
    if (!systemPath || std::strlen(systemPath) >= kMaxPathLength) return;
    // Slots are reused: files that come and go (a save's new file) would
    // fill the table otherwise.
    for (int slot = 0; slot < kMaxPaths; ++slot) {
        CleanupEntry& e = entries[slot];
        int expected = kFree;
        if (!e.state.compare_exchange_strong(expected, kClaimed)) continue;
        std::strcpy(e.path, systemPath);
        e.folder = folder;
        int seen = used.load();
        while (seen < slot + 1 && !used.compare_exchange_weak(seen, slot + 1)) {
        }
        e.state.store(kLive);
        return;
    }
}

void ForgetSignalCleanupPath(const char* systemPath) {
    const int n = used.load();
    for (int i = 0; i < n; ++i) {
        CleanupEntry& e = entries[i];
        int expected = kLive;
        if (e.state.load() != kLive || std::strcmp(e.path, systemPath) != 0) continue;
        if (e.state.compare_exchange_strong(expected, kClaimed)) e.state.store(kFree);
    }
}
