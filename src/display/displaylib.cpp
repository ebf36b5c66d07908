// The "display" library: its command table and constants, and the commands
// that create, open, close, move, resize and retitle displays and list
// monitors and modes. Menus are in displaymenus.cpp.
#include "display/displaylib.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/settings.h"
#include "core/truth.h"
#include "display/adapter.h"
#include "display/bgpics.h"
#include "display/bgpicscaling.h"
#include "display/displayhooks.h"
#include "display/displaymenus.h"
#include "display/displayoptions.h"
#include "display/displays.h"
#include "display/displayscaling.h"
#include "display/displaywindow.h"
#include "display/doublebuffer.h"
#include "display/positions.h"
#include "display/refresh.h"
#include "display/selection.h"
#include "imaging/clipboardbitmaps.h"
#include "imaging/scale.h"
#include "platform/platform_ops.h"

namespace {

constexpr int32_t kKeepPosition = 100000;

// Flags whose change needs a new window.
constexpr uint32_t kReopenFlags = kDispBorderless | kDispSizeable | kDispFixed | kDispNoHide | kDispUseQuartz |
                                  kDispNoClose | kDispKeepProportions | kDispFitScale | kDispKeepScreenOn |
                                  kDispHideFromTaskbar | kDispHideOptionsMenu | kDispNoHardwareScale;

const ScriptConstant kDisplayConstants[] = {
    {"DISPSTATE_OPEN", nullptr, 1},         {"DISPSTATE_CLOSED", nullptr, 0},
    {"DISPSTATE_MINIMIZED", nullptr, 2},    {"DISPMODE_FULLSCREEN", nullptr, 2},
    {"DISPMODE_WINDOWED", nullptr, 1},      {"DISPMODE_ASK", nullptr, 3},
    {"DISPMODE_MODEREQUESTER", nullptr, 4}, {"DISPMODE_FAKEFULLSCREEN", nullptr, 6},
    {"SCALEMODE_NONE", nullptr, 0},         {"SCALEMODE_AUTO", nullptr, 1},
    {"SCALEMODE_LAYER", nullptr, 2},        {"KEEPPOSITION", nullptr, kKeepPosition},
    {"ORIENTATION_NONE", nullptr, 0},       {"ORIENTATION_PORTRAIT", nullptr, 1},
    {"ORIENTATION_LANDSCAPE", nullptr, 3},  {"ORIENTATION_PORTRAITREV", nullptr, 2},
    {"ORIENTATION_LANDSCAPEREV", nullptr, 4}, {"DENSITY_NONE", nullptr, 0},
    {"DENSITY_LOW", nullptr, 1},            {"DENSITY_MEDIUM", nullptr, 2},
    {"DENSITY_HIGH", nullptr, 3},           {"MENUITEM_TOGGLE", nullptr, 1},
    {"MENUITEM_SELECTED", nullptr, 2},      {"MENUITEM_DISABLED", nullptr, 4},
    {nullptr, nullptr, 0},
};

const ScriptCommand kDisplayCommands[] = {
    {"CreateDisplay", cmdCreateDisplay},
    {"FreeDisplay", cmdFreeDisplay},
    {"OpenDisplay", cmdOpenDisplay},
    {"CloseDisplay", cmdCloseDisplay},
    {"SelectDisplay", cmdSelectDisplay},
    {"ActivateDisplay", cmdActivateDisplay},
    {"ShowDisplay", cmdShowDisplay},
    {"HideDisplay", cmdHideDisplay},
    {"MoveDisplay", cmdMoveDisplay},
    {"ChangeDisplaySize", cmdChangeDisplaySize},
    {"SetTitle", cmdSetTitle},
    {"SetDisplayAttributes", cmdSetDisplayAttributes},
    {"ChangeDisplayMode", cmdChangeDisplayMode},
    {"GetDisplayModes", cmdGetDisplayModes},
    {"GetMonitors", cmdGetMonitors},
    {"CreateMenu", cmdCreateMenu},
    {"FreeMenu", cmdFreeMenu},
    {"SelectMenuItem", cmdSelectMenuItem},
    {"DeselectMenuItem", cmdDeselectMenuItem},
    {"IsMenuItemSelected", cmdIsMenuItemSelected},
    {"DisableMenuItem", cmdDisableMenuItem},
    {"EnableMenuItem", cmdEnableMenuItem},
    {"IsMenuItemDisabled", cmdIsMenuItemDisabled},
    {nullptr, nullptr},
};

// Every command that works on "the display" needs one.
int CurrentDisplay(qbDisplay** out) {
    *out = GetCurrentDisplay();
    return *out ? 0 : ERR_FINDDISPLAY;
}

// The monitor list the monitor commands read: through the current display's
// adapter route, or a neutral record before any display exists.
MonitorList Monitors() {
    if (qbDisplay* d = GetCurrentDisplay()) return GetMonitorList(d);
    qbDisplay probe;
    return GetMonitorList(&probe);
}

int CountAllMonitors() {
    int count = 0;
    MonitorList list = Monitors();
    for (const qbMonitorEntry* m = list.get(); m; m = m->next.get()) ++count;
    return count;
}

// "monitor" of OpenDisplay and ChangeDisplayMode: a new monitor centres the
// display on it. *changed tells whether it moved.
int ReadMonitorChange(ScriptState* L, int idx, qbDisplayRef& display, bool* changed) {
    int32_t monitor = 0;
    bool given = false;
    *changed = false;
    if (int err = ParseMonitorKey(L, idx, &monitor, &given)) return err;
    if (!given) return 0;
    if (monitor >= CountAllMonitors()) return ERR_MONITORRANGE;
    qbTaken<qbDisplay> d = nullptr;
    if (int err = display.Take(&d)) return err;
    if (monitor != d->monitor) {
        d->monitor = monitor;
        d->x = d->y = kPositionCenter;
        d->relativeX = d->relativeY = 1;
        *changed = true;
    }
    return 0;
}

// The screen-mode keys of OpenDisplay and ChangeDisplayMode into the
// display's mode, as far as they were read when a key failed.
int ReadScreenMode(ScriptState* L, int idx, qbDisplayRef& display) {
    qbTaken<qbDisplay> d = nullptr;
    if (int err = display.Take(&d)) return err;
    qbScreenMode screen = d->screen;
    const int err = ParseScreenModeOptions(L, idx, &screen);
    if (int gone = display.Take(&d)) return gone;
    d->screen = screen;
    return err;
}

void PushRect(ScriptState* L, const char* keys[4], const int32_t values[4]) {
    VmPushNewTable(L);
    for (int i = 0; i < 4; ++i) SetTableFieldInt(L, keys[i], values[i]);
}

bool HasShapePlanes(const qbBGPic* picture) { return picture && (picture->current.mask || picture->current.alpha); }

// Whether the attributes asked replace the display's picture or change the
// size, scaling or fill of its picture and buffers.
bool ChangesPictureOrBuffers(ScriptState* L, const qbDisplay* d, const qbParsedDisplayOptions& p) {
    const qbParsedDisplayOptions now = OptionsOfDisplay(d);
    const qbDisplayOptions &o = p.options, &n = now.options;
    if (p.bgpicGiven) {
        qbBGPic* picture = nullptr;
        if (GetBGPic(L, o.bgpic, &picture, 0) == 0 && picture != d->bgpic) return true;
    }
    return o.width != n.width || o.height != n.height || o.scaleWidth != n.scaleWidth ||
           o.scaleHeight != n.scaleHeight || o.autoscale != n.autoscale || o.layerScale != n.layerScale ||
           o.fill.style != n.fill.style || o.fill.colour != n.fill.colour ||
           !(o.fill.textureBrush == n.fill.textureBrush) || ((o.flags ^ n.flags) & kReopenFlags) != 0;
}

}  // namespace

