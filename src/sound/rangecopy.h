// Copying a range of a sample's frames into a buffer of another width,
// signedness and channel count (music buffers fed by the script, inserted
// samples).
#pragma once

#include <cstdint>

#include "sound/channels.h"

struct qbRangeOptions {
    int64_t loop = 1;    // 1 wraps at the range's end, 0 pads with silence
    int64_t offset = 0;  // the first frame within the range
    int64_t start = 0;
    int64_t end = 0;  // 0: the sample's end
};

struct qbPCMTarget {
    void* pcm = nullptr;
    int32_t bits = 16;
    bool isSigned = true;
    int32_t channels = 1;
};

// Frames frames into target. 0, or ERR_SMPRANGE for negative values, a
// start not below the end, an end past the sample, or an empty range.
int CopySampleRange(const qbSampleData& sample, const qbRangeOptions& options, const qbPCMTarget& target,
                    uint32_t frames);
