// qbapplet's include entries: the --include option with the checks that keep
// the player from reporting impossible lines, and the entry written when no
// --include is given.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "lib/applet_cli.h"
#include "lib/chunk_codec.h"
#include "lib/text_syntax.h"

namespace {

// The player keeps lines as signed 32-bit numbers: a mapped line above this
// reads as a negative one.
constexpr int64_t kMaxLine = INT32_MAX;
// Names longer than this do not fit the player's name fields (with the NUL).
constexpr size_t kMaxNameSize = 1023;

bool ParseField(const std::string& text, int64_t& value) {
    return ParseInteger(text, value) && value <= int64_t{UINT32_MAX};
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file whose lines a chunk without a source name holds: the text it was
// assembled from when that stands beside it as qbasm names them (X.qbs for
// X.qbb), else the chunk's own file.
std::string TextOfChunk(const std::string& bodyPath) {
    constexpr std::string_view kChunkExt = ".qbb";
    if (bodyPath.size() > kChunkExt.size() && bodyPath.ends_with(kChunkExt)) {
        const std::string text = bodyPath.substr(0, bodyPath.size() - kChunkExt.size()) + ".qbs";
        std::error_code ec;
        if (std::filesystem::is_regular_file(text, ec)) return BaseName(text);
    }
    return BaseName(bodyPath);
}

}  // namespace

bool ParseIncludeOption(const std::string& text, AppletInclude& include, std::string& why) {
    std::vector<std::string> parts;
    int64_t first = 0, last = 0, offset = 0;
    // The source chunk name is the rest of the text, so it may hold colons itself.
    if (!SplitFields(text, ':', 4, 5, parts) || !ParseField(parts[1], first) || !ParseField(parts[2], last) ||
        !ParseField(parts[3], offset))
        return false;
    if (first < 0 || last < 0) {
        why = "FIRST and LAST are lines of the chunk, 0 or more";
        return false;
    }
    if (first > last) {
        why = "FIRST " + parts[1] + " is above LAST " + parts[2];
        return false;
    }
    // Line L of the chunk is reported as line OFFSET + 1 + L - FIRST.
    const int64_t lowest = offset + 1, highest = offset + 1 + std::min(last, kMaxLine) - first;
    if (offset < 0) {
        why = "line " + parts[1] + " would be reported as line " + std::to_string(lowest) +
              " (a line L is reported as OFFSET + 1 + L - FIRST, so OFFSET must be 0 or more)";
        return false;
    }
    if (first <= kMaxLine && highest > kMaxLine) {
        why = "lines up to " + std::to_string(highest) + " would be reported, and the player reads lines above " +
              std::to_string(kMaxLine) + " as negative ones";
        return false;
    }
    include.file = parts[0];
    include.source = parts.size() == 5 ? parts[4] : std::string();
    include.first = static_cast<uint32_t>(first);
    include.last = static_cast<uint32_t>(last);
    include.offset = static_cast<uint32_t>(offset);
    return true;
}

void AddDefaultInclude(AppletCommand& command) {
    AppletDesc& desc = command.desc;
    if (!desc.includes.empty() || !desc.body) return;
    AppletInclude entry;
    Chunk chunk;
    std::string error;
    if (ReadChunk(*desc.body, chunk, error)) {
        const std::string& raw = chunk.main.source;
        std::string source = raw.substr(0, raw.find('\0'));
        // The player takes no source name from sources that start so.
        if (!source.empty() && source[0] != '=' && source[0] != '?') entry.source = source.substr(0, kMaxNameSize);
    }
    entry.file = entry.source.empty() ? TextOfChunk(command.bodyPath).substr(0, kMaxNameSize) : entry.source;
    entry.first = 1;
    entry.last = static_cast<uint32_t>(kMaxLine);
    entry.offset = 0;
    desc.includes.push_back(entry);
}
