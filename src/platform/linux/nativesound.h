// The Linux backend's sound decoder: any audio FFmpeg reads, through the
// file layer, as 16-bit signed interleaved frames (mono or stereo) at the
// stream's own rate. Runs on the calling thread, never the audio thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform_types.h"

namespace linux_sound {

int OpenNativeAudioFile(const char* name, uint32_t flags, qbNativeAudioFile** out);
// size is in bytes; whole frames are read. info->packets is the frames read.
// With no buffer nothing is read: info holds the whole length in frames and
// bytes (the length is exactly what reading to the end delivers).
int ReadNativeAudioPackets(qbNativeAudioFile* stream, void* buffer, size_t size, qbAudioPacketInfo* info);
void CloseNativeAudioFile(qbNativeAudioFile* stream);
int SetDecoderPacketBuffer(qbNativeAudioFile* stream, int count);
// The position set, or -1 when frame lies outside the sound.
int64_t LimitPacketPosition(qbNativeAudioFile* stream, int64_t frame);
int GetNativeStreamFormat(qbNativeAudioFile* stream, qbPCMFormat* out);
const char* GetNativeAudioFormatName(qbNativeAudioFile* stream);

}  // namespace linux_sound
