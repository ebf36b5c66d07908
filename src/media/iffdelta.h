// The delta compressions of IFF ANIM frames, applied to planar frame
// buffers (plane after plane, each `height` rows of `rowBytes`). Every read
// stays inside the DLTA chunk and every write inside its plane: a delta that
// points or runs outside either fails, and the frame with it.
#pragma once

#include <cstddef>
#include <cstdint>

// The delta operations the reader decodes.
enum : int32_t {
    kIFFDeltaByteVertical = 5,
    kIFFDeltaSplitLists = 7,
    kIFFDeltaInterleaved = 8,
    kIFFDeltaLong = 100,
    kIFFDeltaShort = 101,
};
bool IsSupportedIFFDelta(int32_t operation);

// ANHD bits.
constexpr uint32_t kIFFDeltaLongItems = 1;  // operations 7 and 8: 32-bit items
constexpr uint32_t kIFFDeltaFields = 64;    // operations 100 and 101: field mode

struct IFFDeltaTarget {
    uint8_t* planes = nullptr;
    int32_t planeCount = 0;
    int32_t width = 0;
    int32_t height = 0;
    size_t rowBytes = 0;
    bool fields = false;  // operations 100 and 101 step two rows down a column
};

// false when the delta is malformed (the planes may then be partly updated).
bool ApplyIFFDelta(int32_t operation, uint32_t bits, uint8_t interleave, const uint8_t* delta, size_t deltaSize,
                   const IFFDeltaTarget& target);
