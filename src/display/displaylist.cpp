// The display list and the lifecycle of its records: creation with the
// display's own BGPic, lookup, activation, freeing, and start-up.
#include <cstring>
#include <new>
#include <utility>

#include "core/errors.h"
#include "core/eventqueue.h"
#include "core/platformhooks.h"
#include "core/settings.h"
#include "display/adapter.h"
#include "display/backfill.h"
#include "display/bgpics.h"
#include "display/bgpicscaling.h"
#include "display/displayhooks.h"
#include "display/displaymenus.h"
#include "display/displays.h"
#include "display/displayscaling.h"
#include "display/displaywindow.h"
#include "display/objecthooks.h"
#include "display/refresh.h"
#include "display/safeblt.h"
#include "display/selection.h"
#include "imaging/blit.h"
#include "imaging/imagehandle.h"
#include "platform/platform_ops.h"

namespace {

qbDisplayBrushHooks brushHooks;
const qbAsyncDrawHooks* asyncDraws = nullptr;
PendingFontsHook pendingFonts = nullptr;
PendingSpritesHook pendingSprites = nullptr;
int (*pendingAnims)(ScriptState*) = nullptr;

struct DisplayGlobals {
    qbObject* head = nullptr;
    qbMutex lock;
    qbDisplay* current = nullptr;
    qbBGPic* outputBGPic = nullptr;
    bool recording = false;
    qbDisplay* spare = nullptr;
    bool picturesPending = true;
};

DisplayGlobals& G() {
    static DisplayGlobals globals;
    return globals;
}

qbDisplay* AsDisplay(qbObject* object) { return static_cast<qbDisplay*>(object); }

constexpr ObjectID kDisplayOne{1, nullptr};

// The user resized the window: it already has the new size and stands where
// the user left it, so the display follows without moving it again and then
// fills the new window surface, which starts blank.
int FollowWindowSize(ScriptState* L, qbDisplay* d, int width, int height) {
    d->x = d->view.x;
    d->y = d->view.y;
    qbResizeRequest r;
    r.width = width;
    r.height = height;
    r.noWindow = true;
    r.smooth = d->smoothScale != 0;
    if (int err = ResizeDisplay(L, d, r)) return err;
    ApplyDisplayRegions(d, true);
    ClearDisplayBorders(d);
    RefreshDisplay(L, d);
    return 0;
}

void UnlinkDisplay(qbDisplay* display) {
    LockDisplayList();
    for (qbObject** link = &G().head; *link; link = &(*link)->next) {
        if (*link == display) {
            *link = display->next;
            display->next = nullptr;
            break;
        }
    }
    UnlockDisplayList();
}

void FreeDisplayResources(ScriptState* L, qbDisplay* d, bool atShutdown) {
    if (brushHooks.freeDisplay) brushHooks.freeDisplay(L, d);
    if (d->ownsBGPic && d->bgpic && !atShutdown) UnlinkAndFreeBGPic(L, d->bgpic);
    // A picture the script keeps outlives the window's size.
    if (!d->ownsBGPic && d->bgpic && d->pictureScaling && !atShutdown) UnscaleBGPic(L, d, d->bgpic, false);
    d->bgpic = nullptr;
    d->spriteFreeBuffer.reset();
    d->backBuffer.reset();
    for (BitmapPtr& b : d->scaledBuffers) b.reset();
    d->effectPiece.reset();
    d->shapeMask.reset();
    d->shapeAlpha.reset();
    d->placement.clear();
    if (!HasDisplayAdapter()) FreeNativeWindowRec(d);
    for (qbHandlerSlot& slot : d->handlers) {
        if (L && slot.function != -1) VmReleaseRef(L, kRegistryIndex, slot.function);
        if (L && slot.userData != -1) VmReleaseRef(L, kRegistryIndex, slot.userData);
        slot = qbHandlerSlot{};
    }
    ClearDisplayBlitQueue(d);
    FreeMutex(d->blitMutex);
    FreeDisplayHooks(d);
    FreeObjectDataList(L, &d->data);
}

// The display's own picture, filled by its fill settings: a pixel buffer
// while pictures wait for the first display, else a bitmap.
int MakeOwnBGPic(ScriptState* L, qbDisplay* d, bool displayOne, qbBGPic** out) {
    const bool pending = PicturesPending();
    NewObjectID id{0, 1};
    if (displayOne && pending) {
        qbBGPic* existing = nullptr;
        if (GetBGPic(L, ObjectID{1, nullptr}, &existing, 0) == 0 && d->screen.desktop) return ERR_DISPLAYDESKTOP;
        if (int err = FreeBGPicCore(L, ObjectID{1, nullptr}, false)) return err;
        id = NewObjectID{1, 0};
    }
    qbBGPicFill fill;
    fill.style = d->fill.style;
    fill.colour = d->fill.colour;
    fill.gradient = d->fill.gradient;
    fill.textureBrush = d->fill.textureBrush;
    fill.textureX = d->fill.textureX;
    fill.textureY = d->fill.textureY;
    fill.valid = 1;
    int err = 0;
    qbBGPic* picture = nullptr;
    if (pending) {
        qbImageHandle* buffer = NewImageHandleBuffer(d->width, d->height);
        if (!buffer) return ERR_MEM;
        err = FillDisplayBackdrop(d, nullptr, GetImageHandlePixels(buffer), d->width, d->height);
        if (!err)
            err = AllocBGPicRecord(id, 0, d->width, d->height, d->width, buffer, nullptr, nullptr, kNoKeyColour,
                                   nullptr, nullptr, &fill, &picture);
        if (err) ReleaseImageHandle(buffer);
    } else {
        BitmapPtr bitmap(AllocBitmap(d->width, d->height, 0, nullptr));
        if (!bitmap) return ERR_BITMAP;
        err = FillDisplayBackdrop(d, bitmap.get(), nullptr, d->width, d->height);
        if (!err)
            err = AllocBGPicRecord(id, 0, d->width, d->height, d->width, nullptr, bitmap.get(), nullptr,
                                   kNoKeyColour, nullptr, nullptr, &fill, &picture);
        if (!err) (void)bitmap.release();
    }
    if (err) return err;
    picture->madeByDisplay = 1;
    *out = picture;
    return 0;
}

void ApplyOptions(qbDisplay* d, const qbDisplayOptions& o) {
    std::memcpy(d->title, o.title.c_str(), o.title.size() + 1);
    d->x = o.x;
    d->y = o.y;
    d->width = o.width;
    d->height = o.height;
    d->flags = o.flags;
    if (o.hidden) d->flags |= kDisplayHidden;
    if (o.layers) d->flags |= kDisplayLayers;
    d->isBackfill = o.backfill;
    d->isResourceMonitor = o.resourceMonitor;
    if (o.backfill || o.resourceMonitor) d->flags |= kDisplayNotInTaskBar;
    d->fill = o.fill;
    d->autoscale = o.autoscale;
    d->layerScale = o.layerScale;
    d->scaleWidth = o.scaleWidth;
    d->scaleHeight = o.scaleHeight;
    d->smoothScale = o.smoothScale;
    SyncDisplayScalingWords(d);
    d->screen = o.screen;
}

}  // namespace

