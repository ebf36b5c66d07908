// The video list and what a video does on a display. The engine's threads
// look videos up by stream under the list mutex; everything else runs on
// the main thread.
#include "media/video.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/objectlist.h"
#include "core/objectdata.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/adapter.h"
#include "display/displayscaling.h"
#include "display/positions.h"
#include "display/refresh.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "media/videoclip.h"
#include "media/videoplayback.h"
#include "objects/adoptid.h"
#include "objects/displayobject.h"
#include "objects/layerdraw.h"
#include "objects/layers.h"
#include "objects/layersources.h"
#include "objects/sprites.h"
#include "objects/videohooks.h"
#include "core/soundevents.h"
#include "sound/channels.h"
#include "sound/soundevents.h"
#include "sound/soundlib.h"

namespace {

qbObjectList videoList;
std::recursive_mutex videoListMutex;
std::string defaultLoader;

qbVideo* AsVideo(qbObject* o) { return static_cast<qbVideo*>(o); }

qbOwnVideoStream* Own(const qbVideo* v) { return v->stream ? v->stream->own.get() : nullptr; }

// Script coordinates to the window's pixels of a scaling display.
int32_t ScaleToDisplay(int32_t value, double factor) {
    const double scaled = std::trunc(value * factor);
    return static_cast<int32_t>(std::clamp(scaled, -2147483648.0, 2147483647.0));
}

bool Scales(const qbDisplay* d) { return d->scaleX != 1.0 || d->scaleY != 1.0; }

// A scaling display shows its picture at another size: the video follows it
// in the window's pixels.
void Place(qbVideo* v) {
    const qbDisplay* d = v->display;
    v->displayX = ScaleToDisplay(v->x, d->scaleX);
    v->displayY = ScaleToDisplay(v->y, d->scaleY);
    v->displayWidth = std::max(ScaleToDisplay(v->width, d->scaleX), 1);
    v->displayHeight = std::max(ScaleToDisplay(v->height, d->scaleY), 1);
    v->areaWidth = d->bgpic ? d->bgpic->currentWidth : 0;
    v->areaHeight = d->bgpic ? d->bgpic->currentHeight : 0;
    if (Scales(d) && HasScaleSize(d)) GetScaledPictureSize(d, &v->areaWidth, &v->areaHeight);
}

bool Smooth(const qbVideo* v) { return Scales(v->display) ? v->display->smoothScale != 0 : v->smooth; }

// Runs on the refresh thread: the part of the picture on the display's
// picture becomes a bitmap that the main thread draws next.
void PresentVideoPicture(void* user, const uint32_t* pixels, int32_t width, int32_t height, int32_t rowLength,
                         double) {
    auto* v = static_cast<qbVideo*>(user);
    const qbVideoClip c = ClipVideoRect(v->displayX, v->displayY, width, height, v->areaWidth, v->areaHeight);
    if (!c.width || !c.height) return;
    qbBitmap* bitmap = nullptr;
    const uint32_t* first = pixels + static_cast<size_t>(c.sourceY) * static_cast<size_t>(rowLength) + c.sourceX;
    if (CreateBitmapFromARGB(first, -1, c.width, c.height, rowLength, false, 0, 0, &bitmap, nullptr, nullptr) != 0)
        return;
    QueueOwnedDisplayBlit(v->display, v, BitmapPtr(bitmap), c.x, c.y);
}

// Runs on the refresh thread for a video playing into its layers: the whole
// picture goes to the main thread, which puts it into the layers.
void PresentLayerPicture(void* user, const uint32_t* pixels, int32_t width, int32_t height, int32_t rowLength,
                         double) {
    auto* v = static_cast<qbVideo*>(user);
    qbBitmap* bitmap = nullptr;
    if (CreateBitmapFromARGB(pixels, -1, width, height, rowLength, false, 0, 0, &bitmap, nullptr, nullptr) != 0)
        return;
    QueueOwnedLayerPicture(v->display, v, BitmapPtr(bitmap));
}

void EndVideo(void* user) {
    auto* v = static_cast<qbVideo*>(user);
    const qbOwnVideoStream* s = Own(v);
    const uint32_t position = s && s->playback ? s->playback->finalPosition.load() : 0;
    SetVideoStateByHandle(s, kVideoEnded);
    PushSwitchedSoundEvent(kSoundEventVideoEnd, IDOf(*v), position, 0, 0, 1);
}

void DiscardPictures(void* user) {
    auto* v = static_cast<qbVideo*>(user);
    DropOwnedDisplayBlits(v->display, v);
}

bool PicturesNotDrawn(void* user) {
    auto* v = static_cast<qbVideo*>(user);
    return OwnedDisplayBlitPending(v->display, v);
}

template <class Visit>
void ForEachVideo(Visit visit) {
    std::lock_guard lock(videoListMutex);
    for (qbObject* o = videoList.head; o; o = o->next) visit(AsVideo(o));
}

bool ShownDirectly(const qbVideo* v, const qbDisplay* d) {
    return v->display == d && !v->layer && VideoActive(v->state);
}

// A video whose window is away for a moment still plays on the display:
// the display must not go while it does.
bool OnDisplay(const qbDisplay* d) {
    bool found = false;
    ForEachVideo([&](qbVideo* v) {
        found = found || (v->display == d && (VideoActive(v->state) || v->state == kVideoSuspended));
    });
    return found;
}

bool HitTest(const qbDisplay* d, int32_t x, int32_t y) {
    bool hit = false;
    ForEachVideo([&](qbVideo* v) {
        hit = hit || (ShownDirectly(v, d) && x >= v->displayX && y >= v->displayY &&
                      x < v->displayX + v->displayWidth && y < v->displayY + v->displayHeight);
    });
    return hit;
}

bool AreaMask(const qbDisplay* d, int32_t width, int32_t height, std::vector<uint8_t>* mask, int32_t* rowBytes) {
    bool any = false;
    ForEachVideo([&](qbVideo* v) {
        if (!ShownDirectly(v, d)) return;
        const qbVideoClip c = ClipVideoRect(v->displayX, v->displayY, v->displayWidth, v->displayHeight, width, height);
        if (!c.width || !c.height) return;
        if (!any) {
            *rowBytes = (width + 7) / 8;
            mask->assign(static_cast<size_t>(*rowBytes) * static_cast<size_t>(height), 0);
            any = true;
        }
        for (int32_t y = c.y; y < c.y + c.height; ++y)
            for (int32_t x = c.x; x < c.x + c.width; ++x)
                (*mask)[static_cast<size_t>(y) * static_cast<size_t>(*rowBytes) + static_cast<size_t>(x >> 3)] |=
                    static_cast<uint8_t>(0x80u >> (x & 7));
    });
    return any;
}

void Redraw(qbDisplay* display) {
    ForEachVideo([&](qbVideo* v) {
        if (ShownDirectly(v, display) && v->state != kVideoPlaying) RepresentVideoPicture(Own(v));
    });
}

// Stopping joins the engine's threads, which may want the list mutex: the
// videos are picked under it and stopped after.
template <class Pick>
void StopPicked(ScriptState* L, Pick pick) {
    std::vector<qbVideo*> picked;
    ForEachVideo([&](qbVideo* v) {
        if (pick(v)) picked.push_back(v);
    });
    for (qbVideo* v : picked) StopVideoCore(L, v, false);
}

void StopOnDisplay(ScriptState* L, qbDisplay* display) {
    StopPicked(L, [display](const qbVideo* v) { return ShownDirectly(v, display); });
}

void Suspend(qbDisplay* display) {
    ForEachVideo([&](qbVideo* v) {
        if (v->display != display || !VideoActive(v->state)) return;
        v->savedState = v->state;
        v->state = kVideoSuspended;
        if (qbOwnVideoStream* s = Own(v)) s->suspended = true;
        DropOwnedDisplayBlits(display, v);
    });
}

void Resume(qbDisplay* display) {
    ForEachVideo([&](qbVideo* v) {
        if (v->display != display || v->state != kVideoSuspended) return;
        v->state = v->savedState;
        if (qbOwnVideoStream* s = Own(v)) s->suspended = false;
    });
}

// With a display adapter the video is an instance of its BGPic, above the
// sprites, that the adapter draws it into.
qbSpriteInstance* AdapterInstance(const qbVideo* v) {
    if (!v->display || !v->display->bgpic) return nullptr;
    for (qbSpriteInstance* i = v->display->bgpic->spriteInstances.get(); i; i = i->next.get())
        if (!i->sprite && i->video == v) return i;
    return nullptr;
}

void PlaceAgain(void* user) {
    auto* v = static_cast<qbVideo*>(user);
    Place(v);
    if (qbSpriteInstance* i = AdapterInstance(v)) {
        i->x = v->displayX;
        i->y = v->displayY;
        i->width = v->displayWidth;
        i->height = v->displayHeight;
    }
}

// The engine follows the video's new script geometry or the display's new
// factors; the display is drawn again around it.
int ApplyGeometry(ScriptState* L, qbVideo* v) {
    if (!VideoActive(v->state) || v->layer || !v->display) return 0;
    qbDisplay* d = v->display;
    const int32_t x = ScaleToDisplay(v->x, d->scaleX), y = ScaleToDisplay(v->y, d->scaleY);
    const int32_t width = std::max(ScaleToDisplay(v->width, d->scaleX), 1);
    const int32_t height = std::max(ScaleToDisplay(v->height, d->scaleY), 1);
    const int err = SetVideoStreamGeometry(Own(v), x, y, width, height, Smooth(v), PlaceAgain, v);
    if (L) RefreshDisplay(L, d);
    return err;
}

void Rescale(ScriptState* L, qbDisplay* display) {
    std::vector<qbVideo*> picked;
    ForEachVideo([&](qbVideo* v) {
        if (ShownDirectly(v, display)) picked.push_back(v);
    });
    // Parking the threads may wait for one that wants the list mutex.
    for (qbVideo* v : picked) ApplyGeometry(L, v);
}

template <class Visit>
void ForEachLayerOf(const qbVideo* v, Visit visit) {
    const ObjectID id = IDOf(*v);
    for (qbBGPic* b = FirstBGPic(); b; b = static_cast<qbBGPic*>(b->next)) {
        if (!b->layers) continue;
        for (const auto& layer : b->layers->layers)
            if (layer->type == kLayerVideo && layer->id == id) visit(layer.get());
    }
}

bool InList(const void* record) {
    bool found = false;
    ForEachVideo([&](const qbVideo* v) { found = found || v == record; });
    return found;
}

// On the main thread: the picture goes into every layer of the video, in
// place (the layers keep their style, place and transform), and each is
// shown again. A video whose layers are all gone stops.
void LayerPicture(ScriptState* L, qbDisplay* display, const void* owner, BitmapPtr picture) {
    if (!InList(owner)) return;
    auto* v = static_cast<qbVideo*>(const_cast<void*>(owner));
    if (!v->layer || !VideoActive(v->state)) return;
    std::vector<qbLayer*> layers;
    ForEachLayerOf(v, [&](qbLayer* layer) { layers.push_back(layer); });
    if (layers.empty()) {
        StopVideoCore(L, v, false);
        return;
    }
    for (qbLayer* layer : layers) {
        qbBitmap* own = layer->basestate->bitmap;
        if (!own) continue;
        const int32_t w = std::min(own->width, picture->width), h = std::min(own->height, picture->height);
        CopyBitmapRect(picture.get(), 0, 0, own, 0, 0, w, h);
        ShowDrawnLayer(L, display, layer);
    }
}

const qbDisplayVideoHooks kHooks{OnDisplay, HitTest, AreaMask, Redraw,  StopOnDisplay,
                                 Suspend,   Resume,  Rescale,  LayerPicture};

qbVideo* FindByID(ObjectID id, bool pendingToo) {
    std::lock_guard lock(videoListMutex);
    // A freed video a layer still shows gives its number up at once, so the
    // index's first record is the only one with the id.
    qbObject* o = FindListedObject(videoList, id);
    return o && (pendingToo || !AsVideo(o)->freePending) ? AsVideo(o) : nullptr;
}

// The video a core acts on: the one given, else the owner of the sound on
// the channel (free-pending videos included).
int VideoOrChannel(qbVideo** v, int32_t channel) {
    if (*v) return 0;
    if (channel < 0) return ERR_WRONGUSAGE;
    int32_t type = kChannelObjNone;
    ObjectID owner;
    if (GetChannelInfo(channel, &type, &owner, nullptr) != 0 || type != kChannelObjVideo) return ERR_WRONGUSAGE;
    *v = FindByID(owner, true);
    return *v ? 0 : ERR_WRONGUSAGE;
}

int StopChannelVideo(ScriptState* L, int channel) { return StopVideoCore(L, nullptr, true, channel); }

void ChannelVideoVolume(int channel, int32_t volume) {
    qbVideo* v = nullptr;
    if (VideoOrChannel(&v, channel) == 0) v->volume = std::clamp(volume, 0, 64);
}

const qbVideoChannelHooks kChannelHooks{StopChannelVideo, ChannelVideoVolume};

// A video that no layer shows any more is free for size and position
// changes again; a closed one or a hidden copy goes.
void SweepLayerVideos(ScriptState* L) {
    // A video playing into layers that are all gone stops.
    StopPicked(L, [](const qbVideo* v) {
        return v->layer && (VideoActive(v->state) || v->state == kVideoSuspended) &&
               !LayersShowObject(kObjectTypeVideo, IDOf(*v));
    });
    ForEachVideo([](qbVideo* v) {
        if (v->layer && !VideoActive(v->state) && !LayersShowObject(kObjectTypeVideo, IDOf(*v))) v->layer = false;
    });
    FreeUnusedPendingVideos(L);
}

int LayerCommand(ScriptState* L, ObjectID id, int32_t op, double argument) {
    qbVideo* v = nullptr;
    if (int err = GetVideo(id, &v, kVideoPendingToo)) return err;
    const double whole = std::isnan(argument) ? -1.0 : std::clamp(argument, -1.0, 4294967296.0);
    switch (op) {
    case kVideoLayerVolume: return SetVideoVolumeCore(v, static_cast<int32_t>(std::clamp(whole, 0.0, 64.0)));
    case kVideoLayerSeek: return SeekVideoCore(v, static_cast<int64_t>(whole));
    case kVideoLayerResume: return ResumeVideoCore(v);
    case kVideoLayerPause: return PauseVideoCore(v);
    case kVideoLayerStop: return StopVideoCore(L, v, false);
    case kVideoLayerPlay: return PlayVideoIntoLayers(L, v, -1);
    default: return ERR_WRONGUSAGE;
    }
}

void StopDisplayLayers(ScriptState* L, qbDisplay* display) {
    StopPicked(L, [display](const qbVideo* v) {
        return v->layer && v->display == display && (VideoActive(v->state) || v->state == kVideoSuspended);
    });
}

int LayerAttribute(ObjectID id, int32_t attribute, double* number, const char** text) {
    qbVideo* v = nullptr;
    if (GetVideo(id, &v, kVideoPendingToo)) return 0;
    switch (attribute) {
    case 11: *number = VideoFrameCount(v); break;
    case 14: *number = v->duration; break;
    case 18: *number = static_cast<double>(VideoPosition(v)); break;
    case 19: *text = VideoFormatName(v); break;
    case 72: *number = v->seekable ? 1 : 0; break;
    case 83: *number = v->state == kVideoPlaying ? 1 : 0; break;
    case 84: *number = v->state == kVideoPaused ? 1 : 0; break;
    default: return ERR_UNKNOWNATTR;
    }
    return 0;
}

int InsertLayerVideo(ScriptState* L, ObjectID id, int32_t x, int32_t y, int32_t pos, uint32_t addFlags,
                     qbLayer** out) {
    qbVideo* v = nullptr;
    if (int err = GetVideo(id, &v, kVideoModify)) return err;
    if (v->stream && v->stream->kind == kVideoDriverNative) return ERR_VIDEOLAYERDRV;
    return ShowVideoFrameAsLayer(L, v, x, y, 0, 0, pos, addFlags, out);
}

const qbVideoLayerHooks kLayerHooks{SweepLayerVideos, LayerCommand, StopDisplayLayers, LayerAttribute,
                                    InsertLayerVideo};

void Unlink(qbVideo* v) {
    std::lock_guard lock(videoListMutex);
    UnlinkObject(&videoList, v);
}

void FreeVideoRecord(ScriptState* L, qbVideo* v) {
    if (VideoActive(v->state)) StopVideoCore(L, v, true);
    Unlink(v);
    std::unique_ptr<qbVideo> gone(v);
    CloseVideoStream(std::move(v->stream));
    FreeObjectDataList(L, &v->data);
}

}  // namespace

