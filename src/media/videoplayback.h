// A playing video stream of this player's own engine: a reader that fills
// the packet queues, a video thread that decodes pictures into a two-slot
// picture queue, a refresh thread that hands each picture on at its time,
// and (with sound) an audio thread that feeds the video's sound ring. The
// controls (pause, resume, seek, stop) run on the caller's thread and never
// wait for a thread for longer than kVideoControlWaitMs.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "core/objects.h"
#include "core/threads.h"
#include "media/videoclock.h"
#include "media/videoqueue.h"
#include "media/videoreader.h"
#include "media/videostream.h"
#include "sound/videoaudio.h"


constexpr int32_t kVideoControlWaitMs = 2000;
constexpr int32_t kVideoDecodedAudioBytes = 262144;

// Where the engine's pictures and its end go. The picture is `width` x
// `height` native 0x00RRGGBB words, rows `rowLength` pixels apart; it is
// called on the refresh thread (or on the caller's for a paused seek) and
// must not keep the pointer. `ended` comes once per playback, on the
// refresh thread.
struct qbVideoSink {
    void (*picture)(void* user, const uint32_t* pixels, int32_t width, int32_t height, int32_t rowLength,
                    double pts) = nullptr;
    void (*ended)(void* user) = nullptr;
    // Pictures handed on but not drawn yet are to be dropped (pause, seek, stop).
    void (*discard)(void* user) = nullptr;
    void* user = nullptr;
    // Whether a picture handed on is still to be drawn (null: never).
    bool (*pending)(void* user) = nullptr;
};

struct qbVideoPlayParams {
    ObjectID video;            // the owner of the sound channel and the end event
    int32_t x = 0, y = 0;      // drawing position, display pixels
    int32_t width = 0, height = 0;  // drawing size; 0: the frame's
    int32_t volume = 64;
    int32_t channel = -1;      // 0-based; -1 any
    bool smooth = false;
    bool sound = true;  // false: the sound is dropped and the pictures keep their own time
    qbVideoSink sink;
};

struct qbVideoPicture {
    std::vector<uint32_t> pixels;  // drawing size, native 0x00RRGGBB
    double target = 0.0, pts = 0.0;
    int64_t bytePos = -1;
};

struct qbVideoPlayback {
    qbOwnVideoStream* stream = nullptr;
    qbVideoPlayParams params;
    int32_t drawWidth = 0, drawHeight = 0;

    qbVideoPacketQueue audio, video;
    qbVideoReader reader;

    // The picture queue and the clocks share one lock; nobody waits while
    // holding it except on the picture signal.
    qbMutexPtr pictureMutex;
    qbSignalPtr pictureSignal;
    qbVideoPicture slots[2];
    int32_t queued = 0, readIndex = 0, writeIndex = 0;
    qbVideoSync sync;
    std::mutex shownMutex;
    std::vector<uint32_t> shown;  // the last picture handed on, for redraws (under shownMutex)
    double shownPts = 0.0;

    qbSignalPtr refreshSignal;
    double lastShown = 0.0;

    qbThreadPtr readerThread, videoThread, refreshThread, audioThread;
    std::atomic<bool> videoDone{false}, refreshDone{false}, audioDone{false};

    std::atomic<bool> paused{false};
    std::atomic<bool> videoAck{false}, refreshAck{false}, audioAck{false};
    std::atomic<bool> resumeRequest{false};
    std::atomic<bool> videoBusy{false};  // a taken packet not yet queued or dropped
    std::atomic<int32_t> videoFlushState{0}, audioFlushState{0};
    // Moves on at every seek done on the caller's thread: a picture the
    // video thread decoded before it is stale and not queued.
    std::atomic<uint32_t> pictureEpoch{0};
    std::atomic<bool> endPosted{false};
    std::atomic<uint32_t> finalPosition{0};
    std::atomic<bool> playing{false};
    std::atomic<int32_t> shownCount{0};  // pictures handed on since the start
    std::atomic<int32_t> droppedCount{0};
    // Of the dropped, those the refresh thread found too late to show (the
    // rest the video thread skipped before decoding them to pictures).
    std::atomic<int32_t> lateCount{0};
    // Pictures handed on while the one before still waited to be drawn: the
    // sink replaces it, so the window never shows it.
    std::atomic<int32_t> supersededCount{0};
    // How late the latest-shown picture was handed on at worst, microseconds.
    std::atomic<int64_t> worstLateMicros{0};
    // With sound: how far from the sound clock a picture was handed on at
    // worst, seconds either way.
    std::atomic<double> worstOffSound{0.0};
    // QB_VIDEO_STATS: 1 prints the counts to stderr when the playback stops,
    // 2 also each picture dropped or superseded as it happens.
    int32_t statsLevel = 0;
    uint32_t stoppedPosition = 0;
    bool hasPendingSeek = false;
    uint32_t pendingSeek = 0;
    bool pausedSeek = false;
    uint32_t pausedSeekPosition = 0;

