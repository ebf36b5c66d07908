// What the layer code needs of videos, which live in a library above it:
// the video library installs these when it opens.
#pragma once

#include <cstdint>

#include "core/argapi.h"

struct ScriptState;
struct qbDisplay;
struct qbLayer;

// What the video-layer commands do to the layer's video.
enum : int32_t {
    kVideoLayerVolume = 0,
    kVideoLayerSeek,
    kVideoLayerResume,
    kVideoLayerPause,
    kVideoLayerStop,
    kVideoLayerPlay,
};

struct qbVideoLayerHooks {
    // Frees the videos the script closed (or the hidden copies made for
    // layers) once no layer shows them, and stops a video playing into
    // layers when none is left.
    void (*sweepPending)(ScriptState* L) = nullptr;
    // One video-layer command on the video id (closed videos included):
    // the video operation's error.
    int (*command)(ScriptState* L, ObjectID id, int32_t op, double argument) = nullptr;
    // Layers go off on the display: its videos stop playing into layers.
    void (*stopDisplayLayers)(ScriptState* L, qbDisplay* display) = nullptr;
    // A video layer's attribute (the video's numbers for frames, duration,
    // position, format, can-seek, playing, paused): a number, or a text
    // when *text is set. ERR_UNKNOWNATTR for the others.
    int (*attribute)(ObjectID id, int32_t attribute, double* number, const char** text) = nullptr;
    // InsertLayer of a video: its first picture as a layer at pos with the
    // AddLayer flags. The lookup's or the grab's error.
    int (*insert)(ScriptState* L, ObjectID id, int32_t x, int32_t y, int32_t pos, uint32_t addFlags,
                  qbLayer** out) = nullptr;
};
void SetVideoLayerHooks(const qbVideoLayerHooks* hooks);
const qbVideoLayerHooks& VideoLayerHooks();
