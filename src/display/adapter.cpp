// Installing the display and requester adapters, and the window wrappers
// that reach the adapter's slot or the platform operation.
#include "display/adapter.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/pixelformats.h"
#include "core/plugin.h"
#include "core/runstate.h"
#include "display/adapterbitmaps.h"
#include "display/blitroute.h"
#include "display/display.h"
#include "display/displayhooks.h"
#include "display/displays.h"
#include "display/events.h"
#include "display/refresh.h"
#include "platform/platform_ops.h"

namespace {

constexpr int kMinAppletMajor = 6;
constexpr int kMinAppletMinor = 0;
constexpr uint32_t kStyleBorderless = 1, kStyleSizeable = 2, kStyleFixed = 4, kStyleNoHide = 8, kStyleNoClose = 16,
                   kStyleAutoscale = 32, kStyleLayerScale = 64, kStyleLayers = 128, kStyleDoubleBuffer = 0x100,
                   kStyleHardDoubleBuffer = 0x200, kStyleFullScreen = 0x400, kStyleNoBlanker = 0x800;
// Display flag bits that carry a style.
constexpr uint32_t kFlagBorderless = 0x1, kFlagSizeable = 0x2, kFlagFixed = 0x4, kFlagNoHide = 0x20,
                   kFlagNoClose = 0x4000, kFlagNoBlanker = 0x1000000;
constexpr int kMonitorInfoMonitors = 0;
constexpr int kMonitorInfoModes = 1;
// The capability of hardware bitmaps bound to one display.
constexpr uint32_t kCapsDisplayBitmaps = 32;

qbDisplayAdapter adapter;

const qbDisplayAdapterSlots* Slots() { return adapter.plugin ? adapter.plugin->displaySlots : nullptr; }

}  // namespace

// Refusals shared by every adapter kind.
int CheckAdapterInstall(const qbAdapterPlugin* plugin, uint32_t capability, const qbAdapterPlugin* installed,
                        uint32_t installedFlags) {
    if (!RequireAppletVersion(kMinAppletMajor, kMinAppletMinor)) return ERR_OLDAPPLET;
    if (!plugin || !(plugin->capabilities & capability)) return ERR_WRONGUSAGE;
    if (!IsAdapterWindowOpen()) return ERR_SETADAPTER;
    if (installed && (installedFlags & kAdapterNoReplace)) return ERR_SETADAPTER;
    // A marshalled plugin is never really called here: every slot would
    // answer 0 and look like success.
    if (plugin->callingMode == kPluginCallMarshalled) return ERR_SETADAPTER;
    return 0;
}

const qbDisplayAdapter& DisplayAdapter() { return adapter; }

const qbDisplayAdapterSlots* DisplayAdapterSlots() { return Slots(); }

bool HasDisplayAdapter() { return Slots() != nullptr; }

uint32_t DisplayAdapterFlags() { return adapter.plugin ? adapter.flags : 0; }

int SetDisplayAdapter(qbAdapterPlugin* plugin, uint32_t flags, const qbAdapterTag* tags) {
    if (int err = CheckAdapterInstall(plugin, PLUGINCAPS_DISPLAYADAPTER, adapter.plugin, adapter.flags)) return err;
    if (!plugin->displaySlots) return ERR_WRONGUSAGE;
    int32_t format = kPixelFormatARGB32;
    uint32_t drawFlags = 0;
    uint32_t features = 0;
    for (const qbAdapterTag* t = tags; t && t->tag != 0; ++t) {
        switch (t->tag) {
            case kAdapterTagPixelFormat: format = static_cast<int32_t>(t->value); break;
            case kAdapterTagDrawFlags: drawFlags = static_cast<uint32_t>(t->value); break;
            case kAdapterTagFeatures: features = static_cast<uint32_t>(t->value); break;
            default: break;
        }
    }
    adapter.plugin = plugin;
    adapter.flags = flags;
    adapter.pixelFormat = format;
    adapter.drawFlags = drawFlags;
    adapter.features = features;
    plugin->displayAdapterFeatures = features;
    SetPlatformPixelFormat(format);
    RouteBlitsThroughAdapter(true);
    SetAdapterCapsQuery(GetAdapterSupportFlags);
    InstallAdapterBitmapHooks(true);
    return 0;
}

