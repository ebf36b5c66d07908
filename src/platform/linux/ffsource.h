// The movie source on FFmpeg: one demuxer, read by the engine's reader
// thread, and one decoder per kept stream, each used by the one engine
// thread that decodes that kind of packet (or by the main thread while the
// threads are parked). Nothing here is shared between the three but the
// seek target, which the reader hands to the decoders' next flush.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/file.h"
#include "platform/linux/avdecoder.h"
#include "platform/linux/avresample.h"
#include "platform/platform_ops.h"

namespace ffsource {

// One decoder and what it converts its output with.
struct Decoder {
    av_common::StreamDecoder codec;
    std::unique_ptr<AVFrame, av_common::FrameFree> frame;
    AVRational timeBase{1, 1};
    int stream = -1;
    bool draining = false;  // the end was sent: what remains comes out, then EOF
    double skipUntil = -1.0;  // seconds: output before this time is dropped (after a seek)
    // Pictures: the converter into the engine's form, by the input it was made for.
    std::unique_ptr<SwsContext, av_common::SwsFree> sws;
    int swsWidth = 0, swsHeight = 0, swsFormat = -1, swsSpace = -1, swsRange = -1;
    // Sound: the converter, and what it gave that the caller's buffer had
    // no room for yet.
    av_common::SampleConverter samples;
    std::vector<int16_t> pending;
    size_t pendingAt = 0;
    bool samplesDrained = false;  // the converter gave what it held at the end
    bool holding = false;         // frame holds sound not yet converted
    int frameDone = 0;            // frame's samples converted
    bool soundEnded = false;      // a frame at a rate no sound has ended the sound
};

// A packet as the engine queues it; the end-of-file markers that drain the
// decoders carry no data. A picture decoded from it stays here for as
// long as the engine may read its planes.
struct Packet {
    std::unique_ptr<AVPacket, av_common::PacketFree> data;
    bool audio = false;
    bool sent = false;  // given to the decoder
    std::unique_ptr<AVFrame, av_common::FrameFree> picture;
    std::vector<uint8_t> converted;  // a picture converted to YUV 4:2:0 at the stream's size
};

}  // namespace ffsource

struct qbMovieSource {
    qbFilePtr file;
    av_common::FileInput input;  // the reader's
    qbMovieSourceInfo info;
    bool pictures = true;
    int64_t startTime = 0;  // AV_TIME_BASE units: the movie's time 0
    double start = 0.0;     // the same in seconds
    // The reader's end: markers still to be handed out before -1.
    bool ended = false;
    int videoMarkers = 0, audioMarkers = 0;
    int drainMarkers = 0;  // markers that drain the picture decoder, whatever its delay
    // Set by a seek, taken by the decoders' flushes (seconds; -1 none).
    std::atomic<double> videoSkip{-1.0}, audioSkip{-1.0};
    ffsource::Decoder video, audio;  // audio.stream -1: no sound
    bool yuv = false;  // pictures reach the engine as BT.601 studio-range YUV 4:2:0
};

namespace ffsource {

int OpenMovieSource(const char* path, const qbMovieSourceRequest* request, qbMovieSourceInfo* info,
                    qbMovieSource** out);
void CloseMovieSource(qbMovieSource* source);
int32_t NextMoviePacket(qbMovieSource* source, qbMoviePacket* packet);
void FreeMoviePacket(qbMovieSource* source, void* packet);
int32_t SeekMovieSource(qbMovieSource* source, int64_t milliseconds);
int32_t DecodeMovieVideo(qbMovieSource* source, void* packet, qbMoviePicture* picture);
int32_t DecodeMovieAudio(qbMovieSource* source, void* packet, void* out, int32_t capacity, int32_t* finished);
void FlushMovieAudio(qbMovieSource* source);
void FlushMovieVideo(qbMovieSource* source);

// Seconds from the movie's start of a time in the stream's base; -1 for none.
double Seconds(const qbMovieSource& source, int64_t time, AVRational base);

}  // namespace ffsource
