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
#include "core/objectdata.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/displayscaling.h"
#include "display/positions.h"
#include "display/refresh.h"
#include "imaging/bitmap.h"
#include "media/videoclip.h"
#include "media/videoplayback.h"
#include "objects/adoptid.h"
#include "objects/layersources.h"
#include "core/soundevents.h"
#include "sound/channels.h"
#include "sound/soundevents.h"
#include "sound/soundlib.h"

namespace {

qbObject* videoHead = nullptr;
std::recursive_mutex videoListMutex;
std::string defaultLoader;

qbVideo* AsVideo(qbObject* o) { return static_cast<qbVideo*>(o); }

qbOwnVideoStream* Own(const qbVideo* v) { return v->stream ? v->stream->own.get() : nullptr; }

// Script coordinates to the window's pixels of a scaling display.
int32_t ScaleToDisplay(int32_t value, double factor) {
    const double scaled = std::trunc(value * factor);
    return static_cast<int32_t>(std::clamp(scaled, -2147483648.0, 2147483647.0));
}

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

template <class Visit>
void ForEachVideo(Visit visit) {
    std::lock_guard lock(videoListMutex);
    for (qbObject* o = videoHead; o; o = o->next) visit(AsVideo(o));
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

const qbDisplayVideoHooks kHooks{OnDisplay, HitTest, AreaMask, Redraw, StopOnDisplay, Suspend, Resume};

qbVideo* FindByID(ObjectID id, bool pendingToo) {
    std::lock_guard lock(videoListMutex);
    for (qbObject* o = videoHead; o; o = o->next) {
        if (o->id == id.number && o->handle == id.handle && (pendingToo || !AsVideo(o)->freePending))
            return AsVideo(o);
    }
    return nullptr;
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

void Unlink(qbVideo* v) {
    std::lock_guard lock(videoListMutex);
    for (qbObject** at = &videoHead; *at; at = &(*at)->next) {
        if (*at == v) {
            *at = v->next;
            return;
        }
    }
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
    return RegisterObjectList(&videoHead);
}

qbObject** VideoListHead() { return &videoHead; }

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
    v->loader = loader ? loader : "";
    v->adapter = adapter ? adapter : "";
    qbVideo* made = v.release();
    {
        std::lock_guard lock(videoListMutex);
        qbObject** at = &videoHead;
        while (*at) at = &(*at)->next;
        *at = made;
    }
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

int PlayVideoCore(ScriptState* L, qbVideo* v, int32_t x, int32_t y, int32_t channel) {
    qbDisplay* d = GetCurrentDisplay();
    if (!d || !d->bgpic || d->state != DISPSTATE_OPEN) return ERR_WRONGUSAGE;
    if (d->bgpic->keyColour != -1 || d->bgpic->current.mask || d->bgpic->current.alpha) return ERR_VIDEOTRANS;
    if (v->state == kVideoEnded) StopVideoCore(L, v, true);
    if (v->state == kVideoPlaying) return ERR_VIDPLAYING;
    if (v->state == kVideoPaused) return ERR_VIDPAUSED;
    qbOwnVideoStream* s = Own(v);
    if (!s) return ERR_WRONGUSAGE;
    v->x = ResolveSpecialX(x, v->width, d->bgpic->currentWidth, 0.0);
    v->y = ResolveSpecialY(y, v->height, d->bgpic->currentHeight, 0.0);
    // A scaling display shows its picture at another size: the video
    // follows it in the window's pixels.
    const bool scales = d->scaleX != 1.0 || d->scaleY != 1.0;
    v->displayX = ScaleToDisplay(v->x, d->scaleX);
    v->displayY = ScaleToDisplay(v->y, d->scaleY);
    v->displayWidth = std::max(ScaleToDisplay(v->width, d->scaleX), 1);
    v->displayHeight = std::max(ScaleToDisplay(v->height, d->scaleY), 1);
    v->areaWidth = d->bgpic->currentWidth;
    v->areaHeight = d->bgpic->currentHeight;
    if (scales && HasScaleSize(d)) GetScaledPictureSize(d, &v->areaWidth, &v->areaHeight);
    v->display = d;
    v->layer = false;
    qbVideoPlayParams params;
    params.video = IDOf(*v);
    params.x = v->displayX;
    params.y = v->displayY;
    params.width = v->displayWidth;
    params.height = v->displayHeight;
    params.volume = v->volume;
    params.channel = channel;
    params.smooth = scales ? d->smoothScale != 0 : v->smooth;
    // The output opens here, on the main thread, or the video plays silent.
    params.sound = s->audioChannels > 0 && SoundOutputReady();
    params.sink = qbVideoSink{PresentVideoPicture, EndVideo, DiscardPictures, v};
    v->state = kVideoPlaying;
    if (int err = StartVideoPlayback(s, params)) {
        v->state = kVideoStopped;
        v->display = nullptr;
        return err;
    }
    return 0;
}

int StopVideoCore(ScriptState* L, qbVideo* v, bool refresh, int32_t channel) {
    if (int err = VideoOrChannel(&v, channel)) return err;
    if (!VideoActive(v->state) && v->state != kVideoSuspended) return ERR_VIDSTOPPED;
    StopVideoStream(Own(v));
    if (qbOwnVideoStream* s = Own(v)) s->suspended = false;
    v->state = kVideoStopped;
    qbDisplay* d = v->display;
    DropOwnedDisplayBlits(d, v);
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

int DiscardVideo(ScriptState* L, ObjectID id) {
    qbVideo* v = nullptr;
    if (int err = GetVideo(id, &v)) return err;
    if (LayersShowObject(kObjectTypeVideo, id)) {
        v->id = 0;
        v->handle = v;
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
            v = AsVideo(videoHead);
        }
        if (!v) break;
        if (VideoActive(v->state)) StopVideoCore(L, v, false);
        FreeVideoRecord(L, v);
    }
    SetDisplayVideoHooks(nullptr);
    SetVideoChannelHooks(nullptr);
}
