// The sound core's channel table: which channel a sample, music or video
// sound takes, starting, updating and stopping them, and the audio core's
// start and shutdown. The channels themselves are the mixer's records; the
// table's recursive mutex serialises the main thread's changes to them.
#pragma once

#include <cstdint>
#include <mutex>

#include "core/argapi.h"
#include "platform/mixer/audio_channel.h"

// A sample as it sits in memory: what the start operation needs of it.
struct qbSampleData {
    const void* pcm = nullptr;
    int32_t bits = 16;
    int32_t bytesPerFrame = 2;
    int32_t channels = 1;
    uint32_t flags = 0;  // kPCMBigEndian, kPCMSigned
    uint32_t frames = 0;
    int32_t rate = 0;
};

// Object types that channel info reports.
enum : int32_t { kChannelObjSample = 2, kChannelObjNone = 7, kChannelObjMusic = 33, kChannelObjVideo = 50 };

// The internal PCM code (0-5) of bits, channels and the signed flag.
int32_t PCMCodeOf(int32_t bits, int32_t channels, uint32_t flags);

// Creates the table's mutex (the event queue's lives in core); 0 or
// ERR_SEMAPHORE.
int StartAudioCore();
// Opens the output once. A count above 0 sets the channel count; 0 keeps
// the previous one (or the default). 0, ERR_OPENAUDIO, ERR_MEM.
int EnsureAudioOpen(int channelCount);
bool IsAudioOpen();
std::recursive_mutex& ChannelTableMutex();

// Takes a channel for kind: index -1 is the first free one (ERR_NOCHANNEL),
// else that channel, stopped first when busy (ERR_CHANNELRANGE). Finished
// channels are reaped before the search. The channel index or an error < 0
// is not used: the result is 0 or an ERR_* code, the index in *channel.
int AllocateChannel(int32_t kind, ObjectID owner, int index, int* channel);
// The index AllocateChannel takes for a channel the script numbers from 1:
// 0, or any number below it, asks for the first free one.
inline int32_t ChannelIndexOf(int32_t fromOne) { return fromOne > 0 ? fromOne - 1 : -1; }

// Starts a sample, prepared: it plays once ReleasePreparedSamples runs.
// timeMs -1 plays it times times; otherwise for that long.
struct qbSampleStart {
    ObjectID owner;
    int32_t rate = 0;
    int32_t volume = 64;
    int32_t pan = 128;
    int64_t timeMs = -1;
    int32_t times = 1;
    int32_t channel = -1;
};
int StartSample(const qbSampleData& sample, const qbSampleStart& how, int* channel);
void ReleasePreparedSamples();

// Puts a streamed music's feed on a channel (index -1: the first free one)
// as kind 4: through the adapter's callback or the mixer. 0 or
// ERR_NOCHANNEL, ERR_CHANNELRANGE, ERR_ALLOCCHANNEL, ERR_OPENAUDIO, ERR_MEM.
int StartStreamChannel(qbStreamFeed* feed, const qbAudioStream& format, ObjectID owner, int32_t volume, int index,
                       int* channel);

// Puts a video's sound ring on a channel as kind 5 (allocated as kind 7
// for the video first). 0 or ERR_AUDIOCONVERTER, ERR_NOCHANNEL,
// ERR_CHANNELRANGE, ERR_ALLOCCHANNEL, ERR_OPENAUDIO.
int StartVideoChannel(qbVideoAudioQueue* ring, const qbAudioStream& format, ObjectID owner, int32_t volume, int index,
                      int* channel);

// -1 leaves a value (or picks the first channel that plays data).
int UpdateChannelAttributes(const void* data, int pitch, int volume, int pan, int channel);
// Stops the channel, or with channel -1 every channel that plays data.
int StopChannel(const void* data, int channel);
void StopChannelPlayback(int channel);
void ResetChannelRecord(int channel);
void StopAllChannels();
bool IsSamplePlaying(const void* data);
// Where the first channel that plays data is: the ms played since the play
// began and the passes completed. A channel that keeps no rate of its own
// (an audio adapter's) counts at fallbackRate. False when none plays it.
bool GetSamplePlayPosition(const void* data, int32_t fallbackRate, int64_t* playedMs, int32_t* loops);
// The object type and owner of what plays on channel. With heldLock given,
// the table stays locked and the caller unlocks it through *heldLock.
int GetChannelInfo(int channel, int32_t* type, ObjectID* owner, std::unique_lock<std::recursive_mutex>* heldLock);
void ReapFinishedChannels();

// The library's settings hook: 1 for the codes it knows.
int SoundSettingsHook(int code, int value);
// No-audio mode: -NOSOUND, or an output that could not be opened.
bool IsAudioDisabled();
void MarkAudioUnavailable();
// -NOSOUND also keeps the platform's decoder from opening sound files.
bool IsNativeDecodingRefused();
// What the settings hook stored for EnsureAudioOpen.
int AudioOpenParameter();
// Resets every channel and closes the output (shutdown).
void CloseAudioCore();