int SetRequesterAdapter(qbAdapterPlugin* plugin, uint32_t flags) {
    if (int err = CheckAdapterInstall(plugin, PLUGINCAPS_REQUESTERADAPTER, adapter.requester, adapter.requesterFlags))
        return err;
    adapter.requester = plugin;
    adapter.requesterFlags = flags;
    return 0;
}

void ClearDisplayAdapters() {
    if (adapter.plugin) SetPlatformPixelFormat(kPixelFormatUnset);
    adapter = qbDisplayAdapter{};
    RouteBlitsThroughAdapter(false);
    SetAdapterCapsQuery(nullptr);
    InstallAdapterBitmapHooks(false);
}

uint32_t AdjustAlphaForAdapter(uint32_t colour) {
    if (!adapter.plugin || !(adapter.flags & kAdapterInvertsAlpha)) return colour;
    const uint32_t a = colour >> 24;
    return (colour & 0x00FFFFFFu) | ((a == 0 ? 255u : 255u - a) << 24);
}

uint32_t GetDisplayStyleFlags(const qbDisplay* d) {
    uint32_t style = 0;
    if (d->flags & kFlagBorderless) style |= kStyleBorderless;
    if (d->flags & kFlagSizeable) style |= kStyleSizeable;
    if (d->flags & kFlagFixed) style |= kStyleFixed;
    if (d->flags & kFlagNoHide) style |= kStyleNoHide;
    if (d->flags & kFlagNoClose) style |= kStyleNoClose;
    if (d->autoscale) style |= kStyleAutoscale;
    if (d->layerScale) style |= kStyleLayerScale;
    if (d->layersEnabled) style |= kStyleLayers;
    if (d->softDoubleBuffer) style |= kStyleDoubleBuffer;
    if (d->hardDoubleBuffer) style |= kStyleHardDoubleBuffer;
    if (d->fullScreen) style |= kStyleFullScreen;
    if (d->flags & kFlagNoBlanker) style |= kStyleNoBlanker;
    return style;
}

void SyncWindowView(qbDisplay* d) {
    qbWindowView& v = d->view;
    v.x = d->x;
    v.y = d->y;
    v.width = d->width;
    v.height = d->height;
    v.flags = d->flags;
    std::memcpy(v.title, d->title, sizeof v.title);
    v.fullScreen = d->fullScreen;
    v.monitor = d->monitor;
}

bool AdapterDrawsOn(const qbDisplay* d) {
    return d->state == DISPSTATE_OPEN || ((adapter.flags & kAdapterDrawsUnopened) && d->adapterHandle);
}

int DetermineDisplayBorders(qbDisplay* d) {
    if (const qbDisplayAdapterSlots* s = Slots()) {
        int32_t left = 0, right = 0, top = 0, bottom = 0;
        int err = CallSlot(s->DetermineBorderSizes, GetDisplayStyleFlags(d), &left, &right, &top, &bottom);
        d->borderLeft = left;
        d->borderTop = top;
        d->borderWidth = left + right;
        d->borderHeight = top + bottom;
        d->bordersMeasured = 1;
        return err;
    }
    SyncWindowView(d);
    const int err = MeasureWindowBorders(d);
    d->borderLeft = d->view.borderLeft;
    d->borderTop = d->view.borderTop;
    d->borderWidth = d->view.borderWidth;
    d->borderHeight = d->view.borderHeight;
    d->bordersMeasured = 1;
    return err;
}

