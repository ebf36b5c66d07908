// The spine of the player: start-up in its fixed order, running the main
// chunk, and the shutdown that frees everything in its fixed order.
#pragma once

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

// The start-up progress display: a value and the step it advances by.
struct qbStartupProgress {
    double progress = 0.0;
    double step = 0.0;
};
extern qbStartupProgress StartupProgress;

// Adds the step; ERR_USERABORT when the user broke off, else 0.
int AdvanceStartupProgress();
// 1 when no applet is loaded or the applet is at least major.minor; else 0
// with the requested version as the error detail.
int RequireAppletVersion(int major, int minor);

// The protected call of the loaded main chunk (on the stack top); 0 or the
// error code that ended it.
int RunMainChunk(ScriptState* L);

// The VM state that main created (null outside a run).
ScriptState* GetMainState();
void SetMainState(ScriptState* L);

// Plugins may install adapters only while start-up requires them.
bool IsAdapterWindowOpen();
void SetAdapterWindowOpen(bool open);
bool IsShuttingDown();
// A temporary file made for a compressed applet; deleted at shutdown.
int AddTemporaryFile(const char* path);
// Deletes the temporary files made so far (Shutdown does it too).
void DeleteTemporaryFiles();