int InitVideoList() {
    SetDisplayVideoHooks(&kHooks);
    SetVideoChannelHooks(&kChannelHooks);
    SetVideoLayerHooks(&kLayerHooks);
    return RegisterObjectList(&videoList);
}

qbObjectList* VideoListHead() { return &videoList; }

int GetVideo(ObjectID id, qbVideo** out, uint32_t flags) {
    *out = FindByID(id, (flags & kVideoPendingToo) != 0);
    if (*out) {
        if ((flags & kVideoModify) && (*out)->lockCount) {
            *out = nullptr;
            return ERR_LOCKEDOBJ;
        }
        return 0;
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDVIDEO;
}

const std::string& DefaultVideoLoader() { return defaultLoader; }
void SetDefaultVideoLoader(const std::string& loader) { defaultLoader = loader; }

int OpenVideoCore(ScriptState* L, NewObjectID id, const char* file, const char* loader, const char* adapter,
                  qbVideo** out) {
    qbVideoStreamOpened opened;
    if (int err = OpenVideoStream(file, loader, adapter, &opened)) return err;
    if (int err = AttachNativeVideoEngine(opened.handle.get())) {
        CloseVideoStream(std::move(opened.handle));
        // The script named the file, not the copy the driver may have made.
        if (err == ERR_LOADVIDEO) SetErrorDetail(file ? file : "");
        return err;
    }
    std::unique_ptr<qbVideo> v(new (std::nothrow) qbVideo);
    if (!v) return ERR_MEM;
    v->type = kObjectTypeVideo;
    v->handle = v.get();
    v->stream = std::move(opened.handle);
    v->fileWidth = v->width = v->displayWidth = opened.width;
    v->fileHeight = v->height = v->displayHeight = opened.height;
    v->duration = opened.duration;
    v->seekable = opened.seekable != 0;
    v->file = file ? file : "";
    v->readsFrom = NativeFileIdOf(file);
    v->loader = loader ? loader : "";
    v->adapter = adapter ? adapter : "";
    {
        std::lock_guard lock(videoListMutex);
        if (AppendObject(&videoList, v.get())) {
            CloseVideoStream(std::move(v->stream));
            return ERR_MEM;
        }
    }
    qbVideo* made = v.release();
    if (int err = AdoptObjectID(
            made, id,
            [L](ObjectID old) {
                const int code = DiscardVideo(L, old);
                return code == ERR_FINDVIDEO ? 0 : code;
            },
            [L](qbVideo* record) { FreeVideoRecord(L, record); }))
        return err;
    *out = made;
    return 0;
}

namespace {

// The engine's half of a start: at the display position and size given,
// its pictures through the presenter given.
int StartPlayback(qbVideo* v, int32_t channel, void (*present)(void*, const uint32_t*, int32_t, int32_t, int32_t,
                                                                  double)) {
    qbOwnVideoStream* s = Own(v);
    if (!s) return ERR_WRONGUSAGE;
    qbVideoPlayParams params;
    params.video = IDOf(*v);
    params.x = v->layer ? 0 : v->displayX;
    params.y = v->layer ? 0 : v->displayY;
    params.width = v->layer ? v->fileWidth : v->displayWidth;
    params.height = v->layer ? v->fileHeight : v->displayHeight;
    params.volume = v->volume;
    params.channel = channel;
    params.smooth = !v->layer && Smooth(v);
    // The output opens here, on the main thread, or the video plays silent.
    params.sound = s->audioChannels > 0 && SoundOutputReady();
    params.sink = qbVideoSink{present, EndVideo, DiscardPictures, v, PicturesNotDrawn};
    v->state = kVideoPlaying;
    if (int err = StartVideoPlayback(s, params)) {
        v->state = kVideoStopped;
        v->display = nullptr;
        return err;
    }
    return 0;
}

// A layer of the video at (x, y) in its file's size, showing image first.
qbDisplayObjectCall VideoLayerCall(qbVideo** video, int32_t x, int32_t y, int optArg, qbBitmap* image,
                                   qbLayer** out) {
    const qbVideo& v = **video;
    qbDisplayObjectCall call;
    // The options' script code may close the video.
    call.refind = [id = IDOf(v), video] { return GetVideo(id, video); };
    call.type = kShowVideo;
    call.id = IDOf(v);
    call.x = x;
    call.y = y;
    call.width = v.fileWidth;
    call.height = v.fileHeight;
    call.optArg = optArg;
    call.videoImage = image;
    call.outLayer = out;
    return call;
}

// A new layer of the current BGPic, black at the file size, that the video
// then plays into. The layer goes again when the video cannot start.
int PlayAsNewLayer(ScriptState* L, qbVideo* v, int32_t x, int32_t y, int32_t channel, int optArg) {
    qbBitmap* black = nullptr;
    try {
        const std::vector<uint32_t> pixels(static_cast<size_t>(v->fileWidth) * static_cast<size_t>(v->fileHeight), 0);
        if (int err = CreateBitmapFromARGB(pixels.data(), -1, v->fileWidth, v->fileHeight, v->fileWidth, false, 0, 0,
                                           &black, nullptr, nullptr))
            return err;
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    qbLayer* layer = nullptr;
    if (int err = DisplayObject(L, VideoLayerCall(&v, x, y, optArg, black, &layer))) return err;
    // The options' script code may have started the video meanwhile, on
    // the display or into a layer of its own: a refusal leaves it so.
    const bool playedAsLayer = v->layer;
    v->layer = true;
    if (int err = PlayVideoIntoLayers(L, v, channel)) {
        v->layer = playedAsLayer;
        if (layer) FreeLayer(L, layer, false);
        return err;
    }
    return 0;
}

}  // namespace

qbDisplay* FindDisplayOfVideo(const qbVideo* v) {
    for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d)) {
        bool shows = false;
        ForEachLayerOf(v, [&](const qbLayer* layer) { shows = shows || FindBGPicOfLayer(layer) == d->bgpic; });
        if (shows) return d;
    }
    return GetCurrentDisplay();
}