void SizeMoveDisplayWindow(qbDisplay* d) {
    if (const qbDisplayAdapterSlots* s = Slots()) {
        CallSlot(s->SizeMoveDisplay, d->adapterHandle, d->x, d->y, d->width, d->height, 0, nullptr);
        return;
    }
    SyncWindowView(d);
    SetNativeWindowBounds(d);
}

void MoveDisplayWindow(qbDisplay* d) {
    if (const qbDisplayAdapterSlots* s = Slots()) {
        CallSlot(s->SizeMoveDisplay, d->adapterHandle, d->x, d->y, 0, 0, 0, nullptr);
        return;
    }
    SyncWindowView(d);
    SetNativeWindowBounds(d);
}

int ShowHideDisplayWindow(qbDisplay* d, bool hide) {
    if (const qbDisplayAdapterSlots* s = Slots()) return CallSlot(s->ShowHideDisplay, d->adapterHandle, hide ? 0 : 1, nullptr);
    return CollapseNativeWindow(d, hide ? 1 : 0);
}

void UpdateDisplayTitle(qbDisplay* d) {
    if (const qbDisplayAdapterSlots* s = Slots()) {
        CallSlot(s->SetDisplayTitle, d->adapterHandle, d->title);
        return;
    }
    SyncWindowView(d);
    SetNativeWindowTitle(d);
}

void ActivateDisplayWindow(qbDisplay* d, bool on) {
    if (const qbDisplayAdapterSlots* s = Slots())
        CallSlot(s->ActivateDisplay, d->adapterHandle, on ? 1 : 0);
    else if (on)
        ActivateNativeWindow(d);
}

int CreateDisplayPointer(uint32_t* argb, int32_t width, int32_t height, void** out, int32_t hotX, int32_t hotY) {
    if (const qbDisplayAdapterSlots* s = Slots()) {
        void* pointer = CallSlot(s->CreatePointer, argb, width, height, hotX, hotY, nullptr);
        if (out) *out = pointer;
        return pointer ? 0 : ERR_POINTERIMG;
    }
    qbNativePointer* pointer = nullptr;
    int err = CreateNativePointer(argb, hotX, hotY, &pointer, width, height);
    if (out) *out = pointer;
    return err;
}

void FreeDisplayPointer(void* pointer) {
    if (const qbDisplayAdapterSlots* s = Slots())
        CallSlot(s->FreePointer, pointer);
    else
        FreeNativePointer(static_cast<qbNativePointer*>(pointer));
}

void SetDisplayPointer(qbDisplay* d, void* pointer, int kind) {
    if (const qbDisplayAdapterSlots* s = Slots())
        CallSlot(s->SetPointer, d->adapterHandle, kind, pointer);
    else
        SetWindowPointer(d, static_cast<qbNativePointer*>(pointer), kind);
    ShowHideDisplayPointer(d, true);
}

void ShowHideDisplayPointer(qbDisplay* d, bool show) {
    if (const qbDisplayAdapterSlots* s = Slots())
        CallSlot(s->ShowHidePointer, d->adapterHandle, show ? 1 : 0);
    else if (show)
        ShowWindowPointer(d);
    else
        HideWindowPointer(d);
}

void MoveDisplayPointer(qbDisplay* d, int32_t x, int32_t y) {
    if (const qbDisplayAdapterSlots* s = Slots())
        CallSlot(s->MovePointer, d->adapterHandle, x, y);
    else
        MoveNativePointer(d, x, y);
}

void GetDisplayMousePos(qbDisplay* d, int32_t* x, int32_t* y) {
    int32_t mx = d->lastMouseX;
    int32_t my = d->lastMouseY;
    if (d->state == DISPSTATE_OPEN) {
        if (const qbDisplayAdapterSlots* s = Slots()) {
            CallSlot(s->GetMousePos, d->adapterHandle, &mx, &my);
        } else {
            mx = static_cast<int32_t>(GetNativeDisplayAttr(d, 6));
            my = static_cast<int32_t>(GetNativeDisplayAttr(d, 7));
        }
    }
    if (x) *x = mx;
    if (y) *y = my;
}

