// Draw hooks and the display API that plugins call, some of it from their
// own threads (events, refresh requests, attribute queries).
#include "display/displayhooks.h"

#include <memory>

#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "core/runstate.h"
#include "display/adapter.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/displayscaling.h"
#include "display/refresh.h"

namespace {

enum : uint32_t {
    kAttrWidth = 1,
    kAttrHeight = 2,
    kAttrBGPicWidth = 3,
    kAttrBGPicHeight = 4,
    kAttrStyle = 5,
    kAttrScaleWidth = 6,
    kAttrScaleHeight = 7,
    kAttrSmoothScale = 8,
};

// The display whose hook list holds the hook; the caller holds the list.
qbDisplay* DisplayOfHook(const qbDisplayHook* hook) {
    for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d))
        for (const qbDisplayHook* h = d->hooks; h; h = h->next)
            if (h == hook) return d;
    return nullptr;
}

qbDisplay* DisplayOfHandle(const void* handle) {
    if (!handle) return nullptr;
    for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d))
        if (d->adapterHandle == handle) return d;
    return nullptr;
}

bool BGPicHasTransparency(const qbBGPic* picture) {
    return picture && (picture->keyColour != -1 || picture->current.mask || picture->current.alpha);
}

// The size a hook sees: the scale size while scaling with both given.
void EffectiveSize(const qbDisplay* d, int32_t* width, int32_t* height) {
    if ((d->autoscale || d->layerScale) && d->scaleWidth && d->scaleHeight) {
        *width = d->scaleWidth;
        *height = d->scaleHeight;
    } else if (d->bgpic) {
        *width = d->bgpic->currentWidth;
        *height = d->bgpic->currentHeight;
    } else {
        *width = d->width;
        *height = d->height;
    }
}

}  // namespace

bool DisplayHasHooks(const qbDisplay* display) { return display && display->hooks; }

bool DisplayHasPlainHooks(const qbDisplay* display) {
    for (const qbDisplayHook* h = display ? display->hooks : nullptr; h; h = h->next)
        if (!h->perFrame) return true;
    return false;
}

void CallDisplayHooks(qbDisplay* display, int kind, const void* info) {
    if (!display || !display->hooks) return;
    for (qbDisplayHook* h = display->hooks; h; h = h->next) h->called = 0;
    // Restarting from the head after every call lets a hook unlink itself or
    // others; the mark is set before the call, so a freed hook is never
    // touched again.
    for (;;) {
        qbDisplayHook* next = display->hooks;
        while (next && (next->called || (display->targetedHook && next != display->targetedHook) ||
                        (kind == kDrawHookVBlank && !next->perFrame)))
            next = next->next;
        if (!next) return;
        next->called = 1;
        next->callback(next, kind, info, next->userData);
    }
}

qbDisplayHook* AddDisplayHook(ObjectID displayId, DisplayHookFn callback, void* userData, qbAdapterTag* tags,
                              int marshalled) {
    // A marshalled hook would never be called on this platform.
    if (!callback || marshalled || IsVideoRecording()) return nullptr;
    qbDisplay* d = nullptr;
    if (GetDisplayRecord(displayId, &d) != 0) return nullptr;
    if (BGPicHasTransparency(d->bgpic) || d->hardDoubleBuffer || IsVideoOnDisplay(d)) return nullptr;
    auto hook = std::make_unique<qbDisplayHook>();
    hook->callback = callback;
    hook->userData = userData;
    hook->display = d;
    int32_t width = 0, height = 0;
    EffectiveSize(d, &width, &height);
    for (qbAdapterTag* t = tags; t && t->tag != 0; ++t) {
        switch (t->tag) {
            case kHookTagWidth: t->value = width; break;
            case kHookTagHeight: t->value = height; break;
            case kHookTagPerFrame: hook->perFrame = t->value != 0; break;
            case kHookTagExtra: hook->extra = t->value; break;
            default: break;
        }
    }
    LockDisplayList();
    qbDisplayHook** link = &d->hooks;
    while (*link) link = &(*link)->next;
    *link = hook.get();
    UnlockDisplayList();
    return hook.release();
}

void RemoveDisplayHook(qbDisplayHook* hook) {
    if (!hook) return;
    LockDisplayList();
    for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d)) {
        for (qbDisplayHook** link = &d->hooks; *link; link = &(*link)->next) {
            if (*link != hook) continue;
            *link = hook->next;
            if (d->targetedHook == hook) d->targetedHook = nullptr;
            std::unique_ptr<qbDisplayHook> owner(hook);
            UnlockDisplayList();
            return;
        }
    }
    UnlockDisplayList();
}

