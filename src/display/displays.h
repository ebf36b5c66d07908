// The display lifecycle: creating, looking up, activating and freeing
// displays, opening the declared ones at start-up, and freeing them all.
#pragma once

#include <cstdint>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/objectref.h"
#include "display/display.h"

struct ScriptState;

// Not found: ERR_FINDARRAY for a handle id, else ERR_FINDDISPLAY with the
// number as the message's argument.
int GetDisplayRecord(ObjectID id, qbDisplay** out);
// A command's hold on a display (core/objectref.h); the current display is
// held as the one it was when the command found it, its BGPic read from it
// after each Take.
inline int FindDisplayByID(ScriptState*, ObjectID id, qbDisplay** out) { return GetDisplayRecord(id, out); }
using qbDisplayRef = qbObjectRef<qbDisplay, FindDisplayByID>;
// A drawing command's hold on "the display": whichever is current when it is
// taken, as the BGPic and output it draws to are.
inline int FindCurrentDisplay(ScriptState*, ObjectID, qbDisplay** out) {
    *out = GetCurrentDisplay();
    return *out ? 0 : ERR_FINDDISPLAY;
}
using qbCurrentDisplayRef = qbObjectRef<qbDisplay, FindCurrentDisplay>;

// Creates a display as the CreateDisplay command does. A number id frees the
// display of that number first; an id with the choose flag asks for an
// automatic id, whose handle is pushed when L is given. The result count
// (0 or 1) or an error code; *out (may be null) gets the record.
int CreateDisplay(ScriptState* L, NewObjectID id, const qbDisplayOptions* options, qbDisplay** out);
// Refusals in this order: not found (only with reportNotFound), the current
// display, async draws, draw hooks, videos. 0 or the code.
int FreeDisplayCore(ScriptState* L, ObjectID id, bool reportNotFound);
void FreeAllDisplays(ScriptState* L);

// Opens every display that is not hidden and chooses the current one.
int StartDisplays(ScriptState* L);
// Turns what waited for the first display into bitmaps.
int PrepareFirstDisplay(ScriptState* L, qbDisplay* display);
void SetActiveDisplay(ScriptState* L, qbDisplay* display, bool keepWindow);
void ResetDisplayInput(qbDisplay* display);

// Opening and closing a display's window (flags: displaywindow.h). A
// failed adapter close keeps the display open and returns its code.
int OpenDisplayWindow(ScriptState* L, qbDisplay* display, uint32_t flags);
int CloseDisplayCore(ScriptState* L, qbDisplay* display, uint32_t flags);

// Whether async-draw objects (through the hooks the graphics library
// installs) or videos are bound to the display; until the video library
// arrives no display has any videos.
bool DisplayHasAsyncDraws(const qbDisplay* display);
// Whether an async-draw object shows the object (a layer an effect plays in).
bool AsyncDrawUsesObject(const void* object);
// Tells the async-draw objects that a layer is about to be replaced (the
// first refusal, or 0), or that its picture changed.
int32_t NotifyLayerReplaced(void* oldLayer, void* newLayer);
void NotifyLayerImageChanged(void* layer);
// Ends the display's async-draw objects before its picture or buffers go
// (flag 0, as CancelAsyncDraw).
void EndDisplayAsyncDraws(ScriptState* L, const qbDisplay* display);
// Asked before the display's buffers change size: the first refusal of an
// unfinished async-draw object, or 0.
int32_t AsyncDrawsRefuseResize();
bool IsVideoOnDisplay(const qbDisplay* display);

// What the video library answers for the display code; until it installs
// them no display has videos.
struct qbDisplayVideoHooks {
    bool (*onDisplay)(const qbDisplay* display) = nullptr;
    bool (*hitTest)(const qbDisplay* display, int32_t x, int32_t y) = nullptr;
    // A 1-bit mask (rows of rowBytes) of a width x height bitmap of the
    // display, set where videos play; false when none does.
    bool (*areaMask)(const qbDisplay* display, int32_t width, int32_t height, std::vector<uint8_t>* mask,
                     int32_t* rowBytes) = nullptr;
    // The shown picture of each paused or ended video on the display again.
    void (*redraw)(qbDisplay* display) = nullptr;
    // Every video drawn straight onto the display stops (no refresh).
    void (*stop)(ScriptState* L, qbDisplay* display) = nullptr;
    // The window goes away and comes back: its videos keep playing unseen.
    void (*suspend)(qbDisplay* display) = nullptr;
    void (*resume)(qbDisplay* display) = nullptr;
    // The display's scale factors changed: its videos follow.
    void (*rescale)(ScriptState* L, qbDisplay* display) = nullptr;
    // A picture a video playing into its layers handed over (main thread);
    // the hook takes the bitmap.
    void (*layerPicture)(ScriptState* L, qbDisplay* display, const void* owner, BitmapPtr bitmap) = nullptr;
};
void SetDisplayVideoHooks(const qbDisplayVideoHooks* hooks);
bool HitTestVideos(const qbDisplay* display, int32_t x, int32_t y);
bool BuildVideoAreaMask(const qbDisplay* display, int32_t width, int32_t height, std::vector<uint8_t>* mask,
                        int32_t* rowBytes);
void RedrawDisplayVideos(qbDisplay* display);
void StopDisplayVideos(ScriptState* L, qbDisplay* display);
void SuspendDisplayVideos(qbDisplay* display);
void ResumeDisplayVideos(qbDisplay* display);
void RescaleDisplayVideos(ScriptState* L, qbDisplay* display);
void PresentVideoLayerPicture(ScriptState* L, qbDisplay* display, const void* owner, BitmapPtr bitmap);
