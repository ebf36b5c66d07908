// What the layer code needs of videos, which live in a library above it:
// the video library installs these when it opens.
#pragma once

struct ScriptState;

struct qbVideoLayerHooks {
    // Frees the videos the script closed (or the hidden copies made for
    // layers) once no layer shows them.
    void (*sweepPending)(ScriptState* L) = nullptr;
};
void SetVideoLayerHooks(const qbVideoLayerHooks* hooks);
const qbVideoLayerHooks& VideoLayerHooks();
