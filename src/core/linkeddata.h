// Data appended to the player's executable: the link marker that carries its
// offset, and the plugins linked in front of the applet.
#pragma once

#include <cstdint>

constexpr uint32_t kNoLinkedData = 0xDEADC0DE;

struct qbLinkMarker {
    unsigned char bytes[45];  // maker name, BE offset word at 32, two magic words, NUL
};

// Offset of the appended data in the executable (0 when nothing is appended).
extern uint32_t LinkedDataOffset;
// 1 when the marker's offset word is not kNoLinkedData.
extern int DataIsLinked;

void BuildLinkMarker(qbLinkMarker* marker);
// The offset word of a marker (big-endian at byte 32).
uint32_t GetLinkMarkerOffset(const qbLinkMarker* marker);
int ExtractLinkedPlugins(const char* path, uint32_t offset);
// Deletes the extracted plugins and their folder.
void RemoveExtractedPlugins();