int PlayVideoIntoLayers(ScriptState* L, qbVideo* v, int32_t channel) {
    if (v->stream && v->stream->kind == kVideoDriverNative) return ERR_VIDEOLAYERDRV;
    if (v->state == kVideoEnded) StopVideoCore(L, v, false);
    if (v->state == kVideoPlaying) return ERR_VIDPLAYING;
    if (v->state == kVideoPaused) return ERR_VIDPAUSED;
    if (v->state == kVideoSuspended) return ERR_VIDPLAYING;
    qbDisplay* d = FindDisplayOfVideo(v);
    if (!d || !d->blitMutex) return ERR_NOLAYERS;
    v->display = d;
    v->layer = true;
    return StartPlayback(v, channel, PresentLayerPicture);
}

int PlayVideoCore(ScriptState* L, qbVideo* v, int32_t x, int32_t y, int32_t channel, bool useLayer, int optArg) {
    qbDisplay* d = GetCurrentDisplay();
    if (v->stream && v->stream->kind == kVideoDriverNative && HasDisplayAdapter()) return ERR_DISPLAYADAPTERSUPPORT;
    if (useLayer) {
        if (int err = CheckLayerTarget(d)) return err;
        if (!GetCurrentBGPic()) return ERR_NOLAYERS;
        if (v->stream && v->stream->kind == kVideoDriverNative) return ERR_VIDEOLAYERDRV;
    } else {
        if (!d || !d->bgpic || d->state != DISPSTATE_OPEN) return ERR_WRONGUSAGE;
        if (!d->layersEnabled && (d->bgpic->keyColour != -1 || d->bgpic->current.mask || d->bgpic->current.alpha))
            return ERR_VIDEOTRANS;
    }
    if (v->state == kVideoEnded) StopVideoCore(L, v, !v->layer);
    const bool shownByLayer = v->layer || LayersShowObject(kObjectTypeVideo, IDOf(*v));
    if (useLayer) {
        // A busy video plays a second time, independently, from a copy.
        qbVideo* use = v;
        if (VideoActive(v->state) || v->state == kVideoSuspended || shownByLayer)
            if (int err = OpenHiddenVideoCopy(L, v, &use)) return err;
        const int err = PlayAsNewLayer(L, use, x, y, channel, optArg);
        if (use != v) FreeUnusedPendingVideos(L);
        return err;
    }
    if (v->state == kVideoPlaying) return ERR_VIDPLAYING;
    if (v->state == kVideoPaused) return ERR_VIDPAUSED;
    if (shownByLayer) return ERR_DBVIDEOLAYER;
    if (!Own(v)) return ERR_WRONGUSAGE;
    v->x = ResolveSpecialX(x, v->width, d->bgpic->currentWidth, 0.0);
    v->y = ResolveSpecialY(y, v->height, d->bgpic->currentHeight, 0.0);
    v->display = d;
    Place(v);
    v->layer = false;
    if (HasDisplayAdapter())
        if (int err = AddSpriteInstance(d->bgpic, v->displayX, v->displayY, v->displayWidth, v->displayHeight, 0,
                                        nullptr, v, nullptr, IDOf(*v), nullptr)) {
            v->display = nullptr;
            return err;
        }
    const int err = StartPlayback(v, channel, PresentVideoPicture);
    if (err) RemoveVideoInstance(v);
    return err;
}

