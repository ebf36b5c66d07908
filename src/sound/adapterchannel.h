// What the channel table keeps per channel for an audio adapter, and the
// data callback the adapter calls from its output thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct qbAdapterChannel {
    int index = 0;
    uintptr_t handle = 0;  // the adapter's channel; 0 when none
    const void* pcm = nullptr;
    uint32_t frames = 0;
    int32_t bytesPerFrame = 0;
    std::atomic<int64_t> endNanos{0};
};

// Fills frames frames of buffer for the channel record; returns the frames
// written. Never waits: kind 4 signals its feeder only when free, kind 5
// try-locks the video's queue.
int32_t AdapterChannelData(uintptr_t own1, uintptr_t own2, void* buffer, int32_t frames, void* channel);
int64_t AudioNowNanos();
// A module channel's frame: 16-bit stereo.
constexpr size_t kModuleFrameBytes = 4;