    // Sound: the audio thread's own, but the clocks they feed.
    bool withSound = false;
    qbAudioStreamBufferPtr sound;
    std::vector<uint8_t> decoded;  // kVideoDecodedAudioBytes
    qbVideoQueueNode audioPacket;   // current, data null when none
    std::atomic<bool> soundFailed{false};
    // The sound since the start or the last seek: its first packet was
    // taken; silence still to give before it; its decoder failed and gave
    // nothing since.
    bool soundStarted = false, soundLost = false;
    int64_t silenceLeft = 0;
    std::atomic<int32_t> volumeRequest{-1};

    std::vector<uint32_t> frame;  // RGB sources' picture, frame size, big-endian words
    std::vector<uint32_t> swapped;  // the picture as native words at the frame size, when scaling
};

// Starts the threads for the stream. 0, ERR_MEM, ERR_SEEKRANGE or ERR_THREAD;
// on failure nothing runs.
int StartVideoPlayback(qbOwnVideoStream* stream, const qbVideoPlayParams& params);
// Joins the threads and rewinds the source; the position is kept for
// GetVideoStreamPosition. Harmless when not playing.
void StopVideoStream(qbOwnVideoStream* stream);
void PauseVideoStream(qbOwnVideoStream* stream);
void ResumeVideoStream(qbOwnVideoStream* stream);
// ms. A stopped stream keeps it for its next start. 0 or ERR_SEEKRANGE.
int SeekVideoStream(qbOwnVideoStream* stream, uint32_t position);
uint32_t GetVideoStreamPosition(qbOwnVideoStream* stream);
bool VideoStreamPlaying(const qbOwnVideoStream* stream);
bool VideoStreamEnded(const qbOwnVideoStream* stream);
void SetVideoStreamVolume(qbOwnVideoStream* stream, int32_t volume);
// A new drawing position, size and smoothing. The threads stand still
// meanwhile, so `move` (may be null) can change where the sink draws; a
// paused or ended stream shows its last picture at the new size. 0 or
// ERR_MEM (the old size stays).
int SetVideoStreamGeometry(qbOwnVideoStream* stream, int32_t x, int32_t y, int32_t width, int32_t height, bool smooth,
                           void (*move)(void* user), void* user);
enum : int32_t { kVideoGrabFrame = 0, kVideoGrabTime = 1 };
// A picture of a stream that is not playing into stream->grab (frame size):
// kVideoGrabFrame counts pictures from the start (1-based `position`),
// kVideoGrabTime seeks to `position` ms and decodes `count` pictures (one
// at 0). 0, ERR_VIDEOFRAME when the source runs out, ERR_SEEKRANGE or
// ERR_MEM.
int GrabVideoFrame(qbOwnVideoStream* stream, uint32_t position, int32_t mode, int32_t count);
// The last picture handed on, again through the sink (redraws).
void RepresentVideoPicture(qbOwnVideoStream* stream);

// Thread bodies and the sound ring's decoder (videothreads.cpp).
void VideoServerThread(void* arg);
void VideoRefreshThread(void* arg);
void VideoAudioThread(void* arg);
// Fills up to `bytes` bytes of 16-bit PCM; what it has now (0 when nothing).
size_t ReadVideoAudio(void* playback, uint8_t* out, size_t bytes);
// The pictures' pixels: native 0x00RRGGBB words.
constexpr int32_t kVideoPixelFormat = 10;
// The decoded frame (RGB in the playback's frame buffer, or YUV planes)
// into a picture of the drawing size, converted and scaled.
void ConvertVideoPicture(qbVideoPlayback* p, const qbVideoFrame& frame, uint32_t* destination);

// The buffer an RGB source converts a picture of the stream's frame size
// into: the picture and the slack the platform's converter may write past
// it (none for YUV sources). Throws std::bad_alloc.
void SizeSourcePicture(qbVideoPlayback* p);
// A frame record pointing the source at that buffer.
qbVideoFrame SourceFrame(qbVideoPlayback* p);
