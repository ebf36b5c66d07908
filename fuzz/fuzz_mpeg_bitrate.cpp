// Fuzz target of the MPEG bitrate analysis: tag skip, header tables and the
// Xing/VBRI scan on any bytes, and the average of what it found.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzznote.h"
#include "platform/linux/mpegbitrate.h"

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
};

size_t ReadInput(void* source, int64_t offset, void* buffer, size_t count) {
    const auto* in = static_cast<const Input*>(source);
    if (offset < 0 || static_cast<uint64_t>(offset) >= in->size) return 0;
    const size_t n = std::min(count, in->size - static_cast<size_t>(offset));
    std::memcpy(buffer, in->data + offset, n);
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    const linux_sound::MPEGBitrate b = linux_sound::AnalyseMPEGBitrate(&ReadInput, &in);
    const int64_t frames = size > 4 ? data[size - 1] * 1000 : 0;
    const int32_t rate = size > 4 ? data[size - 2] * 100 : 0;
    FuzzNoteValue(b.kbps);
    FuzzNoteValue(b.variable);
    FuzzNoteValue(b.tagSize);
    FuzzNoteValue(linux_sound::AverageBitrate(b, static_cast<int64_t>(size), frames, rate));
    return 0;
}
