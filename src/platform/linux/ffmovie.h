// The Linux movie backend on FFmpeg: any file with a video stream that
// libavformat and libavcodec read opens as a movie, whose pictures are
// walked one by one (or found by time) into a 32-bit buffer. The movie
// record belongs to one thread at a time.
#pragma once

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/avdecoder.h"
#include "platform/platform_ops.h"

namespace linux_movie {

struct SwsFree {
    void operator()(SwsContext* c) const { sws_freeContext(c); }
};

// The demuxer and the decoder of the video stream, from the file's start
// or from a seek.
struct MoviePass {
    av_common::FileInput input;
    av_common::StreamDecoder codec;
    int stream = -1;
    bool inputDone = false;  // the decoder was told the input ended
};

}  // namespace linux_movie

struct qbNativeMovie {
    std::string name;  // the file, for a walk that starts again
    linux_movie::MoviePass pass;
    std::unique_ptr<AVFrame, av_common::FrameFree> frame;
    std::unique_ptr<AVFrame, av_common::FrameFree> held;  // the last picture before a time searched for
    std::unique_ptr<AVPacket, av_common::PacketFree> packet;
    int32_t width = 0, height = 0;
    AVRational timeBase{1, 1};
    int64_t start = 0;  // the first picture's time, in timeBase
    int32_t frameCount = 0;
    std::string formatName;
    // The walk: the number (from 0) of the picture the decoder gave last on
    // its way from the start, -1 before the first; after a search by time
    // or a seek the decoder is elsewhere and the next walk starts again.
    int64_t counter = -1;
    bool walking = false;
    // The picture, converted: width x height words and a little slack for
    // the converter's wide stores.
    std::vector<uint32_t> pixels;
    bool frameReady = false;
    uint32_t timeMs = 0;  // the movie's place
    int32_t volume = 64;
    // The converter and what it was made for.
    std::unique_ptr<SwsContext, linux_movie::SwsFree> sws;
    int swsWidth = 0, swsHeight = 0, swsFormat = -1;
};

namespace linux_movie {

// The pass from the file's start. 0, ERR_MEM or ERR_LOADVIDEO.
int StartPass(qbNativeMovie& m);
// The next picture of the pass into m.frame: 1, or 0 at the end of the
// stream (damaged data ends it too, after a bounded number of errors).
int NextPicture(qbNativeMovie& m);
// m.frame into m.pixels at the movie's size. 0 or ERR_MEM.
int ConvertPicture(qbNativeMovie& m, const AVFrame* frame);

int OpenQuickTimeMovie(const char* name, qbMovieInfo* out);
void CloseQuickTimeMovie(qbNativeMovie* movie);
int DecodeQuickTimeFrame(qbNativeMovie* movie, int64_t frameOrTime, int byTime, qbMovieFrame* out);
int SeekQuickTimeMovie(qbNativeMovie* movie, int64_t milliseconds);
int SetQuickTimeMovieVolume(qbNativeMovie* movie, int volume);
uint32_t GetQuickTimeMovieTime(qbNativeMovie* movie);
int RewindQuickTimeMovie(qbNativeMovie* movie);
int DetachMovieFromWindow(qbNativeMovie* movie);
int MovieFrameCount(qbNativeMovie* movie);
const char* MovieFormatName(qbNativeMovie* movie);

// The operations above into the backend's table.
void FillMovieOps(qbPlatformOps& ops);

}  // namespace linux_movie
