// Playing anims: every frame in turn at a place, with a delay per frame, a
// number of times; synchronously (pumping events) or as an async-draw
// object the script steps. Without layers the frames are drawn over a
// saved copy of the background; with layers the anim becomes a layer whose
// frame is stepped.
#pragma once

#include <cstdint>

#include "core/argapi.h"
#include "imaging/bitmap.h"

struct ScriptState;
struct qbAnim;
struct qbBGPic;
struct qbLayer;

// The speed presets of PlayAnim and their delays.
enum : int32_t { kAnimSpeedNormal = -1, kAnimSpeedFast = -2, kAnimSpeedSlow = -3, kAnimSpeedDefault = -4 };

// One playback; owned by the command, or by its async-draw object.
struct qbAnimPlay {
    ScriptState* L = nullptr;
    BitmapPtr work;        // the background with the frame on it
    BitmapPtr background;  // the saved rectangle
    qbAnim* anim = nullptr;
    int32_t* lockCount = nullptr;  // the anim's, released with the record
    ObjectID id;
    int32_t layerIndex = 0;
    qbLayer* layer = nullptr;
    int32_t x = 0, y = 0;  // the clipped rectangle on the BGPic
    int32_t delay = 0;     // milliseconds, or kAnimSpeedDefault: each frame's own
    int32_t times = 1;     // 0 repeats until stopped
    int32_t width = 0, height = 0;
    int32_t drawX = 0, drawY = 0, drawWidth = 0, drawHeight = 0;
    int32_t clipX = 0, clipY = 0;  // how far the rectangle was cut at the left and top
    int32_t frame = 1, pass = 1;
    int64_t stamp = 0;  // the previous frame's time, or (async) the next one's due time
    bool async = false;
    bool layers = false;
    double matrix[4] = {1, 0, 0, 1};
    double anchorX = 0, anchorY = 0;
    bool transformed = false;
    bool smooth = false;
    qbBGPic* bgpic = nullptr;
};

// The delay of a speed argument in milliseconds, or kAnimSpeedDefault.
int32_t AnimSpeedToDelay(int32_t speed);

// Draws one frame and schedules the next; *done after the last one.
int AnimPlayStep(qbAnimPlay* play, int32_t* done);
// Releases the anim's lock and frees the bitmaps and the record.
void FreeAnimPlayRecord(qbAnimPlay* play);
// Saves the rectangle of the BGPic as the background, cut at its edges.
// ERR_WRONGUSAGE when nothing is left after the left and top cuts,
// ERR_BITMAP after the right and bottom ones or when out of memory.
int SaveAnimBackground(qbAnimPlay* play, int32_t x, int32_t y, int32_t width, int32_t height);

// Plays the anim of the id at arguments 2 and 3 with the options of
// argument 4 (a table) or the speed and times at speedArg and timesArg.
// Asynchronous play hands back the async-draw object's id.
int PlayAnimCore(ScriptState* L, ObjectID id, bool fromDisk, int speedArg, int timesArg, ObjectID* asyncId);
// Shows frame index (0-based) at x, y with the option table at optArg
// (0 = none): drawn, or with layers on added as a layer.
int DisplayAnimFrameCore(ScriptState* L, ObjectID id, int32_t x, int32_t y, int32_t index, int optArg);

int cmdPlayAnim(ScriptState* L);
int cmdPlayAnimDisk(ScriptState* L);
int cmdDisplayAnimFrame(ScriptState* L);
