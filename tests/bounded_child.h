// Runs a call that may hang (a wait on a FIFO, a peer) in a child process,
// so that a hang fails its test instead of holding the suite.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace test_child {

// fn's result (0-255) from a child; -1 when the child did not end by itself
// within a bound that only a hang misses.
inline int InChild(const std::function<int()>& fn) {
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(60);
        _exit(fn());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace test_child
