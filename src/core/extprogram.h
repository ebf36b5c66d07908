// The "External program thread": runs a program for the dos library's Run and
// reports its end to the main loop as a run-finished sound event.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <string>

#include "core/threads.h"

// One running program. The dos library owns it and keeps it alive until the
// run-finished event (whose id handle is this record) has been delivered and
// the thread stopped.
struct qbRunningProgram {
    std::string program;
    std::string args;
    qbThreadPtr thread;
    // Set by the thread before StartExternalProgramThread returns (0 when the
    // run opened a document and there is no child to watch).
    std::atomic<pid_t> pid{0};
    // The child's wait status, valid once finished is set.
    std::atomic<int> waitStatus{0};
    std::atomic<bool> finished{false};
    // Why the program could not be started; set by the thread before
    // StartExternalProgramThread returns.
    int startError = 0;
};

// Starts the thread, which starts the program. 0; the program's own error
// (ERR_EXECUTE and the like) when it could not be started; ERR_THREAD when
// the thread could not. The record's thread then stays empty.
int StartExternalProgramThread(qbRunningProgram* run);
