// The driver handle of an open video and the record of a stream this
// player reads itself (through a video source) rather than handing to the
// platform's movie backend.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/videoinfo.h"
#include "media/videosource.h"

enum : int32_t { kVideoDriverOwn = 0, kVideoDriverNative = 1 };

// The RGB frame buffer of the largest picture a stream may have (bytes).
constexpr uint64_t kMaxVideoFrameBytes = uint64_t{1} << 30;

struct qbVideoPlayback;
struct VideoPlaybackDeleter {
    void operator()(qbVideoPlayback* playback) const;  // stops it first
};

struct qbOwnVideoStream {
    qbVideoSourcePtr source;
    qbVideoStreamInfo info;
    int32_t frameWidth = 0, frameHeight = 0;
    uint32_t duration = 0;  // milliseconds
    int32_t audioChannels = 0, audioRate = 0;
    uint32_t flags = 0;
    std::vector<uint8_t> rgbFrame;  // RGB sources: (width x 4 + 256) x height bytes
    // Frame grabs of a stopped stream: the last picture (native 0x00RRGGBB
    // words at the frame size) and how many pictures the source has given
    // since its start (the walk of counted grabs; -1 after a seek).
    std::vector<uint32_t> grab;
    int32_t grabbed = 0;
    // Its window is gone: pictures are decoded and timed but not shown.
    std::atomic<bool> suspended{false};
    // Last, so that its threads are gone before the source closes.
    std::unique_ptr<qbVideoPlayback, VideoPlaybackDeleter> playback;
};

struct qbNativeMovie;
struct NativeMovieCloser {
    void operator()(qbNativeMovie* movie) const;  // the platform's close
};
using qbNativeMoviePtr = std::unique_ptr<qbNativeMovie, NativeMovieCloser>;

// A file removed when its owner goes.
struct qbTempFileOwner {
    std::string name;
    qbTempFileOwner() = default;
    qbTempFileOwner(const qbTempFileOwner&) = delete;
    qbTempFileOwner& operator=(const qbTempFileOwner&) = delete;
    ~qbTempFileOwner();
};

struct qbVideoStream {
    std::unique_ptr<qbOwnVideoStream> own;
    int32_t kind = kVideoDriverOwn;
    // The native driver's copy of a file that is not one of the platform
    // (a part of the applet, a file adapter's file); what follows is gone
    // before it is removed.
    qbTempFileOwner tempCopy;
    // The native driver: the platform file its movie reads (the file itself
    // or the copy), a name for the file layer, and the movie.
    std::string nativePath;
    qbNativeMoviePtr movie;
    // The last picture grabbed from the movie (native 0xAARRGGBB words at
    // the file size).
    std::vector<uint32_t> grab;
};
using qbVideoStreamPtr = std::unique_ptr<qbVideoStream>;

struct qbVideoStreamOpened {
    qbVideoStreamPtr handle;
    std::string tempName;  // the native driver's copy of the file, or empty
    int32_t width = 0, height = 0;
    uint32_t duration = 0;
    int32_t seekable = 0;
    int32_t driverKind = kVideoDriverOwn;
};

// 0, ERR_MEM, or ERR_LOADVIDEO with the file name as the error's detail when
// no source takes the file; when the loader tag allows "native" the
// platform's movie decoder is tried last (ERR_READFILE with the name for a
// file it needs copied that cannot be read).
int OpenVideoStream(const char* name, const char* loaderTag, const char* adapterTag, qbVideoStreamOpened* out);
void CloseVideoStream(qbVideoStreamPtr handle);
// The stream's fields from its source's information, and the RGB frame
// buffer of RGB sources: 0 or ERR_MEM.
int SettleOwnVideoStream(qbOwnVideoStream* stream);
// A native driver's stream gets the engine over the platform's movie
// decoder of its file, for playing in the window and DumpVideo; a stream
// that has it already, or of the own driver, is left alone. 0,
// ERR_LOADVIDEO or ERR_MEM.
int AttachNativeVideoEngine(qbVideoStream* stream);
// 1 when some source opens the file.
int IsVideoFile(const char* name, const char* loaderTag, const char* adapterTag);
// One picture of a native driver's video that is not playing, into
// handle->grab: mode 0 counts frames from 1, mode 1 is a time in ms.
// ERR_VIDEOFRAME past the end, ERR_MEM.
int GrabNativeVideoFrame(qbVideoStream* handle, uint32_t position, int32_t mode);
// (width x 4 + 256) x height, or 0 when over kMaxVideoFrameBytes or empty.
uint64_t VideoFrameBufferBytes(int32_t width, int32_t height);
