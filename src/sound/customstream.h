// Script-fed streams: PCM that the script computes in its "FillMusicBuffer"
// handler waits in a queue of blocks until the music's feeder reads it.
// The main thread appends, the feeder thread reads; the queue's mutex is
// all they share.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "sound/stream.h"

struct qbMusicBlock {
    std::unique_ptr<uint8_t[]> pcm;  // null: the end marker
    uint32_t frames = 0;
    uint32_t used = 0;  // frames already read
};

struct qbCustomStream {
    std::mutex mutex;
    std::deque<qbMusicBlock> blocks;  // under mutex
    int64_t queuedFrames = 0;         // under mutex: appended and not yet read
    bool endQueued = false;           // under mutex: an end marker waits (until a flush)
    uint32_t wanted = 0;              // the fill the poll keeps: one second
};

// A stream of format 6 at rate in the PCM code's layout, its queue empty.
// 0, ERR_MEM or ERR_WRONGUSAGE for a code outside 0-5.
int CreateCustomStream(int32_t rate, int32_t pcmCode, qbSamplePtr* out);
// Reads queued frames; the rest of a request the queue cannot meet is
// silence and counts as delivered. An end marker ends the read short, with
// *ended set.
uint32_t ReadCustomFrames(qbSample& stream, void* buffer, uint32_t frames, bool* ended);
// Appends a block (pcm null for the end marker), releasing blocks already
// read. An end marker while one waits already is not queued again: nothing
// after the first is read before a flush. 0 or ERR_WRONGUSAGE when the
// stream is not script-fed.
int AppendCustomBlock(qbSample& stream, std::unique_ptr<uint8_t[]> pcm, uint32_t frames);
// Whether an end marker waits in the queue: the stream needs no more data.
bool CustomEndQueued(qbSample& stream);
// Drops every queued block.
void FlushCustomStream(qbSample& stream);
// Frames queued and not read, and the blocks that hold them.
int64_t CustomFramesQueued(qbSample& stream, int32_t* blocks = nullptr);
// The byte a silent frame is made of in the stream's layout.
uint8_t SilenceByte(int32_t pcmCode);
