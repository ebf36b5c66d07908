// What the dispatcher polls in the subsystems beyond its own input queue:
// script-fed music streams, the network objects and finished programs. Each
// subsystem fills its hooks when it opens; an empty hook is a source with
// nothing to report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "core/argapi.h"

struct ScriptState;
struct qbRunningProgram;

struct qbEventSourceHooks {
    // A playing script-fed music stream that needs data: its id, the samples
    // it lacks and its buffer count.
    bool (*findMusicNeedingData)(ObjectID* id, int32_t* samples, int32_t* count) = nullptr;
    // Runs deliver (the FillMusicBuffer callback) as a fill request of the
    // music of id, which holds it for as long: deliver's result.
    int (*runMusicFill)(ObjectID id, const std::function<int()>& deliver) = nullptr;
    // The network polls walk their object list from *cursor on and answer
    // the next object whose condition holds (each condition once), with the
    // cursor moved past it; false when the rest of the list has none.
    bool (*nextUdpDatagram)(size_t* cursor, ObjectID* id) = nullptr;
    bool (*nextServerClient)(size_t* cursor, ObjectID* server, ObjectID* client) = nullptr;
    bool (*nextConnectionData)(size_t* cursor, ObjectID* id) = nullptr;
    bool (*nextConnectionClosed)(size_t* cursor, ObjectID* id) = nullptr;
    // While network objects are open: waits at most timeoutMs for one of
    // them to have news and answers true; false (at once) when none is open.
    bool (*waitNetwork)(int timeoutMs) = nullptr;
    // The userdata reference a run was given (-1 none), and freeing the
    // record of a finished run once its event was handled or dropped.
    int (*runUserData)(const qbRunningProgram* run) = nullptr;
    void (*freeRun)(ScriptState* L, qbRunningProgram* run) = nullptr;
    // Whether a running program has a value of its own that becomes its
    // finish callback when it is a function and no RunFinished handler is
    // installed.
    bool (*runsWithCallbacks)() = nullptr;
};

void SetEventSourceHooks(const qbEventSourceHooks& hooks);
// The network's wait (see waitNetwork); false when there is none.
bool WaitForNetwork(int timeoutMs);
// Runs the script's "FillMusicBuffer" handler for a script-fed music now,
// as a fill request of that music: 0, the handler's error, or
// ERR_NOFMBHANDLER when none is installed.
int CallFillMusicBuffer(ScriptState* L, ObjectID id, int32_t samples, int32_t count);
bool HasFillMusicBufferHandler();
// The hooks now set, so that one subsystem fills its own and keeps the rest.
qbEventSourceHooks GetEventSourceHooks();