// The attribute change of an existing display (SetDisplayAttributes).
int ApplyDisplayAttributes(ScriptState* L, int idx, qbDisplay* changed, bool fromCommand) {
    qbDisplayRef display(L, changed);
    qbParsedDisplayOptions p = OptionsOfDisplay(changed);
    qbTaken<qbDisplay> d = nullptr;
    if (int err = ParseDisplayOptions(L, idx, &p, false, &display)) return err;
    if (int err = display.Take(&d)) return err;
    // A size the open window cannot have is refused before anything changes.
    if (d->state != DISPSTATE_CLOSED) {
        const qbDisplayOptions& asked = p.options;
        const bool scales = asked.autoscale || asked.layerScale;
        const int32_t width = scales && asked.scaleWidth ? asked.scaleWidth : asked.width;
        const int32_t height = scales && asked.scaleHeight ? asked.scaleHeight : asked.height;
        if (width != d->width || height != d->height)
            if (int err = RefuseUnsupportedWindowSize(d, width, height)) return err;
    }
    // The display's drawings work on its picture and buffers: they end
    // before a change frees or resizes either.
    if (ChangesPictureOrBuffers(L, d, p)) EndDisplayAsyncDraws(L, d);
    const bool open = d->state != DISPSTATE_CLOSED;
    const bool scaledBefore = (d->autoscale || d->layerScale) && HasScaleSize(d);
    if (scaledBefore && !p.options.autoscale && !p.options.layerScale && d->bgpic) {
        // Scaling ends at the picture's own size, which the rest of the
        // table then reads as the display's.
        qbResizeRequest back;
        back.width = d->bgpic->baseWidth;
        back.height = d->bgpic->baseHeight;
        back.noWindow = !open;
        back.smooth = d->smoothScale != 0;
        if (int err = ResizeDisplay(L, d, back)) return err;
        p = OptionsOfDisplay(d);
        if (int err = ParseDisplayOptions(L, idx, &p, false, &display)) return err;
        if (int err = display.Take(&d)) return err;
    }
    const qbDisplayOptions& o = p.options;
    const uint32_t oldFlags = d->flags;
    const bool titleChanged = std::strcmp(d->title, o.title.c_str()) != 0;
    const bool menuChanged = p.menuGiven && p.menu != d->menu;
    bool shapeChanged = false;
    if (p.bgpicGiven) {
        qbBGPic* picture = nullptr;
        if (int err = GetBGPic(L, o.bgpic, &picture, 0)) return err;
        if (picture != d->bgpic) {
            // Videos draw onto the picture they started on.
            StopDisplayVideos(L, d);
            // Drawing into the old picture's buffers or into a selection
            // ends with it.
            if (IsDoubleBuffering(d) || d->doubleBufferSuspended)
                if (int err = EndDoubleBufferCore(L, d)) return err;
            if (int err = EndOutputSelection(L, d, false)) return err;
            shapeChanged = HasShapePlanes(d->bgpic) || HasShapePlanes(picture);
            // The display's own picture has no id a script knows: it goes.
            qbBGPic* old = d->ownsBGPic ? d->bgpic : nullptr;
            // A picture the script keeps returns to its own size.
            if (!old && d->bgpic && d->layerScale)
                if (int err = UnscaleBGPic(L, d, d->bgpic, false)) return err;
            d->bgpic = picture;
            d->ownsBGPic = 0;
            if (old) UnlinkAndFreeBGPic(L, old);
            // A freed picture this display kept showing can go now.
            FreeUnusedPendingBGPics(L);
            d->shapeMask.reset();
            d->shapeAlpha.reset();
            d->outputPosition[0] = d->outputPosition[1] = d->outputPosition[2] = 0;
            d->outputPosition[3] = picture->baseWidth - 1;
            SyncDisplayScalingWords(d);
            if (HasScaleSize(d) && (d->autoscale || d->layerScale))
                ComputeFitBorders(d, picture, d->scaleWidth, d->scaleHeight, nullptr, nullptr);
            if (int err = ApplyDisplayScaleToBGPic(L, d, picture, &d->shapeMask, &d->shapeAlpha)) return err;
            if (int err = ResetDisplayBuffers(d, picture)) return err;
            if (d == GetCurrentDisplay()) SetCurrentOutputBGPic(picture);
        }
    }
    const bool fillChanged = d->bgpic && d->bgpic->madeByDisplay &&
                             (o.fill.style != d->fill.style || o.fill.colour != d->fill.colour ||
                              !(o.fill.textureBrush == d->fill.textureBrush));
    // A switch between the two engines draws the picture anew: the layer
    // scaling engine's picture at the window's size goes back to its own.
    const bool engineChanged = (d->layerScale != 0) != (o.layerScale != 0) || (d->autoscale != 0) != (o.autoscale != 0);
    if (d->layerScale && !o.layerScale && d->bgpic) {
        d->scaleX = d->scaleY = 1.0;
        if (int err = UnscaleBGPic(L, d, d->bgpic, true)) return err;
    }
    std::memcpy(d->title, o.title.c_str(), o.title.size() + 1);
    d->flags = o.flags;
    d->autoscale = o.autoscale;
    d->layerScale = o.layerScale;
    d->smoothScale = o.smoothScale;
    SyncDisplayScalingWords(d);
    const int32_t oldMonitor = d->monitor;
    ApplyParsedDisplayOptions(d, p);
    // On another monitor the coordinates not given centre the display there.
    const bool monitorChanged = d->monitor != oldMonitor;
    if (monitorChanged) {
        if (!p.xGiven) p.options.x = kPositionCenter;
        if (!p.yGiven) p.options.y = kPositionCenter;
        p.xGiven = p.yGiven = true;
        d->relativeX = d->relativeY = 1;
    }
    if (fillChanged) {
        d->fill = o.fill;
        if (int err = RebuildDisplayPicture(d, d->bgpic->currentWidth, d->bgpic->currentHeight, false)) return err;
        if (int err = ResetDisplayBuffers(d, d->bgpic)) return err;
    }
    const bool scaling = d->autoscale || d->layerScale;
    const int32_t wantWidth = scaling && o.scaleWidth ? o.scaleWidth : o.width;
    const int32_t wantHeight = scaling && o.scaleHeight ? o.scaleHeight : o.height;
    if (!scaling) {
        d->scaleWidth = d->scaleHeight = 0;
        ClearFitBorders(d);
        SetDisplayScaleFactors(d);
    } else {
        d->scaleWidth = o.scaleWidth;
        d->scaleHeight = o.scaleHeight;
    }
    // Under the layer scaling engine "width" and "height" are the picture's
    // own size; the window keeps the scale size.
    if (d->layerScale && HasScaleSize(d) && d->bgpic &&
        (o.width != d->bgpic->baseWidth || o.height != d->bgpic->baseHeight)) {
        if (int err = ResizeLayeredPicture(L, d, o.width, o.height)) return err;
    }
    const bool moved = monitorChanged || (p.xGiven && o.x != d->x) || (p.yGiven && o.y != d->y);
    const bool sized = wantWidth != d->width || wantHeight != d->height || (scaling && engineChanged);
    if (sized || moved) {
        qbResizeRequest r;
        r.x = p.xGiven ? o.x : (moved ? d->x : kPositionCenter);
        r.y = p.yGiven ? o.y : (moved ? d->y : kPositionCenter);
        r.width = wantWidth;
        r.height = wantHeight;
        r.move = true;
        r.noWindow = true;
        r.quiet = true;
        r.smooth = d->smoothScale != 0;
        if (int err = ResizeDisplay(L, d, r)) return err;
    }
    if (!open) {
        if (sized) NotifyDisplayResized(d, d->width, d->height);
        return 0;
    }
    if (((oldFlags ^ d->flags) & kReopenFlags) || (shapeChanged || (sized && HasShapePlanes(d->bgpic)))) {
        if (int err = CloseDisplayCore(L, d, kCloseKeepBrushes | kCloseModeSwitch)) return err;
        return RealizeDisplay(L, d, d->activateOnOpen != 0, true);
    }
    ApplyDisplayRegions(d, !(sized || moved));
    if (titleChanged) UpdateDisplayTitle(d);
    if (menuChanged && !d->fullScreen && !HasDisplayAdapter()) UpdateWindowMenuBar(d);
    if (sized) NotifyDisplayResized(d, d->width, d->height);
    if (fromCommand) RefreshDisplay(L, d);
    return 0;
}

