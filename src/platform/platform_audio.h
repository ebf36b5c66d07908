// Backend operations, listed for platform_ops.h.
#pragma once

#include "platform/platform_types.h"

// Audio output and native sound decoding. The render callbacks run on the
// audio system's thread; everything here runs on the main thread.
// X(result, name, (parameters), (arguments))
#define QB_PLATFORM_AUDIO_OPS(X) \
    X(int, StartAudioOutput, (), ()) \
    X(void, StopAudioOutput, (), ()) \
    X(void, DisposeAudioOutput, (), ()) \
    X(int, CreateStreamConverter, (qbAudioStream* stream, int channel, void* data, int rate, int volume, int pan), (stream, channel, data, rate, volume, pan)) \
    X(int, CreateMusicConverter, (void* music, int channel, int rate, int volume), (music, channel, rate, volume)) \
    X(void, DisposeStreamConverter, (qbAudioChannel* record, int channel), (record, channel)) \
    X(void, DisposeChannelConverter, (int channel), (channel)) \
    X(void, FreeChannelConverter, (int channel), (channel)) \
    X(void, StopAllNativeChannels, (), ()) \
    X(void, SetMixerInputVolume, (int channel, int volume), (channel, volume)) \
    X(void, SetNativeChannelVolume, (int channel, int volume), (channel, volume)) \
    X(void, SetChannelVolumePan, (int channel, int volume, int pan), (channel, volume, pan)) \
    X(void, FillPCMStreamFormat, (qbPCMFormat* out, int rate, int bits, int bytesPerFrame, int channels, uint32_t flags), (out, rate, bits, bytesPerFrame, channels, flags)) \
    X(int, SetConverterMagicCookie, (qbAudioStream* stream, const void* cookie, size_t size), (stream, cookie, size)) \
    X(int, SetConverterInputProc, (qbAudioStream* stream, int channel), (stream, channel)) \
    X(void, FlushChannelEvents, (), ()) \
    X(void, ProcessAudioEvents, (), ()) \
    X(int, OpenNativeAudioFile, (const char* name, uint32_t flags, qbNativeAudioFile** outStream), (name, flags, outStream)) \
    X(int, ReadNativeAudioPackets, (qbNativeAudioFile* stream, void* buffer, size_t size, qbAudioPacketInfo* outInfo), (stream, buffer, size, outInfo)) \
    X(void, CloseNativeAudioFile, (qbNativeAudioFile* stream), (stream)) \
    X(int, SetDecoderPacketBuffer, (qbNativeAudioFile* stream, int count), (stream, count)) \
    X(int64_t, LimitPacketPosition, (qbNativeAudioFile* stream, int64_t position), (stream, position)) \
    X(int, GetNativeStreamFormat, (qbNativeAudioFile* stream, qbPCMFormat* out), (stream, out)) \
    X(const char*, GetNativeAudioFormatName, (qbNativeAudioFile* stream), (stream)) \
    X(int, NoAudioHook, (), ()) \
    X(void, SetNativeChannelRate, (int channel, int rate), (channel, rate))
