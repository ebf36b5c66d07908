// The spine of the player: start-up in its fixed order, running the main
// chunk, and the shutdown that frees everything in its fixed order.
#pragma once

#include "core/runstate.h"
#include "vm/vm.h"

struct qbApplet;
struct qbCommandLine;

// Runs the player; the result is the process exit status: 0 for success and
// for a user abort, 1 when an error ended start-up or the script, or when no
// applet was named.
int PlayerMain(int argc, char** argv);

// Frees everything and shows the error of exitCode (unless it is 0, negative
// or ERR_USERABORT). Any of the pointers may be null. Returns 0.
int Shutdown(int exitCode, ScriptState* L, qbCommandLine* cl, qbApplet* applet);
