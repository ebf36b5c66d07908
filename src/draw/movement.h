// The movement engine: one object (brush, anim, text object, layer, sprite
// or a picture handed in by an effect) travelling from one point to another
// a step per frame, straight or with a bounce, a damped overshoot, a
// slow-down, a sine wave or an arc, playing its frames on the way.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/argapi.h"
#include "core/ostime.h"
#include "imaging/bitmap.h"

struct ScriptState;
struct qbBGPic;
struct qbLayer;

// The ways to travel (the script's constants).
enum : int32_t {
    kMoveStraight = 0,
    kMoveBounce = 1,
    kMoveSmoothOut = 2,
    kMoveDamped = 3,
    kMoveSine = 4,
    kMoveBigSine = 5,
    kMoveLowerCurve = 6,
    kMoveUpperCurve = 7,
};

// What moves: the object types of the system.
enum : int32_t {
    kMoveKindBrush = 3,
    kMoveKindAnim = 4,
    kMoveKindPicture = 7,  // an effect's own picture
    kMoveKindTextObject = 8,
    kMoveKindLayer = 22,
    kMoveKindSprite = 32,
};

// The speed presets (pixels per frame) and animspeed presets.
enum : int32_t { kMoveSpeedNormal = -1, kMoveSpeedFast = -2, kMoveSpeedSlow = -3, kMoveAnimOwnDelays = -4 };

constexpr int kSineTableSize = 79;

struct qbMove;
// One frame: *done is set in the frame that arrives.
using MoveStepFn = int (*)(qbMove* move, int32_t* done);
using MoveCleanupFn = void (*)(qbMove* move);

// One move. The frame images are the object's own unless ownsImages; the
// work and background bitmaps exist in plain mode only. Use counters are
// held from the lookup until the cleanup.
struct qbMove {
    ScriptState* script = nullptr;
    qbBitmap* bitmap = nullptr;
    qbBitmap* mask = nullptr;
    qbBitmap* alpha = nullptr;
    BitmapPtr work;
    BitmapPtr background;
    int32_t kind = 0;
    ObjectID id;  // for layers the index the script gave
    int32_t fx = kMoveStraight;
    int32_t x = 0, y = 0;
    int32_t targetX = 0, targetY = 0;
    int32_t prevX = 0, prevY = 0;  // the rectangle drawn last
    int32_t width = 0, height = 0;
    // A text object's picture lies this far from the point the script names.
    int32_t offsetX = 0, offsetY = 0;
    int32_t speed = 0;  // the step of x
    int32_t stepY = 0;
    int32_t initialStep = 0;  // of x; the overshoot unit
    int32_t initialStepY = 0;
    int32_t animspeed = 0;  // milliseconds between frames, or kMoveAnimOwnDelays
    int32_t phase = 0;      // 0 travelling, 1-8 overshooting, 9 settling a wave
    int32_t slowX = 0, slowY = 0;  // SMOOTHOUT starts within these distances
    int32_t decX = 0, decY = 0;
    int32_t frame = 0;  // 0-based
    int32_t frameCount = 0;
    int32_t direction = 0;  // 0 up, then clockwise to 7 up-left
    int32_t sineStep = 0;
    int32_t sineIndex = 0;
    int32_t bresRemainder = 0;  // the first this many frames give the minor axis one pixel more
    int32_t bresCounter = 0;    // frames so far; the arc's distance for the curves
    double sine[kSineTableSize] = {};  // the wave's y values; [0] the curves' factor
    qbLayer* layer = nullptr;          // null once the layer went
    int32_t layerIndex = 0;
    int32_t viaLayer = 0;  // shown by a layer (moved with RepositionLayer)
    int32_t async = 0;
    int32_t effectDriven = 0;
    int32_t ownsImages = 0;
    int32_t ended = 0;
    TimeValue nextFrame;
    uint32_t blitFlags = 0;
    MoveStepFn step = nullptr;  // kept for the effect that drives the move
    MoveCleanupFn cleanup = nullptr;
    int32_t* useCount = nullptr;
    std::vector<int32_t*> linkedUseCounts;
};

// The request as a command reads it.
struct qbMoveRequest {
    int32_t kind = kMoveKindBrush;
    ObjectID id;
    const char* layerName = nullptr;  // MoveLayer by name
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    int32_t speed = kMoveSpeedNormal;
    int32_t animspeed = -1;
    int32_t fx = kMoveStraight;
    bool async = false;
};

// Runs the move: synchronously to its end, or (async) hands back the id of
// the async-draw object that steps it. 0 or an error code; the record, its
// bitmaps and its use counters are gone after any error.
int MoveObject(ScriptState* L, const qbMoveRequest& request, ObjectID* asyncId);

// The form the SCROLL effects drive: the move of a picture (kMoveKindPicture,
// its images and size in the record) or a layer (layerIndex), stepped by
// move->step once per frame and ended with move->cleanup, which leaves the
// record to the effect. 0 or an error code; the effect cleans up on error.
int StartEffectMove(ScriptState* L, qbMove* move);

// Resolved presets: speed ERR_WRONGUSAGE below 1 after them; animspeed in
// milliseconds (sprites turn kMoveAnimOwnDelays into 60 ms).
int ResolveMoveSpeed(int32_t speed, int32_t* out);
int32_t ResolveAnimSpeed(int32_t animspeed, int32_t kind);

// Steps and presentation (movestep.cpp): sets the direction, the axis steps
// and the fx tables from the record's positions, speed, size and fx. The
// current BGPic's size scales BIGSINE and bounds the overshoot of BOUNCE and
// DAMPED.
void PlanMove(qbMove* move, int32_t bgpicWidth, int32_t bgpicHeight);
// One frame's positions, without drawing; *arrived in the last one.
void AdvanceMove(qbMove* move, bool* arrived);
// Milliseconds the current frame stays: animspeed, or with
// kMoveAnimOwnDelays the anim's own delay of that frame.
int32_t MoveFrameDelay(const qbMove* move);
// One frame: new positions, drawn, frames advanced.
int StepMove(qbMove* move, int32_t* done);
// Draws the object at a place of its own (the start, or the end when the
// script finishes the move early).
int DrawMoveAt(qbMove* move, int32_t x, int32_t y);
// Releases use counters, bitmaps and owned images; frees the record unless
// the move is effect-driven.
void CleanupMove(qbMove* move);
// Whether the recorded layer is still in a BGPic's stack; clears the link
// when it is not.
qbLayer* LiveMoveLayer(qbMove* move);

// The async-draw object's query callback: query 6 answers the moved layer,
// query 0 drops the link to a layer that goes.
int32_t MoveAsyncQuery(int32_t code, void* data, void* userdata);

// Tests watch every frame's positions.
using MoveStepObserver = void (*)(const qbMove& move, void* data);
void SetMoveStepObserver(MoveStepObserver observer, void* data);
