// Video objects: the video list, opening, playing, pausing, seeking and
// stopping a video on a display, and what the display code asks of videos.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "core/argapi.h"
#include "core/objectref.h"
#include "core/objects.h"
#include "media/videostream.h"

struct ScriptState;
struct qbDisplay;
struct qbLayer;

constexpr int kObjectTypeVideo = 50;

enum : int32_t { kVideoStopped = 0, kVideoPlaying = 1, kVideoPaused = 2, kVideoSuspended = 3, kVideoEnded = 4 };

struct qbVideo : qbObject {
    qbVideoStreamPtr stream;
    int32_t x = 0, y = 0;                // script coordinates
    int32_t displayX = 0, displayY = 0;  // display pixels
    int32_t fileWidth = 0, fileHeight = 0;
    int32_t width = 0, height = 0;
    int32_t displayWidth = 0, displayHeight = 0;
    int32_t areaWidth = 0, areaHeight = 0;  // the display's picture while playing
    bool smooth = false;
    uint32_t duration = 0;
    // Written by the refresh thread at the end (through SetVideoStateByHandle).
    std::atomic<int32_t> state{kVideoStopped};
    int32_t savedState = kVideoStopped;
    qbDisplay* display = nullptr;
    int32_t volume = 64;
    bool seekable = false;
    bool layer = false;
    bool freePending = false;
    int32_t lockCount = 0;
    std::string file, adapter, loader;
};

// A video is active while playing, paused or ended.
inline bool VideoActive(int32_t state) {
    return state == kVideoPlaying || state == kVideoPaused || state == kVideoEnded;
}

int InitVideoList();
struct qbObjectList;
qbObjectList* VideoListHead();

// GetVideo flags: kVideoModify refuses a locked video (ERR_LOCKEDOBJ);
// kVideoPendingToo finds videos waiting to be freed as well.
enum : uint32_t { kVideoModify = 1, kVideoPendingToo = 2 };
// ERR_FINDVIDEO (the number as the message's argument), ERR_FINDARRAY or
// ERR_LOCKEDOBJ.
int GetVideo(ObjectID id, qbVideo** out, uint32_t flags = 0);
// A command's hold on a video it changes (core/objectref.h): a locked one
// is refused when found again too.
inline int FindModifiableVideo(ScriptState*, ObjectID id, qbVideo** out) { return GetVideo(id, out, kVideoModify); }
using qbModifiableVideoRef = qbObjectRef<qbVideo, FindModifiableVideo>;
// Opens the file into a new video under `id`. 0, ERR_LOADVIDEO or ERR_MEM.
int OpenVideoCore(ScriptState* L, NewObjectID id, const char* file, const char* loader, const char* adapter,
                  qbVideo** out);
// At x, y (script coordinates, resolved) on the current display, or with
// useLayer as a new layer of the current BGPic (the display options from
// the table at optArg), from a hidden copy when the video is busy.
int PlayVideoCore(ScriptState* L, qbVideo* video, int32_t x, int32_t y, int32_t channel, bool useLayer = false,
                  int optArg = 0);
// Plays a stopped or ended video into the layers that show it.
// ERR_VIDEOLAYERDRV, ERR_VIDPLAYING, ERR_VIDPAUSED, ERR_NOLAYERS or the
// engine's error.
int PlayVideoIntoLayers(ScriptState* L, qbVideo* video, int32_t channel);
// The display whose BGPic holds a layer of the video, else the current one.
qbDisplay* FindDisplayOfVideo(const qbVideo* video);

// The cores below act on `video`, or, when it is null, on the video whose
// sound plays on the 0-based mixer `channel` (the sound library's channel
// commands); with neither, or a channel without a video's sound,
// ERR_WRONGUSAGE.
int StopVideoCore(ScriptState* L, qbVideo* video, bool refresh, int32_t channel = -1);
int PauseVideoCore(qbVideo* video, int32_t channel = -1);
int ResumeVideoCore(qbVideo* video, int32_t channel = -1);
int SeekVideoCore(qbVideo* video, int64_t position, int32_t channel = -1);
// Stores the volume (clamped to 0..64) and hands it to a playing stream.
int SetVideoVolumeCore(qbVideo* video, int32_t volume, int32_t channel = -1);

// Script size and position (resolved by the caller's rules); an active
// video on the display follows at once. ERR_VIDLAYERFUNC for a layer's
// video, ERR_BADDIMENSIONS for a side below 1, or the engine's ERR_MEM.
int SetVideoSizeCore(ScriptState* L, qbVideo* video, int32_t width, int32_t height, bool smooth);
int SetVideoPositionCore(ScriptState* L, qbVideo* video, int32_t x, int32_t y);
// One picture of a stopped video at its file size (native 0x00RRGGBB
// words), kept by the video's stream until the next grab: mode 0 counts
// frames from 1, mode 1 is a time in ms followed by `count` pictures.
int GrabVideoPicture(qbVideo* video, int64_t position, int32_t mode, int32_t count,
                     const std::vector<uint32_t>** pixels);

// The same file opened again under no id, free-pending: the copy a layer
// plays or shows while the video itself is busy.
int OpenHiddenVideoCopy(ScriptState* L, const qbVideo* video, qbVideo** out);
// One picture (at `position` ms, 0 the first) as a layer of the current
// BGPic; layers must be on. A busy video is copied first.
int DisplayVideoFrameCore(ScriptState* L, qbVideo* video, int32_t x, int32_t y, int64_t position, int optArg);
// The same at insertPos (-1 on top) with the AddLayer flags; *out the layer.
int ShowVideoFrameAsLayer(ScriptState* L, qbVideo* video, int32_t x, int32_t y, int64_t position, int optArg,
                          int32_t insertPos, uint32_t addFlags, qbLayer** out);

// Frees the video, or, while a layer shows it, lets it lose its id and wait
// until no layer does.
int DiscardVideo(ScriptState* L, ObjectID id);
void FreeUnusedPendingVideos(ScriptState* L);
// The engine's threads find their video by its stream.
void SetVideoStateByHandle(const qbOwnVideoStream* stream, int32_t state);
qbOwnVideoStream* GetVideoStreamHandle(const qbVideo* video);

// What the source tells of the video: its pictures (-1 when the source
// gives no picture rate), its place in ms, and its format's name ("" when
// it has none to give).
int32_t VideoFrameCount(const qbVideo* video);
int64_t VideoPosition(const qbVideo* video);
const char* VideoFormatName(const qbVideo* video);
// "inbuilt", "native" or the video-adapter plugin's name.
const char* VideoLoaderName(const qbVideo* video);
// GetAttribute's rows for videos.
void InstallVideoAttributeRows();

// The default loader string OpenVideo uses without a "loader" option.
const std::string& DefaultVideoLoader();
void SetDefaultVideoLoader(const std::string& loader);

// The display code reaches videos through the hooks InitVideoList installs
// (display/displays.h); these run at shutdown.
void StopAllVideos(ScriptState* L);
void FreeAllVideos(ScriptState* L);
