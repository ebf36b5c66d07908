// Display scaling: autoscale (the picture drawn at the window's size), the
// fit borders of "keepproportions", the scale factors, resizing a display,
// and the scaling a display gets when it is first realised.
#pragma once

#include <cstdint>

struct ScriptState;
struct qbBGPic;
struct qbDisplay;

// The picture's size inside a window of width x height: with
// "keepproportions" (and a picture without mask and alpha) the largest size
// of the picture's proportions, centred, the rest being the fit borders;
// otherwise the whole window and no borders. The window draws the picture
// at the top-left border, so the window's drawing offset follows it.
void ComputeFitBorders(qbDisplay* display, const qbBGPic* picture, int32_t width, int32_t height,
                       int32_t* scaledWidth, int32_t* scaledHeight);
void ClearFitBorders(qbDisplay* display);
// Whether the display has a scale size on both sides.
bool HasScaleSize(const qbDisplay* display);
// The size the picture is shown at while scaling: the scale size less the
// fit borders.
void GetScaledPictureSize(const qbDisplay* display, int32_t* width, int32_t* height);
// Shown size / picture size while scaling with a scale size, else 1.0.
void SetDisplayScaleFactors(qbDisplay* display);
// Rebuilds the buffers and, for a scaling display, brings it to its scale
// size (or its monitor, with "fitscale").
int ApplyInitialScaling(ScriptState* L, qbDisplay* display);

struct qbResizeRequest {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool move = false;      // the position and size are the window's new ones
    bool smooth = false;    // smooth scaling of the picture
    bool noWindow = false;  // the window is left alone
    bool quiet = false;     // the draw hooks are not told
};
// A scaling display takes the size as its scale size and keeps its picture;
// any other display gets its picture scaled (or, when the display made it,
// filled again) at the new size. ERR_DISPLAYSIZE for a size the window
// cannot have, ERR_BITMAP when the new picture can't be made.
int ResizeDisplay(ScriptState* L, qbDisplay* display, const qbResizeRequest& request);
// Asks the window system, before anything changes, whether the display's
// window can have the size: ERR_DISPLAYSIZE with the size as the detail
// when it cannot (an X window's sides are 16-bit), else 0. Every road that
// hands a size to an open window, or opens one, asks here first.
int RefuseUnsupportedWindowSize(qbDisplay* display, int32_t width, int32_t height);
// The layer scaling engine's picture gets a new own size (drawn anew, or
// its backdrop filled again) and is shown at the unchanged scale size, its
// layers at the new factors. ERR_BADDIMENSIONS, ERR_BITMAP or the
// renderer's code.
int ResizeLayeredPicture(ScriptState* L, qbDisplay* display, int32_t width, int32_t height);
// A new picture for the display at the size: its own backdrop filled again
// by its fill settings, or its picture scaled. ERR_BITMAP or the fill's code.
int RebuildDisplayPicture(qbDisplay* display, int32_t width, int32_t height, bool smooth);
