// What the VM needs of the program that embeds it, handed in once at
// start-up as one record of functions (the way an embeddable interpreter
// takes its allocator and panic function): error texts and details, the
// place of a raise, the road of a failed command's code, the call tracer's
// console, and the one command that must still see the last error code.
// Without a host the VM runs alone on the defaults named below.
#pragma once

#include <cstddef>

#include "vm/vm.h"

// Size of the buffer that VmHost::errorText fills.
constexpr size_t kVmErrorTextSize = 1024;

struct VmHost {
    // The text of an error code, into kVmErrorTextSize bytes; printed when a
    // raise finds no protected run (the process then exits). Default:
    // "error N".
    int (*errorText)(int code, char* out) = nullptr;
    // The name or value that fills an error text's placeholder, and the
    // argument index a failed checker blames; both are set just before the
    // raise. Default: dropped.
    void (*setErrorDetail)(const char* text) = nullptr;
    void (*setErrorArgIndex)(int index) = nullptr;
    // Told of every raise before it unwinds, while the raising frame is
    // still current: the line of a script frame, -1 in a native one.
    // Default: nothing.
    void (*noteRaise)(ScriptState* L, int line) = nullptr;
    // An error code that a native command (or a native metamethod or
    // finaliser) returned and no script handler took, once its call is
    // over: raises it, or returns for the script to go on. Default: the code
    // becomes the last error code and is raised.
    int (*commandError)(ScriptState* L, int code) = nullptr;
    // Offered a native command's error code first, while the command's frame
    // is still current; answers the code that stands (0: handled). Never
    // offered a code while it runs. Default: answers the code.
    int (*scriptErrorHandler)(ScriptState* L, int code) = nullptr;
    // The call tracer's lines. Default: standard output.
    void (*print)(const char* text) = nullptr;
    // The command that reports the last error code, which must not be
    // cleared before it runs. Default: none.
    CommandHandler keepsLastError = nullptr;
};

// Installs a copy of the host (main thread, before scripts run); null
// fields, and a null host, take the defaults.
void VmSetHost(const VmHost* host);

// The code of the last failed command: cleared before every native call but
// that of keepsLastError, set by the command-error road. A plain word, as
// the call path writes it on every native call.
extern int VmLastErrorCode;
