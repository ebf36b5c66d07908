// A developer's switch that makes one command do nothing: the test sweep sets
// it to learn which commands no test would miss. It reads its setting only in
// trees configured with QB_TEST_SWITCHES (tests/sweep/), never in the player
// users run, where the handler below stays null and costs one load per call.
#pragma once

#include "vm/vm.h"

// The handler whose calls end with no error and no results once their
// argument count is accepted; null unless the switch names a command.
extern CommandHandler SkippedHandler;

// Thrown by the argument-count check and caught at the handler's own call.
struct qbCommandSkipped {};

// Called for each command as it is registered: a test tree takes the handler
// of the command QB_SKIP_COMMAND names (any case).
void NoteSkippableCommand(const char* foldedName, CommandHandler handler);
// True when the running native call is the skipped command's.
bool SkipsRunningCommand(ScriptState* L);
// Runs the handler, turning a skip into a call with no results.
int CallSkippableHandler(ScriptState* L, CommandHandler f);