void FreeDisplayHooks(qbDisplay* display) {
    while (qbDisplayHook* h = display->hooks) {
        display->hooks = h->next;
        std::unique_ptr<qbDisplayHook> owner(h);
    }
    display->targetedHook = nullptr;
}

int RefreshDisplayOfHook(qbDisplayHook* hook) {
    qbDisplay* d = DisplayOfHook(hook);
    if (!d) return ERR_FINDDISPLAY;
    d->targetedHook = hook;
    RefreshDisplay(GetMainState(), d);
    d->targetedHook = nullptr;
    return 0;
}

int ResizeDisplayOfHook(qbDisplayHook* hook, int32_t width, int32_t height) {
    LockDisplayList();
    qbDisplay* d = DisplayOfHook(hook);
    UnlockDisplayList();
    if (!d) return ERR_FINDDISPLAY;
    qbResizeRequest r;
    r.x = d->x;
    r.y = d->y;
    r.width = width;
    r.height = height;
    r.move = true;
    r.smooth = d->smoothScale != 0;
    r.noWindow = d->state == DISPSTATE_CLOSED;
    if (int err = ResizeDisplay(GetMainState(), d, r)) return err;
    PostEvent(d, kEventResized, d->width, d->height, 0, nullptr);
    return 0;
}

void NotifyDisplayResized(qbDisplay* display, int32_t width, int32_t height) {
    const qbHookSizeInfo info{width, height};
    CallDisplayHooks(display, kDrawHookResize, &info);
}

int PostAdapterDisplayEvent(qbDisplayHook* hook, int kind, const int32_t data[3]) {
    if (IsShuttingDown()) return 0;
    if (!data || kind < kAdapterEventClose || kind > kAdapterEventKey) return ERR_WRONGUSAGE;
    LockDisplayList();
    qbDisplay* d = DisplayOfHook(hook);
    if (!d) {
        UnlockDisplayList();
        return ERR_FINDDISPLAY;
    }
    int posted = 1;
    if (kind <= kAdapterEventWheel) {
        d->lastMouseX = data[0];
        d->lastMouseY = data[1];
    }
    switch (kind) {
        case kAdapterEventClose:
            d->closeRequested = 1;
            GetMonotonicTime(&d->closeTime);
            break;
        case kAdapterEventLeftButton:
        case kAdapterEventRightButton:
        case kAdapterEventMiddleButton: {
            static constexpr uint32_t kButtonEvents[] = {kEventLeftButton, kEventRightButton, kEventMiddleButton};
            d->lastButtonWord[kind - kAdapterEventLeftButton] = data[2];
            posted = PostEvent(d, kButtonEvents[kind - kAdapterEventLeftButton], data[0], data[1], data[2], nullptr);
            break;
        }
        case kAdapterEventWheel:
            posted = PostEvent(d, data[2] == 0 ? kEventWheelUp : kEventWheelDown, data[0], data[1], 0, nullptr);
            break;
        case kAdapterEventKey:
            // The key code comes from the plugin: only codes the array holds.
            if (data[0] >= 0 && data[0] < kKeyStateCount) d->keyState[data[0]] = static_cast<uint8_t>(data[1]);
            d->lastQualifiers = static_cast<uint32_t>(data[2]);
            posted = PostEvent(d, kEventKey, data[1], data[2], data[0], nullptr);
            break;
        default: break;
    }
    UnlockDisplayList();
    return posted < 0 ? ERR_MEM : 0;
}

int RequestAdapterDisplayRefresh(void* handle) {
    qbDisplay* d = DisplayOfHandle(handle);
    if (!d) return ERR_FINDDISPLAY;
    RefreshDisplay(GetMainState(), d);
    return 0;
}

int GetAdapterDisplayAttrs(void* handle, qbAdapterTag* tags) {
    LockDisplayList();
    const qbDisplay* d = DisplayOfHandle(handle);
    if (!d) {
        UnlockDisplayList();
        return -1;
    }
    int known = 0;
    for (qbAdapterTag* t = tags; t && t->tag != 0; ++t) {
        ++known;
        switch (t->tag) {
            case kAttrWidth: t->value = d->width; break;
            case kAttrHeight: t->value = d->height; break;
            case kAttrBGPicWidth: t->value = d->bgpic ? d->bgpic->currentWidth : 0; break;
            case kAttrBGPicHeight: t->value = d->bgpic ? d->bgpic->currentHeight : 0; break;
            case kAttrStyle: t->value = GetDisplayStyleFlags(d); break;
            case kAttrScaleWidth: t->value = d->scaleWidth; break;
            case kAttrScaleHeight: t->value = d->scaleHeight; break;
            case kAttrSmoothScale: t->value = d->smoothScale; break;
            default: --known; break;
        }
    }
    UnlockDisplayList();
    return known;
}
