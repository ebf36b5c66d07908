// Linked data in executables. Nothing can be appended to this player yet: the
// marker always says so and there are no linked plugins.
#include "core/linkeddata.h"

#include <cstring>

uint32_t LinkedDataOffset = 0;
int DataIsLinked = 0;

void BuildLinkMarker(qbLinkMarker* marker) {
    static const unsigned char kTail[8] = {0xC0, 0xDE, 0xCA, 0xFE, 0xC0, 0xCA, 0xC0, 0x1A};
    std::memset(marker->bytes, 0, sizeof marker->bytes);
    std::memcpy(marker->bytes, "Morvale Lumegrid Entertainment", 30);
    marker->bytes[32] = static_cast<unsigned char>(kNoLinkedData >> 24);
    marker->bytes[33] = static_cast<unsigned char>(kNoLinkedData >> 16);
    marker->bytes[34] = static_cast<unsigned char>(kNoLinkedData >> 8);
    marker->bytes[35] = static_cast<unsigned char>(kNoLinkedData);
    std::memcpy(marker->bytes + 36, kTail, sizeof kTail);
}

uint32_t GetLinkMarkerOffset(const qbLinkMarker* marker) {
    const unsigned char* b = marker->bytes + 32;
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

int ExtractLinkedPlugins(const char*, uint32_t) { return 0; }

void RemoveExtractedPlugins() {}
