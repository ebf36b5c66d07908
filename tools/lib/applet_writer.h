// Writer of applet containers: magic, tagged sections (all numbers big-endian),
// and the script-body section last.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

enum AppletTag : uint8_t {
    kTagSkip = 0,
    kTagBody = 1,
    kTagLabels = 9,
    kTagVersion = 10,
    kTagTitle = 11,
    kTagVersionString = 12,
    kTagCopyright = 13,
    kTagAuthor = 14,
    kTagDescription = 15,
    kTagIncludeNamed = 27,
    kTagIdentifier = 34,
};

struct AppletLabel {
    std::string name;
    uint32_t value = 0;
};

struct AppletInclude {
    std::string file;
    std::string source;  // source chunk name, empty for a chunk without one
    uint32_t first = 0, last = 0, offset = 0;
};

struct AppletSection {
    uint8_t tag = 0;
    std::vector<uint8_t> payload;
};

struct AppletSpec {
    std::string magic = "QBA";  // padded with NUL bytes (or cut) to 4 bytes
    std::optional<std::pair<uint8_t, uint8_t>> version = std::make_pair(uint8_t{6}, uint8_t{1});
    std::map<uint8_t, std::string> headerStrings;  // tag (11-15, 34) -> text
    std::vector<AppletLabel> labels;
    std::vector<AppletInclude> includes;
    std::vector<AppletSection> rawSections;  // written verbatim before the body
    std::optional<std::vector<uint8_t>> body;
    std::optional<uint32_t> bodySizeOverride;  // declared size instead of the real one
    std::optional<size_t> truncateAt;
};

// Sections in the order they are written.
std::vector<AppletSection> BuildAppletSections(const AppletSpec& spec);
std::vector<uint8_t> BuildApplet(const AppletSpec& spec);

// Payload helpers for section bodies.
void PutU32BE(std::vector<uint8_t>& out, uint32_t value);
void PutCString(std::vector<uint8_t>& out, const std::string& text);
