// Asynchronous-drawing objects (type 37): the effects, object moves and
// anims that the script draws frame by frame with AsyncDrawFrame.
#pragma once

#include <cstdint>

#include "core/objects.h"

struct ScriptState;
struct qbDisplay;

constexpr int kObjectTypeAsyncDraw = 37;

enum : int32_t { ADF_FX = 0, ADF_MOVEOBJECT = 1, ADF_ANIM = 2 };

// Codes of the query callback.
enum : int32_t {
    kAsyncQueryLayerReplaced = 0,  // data: qbAsyncLayerReplacement*; the old layer is about to go
    kAsyncQueryImageChanged = 1,   // data: void*, the layer whose picture changed
    kAsyncQueryFrameCount = 2,    // result: the number of frames
    kAsyncQueryCurrentFrame = 3,  // result: the frame drawn last
    kAsyncQueryJump = 4,          // data: int32_t frame; result 0 or an error code
    kAsyncQueryRedraw = 5,        // redraw the current frame (output without layers)
    kAsyncQueryShowingLayer = 6,  // data: void*, gets the layer that shows the effect
    kAsyncQueryBusy = 7,          // data: int32_t, gets a refusal code or 0
    kAsyncQueryDrawing = 8,       // data: int32_t, 1 before a frame into layers, 0 after
    kAsyncQueryBGPicInUse = 9,    // data: void*, gets the BGPic the object draws into
};

// What kAsyncQueryLayerReplaced carries: the layer going away and the one
// that takes its place.
struct qbAsyncLayerReplacement {
    void* oldLayer = nullptr;
    void* newLayer = nullptr;
};

// The owner's callbacks. drawFrame sets *done once it drew the last frame;
// free gets 1 when the object ran out of frames or was finished, else 0.
using AsyncDrawFrameFn = int (*)(void* userdata, int32_t* done);
using AsyncFinishFn = void (*)(void* userdata, int32_t* done);
using AsyncFreeFn = void (*)(void* userdata, int32_t flag);
using AsyncQueryFn = int32_t (*)(int32_t code, void* data, void* userdata);

struct qbAsyncDrawCallbacks {
    AsyncDrawFrameFn drawFrame = nullptr;
    void* spare = nullptr;  // kept for the owner, never called here
    AsyncFinishFn finish = nullptr;
    AsyncFreeFn free = nullptr;
    AsyncQueryFn query = nullptr;
};

// Records are owned by the async-draw list from AddAsyncDraw to removal.
struct qbAsyncDraw : qbObject {
    qbDisplay* display = nullptr;  // current when the object was made
    int32_t kind = ADF_FX;
    int32_t done = 0;
    qbAsyncDrawCallbacks callbacks;
    void* userdata = nullptr;
};

struct qbObjectList;
qbObjectList* AsyncDrawListHead();

// Appends a record with an automatic id on the current display; 0 or ERR_MEM.
int AddAsyncDraw(int32_t kind, const qbAsyncDrawCallbacks& callbacks, void* userdata, qbAsyncDraw** out);
// Not found: ERR_FINDARRAY for a handle id, else ERR_FINDASYNCDRAW with the
// number as the message's argument.
int FindAsyncDraw(ObjectID id, qbAsyncDraw** out);
// Unlinks the object, calls its free callback with flag and frees it.
// A null state (after the VM closed) frees the named data's nodes only.
void RemoveAsyncDraw(ScriptState* L, qbAsyncDraw* record, int32_t flag);
void FreeAllAsyncDraws(ScriptState* L);
// The same for the objects bound to one display.
void FreeAsyncDrawsOn(ScriptState* L, const qbDisplay* display);
// Whether an object is bound to the display.
bool AnyAsyncDrawOn(const qbDisplay* display);
// The first refusal of an unfinished object to the operation now starting.
int32_t CheckAsyncDrawsBusy();
// Tells every object of the change until one refuses: its code, or 0.
int32_t NotifyAsyncDraws(int32_t code, void* data);
// True when some object's effect is shown by that layer.
bool IsObjectUsedByAsyncDraw(const void* object);

// Query helpers: 0 when the owner gave no query callback.
int32_t QueryAsyncDraw(const qbAsyncDraw* record, int32_t code, void* data);