void SetDisplayBrushHooks(const qbDisplayBrushHooks* hooks) { brushHooks = hooks ? *hooks : qbDisplayBrushHooks{}; }

const qbDisplayBrushHooks& DisplayBrushHooks() { return brushHooks; }

void SetAsyncDrawHooks(const qbAsyncDrawHooks* hooks) { asyncDraws = hooks; }

bool DisplayHasAsyncDraws(const qbDisplay* display) { return asyncDraws && asyncDraws->displayHas(display); }

bool AsyncDrawUsesObject(const void* object) { return asyncDraws && asyncDraws->usesObject(object); }

int32_t NotifyLayerReplaced(void* oldLayer, void* newLayer) {
    return asyncDraws && asyncDraws->layerReplaced ? asyncDraws->layerReplaced(oldLayer, newLayer) : 0;
}

void EndDisplayAsyncDraws(ScriptState* L, const qbDisplay* display) {
    if (asyncDraws && asyncDraws->freeOn) asyncDraws->freeOn(L, display);
}

int32_t AsyncDrawsRefuseResize() { return asyncDraws && asyncDraws->busy ? asyncDraws->busy() : 0; }

void NotifyLayerImageChanged(void* layer) {
    if (asyncDraws && asyncDraws->imageChanged) asyncDraws->imageChanged(layer);
}