uint32_t GetDisplayQualifiers(qbDisplay* d) {
    if (d->state != DISPSTATE_OPEN) return d->lastQualifiers;
    if (const qbDisplayAdapterSlots* s = Slots()) return CallSlot(s->GetQualifiers, d->adapterHandle);
    return GetKeyQualifiers();
}

namespace {

// The drawing wrappers' common road: the adapter (with its alpha convention,
// and only where it draws) or the backend. The colour the hooks see.
template <class ToAdapter, class ToBackend>
uint32_t DrawOnDisplay(const qbDisplay* d, uint32_t colour, ToAdapter toAdapter, ToBackend toBackend) {
    const qbDisplayAdapterSlots* s = Slots();
    if (!s) {
        toBackend();
        return colour;
    }
    colour = AdjustAlphaForAdapter(colour);
    if (AdapterDrawsOn(d)) toAdapter(*s, colour);
    return colour;
}

}  // namespace

void FillDisplayRect(qbDisplay* d, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour) {
    colour = DrawOnDisplay(
        d, colour,
        [&](const qbDisplayAdapterSlots& s, uint32_t c) {
            CallSlot(s.RectFill, d->adapterHandle, x, y, width, height, c, 0u, nullptr);
        },
        [&] { FillWindowRect(d, x, y, width, height, colour); });
    const qbHookFillInfo info{x, y, width, height, colour};
    CallDisplayHooks(d, kDrawHookFill, &info);
}

void PlotDisplayPixel(qbDisplay* d, int32_t x, int32_t y, uint32_t colour) {
    colour = DrawOnDisplay(
        d, colour,
        [&](const qbDisplayAdapterSlots& s, uint32_t c) { CallSlot(s.WritePixel, d->adapterHandle, x, y, c, 0u, nullptr); },
        [&] { WriteWindowPixel(d, x, y, colour); });
    const qbHookPixelInfo info{x, y, colour};
    CallDisplayHooks(d, kDrawHookPixel, &info);
}

void DrawDisplayLine(qbDisplay* d, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour) {
    colour = DrawOnDisplay(
        d, colour,
        [&](const qbDisplayAdapterSlots& s, uint32_t c) {
            CallSlot(s.Line, d->adapterHandle, x1, y1, x2, y2, c, 0u, nullptr);
        },
        [&] { DrawWindowLine(d, x1, y1, x2, y2, colour); });
    const qbHookLineInfo info{x1, y1, x2, y2, colour};
    CallDisplayHooks(d, kDrawHookLine, &info);
}

void ClearAdapterDisplay(qbDisplay* d, uint32_t colour) {
    if (const qbDisplayAdapterSlots* s = Slots()) CallSlot(s->Cls, d->adapterHandle, colour, nullptr);
}

bool ClearAdapterBitmap(qbBitmap* bitmap, uint32_t colour) {
    const qbDisplayAdapterSlots* s = Slots();
    if (!s || !s->Cls || !bitmap || !bitmap->videoFlag || !bitmap->native || !(adapter.flags & kAdapterOwnsBitmaps))
        return false;
    CallSlot(s->Cls, static_cast<void*>(bitmap->native), colour, nullptr);
    return true;
}

int WakeDisplayAdapter() {
    const qbDisplayAdapterSlots* s = Slots();
    if (!s) return 0;
    CallSlot(s->ForceEventLoopIteration, nullptr);
    return 1;
}

int DelayPumpingEvents(int milliseconds) {
    const qbDisplayAdapterSlots* s = Slots();
    if (s && (adapter.flags & kAdapterSleep)) return CallSlot(s->Sleep, milliseconds);
    return WaitPumpingEvents(GetCurrentDisplay(), milliseconds);
}

