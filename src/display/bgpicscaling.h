// A BGPic under its display's scaling. Picture scaling (the layer scaling
// engine) renders the picture and its layers afresh at the size the window
// shows them; output scaling (autoscale) keeps the picture and scales the
// finished frame, so only the window's shape planes follow the window.
#pragma once

#include "imaging/bitmap.h"

struct ScriptState;
struct qbBGPic;
struct qbDisplay;

// What the layers library does when a BGPic's display scale changes; it
// installs them. Without them a BGPic has no layers to rescale.
struct qbLayerScalingHooks {
    // Every layer of the BGPic gets its shown state anew at the display's
    // factors (the transformed state itself at factors 1.0). 0 or the first
    // layer's error.
    int (*rescaleAll)(ScriptState* L, qbDisplay* display, qbBGPic* bgpic);
    // Every display-scaled shown state goes; the transformed state is shown.
    void (*dropScaled)(ScriptState* L, qbBGPic* bgpic);
};
void SetLayerScalingHooks(const qbLayerScalingHooks* hooks);

// The display's picture and output scaling words follow its layer scale
// and autoscale settings.
void SyncDisplayScalingWords(qbDisplay* display);
// Picture scaling with a scale size: the display's BGPic and layers are
// drawn at the window's size.
bool DisplayScalesPicture(const qbDisplay* display);

// Renders the BGPic at the size the display shows it (its scale size less
// the fit borders) as its current picture, sets the display's factors to
// that size over the base size, rebuilds the display's buffers when asked
// and rescales the layers. ERR_BITMAP or the renderer's or layers' code;
// on a render error the picture is unchanged.
int FitBGPicToDisplay(ScriptState* L, qbDisplay* display, qbBGPic* record, bool resetBuffers);
// The display's scaling applied to a BGPic it is about to show: fitted
// under picture scaling (only the factors set when it has the size
// already), the factors and the window's scaled shape planes (null when the
// picture has none) under output scaling, else factors 1.0.
int ApplyDisplayScaleToBGPic(ScriptState* L, qbDisplay* display, qbBGPic* record, BitmapPtr* mask,
                             BitmapPtr* alpha);
// The BGPic at its base size again: the current picture freed where it is
// its own, the display-scaled states of its layers dropped, and the
// display's buffers rebuilt when asked. The factors are the caller's.
int UnscaleBGPic(ScriptState* L, qbDisplay* display, qbBGPic* record, bool rebuild);
// The picture's mask and alpha scaled to width x height for a window's
// shape; both null when the picture has neither. ERR_BITMAP and the plane
// codes.
int ScaleShapePlanes(const qbBGPic* record, int32_t width, int32_t height, bool smooth, BitmapPtr* mask,
                     BitmapPtr* alpha);