qbDisplay::~qbDisplay() { FreeDisplayHooks(this); }

qbObject** DisplayListHead() { return &G().head; }
qbDisplay* FirstDisplay() { return AsDisplay(G().head); }
qbDisplay* NextDisplay(const qbDisplay* display) { return display ? AsDisplay(display->next) : nullptr; }
void LockDisplayList() { G().lock.mutex.lock(); }
void UnlockDisplayList() { G().lock.mutex.unlock(); }
qbDisplay* GetCurrentDisplay() { return G().current; }
qbBGPic* GetCurrentOutputBGPic() { return G().outputBGPic; }
void SetCurrentOutputBGPic(qbBGPic* bgpic) { G().outputBGPic = bgpic; }
bool IsVideoRecording() { return G().recording; }
void SetVideoRecording(bool on) { G().recording = on; }
qbDisplay* GetSpareDisplay() { return G().spare; }
void SetSpareDisplay(qbDisplay* display) { G().spare = display; }
bool PicturesPending() { return G().picturesPending; }
void SetPicturesPending(bool pending) { G().picturesPending = pending; }
void SetPendingFontsHook(PendingFontsHook hook) { pendingFonts = hook; }
void SetPendingSpritesHook(PendingSpritesHook hook) { pendingSprites = hook; }
void SetPendingAnimsHook(int (*hook)(ScriptState*)) { pendingAnims = hook; }

// Videos arrive with their library.
namespace {
qbDisplayVideoHooks videoHooks;
}  // namespace

void SetDisplayVideoHooks(const qbDisplayVideoHooks* hooks) { videoHooks = hooks ? *hooks : qbDisplayVideoHooks{}; }

bool IsVideoOnDisplay(const qbDisplay* display) { return videoHooks.onDisplay && videoHooks.onDisplay(display); }

bool HitTestVideos(const qbDisplay* display, int32_t x, int32_t y) {
    return videoHooks.hitTest && videoHooks.hitTest(display, x, y);
}

bool BuildVideoAreaMask(const qbDisplay* display, int32_t width, int32_t height, std::vector<uint8_t>* mask,
                        int32_t* rowBytes) {
    return videoHooks.areaMask && videoHooks.areaMask(display, width, height, mask, rowBytes);
}

void RedrawDisplayVideos(qbDisplay* display) {
    if (videoHooks.redraw) videoHooks.redraw(display);
}

void StopDisplayVideos(ScriptState* L, qbDisplay* display) {
    if (videoHooks.stop) videoHooks.stop(L, display);
}

void SuspendDisplayVideos(qbDisplay* display) {
    if (videoHooks.suspend) videoHooks.suspend(display);
}

void ResumeDisplayVideos(qbDisplay* display) {
    if (videoHooks.resume) videoHooks.resume(display);
}

void RescaleDisplayVideos(ScriptState* L, qbDisplay* display) {
    if (videoHooks.rescale) videoHooks.rescale(L, display);
}

void PresentVideoLayerPicture(ScriptState* L, qbDisplay* display, const void* owner, BitmapPtr bitmap) {
    if (videoHooks.layerPicture) videoHooks.layerPicture(L, display, owner, std::move(bitmap));
}

int GetDisplayRecord(ObjectID id, qbDisplay** out) {
    for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d)) {
        if (d->id == id.number && d->handle == id.handle) {
            if (out) *out = d;
            return 0;
        }
    }
    if (out) *out = nullptr;
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDDISPLAY;
}

