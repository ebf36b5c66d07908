// The rows of GetAttribute for the objects of the graphics library and the
// libraries below it: displays, BGPics, brushes, layers, clip regions,
// pointers, async drawing, event handlers, intervals and timeouts.
#include <iterator>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/pluginadapters.h"
#include "core/settings.h"
#include "display/adapter.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/displaymenus.h"
#include "display/displays.h"
#include "display/eventlib.h"
#include "display/output.h"
#include "display/pointers.h"
#include "draw/asyncdraw.h"
#include "draw/attributes.h"
#include "imaging/loaderchain.h"
#include "objects/brushes.h"
#include "objects/animhooks.h"
#include "objects/layers.h"
#include "objects/videohooks.h"
#include "platform/platform.h"

namespace {

// Attribute numbers (the script's ATTR constants).
enum : int32_t {
    kWidth = 0, kHeight = 1, kMaxWidth = 2, kMaxHeight = 3, kBGPic = 4, kTransparentColour = 5, kLayers = 6,
    kXPos = 7, kYPos = 8, kType = 9, kVisible = 10, kNumFrames = 11, kCurFrame = 12, kLayerID = 13, kDuration = 14,
    kHasMask = 16, kHasAlpha = 17, kPosition = 18, kFormat = 19, kCursorX = 21, kCursorY = 22, kBorderLeft = 24,
    kBorderTop = 25, kBorderRight = 26, kBorderBottom = 27, kHostWidth = 28, kHostHeight = 29, kFontAscender = 30,
    kFontDescender = 31, kFontName = 32, kFontSize = 33, kFontScalable = 34, kFontAA = 35, kText = 36,
    kFrameDelay = 37, kPointer = 38, kClipRegion = 39, kState = 40, kActive = 41, kMode = 42, kScaleMode = 43,
    kScaleWidth = 44, kScaleHeight = 45, kBorderless = 46, kFixed = 47, kSizeable = 48, kNoHide = 49,
    kNoModeSwitch = 50, kTitle = 51, kOutputDevice = 54, kDoubleBuffer = 55, kHostDepth = 56, kFunction = 58,
    kUserData = 59, kNoClose = 61, kGroup = 62, kMaskMode = 63, kAlphaIntensity = 64, kRawXPos = 65, kRawYPos = 66,
    kRawWidth = 67, kRawHeight = 68, kLayersOn = 69, kOrientation = 70, kKeyboard = 71, kCanSeek = 72,
    kHardware = 73, kZPos = 74, kDensity = 77, kXDPI = 78, kYDPI = 79, kID = 82, kPlaying = 83, kPaused = 84,
    kDisplayAttr = 85, kMonitor = 86, kAdapter = 87, kMenu = 88, kHostMonitors = 89, kLoader = 91,
};

constexpr int32_t kTypeBGPic = 1, kTypeBrush = 3, kTypeDisplay = 21, kTypeAsyncDraw = 37, kTypeEventHandler = 40,
                  kTypeInterval = 41, kTypeTimeout = 42;
constexpr int32_t kTypeDoubleBuffer = 38;
constexpr int kHostDepthAttr = 5;
constexpr double kDesktopDPI = 72.0;
// Async-draw queries of the frame count and the current frame.
constexpr int32_t kQueryNumFrames = 2, kQueryCurFrame = 3;

int Number(ScriptState* L, double v) {
    VmPushNumber(L, v);
    return 1;
}
int Flag(ScriptState* L, bool v) { return Number(L, v ? 1 : 0); }
int String(ScriptState* L, const char* s) {
    VmPushString(L, s ? s : "");
    return 1;
}
int ID(ScriptState* L, const qbObject* o) {
    if (!o) return Number(L, -1);
    PushObjectID(L, IDOf(*o));
    return 1;
}
int Reference(ScriptState* L, int ref) {
    if (ref < 0) return Number(L, 0);
    VmRawGetIndex(L, kRegistryIndex, ref);
    return 1;
}

const char* LoaderName(uintptr_t loader) {
    if (loader == kLoaderInbuilt) return "inbuilt";
    if (loader == kLoaderNative) return "native";
    return reinterpret_cast<const qbAdapterPlugin*>(loader)->name;
}

// ---- BGPics

int FindBGPic(ScriptState* L, int32_t, int idx, void** out) {
    qbBGPic* b = nullptr;
    if (int err = GetBGPic(L, GetObjectIDArg(L, idx), &b, 0)) return err;
    *out = b;
    return 0;
}

int BGPicGet(const qbAttributeQuery& q) {
    const auto* b = static_cast<const qbBGPic*>(q.object);
    ScriptState* L = q.L;
    switch (q.attribute) {
    case kWidth: return Number(L, b->currentWidth);
    case kHeight: return Number(L, b->currentHeight);
    case kTransparentColour: return Number(L, b->keyColour);
    case kLayers: return Number(L, CountLayers(b));
    case kType: return Number(L, 0);  // every BGPic is a raster picture (IMAGETYPE_RASTER)
    case kHasMask: return Flag(L, b->current.mask);
    case kHasAlpha: return Flag(L, b->current.alpha);
    case kClipRegion: {
        const qbOutputView out = GetCurrentOutput();
        return ID(L, out.clip ? *out.clip : nullptr);
    }
    case kLoader: return String(L, LoaderName(b->loaderWord));
    default: return ERR_UNKNOWNATTR;
    }
}

// ---- brushes

int FindBrush(ScriptState* L, int32_t, int idx, void** out) {
    qbBrush* b = nullptr;
    if (int err = GetBrushRecord(L, GetObjectIDArg(L, idx), &b, kBrushHardwareToo | kBrushNoCopy)) return err;
    *out = b;
    return 0;
}

int BrushGet(const qbAttributeQuery& q) {
    const auto* b = static_cast<const qbBrush*>(q.object);
    ScriptState* L = q.L;
    switch (q.attribute) {
    case kWidth: return Number(L, b->width);
    case kHeight: return Number(L, b->height);
    case kTransparentColour: return Number(L, b->transparentColour);
    case kType: return Number(L, b->kind);
    case kHasMask: return Flag(L, b->hardware ? (b->hardwareFlags & 1) : b->mask != nullptr);
    case kHasAlpha: return Flag(L, b->hardware ? (b->hardwareFlags & 2) : b->alpha != nullptr);
    case kHardware: return Flag(L, b->hardware);
    case kDisplayAttr:
        if (!b->hardware) return Number(L, -1);
        PushObjectID(L, b->displayId);
        return 1;
    case kLoader: return String(L, LoaderName(b->loaderInfo));
    default: return ERR_UNKNOWNATTR;
    }
}

// ---- displays

int FindDisplay(ScriptState* L, int32_t, int idx, void** out) {
    const ObjectID id = GetObjectIDArg(L, idx);
    qbDisplay* d = nullptr;
    if (!id.handle && id.number == 0) {
        d = GetCurrentDisplay();
        if (!d) return ERR_FINDDISPLAY;
    } else if (int err = GetDisplayRecord(id, &d)) {
        return err;
    }
    *out = d;
    return 0;
}

int Monitor(qbDisplay* d, int32_t* width, int32_t* height) {
    int32_t x = 0, y = 0;
    return GetDisplayMonitorInfo(d, &x, &y, width, height);
}

int OutputDevice(ScriptState* L, const qbDisplay* d) {
    if (d->softDoubleBuffer || d->hardDoubleBuffer) {
        VmPushNumber(L, kTypeDoubleBuffer);
        VmPushNumber(L, 0);
        VmPushNumber(L, 0);
        return 3;
    }
    if (d->output.type == kObjectTypeDisplay) {
        VmPushNumber(L, kTypeDisplay);
        PushObjectID(L, IDOf(*d));
        VmPushNumber(L, 0);
        return 3;
    }
    if (d->output.type == kOutputBGPic) {
        VmPushNumber(L, kTypeBGPic);
        ID(L, GetCurrentBGPic());
        VmPushNumber(L, 0);
        return 3;
    }
    // A brush, anim, mask or alpha channel: the selected object's type and
    // id (the record standing for it carries the id), then the output kind.
    VmPushNumber(L, d->output.selected);
    ID(L, d->offscreen.get());
    VmPushNumber(L, d->output.type);
    return 3;
}

int DisplayGet(const qbAttributeQuery& q) {
    auto* d = static_cast<qbDisplay*>(q.object);
    ScriptState* L = q.L;
    switch (q.attribute) {
    case kWidth: return Number(L, d->bgpic ? d->bgpic->currentWidth : d->width);
    case kHeight: return Number(L, d->bgpic ? d->bgpic->currentHeight : d->height);
    case kMaxWidth:
    case kMaxHeight:
    case kHostWidth:
    case kHostHeight: {
        int32_t w = 0, h = 0;
        if (int err = Monitor(d, &w, &h)) return err;
        if (q.attribute == kMaxWidth) return Number(L, w - d->borderWidth);
        if (q.attribute == kMaxHeight) return Number(L, h - d->borderHeight);
        return Number(L, q.attribute == kHostWidth ? w : h);
    }
    case kBorderLeft: return Number(L, d->borderLeft);
    case kBorderTop: return Number(L, d->borderTop);
    case kBorderRight: return Number(L, d->borderWidth - d->borderLeft);
    case kBorderBottom: return Number(L, d->borderHeight - d->borderTop);
    case kBGPic: return ID(L, d->bgpic);
    case kLayers: return Number(L, d->bgpic ? CountLayers(d->bgpic) : 0);
    case kXPos: return Number(L, d->x);
    case kYPos: return Number(L, d->y);
    // A pointer the script freed while shown has no id any more.
    case kPointer: return ID(L, d->pointer && !d->pointer->deferredFree ? d->pointer : nullptr);
    case kState: return Number(L, d->state);
    case kMode: return Number(L, d->fullScreen ? 2 : 1);
    case kScaleMode: return Number(L, d->autoscale ? 1 : d->layerScale ? 2 : 0);
    case kScaleWidth: return Number(L, (d->autoscale || d->layerScale) && d->scaleWidth ? d->scaleWidth : d->width);
    case kScaleHeight:
        return Number(L, (d->autoscale || d->layerScale) && d->scaleHeight ? d->scaleHeight : d->height);
    case kBorderless: return Flag(L, d->flags & kDispBorderless);
    case kFixed: return Flag(L, d->flags & kDispFixed);
    case kSizeable: return Flag(L, d->flags & kDispSizeable);
    case kNoHide: return Flag(L, d->flags & kDispNoHide);
    case kNoModeSwitch: return Flag(L, d->flags & kDispNoModeSwitch);
    case kNoClose: return Flag(L, d->flags & kDispNoClose);
    case kTitle: return String(L, d->title);
    case kOutputDevice: return OutputDevice(L, d);
    case kDoubleBuffer: return Flag(L, d->softDoubleBuffer || d->hardDoubleBuffer);
    case kHostDepth: return Number(L, static_cast<double>(GetNativeDisplayAttr(d, kHostDepthAttr)));
    case kMaskMode: return Number(L, GetRuntimeTag(kTagMaskMode));
    case kAlphaIntensity: return Number(L, GetRuntimeTag(kTagAlphaIntensity));
    case kLayersOn: return Flag(L, d->layersEnabled);
    case kOrientation: return Number(L, d->orientation);
    case kActive: return Flag(L, d->view.active);
    // A desktop has no on-screen keyboard and no density class; the
    // backends report no resolution, so the desktop's customary one.
    case kKeyboard: return Number(L, 0);
    case kDensity: return Number(L, 0);
    case kXDPI:
    case kYDPI: return Number(L, kDesktopDPI);
    case kMonitor: return Number(L, d->monitor + 1);
    case kAdapter: {
        const qbAdapterPlugin* adapter = HasDisplayAdapter() ? DisplayAdapter().plugin : nullptr;
        return String(L, adapter ? adapter->name : "inbuilt");
    }
    case kMenu: return ID(L, static_cast<const qbMenu*>(d->menu));
    case kHostMonitors: return Number(L, CountMonitors(d));
    default: return ERR_UNKNOWNATTR;
    }
}

// ---- layers

// The layers a layer query reads: the current BGPic's, or while a brush,
// mask or alpha channel is the output, those of the display's own BGPic.
int LayerPicture(const qbBGPic** out) {
    const qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_NOLAYERS;
    const int32_t t = d->output.type;
    const bool offPicture = t == kOutputBrush || t == kOutputMask || t == kOutputAlphaChannel;
    if (!(offPicture ? d->savedLayers : d->layersEnabled)) return ERR_NOLAYERS;
    *out = offPicture ? d->bgpic : GetCurrentBGPic();
    return *out ? 0 : ERR_NOLAYERS;
}

int FindLayer(ScriptState* L, int32_t, int idx, void** out) {
    const qbBGPic* b = nullptr;
    if (int err = LayerPicture(&b)) return err;
    qbLayer* layer = nullptr;
    if (int err = GetLayerArg(L, idx, b, nullptr, nullptr, &layer)) return err;
    *out = layer;
    return 0;
}

int AllLayers() {
    int n = 0;
    for (const qbBGPic* b = FirstBGPic(); b; b = static_cast<const qbBGPic*>(b->next)) n += CountLayers(b);
    return n;
}

bool ShowsObject(int32_t type) {
    switch (type) {
    case kLayerBrush:
    case kLayerAnim:
    case kLayerTextObject:
    case kLayerVideo:
    case kLayerBrushPart:
    case kLayerBGPicPart:
    case kLayerVectorPath: return true;
    default: return false;
    }
}

// The video tells; -1 where it cannot (its source reports none, or it is gone).
int VideoLayerAttribute(ScriptState* L, ObjectID id, int32_t attribute) {
    double n = -1;
    const char* text = nullptr;
    if (const auto get = VideoLayerHooks().attribute) get(id, attribute, &n, &text);
    if (text) return String(L, text);
    return Number(L, n);
}

int LayerGet(const qbAttributeQuery& q) {
    const auto* layer = static_cast<const qbLayer*>(q.object);
    ScriptState* L = q.L;
    const qbLayerState* shown = layer->transformedstate ? layer->transformedstate : layer->basestate;
    const qbLayerState* raw = layer->basestate;
    switch (q.attribute) {
    case kWidth: return Number(L, shown->shownwidth);
    case kHeight: return Number(L, shown->shownheight);
    case kXPos: return Number(L, shown->shownx);
    case kYPos: return Number(L, shown->showny);
    case kRawXPos: return Number(L, raw->x);
    case kRawYPos: return Number(L, raw->y);
    case kRawWidth: return Number(L, raw->width);
    case kRawHeight: return Number(L, raw->height);
    case kType: return Number(L, layer->type);
    case kVisible: return Flag(L, !layer->hidden);
    case kLayerID:
    case kZPos: return Number(L, IndexOfLayer(FindBGPicOfLayer(layer), layer));
    case kLayers: return Number(L, AllLayers());
    case kGroup: return String(L, layer->groupname.c_str());
    case kID:
        if (!ShowsObject(layer->type)) return ERR_BADLAYERTYPE;
        PushObjectID(L, layer->id);
        return 1;
    // Anim layers keep their frame index and count in the base state.
    case kNumFrames:
        if (layer->type == kLayerVideo) return VideoLayerAttribute(L, layer->id, q.attribute);
        if (layer->type != kLayerAnim) return ERR_BADLAYERTYPE;
        return Number(L, raw->srcy);
    case kCurFrame:
        if (layer->type != kLayerAnim) return ERR_NOANMLAYER;
        return Number(L, raw->srcx + 1);
    case kFrameDelay: {
        if (layer->type != kLayerAnim) return ERR_NOANMLAYER;
        const auto delay = AnimObjectHooks().frameDelay;
        uint32_t ms = 0;
        if (!delay) return ERR_NOANMLAYER;
        if (int err = delay(L, layer->id, raw->srcx, &ms)) return err;
        return Number(L, ms);
    }
    case kDuration:
    case kPosition:
    case kFormat:
    case kCanSeek:
    case kPlaying:
    case kPaused:
        if (layer->type != kLayerVideo) return ERR_BADLAYERTYPE;
        return VideoLayerAttribute(L, layer->id, q.attribute);
    case kFontAscender:
    case kFontDescender:
    case kFontName:
    case kFontSize:
    case kFontScalable:
    case kFontAA:
    case kText: return ERR_NOTXTLAYER;
    default: return ERR_UNKNOWNATTR;
    }
}

// ---- clip regions, pointers, async drawing

int FindClipRegion(ScriptState* L, int32_t, int idx, void** out) {
    qbClipRegionObject* r = nullptr;
    if (int err = GetClipRegionRecord(GetObjectIDArg(L, idx), &r, 0)) return err;
    *out = r;
    return 0;
}

int ClipRegionGet(const qbAttributeQuery& q) {
    const auto* r = static_cast<const qbClipRegionObject*>(q.object);
    switch (q.attribute) {
    case kWidth: return Number(q.L, r->width);
    case kHeight: return Number(q.L, r->height);
    case kXPos: return Number(q.L, r->x);
    case kYPos: return Number(q.L, r->y);
    default: return ERR_UNKNOWNATTR;
    }
}

int FindPointer(ScriptState* L, int32_t, int idx, void** out) {
    qbPointerObject* p = nullptr;
    if (int err = GetPointerRecord(GetObjectIDArg(L, idx), &p)) return err;
    *out = p;
    return 0;
}

int PointerGet(const qbAttributeQuery& q) {
    const auto* p = static_cast<const qbPointerObject*>(q.object);
    switch (q.attribute) {
    case kWidth: return Number(q.L, p->width);
    case kHeight: return Number(q.L, p->height);
    case kType: return Number(q.L, p->kind);
    default: return ERR_UNKNOWNATTR;
    }
}

int FindAsync(ScriptState* L, int32_t, int idx, void** out) {
    qbAsyncDraw* a = nullptr;
    if (int err = FindAsyncDraw(GetObjectIDArg(L, idx), &a)) return err;
    *out = a;
    return 0;
}

int AsyncDrawGet(const qbAttributeQuery& q) {
    const auto* a = static_cast<const qbAsyncDraw*>(q.object);
    switch (q.attribute) {
    case kType: return Number(q.L, a->kind);
    case kNumFrames:
    case kCurFrame:
        if (!a->callbacks.query) return Number(q.L, -1);
        return Number(q.L, QueryAsyncDraw(a, q.attribute == kNumFrames ? kQueryNumFrames : kQueryCurFrame, nullptr));
    default: return ERR_UNKNOWNATTR;
    }
}

// ---- event handlers, intervals and timeouts

int FindHandler(ScriptState* L, int32_t, int idx, void** out) {
    const char* name = VmCheckString(L, idx, nullptr);
    const qbHandlerSlot* slot = FindHandlerSlotByName(GetCurrentDisplay(), name);
    if (!slot) {
        SetErrorDetail(name);
        return ERR_UNKNOWNTAG;
    }
    *out = const_cast<qbHandlerSlot*>(slot);
    return 0;
}

int HandlerGet(const qbAttributeQuery& q) {
    const auto* slot = static_cast<const qbHandlerSlot*>(q.object);
    switch (q.attribute) {
    case kFunction: return Reference(q.L, slot->function);
    case kUserData: return Reference(q.L, slot->userData);
    default: return ERR_UNKNOWNATTR;
    }
}

// The lookup copies what the timer list holds; the getter runs at once.
struct TimerInfo {
    int function = -1;
    int userData = -1;
    int period = 0;
};

int FindTimer(ScriptState* L, int32_t type, int idx, void** out) {
    static TimerInfo info;
    if (int err = GetTimerObjectInfo(type, GetObjectIDArg(L, idx), &info.function, &info.userData, &info.period))
        return err;
    *out = &info;
    return 0;
}

int TimerGet(const qbAttributeQuery& q) {
    const auto* t = static_cast<const TimerInfo*>(q.object);
    switch (q.attribute) {
    case kFunction: return Reference(q.L, t->function);
    case kUserData: return Reference(q.L, t->userData);
    case kDuration: return Number(q.L, t->period);
    default: return ERR_UNKNOWNATTR;
    }
}

// ---- the table

struct TypeRows {
    int32_t type;
    AttributeLookup lookup;
    AttributeGetter get;
    std::initializer_list<int32_t> attributes;
};

const TypeRows kTypes[] = {
    {kTypeBGPic, FindBGPic, BGPicGet,
     {kWidth, kHeight, kTransparentColour, kLayers, kType, kHasMask, kHasAlpha, kClipRegion, kLoader}},
    {kTypeBrush, FindBrush, BrushGet,
     {kWidth, kHeight, kTransparentColour, kType, kHasMask, kHasAlpha, kHardware, kDisplayAttr, kLoader}},
    {kTypeDisplay, FindDisplay, DisplayGet,
     {kWidth, kHeight, kMaxWidth, kMaxHeight, kHostWidth, kHostHeight, kBorderLeft, kBorderTop, kBorderRight,
      kBorderBottom, kBGPic, kLayers, kXPos, kYPos, kPointer, kState, kMode, kScaleMode, kScaleWidth, kScaleHeight,
      kBorderless, kFixed, kSizeable, kNoHide, kNoModeSwitch, kNoClose, kTitle, kOutputDevice, kDoubleBuffer,
      kHostDepth, kMaskMode, kAlphaIntensity, kLayersOn, kOrientation, kActive, kKeyboard, kDensity, kXDPI, kYDPI,
      kMonitor, kAdapter, kMenu, kHostMonitors}},
    {kObjectTypeLayer, FindLayer, LayerGet,
     {kWidth, kHeight, kXPos, kYPos, kRawXPos, kRawYPos, kRawWidth, kRawHeight, kType, kVisible, kLayerID, kZPos,
      kLayers, kGroup, kID, kNumFrames, kCurFrame, kFrameDelay, kDuration, kPosition, kFormat, kCanSeek, kPlaying,
      kPaused, kFontAscender, kFontDescender, kFontName, kFontSize, kFontScalable, kFontAA, kText}},
    {kObjectTypeClipRegion, FindClipRegion, ClipRegionGet, {kWidth, kHeight, kXPos, kYPos}},
    {kObjectTypePointer, FindPointer, PointerGet, {kWidth, kHeight, kType}},
    {kTypeAsyncDraw, FindAsync, AsyncDrawGet, {kType, kNumFrames, kCurFrame}},
    {kTypeEventHandler, FindHandler, HandlerGet, {kFunction, kUserData}},
    {kTypeInterval, FindTimer, TimerGet, {kFunction, kUserData, kDuration}},
    {kTypeTimeout, FindTimer, TimerGet, {kFunction, kUserData, kDuration}},
};

}  // namespace

void InstallBuiltInAttributeRows() {
    for (const TypeRows& t : kTypes) {
        SetAttributeLookup(t.type, t.lookup);
        for (int32_t attribute : t.attributes) {
            const qbAttributeRow row{t.type, attribute, t.get};
            AddAttributeRows(&row, 1);
        }
    }
    InstallSpriteAttributeRows();
    SetAttributeCounter(kObjectTypeLayer, &AllLayers);
    // The copies of freed brushes that layers still show are no brushes.
    SetAttributeCounter(kTypeBrush, [] {
        int n = 0;
        for (const qbBrush* b = FirstBrush(); b; b = static_cast<const qbBrush*>(b->next)) n += !b->detached;
        return n;
    });
    SetAttributeCounter(kTypeInterval, [] { return CountTimerObjects(kTypeInterval); });
    SetAttributeCounter(kTypeTimeout, [] { return CountTimerObjects(kTypeTimeout); });
}