MonitorList GetMonitorList(qbDisplay* d) {
    const qbDisplayAdapterSlots* s = Slots();
    if (!s || !(adapter.flags & kAdapterMonitors)) return ListNativeMonitors();
    void* raw = nullptr;
    if (CallSlot(s->GetMonitorInfo, kMonitorInfoMonitors, d ? d->monitor : 0, &raw, nullptr) != 0 || !raw) return nullptr;
    MonitorList head;
    qbMonitorEntry* tail = nullptr;
    for (const auto* m = static_cast<const qbAdapterMonitor*>(raw); m->width != 0 && m->height != 0; ++m) {
        auto entry = std::make_unique<qbMonitorEntry>();
        entry->x = m->x;
        entry->y = m->y;
        entry->width = m->width;
        entry->height = m->height;
        qbMonitorEntry* raw_entry = entry.get();
        if (tail)
            tail->next = std::move(entry);
        else
            head = std::move(entry);
        tail = raw_entry;
    }
    CallSlot(s->FreeMonitorInfo, kMonitorInfoMonitors, raw);
    return head;
}

int GetDisplayModeList(qbDisplay* d, qbDisplayModeEntry* modes) {
    const qbDisplayAdapterSlots* s = Slots();
    if (!s || !(adapter.flags & kAdapterMonitors)) return ListNativeDisplayModes(d, modes);
    void* raw = nullptr;
    if (CallSlot(s->GetMonitorInfo, kMonitorInfoModes, d ? d->monitor : 0, &raw, nullptr) != 0 || !raw) return 0;
    int count = 0;
    for (const auto* m = static_cast<const qbAdapterMode*>(raw); m->width != 0 && m->height != 0; ++m, ++count) {
        if (modes) {
            modes[count] = qbDisplayModeEntry{};
            modes[count].width = m->width;
            modes[count].height = m->height;
        }
    }
    CallSlot(s->FreeMonitorInfo, kMonitorInfoModes, raw);
    return count;
}

std::vector<qbDisplayModeEntry> SortedDisplayModes(qbDisplay* d) {
    const int count = GetDisplayModeList(d, nullptr);
    std::vector<qbDisplayModeEntry> modes(static_cast<size_t>(std::max(count, 0)));
    // The count alone may include duplicates; the filled list says how many
    // distinct modes it holds.
    if (count > 0) modes.resize(static_cast<size_t>(std::clamp(GetDisplayModeList(d, modes.data()), 0, count)));
    std::sort(modes.begin(), modes.end(), [](const qbDisplayModeEntry& a, const qbDisplayModeEntry& b) {
        return a.width != b.width ? a.width < b.width : a.height < b.height;
    });
    return modes;
}

qbBitmap* GrabDisplayScreen(qbDisplay* d, int32_t x, int32_t y, int32_t width, int32_t height) {
    const qbDisplayAdapterSlots* s = Slots();
    qbBitmap* out = nullptr;
    if (s && (adapter.flags & kAdapterGrab)) {
        uint32_t* pixels = CallSlot(s->GrabScreenPixels, d->adapterHandle, x, y, width, height, 0, nullptr);
        if (!pixels) return nullptr;
        CreateBitmapFromARGB(pixels, kNoKeyColour, width, height, width, false, 0, 0, &out, nullptr, nullptr);
        CallSlot(s->FreeGrabScreenPixels, pixels);
        return out;
    }
    NativeBitmapPtr grab = GrabScreenRegion(d, x, y, width, height);
    if (!grab) return nullptr;
    std::vector<uint32_t> argb(static_cast<size_t>(grab->width) * static_cast<size_t>(grab->height));
    // The backend grabs in its own pixel format, which need not be ARGB.
    for (int32_t row = 0; row < grab->height; ++row) {
        const uint8_t* from = grab->pixels.get() + static_cast<size_t>(row) * static_cast<size_t>(grab->bytesPerRow);
        uint32_t* to = argb.data() + static_cast<size_t>(row) * static_cast<size_t>(grab->width);
        for (int32_t col = 0; col < grab->width; ++col) {
            uint8_t rgb[3];
            ReadPixelRGB(from + static_cast<size_t>(col) * grab->bytesPerPixel, grab->pixelFormat, rgb);
            to[col] = uint32_t{rgb[0]} << 16 | uint32_t{rgb[1]} << 8 | rgb[2];
        }
    }
    CreateBitmapFromARGB(argb.data(), kNoKeyColour, grab->width, grab->height, grab->width, false, 0, 0, &out,
                         nullptr, nullptr);
    return out;
}