int CreateDisplay(ScriptState* L, NewObjectID id, const qbDisplayOptions* options, qbDisplay** out) {
    if (out) *out = nullptr;
    if (IsVideoRecording()) return ERR_VIDRECMULTI;
    if (!id.chooseFlag) {
        if (int err = FreeDisplayCore(L, ObjectID{id.id, nullptr}, false)) return err;
    }
    const qbDisplayOptions defaults;
    const qbDisplayOptions& o = options ? *options : defaults;
    if (o.title.size() >= kDisplayTitleSize) return ERR_WRONGUSAGE;
    if (o.width <= 0 || o.height <= 0) return ERR_WRONGUSAGE;
    std::unique_ptr<qbDisplay> d;
    try {
        d = std::make_unique<qbDisplay>();
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    ApplyOptions(d.get(), o);
    if (d->screen.desktop) {
        int32_t mx = 0, my = 0;
        if (GetDisplayMonitorInfo(d.get(), &mx, &my, &d->width, &d->height)) return ERR_GETMONITORINFO;
    }
    if (d->layerScale || (d->flags & kDisplayLayers)) d->layersEnabled = 1;
    if (!d->autoscale && !d->layerScale) ClearFitBorders(d.get());

    if (o.hasBGPic) {
        if (int err = GetBGPic(L, o.bgpic, &d->bgpic, 0)) return err;
    } else {
        if (int err = MakeOwnBGPic(L, d.get(), !id.chooseFlag && id.id == 1, &d->bgpic)) return err;
        d->ownsBGPic = 1;
    }
    auto dropBGPic = [&] {
        if (d->ownsBGPic) UnlinkAndFreeBGPic(L, d->bgpic);
        d->bgpic = nullptr;
    };
    if ((d->autoscale || d->layerScale) && d->scaleWidth && d->scaleHeight) {
        d->width = d->scaleWidth;
        d->height = d->scaleHeight;
    }
    d->outputPosition[3] = d->bgpic->currentWidth - 1;
    if (!HasDisplayAdapter()) {
        SyncWindowView(d.get());
        d->view.canToggleFullScreen = &CanToggleFullScreen;
        d->view.resizeDisplay = &FollowWindowSize;
        InstallWindowModeSwitch(d.get());
        if (int err = AllocNativeWindowRec(&d->view, d.get())) {
            dropBGPic();
            return err;
        }
    }
    d->blitMutex = AllocMutex();
    if (!d->blitMutex) {
        dropBGPic();
        if (!HasDisplayAdapter()) FreeNativeWindowRec(d.get());
        return ERR_SEMAPHORE;
    }
    qbDisplay* record = d.release();
    record->type = kObjectTypeDisplay;
    record->id = id.chooseFlag ? 0 : id.id;
    record->handle = id.chooseFlag ? record : nullptr;
    LockDisplayList();
    qbObject** link = &G().head;
    while (*link) link = &(*link)->next;
    *link = record;
    UnlockDisplayList();
    if (out) *out = record;
    if (id.chooseFlag && L) {
        VmPushLightUserdata(L, record);
        return 1;
    }
    return 0;
}

int FreeDisplayCore(ScriptState* L, ObjectID id, bool reportNotFound) {
    qbDisplay* d = nullptr;
    if (int err = GetDisplayRecord(id, &d)) return reportNotFound ? err : 0;
    if (d == GetCurrentDisplay()) return ERR_FREEADISPLAY;
    if (DisplayHasAsyncDraws(d)) return ERR_ADFFREEDISP;
    if (d->hooks) return ERR_SATFREEDISP;
    if (IsVideoOnDisplay(d)) return ERR_VIDATTACHED;
    if (d->state != DISPSTATE_CLOSED) CloseDisplayCore(L, d, 4);
    UnlinkDisplay(d);
    FreeDisplayResources(L, d, false);
    DetachEventOwner(d);
    std::unique_ptr<qbDisplay> owner(d);
    return 0;
}

void FreeAllDisplays(ScriptState* L) {
    if (asyncDraws) asyncDraws->freeAll(L);
    LockDisplayList();
    void* fade = nullptr;
    bool fullScreen = false;
    for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d)) fullScreen = fullScreen || d->fullScreen;
    if (fullScreen && !HasDisplayAdapter()) FadeDisplayOut(&fade, 1);
    // Freeing backfills changes the list: each pass starts again.
    for (;;) {
        qbDisplay* d = FirstDisplay();
        while (d && !HasBackfillObjects(d)) d = NextDisplay(d);
        if (!d) break;
        FreeBackfillObjects(L, d);
    }
    for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d))
        if (d->state != DISPSTATE_CLOSED && !d->fullScreen && !d->isBackfill) CloseDisplayCore(L, d, 0);
    while (qbDisplay* d = FirstDisplay()) {
        if (d->state != DISPSTATE_CLOSED) CloseDisplayCore(L, d, 8);
        G().head = d->next;
        FreeDisplayResources(L, d, true);
        DetachEventOwner(d);
        std::unique_ptr<qbDisplay> owner(d);
    }
    G().current = nullptr;
    G().outputBGPic = nullptr;
    UnlockDisplayList();
    if (fullScreen && !HasDisplayAdapter()) FadeDisplayIn(fade, 0);
    FreeAllMenus();
    if (!HasDisplayAdapter()) RestoreArrowPointer(nullptr);
    FreeBlitScaleCache();
    FreeSafeBltScratch();
    G().picturesPending = true;
}