int StopVideoCore(ScriptState* L, qbVideo* v, bool refresh, int32_t channel) {
    if (int err = VideoOrChannel(&v, channel)) return err;
    if (!VideoActive(v->state) && v->state != kVideoSuspended) return ERR_VIDSTOPPED;
    StopVideoStream(Own(v));
    if (qbOwnVideoStream* s = Own(v)) s->suspended = false;
    v->state = kVideoStopped;
    qbDisplay* d = v->display;
    DropOwnedDisplayBlits(d, v);
    RemoveVideoInstance(v);
    v->display = nullptr;
    if (refresh && d && L) RefreshDisplay(L, d);
    return 0;
}

int PauseVideoCore(qbVideo* v, int32_t channel) {
    if (int err = VideoOrChannel(&v, channel)) return err;
    if (v->state != kVideoPlaying) return ERR_VIDNOTPLAYING;
    PauseVideoStream(Own(v));
    v->state = kVideoPaused;
    return 0;
}

int ResumeVideoCore(qbVideo* v, int32_t channel) {
    if (int err = VideoOrChannel(&v, channel)) return err;
    if (v->state != kVideoPaused) return ERR_VIDNOTPAUSED;
    v->state = kVideoPlaying;
    ResumeVideoStream(Own(v));
    return 0;
}