int cmdCreateDisplay(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    qbParsedDisplayOptions parsed;
    if (VmType(L, 2) == kTypeTable) {
        if (int err = ParseDisplayOptions(L, 2, &parsed, true, nullptr)) return err;
    } else if (VmType(L, 2) != kTypeNil && VmType(L, 2) != kTypeNone) {
        return ERR_TABLEORNIL;
    }
    qbDisplay* d = nullptr;
    const int results = CreateDisplay(L, id, &parsed.options, &d);
    if (!d) return results;
    ApplyParsedDisplayOptions(d, parsed);
    if (!PicturesPending()) {
        if (int err = ApplyInitialScaling(L, d)) {
            FreeDisplayCore(L, IDOf(*d), false);
            return err;
        }
    }
    return results;
}

int cmdFreeDisplay(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    if (IsVideoRecording()) return ERR_WRONGCMDRECVIDEO;
    return FreeDisplayCore(L, GetObjectIDArg(L, 1), true);
}

int cmdOpenDisplay(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    if (IsVideoRecording()) return ERR_WRONGCMDRECVIDEO;
    qbDisplayRef display(L, GetObjectIDArg(L, 1));
    qbTaken<qbDisplay> d = nullptr;
    if (int err = display.Take(&d)) return err;
    if (d->state != DISPSTATE_CLOSED) return ERR_WRONGUSAGE;
    bool noSelect = false;
    if (VmType(L, 2) == kTypeTable) {
        noSelect = GetTableFieldFlag(L, 2, "noselect");
        bool changed = false;
        if (int err = ReadMonitorChange(L, 2, display, &changed)) return err;
        if (int err = ReadScreenMode(L, 2, display)) return err;
        int32_t x = 0, y = 0;
        const bool xGiven = GetTableFieldInt(L, 2, "x", &x, nullptr) != 0;
        const bool yGiven = GetTableFieldInt(L, 2, "y", &y, nullptr) != 0;
        if (int err = display.Take(&d)) return err;
        if (xGiven) {
            d->x = x;
            d->relativeX = 1;
        }
        if (yGiven) {
            d->y = y;
            d->relativeY = 1;
        }
        // Script code there may have opened it.
        if (d->state != DISPSTATE_CLOSED) return ERR_WRONGUSAGE;
    } else {
        noSelect = GetFlagArg(L, 2, false);
    }
    d->activateOnOpen = (d->flags & kDisplayActivate) ? 1 : 0;
    if (int err = OpenDisplayWindow(L, d, 0)) return err;
    // Opening may call into the VM (the backfill's commands).
    if (int err = display.Take(&d)) return err;
    if (!noSelect) SetActiveDisplay(L, d, true);
    return 0;
}