void ResetDisplayInput(qbDisplay* d) {
    std::fill(std::begin(d->keyState), std::end(d->keyState), uint8_t{0});
    std::fill(std::begin(d->lastButtonWord), std::end(d->lastButtonWord), 0);
    if (!HasDisplayAdapter()) PrepareNativeDisplay(d);
}

void SetActiveDisplay(ScriptState* L, qbDisplay* d, bool keepWindow) {
    if (!d || d == G().current) return;
    qbDisplay* old = G().current;
    // Output redirected on the old display ends before another is current.
    if (old && old->output.type != kObjectTypeDisplay && !old->softDoubleBuffer) EndOutputSelection(L, old, false);
    if (!keepWindow && d->state == DISPSTATE_OPEN) ActivateDisplayWindow(d, true);
    G().current = d;
    G().outputBGPic = d->softDoubleBuffer && d->doubleBufferBGPic ? d->doubleBufferBGPic : d->bgpic;
}

int PrepareFirstDisplay(ScriptState* L, qbDisplay*) {
    // Brushes first: a BGPic may tile one under its picture.
    if (brushHooks.loadPending)
        if (int err = brushHooks.loadPending(L)) return err;
    if (pendingAnims)
        if (int err = pendingAnims(L)) return err;
    if (int err = LoadPendingBGPics(L)) return err;
    if (pendingSprites)
        if (int err = pendingSprites(L)) return err;
    if (pendingFonts)
        if (int err = pendingFonts()) return err;
    SetPicturesPending(false);
    PrintDoneMessage();
    if (GetRuntimeTag(kTagQuiet) == 0) ConsolePrintf("And Action!\n");
    return 0;
}

int StartDisplays(ScriptState* L) {
    if (NoPlatformHook() != 0) {
        // Without windows nothing the script shows could be seen: say so
        // instead of ending as if the user had quit.
        return ERR_WINDOW;
    }
    if (int err = PrepareNativeDisplays()) return err;
    if (!HasDisplayAdapter()) {
        if (int err = StartNativeUI()) return err;
    }
    PrintMessage("Preparing display", nullptr, 1);
    bool opened = false;
    for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d)) {
        if (d->state != DISPSTATE_CLOSED || (d->flags & kDisplayHidden)) continue;
        d->activateOnOpen = (d->flags & kDisplayActivate) ? 1 : 0;
        if (int err = OpenDisplayWindow(L, d, opened ? 0u : uint32_t{kDisplayFirstOpened})) return err;
        opened = true;
    }
    if (!opened) {
        if (int err = PrepareFirstDisplay(L, FirstDisplay())) return err;
    }
    qbDisplay* chosen = nullptr;
    for (qbDisplay* d = FirstDisplay(); d && !chosen; d = NextDisplay(d))
        if ((d->flags & kDisplayActivate) && !(d->flags & kDisplayHidden) && !d->isBackfill) chosen = d;
    if (!chosen && FirstDisplay()) {
        if (int err = GetDisplayRecord(kDisplayOne, &chosen)) return err;
    }
    // Until declared displays are created at start-up there may be none.
    if (chosen) SetActiveDisplay(L, chosen, false);
    return 0;
}