int SeekVideoCore(qbVideo* v, int64_t position, int32_t channel) {
    if (int err = VideoOrChannel(&v, channel)) return err;
    if (!v->seekable) return ERR_SEEKFORMAT;
    // Unsigned, as the stream counts: a negative position is out of range too.
    const auto at = static_cast<uint32_t>(position);
    if (position < 0 || position > UINT32_MAX || at > v->duration - 1u) return ERR_SEEKRANGE;
    return SeekVideoStream(Own(v), at);
}

int SetVideoVolumeCore(qbVideo* v, int32_t volume, int32_t channel) {
    if (int err = VideoOrChannel(&v, channel)) return err;
    v->volume = std::clamp(volume, 0, 64);
    if (VideoActive(v->state)) SetVideoStreamVolume(Own(v), v->volume);
    return 0;
}

int SetVideoSizeCore(ScriptState* L, qbVideo* v, int32_t width, int32_t height, bool smooth) {
    if (v->layer) return ERR_VIDLAYERFUNC;
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    if (width == v->width && height == v->height && smooth == v->smooth) return 0;
    v->width = width;
    v->height = height;
    v->smooth = smooth;
    return ApplyGeometry(L, v);
}

int SetVideoPositionCore(ScriptState* L, qbVideo* v, int32_t x, int32_t y) {
    if (v->layer) return ERR_VIDLAYERFUNC;
    const qbDisplay* d = v->display ? v->display : GetCurrentDisplay();
    const int32_t areaWidth = d && d->bgpic ? d->bgpic->currentWidth : 0;
    const int32_t areaHeight = d && d->bgpic ? d->bgpic->currentHeight : 0;
    v->x = ResolveSpecialX(x, v->width, areaWidth, 0.0);
    v->y = ResolveSpecialY(y, v->height, areaHeight, 0.0);
    return ApplyGeometry(L, v);
}