namespace {

int CallMainChunk(ScriptState* L) { return VmPCall(L, 0, 0, 0); }

}  // namespace

int RunMainChunkThroughAdapter(ScriptState* L) {
    const qbDisplayAdapterSlots* s = Slots();
    if (s && s->AdapterMainLoop) return s->AdapterMainLoop(L, &CallMainChunk, L, 0, nullptr);
    return CallMainChunk(L);
}

int GetDisplayMonitorInfo(qbDisplay* d, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
    MonitorList list = GetMonitorList(d);
    const qbMonitorEntry* m = list.get();
    for (int i = 0; m && i < d->monitor; ++i) m = m->next.get();
    if (!m) return ERR_GETMONITORINFO;
    if (x) *x = m->x;
    if (y) *y = m->y;
    if (width) *width = m->width;
    if (height) *height = m->height;
    return 0;
}

int CountMonitors(qbDisplay* d) {
    MonitorList list = GetMonitorList(d);
    int count = 0;
    for (const qbMonitorEntry* m = list.get(); m; m = m->next.get()) ++count;
    return count;
}

int GetDisplayMonitorIndex(qbDisplay* d) {
    MonitorList list = GetMonitorList(d);
    int index = 0;
    int i = 0;
    for (const qbMonitorEntry* m = list.get(); m; m = m->next.get(), ++i) {
        const bool overlaps = d->x < m->x + m->width && m->x < d->x + d->width && d->y < m->y + m->height &&
                              m->y < d->y + d->height;
        if (overlaps) index = i;
    }
    return index;
}

int GetDisplayForVideoBitmap(int32_t id, qbDisplay** out) {
    *out = nullptr;
    if (!(QueryDisplayAdapterCaps(kCapsDisplayBitmaps) & kCapsDisplayBitmaps)) return 0;
    qbDisplay* d = GetCurrentDisplay();
    if (id != 0) {
        if (int err = GetDisplayRecord(ObjectID{id, nullptr}, &d)) return err;
    }
    if (!d || !d->adapterHandle) {
        SetErrorDetail("Cannot allocate hardware bitmap while display has not been realized!");
        return ERR_ERRORCALLED;
    }
    *out = d;
    return 0;
}

bool CanToggleFullScreen(qbDisplay* d) {
    if (d->isBackfill || d->isResourceMonitor) return false;
    if (d->fullScreen) return true;
    const int monitor = GetDisplayMonitorIndex(d);
    for (qbDisplay* other = FirstDisplay(); other; other = NextDisplay(other))
        if (other != d && other->fullScreen && other->monitor == monitor) return false;
    return true;
}

void ClearDisplayBorders(qbDisplay* d) {
    const int32_t left = d->fitBorders[0], top = d->fitBorders[1], right = d->fitBorders[2],
                  bottom = d->fitBorders[3];
    if (left) FillDisplayRect(d, -left, -top, left, d->height, 0);
    if (top) FillDisplayRect(d, -left, -top, d->width, top, 0);
    if (right) FillDisplayRect(d, d->width - left - right, -top, right, d->height, 0);
    if (bottom) FillDisplayRect(d, -left, d->height - top - bottom, d->width, bottom, 0);
}
