// Where a video's packets come from: a video-adapter plugin's VIDEO slots,
// the inbuilt CDXL reader or the platform's movie decoder, behind one table
// of operations so that the engine (and the tests' scripted sources) drive
// them alike.
#pragma once

#include <cstdint>
#include <memory>

#include "core/plugin.h"
#include "media/videoinfo.h"

// One packet as the engine queues it: the source's own packet handle, what
// it holds and its presentation time (-1: none).
struct qbVideoPacket {
    void* packet = nullptr;
    int32_t isAudio = 0;
    int32_t size = 0;  // bytes, counted against the queue limits
    double pts = -1.0;
};

struct qbVideoSourceOps {
    void (*close)(void* handle) = nullptr;
    // 0, -1 at the end of the file, other negative values on errors.
    int32_t (*nextPacket)(void* handle, qbVideoPacket* packet) = nullptr;
    void (*freePacket)(void* handle, void* packet) = nullptr;
    // 1 when a picture came out (in *frame), 0 when the packet held none,
    // negative on errors.
    int32_t (*decodeVideoFrame)(void* handle, void* packet, qbVideoFrame* frame) = nullptr;
    // Signed 16-bit samples into out (at most capacity bytes): the bytes
    // written, negative on errors; *finished set when the packet is used up.
    int32_t (*decodeAudioFrame)(void* handle, void* packet, void* out, int32_t capacity, int32_t* finished) = nullptr;
    // Milliseconds, or a byte offset for sources that seek by bytes; 0 or an
    // error.
    int32_t (*seek)(void* handle, int64_t target) = nullptr;
    void (*flushAudio)(void* handle) = nullptr;
    void (*flushVideo)(void* handle) = nullptr;
};

enum : int32_t { kVideoSourcePlugin = 1, kVideoSourceCDXL = 2, kVideoSourceOther = 3, kVideoSourceMovie = 4 };

struct qbVideoSource {
    const qbPlugin* plugin = nullptr;
    void* handle = nullptr;
    int32_t kind = 0;
    const qbVideoSourceOps* ops = nullptr;
    // Whether its times may jump (a broadcast stream's restarted clock): the
    // platform's movies say; a plugin's container is not known.
    bool timesMayJump = true;
    qbVideoSource() = default;
    qbVideoSource(const qbVideoSource&) = delete;
    qbVideoSource& operator=(const qbVideoSource&) = delete;
    ~qbVideoSource();
};
using qbVideoSourcePtr = std::unique_ptr<qbVideoSource>;

// The VIDEO slots of a video-adapter plugin as the plugin loader (above
// this folder) installs them: the record's nine words from OpenVideo on,
// in order, have these types (an open that fills the stream information,
// then the operations). Null forgets the plugin.
struct qbVideoPluginSlots {
    void* (*open)(const char* name, qbVideoStreamInfo* info, const char* adapterTag) = nullptr;
    qbVideoSourceOps ops;
};
void SetVideoPluginSlots(const qbAdapterPlugin* plugin, const qbVideoPluginSlots* slots);
const qbVideoPluginSlots* GetVideoPluginSlots(const qbAdapterPlugin* plugin);

// The operations of the inbuilt CDXL reader.
const qbVideoSourceOps& CDXLSourceOps();

// The platform's movie decoder over a plain file (the native driver's):
// 0, ERR_LOADVIDEO with the path as the detail, or ERR_MEM. threads: the
// picture decoder's, 0 for as many as the processors allow.
int OpenMovieVideoSource(const char* path, int32_t threads, qbVideoStreamInfo* info, qbVideoSourcePtr* out);

// Every rewind and seek of a stream that is not playing: the source moved
// to the target (as `seek` takes it), then its decoders emptied. 0, or
// ERR_SEEKRANGE when the source cannot get there; its decoders are left as
// they were then, as they still fit the packets the source goes on giving.
int SeekVideoSource(const qbVideoSource* source, int64_t target);

// The pictures in the file when the source knows them, else -1.
int64_t VideoSourceFrameCount(const qbVideoSource* source);

// Tries the plugins the loader tag allows, in list order, then (when the tag
// allows "inbuilt") the CDXL reader. Null when none takes the file; `info`
// was cleared and its file size preset to "not given" first.
qbVideoSourcePtr OpenVideoSource(const char* name, const char* loaderTag, const char* adapterTag,
                                 qbVideoStreamInfo* info);
