// The player's own software mixer: a table of channels, each resampled to
// the device rate at its volume and pan into two float accumulators, and
// the audio operations of the backend table on top of it. Both backends
// share it; a device (SDL's callback, or the in-memory pull device) calls
// Render with its lock held, and the main thread takes the same lock to
// attach and detach sources.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/mixer/audio_channel.h"
#include "platform/mixer/voice.h"
#include "platform/platform_ops.h"

namespace audio_mixer {

constexpr int kDefaultChannelCount = 32;
// The module player's source, and the buffer it renders into.
constexpr int kModuleRate = 48000;
constexpr size_t kModuleBufferBytes = 192000;

// The device side. lock/unlock exclude Render (the device's callback).
void AttachDevice(int rate, void (*lock)(), void (*unlock)());
void DetachDevice();
int DeviceRate();
// Adds every playing channel into frames of interleaved float stereo,
// clamped to +-1. The caller holds the device lock.
void Render(float* out, size_t frames);

// RAII for the device lock (nothing when no device is attached).
class DeviceLock {
public:
    DeviceLock();
    ~DeviceLock();
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;
};

// The channel table (main thread). The count changes only while no channel
// is in use: 0, ERR_WRONGUSAGE or ERR_MEM.
int SetChannelCount(int count);
int ChannelCount();
qbAudioChannel* Channel(int index);
// Every prepared channel starts on the same output frame.
void ReleasePreparedChannels();
// Back to free, with its converter and buffer freed.
void ResetChannel(int index);

// Hooks the sound core installs: the module renderer (audio thread), the
// reaping of finished channels and the news that a stream ended (main).
void SetModuleRenderer(ModuleRenderer render);
ModuleRenderer GetModuleRenderer();
void SetReapHook(void (*reap)());
void SetStreamEndedHook(void (*ended)(int channel));
// Which events the audio thread queues at all.
void SetEventSwitches(bool sampleLoop, bool sampleEnd, bool musicEnd);

float VolumeToGain(int volume);
float PanParameter(int pan);

// The backend operations.
int CreateStreamConverter(qbAudioStream* stream, int channel, void* data, int rate, int volume, int pan);
int CreateMusicConverter(void* music, int channel, int rate, int volume);
void DisposeStreamConverter(qbAudioChannel* record, int channel);
void DisposeChannelConverter(int channel);
void FreeChannelConverter(int channel);
void StopAllNativeChannels();
void SetMixerInputVolume(int channel, int volume);
void SetNativeChannelVolume(int channel, int volume);
void SetChannelVolumePan(int channel, int volume, int pan);
void SetNativeChannelRate(int channel, int rate);
void FillPCMStreamFormat(qbPCMFormat* out, int rate, int bits, int bytesPerFrame, int channels, uint32_t flags);
int SetConverterMagicCookie(qbAudioStream* stream, const void* cookie, size_t size);
int SetConverterInputProc(qbAudioStream* stream, int channel);
void FlushChannelEvents();
void ProcessAudioEvents();

// Whether events were queued since the last call (audio thread, after a
// render: one wake for them all).
bool TakePostedEvents();

// Puts the channel operations above into a backend table; the device
// operations (start, stop, dispose) are the backend's own.
void FillChannelOps(qbPlatformOps& ops);

}  // namespace audio_mixer