int GrabVideoPicture(qbVideo* v, int64_t position, int32_t mode, int32_t count, const std::vector<uint32_t>** pixels) {
    if (v->state != kVideoStopped) return ERR_FGRABVIDSTATE;
    if (v->layer || LayersShowObject(kObjectTypeVideo, IDOf(*v))) return ERR_WRONGUSAGE;
    if (mode != kVideoGrabFrame && mode != kVideoGrabTime) return ERR_WRONGUSAGE;
    if (mode == kVideoGrabTime) {
        if (!v->seekable) return ERR_SEEKFORMAT;
        if (position < 0 || position > UINT32_MAX || static_cast<uint32_t>(position) > v->duration - 1u)
            return ERR_SEEKRANGE;
    } else if (position < 1) {
        return ERR_VIDEOFRAME;
    }
    const auto at = static_cast<uint32_t>(std::min<int64_t>(position, UINT32_MAX));
    if (v->stream && v->stream->kind == kVideoDriverNative) {
        if (int err = GrabNativeVideoFrame(v->stream.get(), at, mode)) return err;
        // A movie whose pictures are not of the size it declared: none.
        const size_t size = static_cast<size_t>(v->fileWidth) * static_cast<size_t>(v->fileHeight);
        if (v->stream->grab.size() != size) return ERR_VIDEOFRAME;
        *pixels = &v->stream->grab;
        return 0;
    }
    qbOwnVideoStream* s = Own(v);
    if (!s) return ERR_WRONGUSAGE;
    if (int err = GrabVideoFrame(s, at, mode, count)) return err;
    *pixels = &s->grab;
    return 0;
}

