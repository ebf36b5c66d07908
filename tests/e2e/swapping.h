// A process that changes a folder under a script's feet while the script
// runs: forked, it runs swap(ready, done), which says a word on ready once
// it watches (a swap that fails ends without a word, which closes ready)
// and goes on until done closes, then ends with its count as the exit code.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace e2e {

class Swapping {
public:
    explicit Swapping(const std::function<void(int ready, int done)>& swap) {
        int ready[2], done[2];
        if (pipe2(ready, O_CLOEXEC) != 0) return;
        if (pipe2(done, O_CLOEXEC) != 0) {
            close(ready[0]);
            close(ready[1]);
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(done[1]);
            swap(ready[1], done[0]);
            _exit(0);
        }
        close(ready[1]);
        close(done[0]);
        done_ = done[1];
        char word = 0;
        watching_ = pid_ > 0 && read(ready[0], &word, 1) == 1;
        close(ready[0]);
        if (!watching_) Stop();
    }
    ~Swapping() { Stop(); }
    Swapping(const Swapping&) = delete;
    Swapping& operator=(const Swapping&) = delete;

    // Whether it runs and watches.
    bool Watching() const { return watching_; }

    // Tells it to end and waits: its count, or -1 when it did not end by
    // exiting.
    int Stop() {
        if (done_ >= 0) close(done_);
        done_ = -1;
        if (pid_ <= 0) return -1;
        int status = 0;
        const pid_t ended = waitpid(pid_, &status, 0);
        pid_ = -1;
        return ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int done_ = -1;
    bool watching_ = false;
};

}  // namespace e2e