int cmdCloseDisplay(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    if (IsVideoRecording()) return ERR_WRONGCMDRECVIDEO;
    qbDisplay* d = nullptr;
    if (int err = GetDisplayRecord(GetObjectIDArg(L, 1), &d)) return err;
    if (d->state == DISPSTATE_CLOSED) return ERR_WRONGUSAGE;
    if (IsVideoOnDisplay(d)) return ERR_VIDATTACHED;
    const qbDisplay* current = GetCurrentDisplay();
    if (d->hardDoubleBuffer || (current && current->doubleBufferBGPic && current->hardDoubleBuffer))
        return ERR_HWDBFREEDISP;
    return CloseDisplayCore(L, d, kCloseFreeBackfill);
}

int cmdSelectDisplay(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    if (IsVideoRecording()) return ERR_WRONGCMDRECVIDEO;
    qbDisplay* d = nullptr;
    if (int err = GetDisplayRecord(GetObjectIDArg(L, 1), &d)) return err;
    SetActiveDisplay(L, d, GetFlagArg(L, 2, false));
    return 0;
}

int cmdActivateDisplay(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    qbDisplay* d = nullptr;
    if (int err = GetDisplayRecord(GetObjectIDArg(L, 1), &d)) return err;
    if (d->state != DISPSTATE_OPEN) return ERR_CLOSEDDISPLAY;
    ActivateDisplayWindow(d, !GetFlagArg(L, 2, false));
    return 0;
}