int OpenHiddenVideoCopy(ScriptState* L, const qbVideo* v, qbVideo** out) {
    qbVideo* made = nullptr;
    const std::string file = v->file, loader = v->loader, adapter = v->adapter;
    if (int err = OpenVideoCore(L, NewObjectID{0, 1}, file.c_str(), loader.c_str(),
                                adapter.empty() ? nullptr : adapter.c_str(), &made))
        return err;
    made->freePending = true;
    made->volume = v->volume;
    *out = made;
    return 0;
}

int ShowVideoFrameAsLayer(ScriptState* L, qbVideo* v, int32_t x, int32_t y, int64_t position, int optArg,
                          int32_t insertPos, uint32_t addFlags, qbLayer** out) {
    if (v->state == kVideoEnded) StopVideoCore(L, v, !v->layer);
    qbVideo* use = v;
    if (VideoActive(v->state) || v->state == kVideoSuspended || v->layer ||
        LayersShowObject(kObjectTypeVideo, IDOf(*v)))
        if (int err = OpenHiddenVideoCopy(L, v, &use)) return err;
    const std::vector<uint32_t>* pixels = nullptr;
    int err = position == 0 ? GrabVideoPicture(use, 1, kVideoGrabFrame, 1, &pixels)
                            : GrabVideoPicture(use, position, kVideoGrabTime, 15, &pixels);
    qbBitmap* bitmap = nullptr;
    if (!err)
        err = CreateBitmapFromARGB(pixels->data(), -1, use->fileWidth, use->fileHeight, use->fileWidth, false, 0, 0,
                                   &bitmap, nullptr, nullptr);
    if (!err) {
        qbDisplayObjectCall call = VideoLayerCall(&use, x, y, optArg, bitmap, out);
        call.insertPos = insertPos;
        call.addFlags = addFlags;
        err = DisplayObject(L, call);
    }
    if (!err) use->layer = true;
    // A copy that no layer took goes at once.
    if (use != v) FreeUnusedPendingVideos(L);
    return err;
}

