// Data appended to the player's executable: the link marker that carries its
// offset, and the plugins linked in front of the applet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint32_t kNoLinkedData = 0xDEADC0DE;

constexpr size_t kLinkMarkerSize = 45;        // 44 bytes and a NUL
constexpr size_t kLinkMarkerNameSize = 32;    // the maker's name, NUL-padded
constexpr size_t kLinkMarkerOffsetAt = 32;    // big-endian offset word
inline constexpr char kLinkMakerName[] = "Morvale Lumegrid Entertainment";
inline constexpr unsigned char kLinkMarkerMagic[8] = {0xC0, 0xDE, 0xCA, 0xFE, 0xC0, 0xCA, 0xC0, 0x1A};

// The plugin block in front of an appended applet.
inline constexpr char kLinkedPluginMagic[] = "QBP!";
constexpr uint32_t kLinkedPluginsPacked = 1;  // flag: every plugin is a "PLPK" pack stream
constexpr const char* kLinkedPluginExtension = ".qbp";
// Protection of an extracted plugin: read, write and execute for the user,
// read and execute for the others.
constexpr uint32_t kLinkedPluginProtection = 23051;
constexpr size_t kLinkedPluginCopyPiece = 16384;
// Longer names could not become files in the extraction folder.
constexpr size_t kLinkedPluginNameMax = 250;

struct qbLinkMarker {
    unsigned char bytes[kLinkMarkerSize];
};

// Offset of the appended data in the executable (0 when nothing is appended);
// behind the plugin block once the plugins are extracted.
extern uint32_t LinkedDataOffset;
// 1 when the marker's offset word is not kNoLinkedData.
extern int DataIsLinked;

// Copies the marker that the linker kept in the executable, which a linked
// copy of the player carries patched.
void BuildLinkMarker(qbLinkMarker* marker);
// The offset word of a marker (big-endian at byte 32).
uint32_t GetLinkMarkerOffset(const qbLinkMarker* marker);

// Whether a linked plugin's name may become a file name in the extraction
// folder: no folder separators, not "." or "..", not empty, not too long.
bool IsLinkedPluginNameSafe(const char* name);

// Extracts the plugin block at offset of path (when there is one) into a
// private folder. 0, or ERR_READFILE (detail = path), ERR_READ (the block is
// cut short), ERR_LINKPLUGIN (detail = the refused name), ERR_CREATEDIR,
// ERR_WRITEFILE, ERR_WRITE, ERR_MEM or an inflate error of a packed plugin.
// When offset is not 0, LinkedDataOffset moves behind the block.
int ExtractLinkedPlugins(const char* path, uint32_t offset);
// The folder holding the extracted plugins; empty when none were extracted.
const std::string& GetLinkedPluginFolder();
// Deletes the extracted plugins and their folder.
void RemoveExtractedPlugins();