namespace {

int ShowOrHide(ScriptState* L, bool hide) {
    CheckArgCount(L, 0, 0, 0, 0);
    if (IsVideoRecording()) return ERR_WRONGCMDRECVIDEO;
    qbDisplay* d = nullptr;
    if (int err = CurrentDisplay(&d)) return err;
    if (d->state != (hide ? DISPSTATE_OPEN : DISPSTATE_MINIMIZED)) return ERR_WRONGUSAGE;
    if (int err = ShowHideDisplayWindow(d, hide)) return err;
    d->state = hide ? DISPSTATE_MINIMIZED : DISPSTATE_OPEN;
    d->activateOnOpen = hide ? 0 : 1;
    return 0;
}

}  // namespace

int cmdShowDisplay(ScriptState* L) { return ShowOrHide(L, false); }
int cmdHideDisplay(ScriptState* L) { return ShowOrHide(L, true); }

int cmdMoveDisplay(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const int32_t x = ClampToInt32(VmCheckNumber(L, 1));
    const int32_t y = ClampToInt32(VmCheckNumber(L, 2));
    qbDisplay* d = nullptr;
    if (int err = CurrentDisplay(&d)) return err;
    int32_t mx = 0, my = 0, mw = 0, mh = 0;
    if (GetDisplayMonitorInfo(d, &mx, &my, &mw, &mh)) return ERR_GETMONITORINFO;
    d->x = SaturatingAdd(ResolveSpecialX(x, d->width + d->borderWidth, mw, 0.0), mx);
    d->y = SaturatingAdd(ResolveSpecialY(y, d->height + d->borderHeight, mh, 0.0), my);
    d->relativeX = d->relativeY = 0;
    if (d->state != DISPSTATE_CLOSED) MoveDisplayWindow(d);
    return 0;
}

