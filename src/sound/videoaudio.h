// The sound of a playing video: a ring of 16-bit PCM bytes that the video's
// audio server keeps topped up from the video's decoder, and the output
// channel that plays it (kind 5, through the adapter's callback or the
// mixer). The audio side only try-locks the ring.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/argapi.h"
#include "platform/mixer/audio_channel.h"

// Writes up to bytes bytes of the video's PCM into out; the bytes written
// (0 when the decoder has none now).
using VideoAudioDecoder = size_t (*)(void* user, uint8_t* out, size_t bytes);

// The room a ring has at least: one second of 16-bit stereo at 192 kHz.
constexpr size_t kMinAudioRingBytes = 768000;

struct qbAudioStreamBuffer {
    qbVideoAudioQueue ring;
    int32_t rate = 0;
    int32_t channels = 0;
    size_t block = 0;  // one second of the video's PCM
    std::atomic<bool> started{false};
    std::atomic<bool> paused{false};
    bool active = true;
    ObjectID owner;      // the video
    int32_t channel = -1;  // the channel asked for; -1 any
    int32_t volume = 64;
    int playing = -1;    // the channel it plays on, -1 none
    VideoAudioDecoder decode = nullptr;
    void* user = nullptr;
};
using qbAudioStreamBufferPtr = std::unique_ptr<qbAudioStreamBuffer>;

// A cleared buffer for PCM of rate and channels (1 or 2) from decode. The
// ring holds two blocks when one block is more than the least room, so that
// a top-up never writes past it. 0, ERR_MEM or ERR_WRONGUSAGE.
int AllocAudioStreamBuffer(int32_t rate, int32_t channels, ObjectID owner, int32_t channel, int32_t volume,
                           VideoAudioDecoder decode, void* user, qbAudioStreamBufferPtr* out);
// One step of the video's audio server: the first fills a block and opens
// the output channel; later ones top the ring up to a block. 0 or the
// channel's error.
int FillStreamAudioBuffer(qbAudioStreamBuffer& b);
// Opens the output channel of the video's sound (kind 5). 0 or
// ERR_AUDIOCONVERTER, ERR_NOCHANNEL, ERR_CHANNELRANGE, ERR_ALLOCCHANNEL.
int OpenStreamAudioConverter(qbAudioStreamBuffer& b);
void StopStreamChannel(qbAudioStreamBuffer& b);
void SetStreamVolume(qbAudioStreamBuffer& b, int32_t volume);
void FreeAudioStreamBuffer(qbAudioStreamBufferPtr& b);
