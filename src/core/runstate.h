// The state of the running process that every layer may ask about: the VM
// state main created, whether start-up still requires adapters, whether
// shutdown has begun, the start-up progress, the temporary files to delete,
// and the process flags the options set.
#pragma once

#include "vm/vm.h"

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

// The VM state that main created (null outside a run).
ScriptState* GetMainState();
void SetMainState(ScriptState* L);

// The protected call of the loaded main chunk (on the stack top), through
// the runner start-up installs (the display adapter's main loop); 0 or the
// error code that ended it. Without a runner the chunk is called directly.
using MainChunkRunner = int (*)(ScriptState* L);
void SetMainChunkRunner(MainChunkRunner runner);
int RunMainChunk(ScriptState* L);

// Plugins may install adapters only while start-up requires them.
bool IsAdapterWindowOpen();
void SetAdapterWindowOpen(bool open);
bool IsShuttingDown();
void SetShuttingDown(bool on);
// A temporary file made for a compressed applet; deleted at shutdown.
int AddTemporaryFile(const char* path);
// Deletes the temporary files made so far (Shutdown does it too).
void DeleteTemporaryFiles();

// Process flags set by the options; read where they take effect.
struct qbStartupFlags {
    int overridePlacement = 0;  // saved display placements are not restored
    int noChdir = 0;            // the loader keeps the current directory
    int debugOutput = 0;
    int noDebug = 0;
    int forceFlush = 0;
};
extern qbStartupFlags StartupFlags;