int cmdChangeDisplaySize(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    qbDisplay* current = nullptr;
    if (int err = CurrentDisplay(&current)) return err;
    qbDisplayRef display(L, current);
    qbTaken<qbDisplay> d = nullptr;
    if (int err = display.Take(&d)) return err;
    if (!d->bordersMeasured) {
        if (int err = DetermineDisplayBorders(d)) return err;
    }
    const int32_t pictureWidth = d->bgpic ? d->bgpic->currentWidth : d->width;
    const int32_t pictureHeight = d->bgpic ? d->bgpic->currentHeight : d->height;
    int32_t width = ClampToInt32(GetNumberOrPercentArg(L, 1, pictureWidth, 1, nullptr));
    int32_t height = ClampToInt32(GetNumberOrPercentArg(L, 2, pictureHeight, 1, nullptr));
    if (int err = KeepAspectRatio(pictureWidth, pictureHeight, &width, &height)) return err;
    qbResizeRequest r;
    r.x = r.y = kPositionCenter;
    if (VmType(L, 3) == kTypeTable) {
        GetTableFieldInt(L, 3, "x", &r.x, nullptr);
        GetTableFieldInt(L, 3, "y", &r.y, nullptr);
        r.smooth = GetTableFieldFlag(L, 3, "smooth");
        if (int err = display.Take(&d)) return err;
    } else {
        r.smooth = GetFlagArg(L, 3, false);
    }
    if (r.x == kKeepPosition) r.x = d->x;
    if (r.y == kKeepPosition) r.y = d->y;
    r.width = width;
    r.height = height;
    r.move = true;
    r.noWindow = d->state == DISPSTATE_CLOSED;
    return ResizeDisplay(L, d, r);
}

int cmdSetTitle(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    size_t length = 0;
    const char* title = VmCheckString(L, 1, &length);
    qbDisplay* d = nullptr;
    if (int err = CurrentDisplay(&d)) return err;
    if (length >= kDisplayTitleSize || std::strlen(title) != length) return ERR_WRONGUSAGE;
    std::memcpy(d->title, title, length + 1);
    if (d->state != DISPSTATE_CLOSED) UpdateDisplayTitle(d);
    return 0;
}

int cmdSetDisplayAttributes(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmCheckTable(L, 1);
    qbDisplay* d = nullptr;
    if (int err = CurrentDisplay(&d)) return err;
    return ApplyDisplayAttributes(L, 1, d, true);
}

