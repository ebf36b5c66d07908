// The external-program thread: starts the program, then polls the child every
// 10 ms and posts one run-finished event however the child ended.
#include "core/extprogram.h"

#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "core/errcodes.h"
#include "core/programs.h"
#include "core/soundevents.h"

namespace {

constexpr auto kPollPeriod = std::chrono::milliseconds(10);
constexpr size_t kStackSize = 65536;

// True once the child is gone. Exits and deaths by a signal alike end the
// run: a script waiting for a killed program must hear of it too. A child
// that someone else reaped (ECHILD) is gone as well.
bool ChildEnded(pid_t pid, int* status) {
    *status = 0;
    pid_t got = waitpid(pid, status, WNOHANG);
    if (got == pid) return WIFEXITED(*status) || WIFSIGNALED(*status);
    return got < 0 && errno == ECHILD;
}

void ReportEnd(qbRunningProgram* run, int status) {
    run->waitStatus.store(status);
    run->finished.store(true);
    PushSoundEvent(kSoundEventRunFinished, ObjectID{0, run}, 0, 0, 0, 1);
}

void ExternalProgramBody(void* arg) {
    qbThread* thread = GetThreadFromArg(arg);
    auto* run = static_cast<qbRunningProgram*>(GetThreadUserData(thread));
    pid_t pid = 0;
    if (int err = RunProgram(run->program.c_str(), run->args.c_str(), 1, run, &pid)) {
        run->startError = err;
        SetThreadStartResult(thread, 1);
        return;
    }
    run->pid.store(pid);
    SignalThreadStarted(thread);

    if (pid <= 0) {
        // A document handed to the desktop: there is no child to wait for.
        ReportEnd(run, 0);
    } else {
        while (!IsThreadStopRequested(thread)) {
            int status = 0;
            if (ChildEnded(pid, &status)) {
                ReportEnd(run, status);
                break;
            }
            std::this_thread::sleep_for(kPollPeriod);
        }
    }
    WaitThreadRelease(thread);
}

}  // namespace

int StartExternalProgramThread(qbRunningProgram* run) {
    run->startError = 0;
    run->thread = StartThread("External program thread", ExternalProgramBody, run, 0, kStackSize, 0);
    if (run->thread) return 0;
    return run->startError ? run->startError : ERR_THREAD;
}
