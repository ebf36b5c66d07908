// Video objects: the video list, opening, playing, pausing, seeking and
// stopping a video on a display, and what the display code asks of videos.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/argapi.h"
#include "core/objects.h"
#include "media/videostream.h"

struct ScriptState;
struct qbDisplay;

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
qbObject** VideoListHead();
// ERR_FINDVIDEO (the number as the message's argument) or ERR_FINDARRAY.
int GetVideo(ObjectID id, qbVideo** out);
// Opens the file into a new video under `id`. 0, ERR_LOADVIDEO or ERR_MEM.
int OpenVideoCore(ScriptState* L, NewObjectID id, const char* file, const char* loader, const char* adapter,
                  qbVideo** out);
// At x, y (script coordinates, resolved) on the current display.
int PlayVideoCore(ScriptState* L, qbVideo* video, int32_t x, int32_t y, int32_t channel);
int StopVideoCore(ScriptState* L, qbVideo* video, bool refresh);
int PauseVideoCore(qbVideo* video);
int ResumeVideoCore(qbVideo* video);
int SeekVideoCore(qbVideo* video, int64_t position);
int DiscardVideo(ScriptState* L, ObjectID id);
// The engine's threads find their video by its stream.
void SetVideoStateByHandle(const qbOwnVideoStream* stream, int32_t state);
qbOwnVideoStream* GetVideoStreamHandle(const qbVideo* video);

// The default loader string OpenVideo uses without a "loader" option.
const std::string& DefaultVideoLoader();
void SetDefaultVideoLoader(const std::string& loader);

void StopDisplayVideos(ScriptState* L, qbDisplay* display);
void SuspendDisplayVideos(qbDisplay* display);
void ResumeDisplayVideos(qbDisplay* display);
void StopAllVideos(ScriptState* L);
void FreeAllVideos(ScriptState* L);
