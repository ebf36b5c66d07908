// Runs a piece of work in a forked child so that a test of a bound can tell
// "ended with the right answer" from "still running long after any sane
// cost": the deadline is generous, and only a hang misses it.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

namespace libstest {

enum class ChildEnd { Passed, Failed, Hung };

// work answers true for a right answer; the child exits with it.
inline ChildEnd RunInChild(const std::function<bool()>& work, std::chrono::seconds deadline) {
    const pid_t pid = fork();
    if (pid < 0) return ChildEnd::Failed;
    if (pid == 0) _exit(work() ? 0 : 1);
    const auto until = std::chrono::steady_clock::now() + deadline;
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0) return ChildEnd::Failed;
        if (std::chrono::steady_clock::now() > until) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return ChildEnd::Hung;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ChildEnd::Passed : ChildEnd::Failed;
}

}  // namespace libstest