int DisplayVideoFrameCore(ScriptState* L, qbVideo* v, int32_t x, int32_t y, int64_t position, int optArg) {
    return ShowVideoFrameAsLayer(L, v, x, y, position, optArg, -1, kAddDisplayScale, nullptr);
}

int DiscardVideo(ScriptState* L, ObjectID id) {
    qbVideo* v = nullptr;
    if (int err = GetVideo(id, &v)) return err;
    if (LayersShowObject(kObjectTypeVideo, id)) {
        {
            // Without memory for its new key the video keeps its number,
            // hidden from lookups by its pending mark; it goes all the same.
            std::lock_guard lock(videoListMutex);
            RenumberObject(v, ObjectID{0, v});
        }
        v->freePending = true;
        RelinkLayerSources(kObjectTypeVideo, id, IDOf(*v));
        return 0;
    }
    FreeVideoRecord(L, v);
    return 0;
}

void FreeUnusedPendingVideos(ScriptState* L) {
    std::vector<qbVideo*> unused;
    ForEachVideo([&](qbVideo* v) {
        if (v->freePending && !LayersShowObject(kObjectTypeVideo, IDOf(*v))) unused.push_back(v);
    });
    for (qbVideo* v : unused) FreeVideoRecord(L, v);
}

void SetVideoStateByHandle(const qbOwnVideoStream* stream, int32_t state) {
    if (!stream) return;
    ForEachVideo([&](qbVideo* v) {
        if (Own(v) != stream) return;
        // An end while the window is away shows once the window is back.
        if (v->state == kVideoSuspended)
            v->savedState = state;
        else
            v->state = state;
    });
}

qbOwnVideoStream* GetVideoStreamHandle(const qbVideo* v) { return Own(v); }

void StopAllVideos(ScriptState* L) {
    StopPicked(L, [](const qbVideo* v) { return VideoActive(v->state) || v->state == kVideoSuspended; });
}

void FreeAllVideos(ScriptState* L) {
    for (;;) {
        qbVideo* v = nullptr;
        {
            std::lock_guard lock(videoListMutex);
            v = AsVideo(videoList.head);
        }
        if (!v) break;
        if (VideoActive(v->state)) StopVideoCore(L, v, false);
        FreeVideoRecord(L, v);
    }
    SetDisplayVideoHooks(nullptr);
    SetVideoChannelHooks(nullptr);
    SetVideoLayerHooks(nullptr);
}