int cmdChangeDisplayMode(ScriptState* L) {
    CheckArgCount(L, 1, 4, 0, 0);
    if (IsVideoRecording()) return ERR_WRONGCMDRECVIDEO;
    const int32_t mode = ClampToInt32(VmCheckNumber(L, 1));
    qbDisplay* current = nullptr;
    if (int err = CurrentDisplay(&current)) return err;
    qbDisplayRef display(L, current);
    qbTaken<qbDisplay> d = nullptr;
    if (int err = display.Take(&d)) return err;
    if (d->state == DISPSTATE_CLOSED) return ERR_CLOSEDDISPLAY;
    if (mode != DISPMODE_WINDOWED && mode != DISPMODE_FULLSCREEN) return ERR_WRONGUSAGE;
    if (mode == DISPMODE_WINDOWED && !d->fullScreen) return 0;
    const qbScreenMode saved = d->screen;
    uint32_t flags = kOpenModeChange;
    if (VmType(L, 4) == kTypeTable) {
        bool changed = false;
        if (int err = ReadMonitorChange(L, 4, display, &changed)) return err;
        if (int err = display.Take(&d)) return err;
        if (changed && d->fullScreen) flags |= kOpenMonitorChange;
        if (int err = ReadScreenMode(L, 4, display)) return err;
        // Script code there may have closed it.
        if (int err = display.Take(&d)) return err;
        if (d->state == DISPSTATE_CLOSED) {
            d->screen = saved;
            return ERR_CLOSEDDISPLAY;
        }
    }
    if (mode == DISPMODE_FULLSCREEN) {
        const int32_t width = ClampToInt32(VmOptNumber(L, 2, d->width));
        const int32_t height = ClampToInt32(VmOptNumber(L, 3, d->height));
        if (width < 1 || height < 1 || width < d->width || height < d->height) {
            d->screen = saved;
            return ERR_WRONGUSAGE;
        }
        if (int err = RefuseUnsupportedWindowSize(d, width, height)) {
            d->screen = saved;
            return err;
        }
        d->screen.width = width;
        d->screen.height = height;
    }
    d->screen.mode = mode;
    const int err = OpenDisplayWindow(L, d, flags);
    // Opening may call into the VM (the backfill's commands).
    if (err && display.Take(&d) == 0) d->screen = saved;
    return err;
}

int cmdGetDisplayModes(ScriptState* L) {
    CheckArgCount(L, 0, 1, 0, 0);
    const int32_t monitor = ClampToInt32(VmOptNumber(L, 1, 1));
    if (monitor < 1 || monitor > CountAllMonitors()) return ERR_MONITORRANGE;
    qbDisplay probe;
    qbDisplay* d = GetCurrentDisplay() ? GetCurrentDisplay() : &probe;
    const int32_t keep = d->monitor, keepView = d->view.monitor;
    d->monitor = d->view.monitor = monitor - 1;
    // The backend finds a display's monitor in the view it was given with
    // the display; the probe stands for no display and has none until now.
    const bool probing = d == &probe && !HasDisplayAdapter();
    if (probing)
        if (int err = AllocNativeWindowRec(&probe.view, &probe)) return err;
    const std::vector<qbDisplayModeEntry> modes = SortedDisplayModes(d);
    if (probing) FreeNativeWindowRec(&probe);
    d->monitor = keep;
    d->view.monitor = keepView;
    if (modes.empty()) return ERR_NODISPMODES;
    VmPushNewTable(L);
    for (size_t i = 0; i < modes.size(); ++i) {
        VmPushNewTable(L);
        SetTableFieldInt(L, "width", modes[i].width);
        SetTableFieldInt(L, "height", modes[i].height);
        VmRawSetIndex(L, -2, static_cast<int>(i));
    }
    return 1;
}

int cmdGetMonitors(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    MonitorList list = Monitors();
    if (!list) return ERR_MEM;
    static const char* kKeys[4] = {"x", "y", "width", "height"};
    VmPushNewTable(L);
    int i = 0;
    for (const qbMonitorEntry* m = list.get(); m; m = m->next.get(), ++i) {
        const int32_t values[4] = {m->x, m->y, m->width, m->height};
        PushRect(L, kKeys, values);
        VmRawSetIndex(L, -2, i);
    }
    return 1;
}

int InitDisplayLibrary(ScriptState* L) {
    InstallClipboardBitmapHooks();
    if (int err = RegisterObjectList(DisplayListHead())) return err;
    if (int err = RegisterObjectList(MenuListHead())) return err;
    // Registration raises on failure; its result only counts the tables made.
    VmRegisterCommands(L, nullptr, kDisplayCommands, 0);
    VmRegisterConstants(L, kDisplayConstants, 0);
    return RegisterCommandTable(kDisplayCommands, "display", kDisplayConstants);
}
