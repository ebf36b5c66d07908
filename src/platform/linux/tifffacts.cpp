// The two TIFF tags the decoder needs and FFmpeg does not report:
// ExtraSamples, whose value 1 marks associated (premultiplied) alpha, and
// PhotometricInterpretation, whose value 5 marks CMYK inks.
#include "platform/linux/nativeimage.h"

namespace linux_images {

namespace {

constexpr uint16_t kTagPhotometric = 262;
constexpr uint16_t kTagExtraSamples = 338;
constexpr uint16_t kSeparated = 5;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kAssociatedAlpha = 1;
constexpr size_t kEntryBytes = 12;

struct ByteOrder {
    bool big = false;
    uint16_t U16(const uint8_t* p) const {
        return static_cast<uint16_t>(big ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0]);
    }
    uint32_t U32(const uint8_t* p) const {
        return big ? (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]
                   : (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
    }
};

}  // namespace

TIFFFacts ReadTIFFFacts(ReadAtFn readAt, void* source) {
    TIFFFacts facts;
    uint8_t header[8];
    if (!readAt(source, 0, header, sizeof header)) return facts;
    ByteOrder order;
    if (header[0] == 'M' && header[1] == 'M') {
        order.big = true;
    } else if (header[0] != 'I' || header[1] != 'I') {
        return facts;
    }
    if (order.U16(header + 2) != 42) return facts;
    const int64_t directory = order.U32(header + 4);
    uint8_t countBytes[2];
    if (!readAt(source, directory, countBytes, sizeof countBytes)) return facts;
    const uint16_t count = order.U16(countBytes);
    for (uint16_t i = 0; i < count; ++i) {
        uint8_t entry[kEntryBytes];
        if (!readAt(source, directory + 2 + int64_t{i} * kEntryBytes, entry, sizeof entry)) return facts;
        const uint16_t tag = order.U16(entry);
        if (tag != kTagExtraSamples && tag != kTagPhotometric) continue;
        if (order.U16(entry + 2) != kTypeShort || order.U32(entry + 4) == 0) continue;
        // Up to two shorts stand in the entry itself, more behind an offset;
        // the alpha is the first extra sample either way.
        uint8_t value[2] = {entry[8], entry[9]};
        if (order.U32(entry + 4) > 2 && !readAt(source, order.U32(entry + 8), value, sizeof value)) continue;
        if (tag == kTagExtraSamples) {
            facts.associatedAlpha = order.U16(value) == kAssociatedAlpha;
        } else {
            facts.inks = order.U16(value) == kSeparated;
        }
    }
    return facts;
}

}  // namespace linux_images
