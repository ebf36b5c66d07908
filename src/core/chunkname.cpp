// Chunk names are built by the loader and parsed wherever a name is opened;
// a script can hand in any text, so the parser trusts nothing in it.
#include "core/chunkname.h"

#include <cstring>

#include "core/chars.h"
#include "core/memfile.h"

namespace {

constexpr size_t kPrefixLength = sizeof(kChunkNamePrefix) - 1;

// At least one digit; false on overflow past limit.
bool ParseNumber(const char*& p, uint64_t limit, uint64_t* value) {
    if (*p < '0' || *p > '9') return false;
    uint64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const uint64_t digit = static_cast<uint64_t>(*p - '0');
        if (v > (limit - digit) / 10) return false;
        v = v * 10 + digit;
    }
    *value = v;
    return true;
}

std::string ExtensionOf(const std::string& fileName) {
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || dot + 1 == fileName.size()) return {};
    return fileName.substr(dot);
}

}  // namespace

std::string MakeChunkName(const char* fileName, uint64_t offset, uint64_t size, uint64_t baseOrSlot,
                          const char* containerPath) {
    std::string name = kChunkNamePrefix;
    if (offset == kStreamChunkOffset) {
        name += 'S';
        name += std::to_string(static_cast<int32_t>(baseOrSlot));
    } else {
        name += std::to_string(offset + baseOrSlot);
    }
    name += ':';
    name += std::to_string(size);
    name += '*';
    name += fileName ? fileName : "";
    name += '?';
    name += containerPath ? containerPath : "";
    return name;
}

int IsChunkName(const char* name) { return name && std::strncmp(name, kChunkNamePrefix, kPrefixLength) == 0; }

int ParseChunkName(const char* name, qbChunkName* out) {
    if (!IsChunkName(name) || !out) return 0;
    qbChunkName parsed;
    const char* p = name + kPrefixLength;
    parsed.stream = *p == 'S';
    if (parsed.stream) ++p;
    uint64_t first = 0;
    if (!ParseNumber(p, parsed.stream ? INT32_MAX : INT64_MAX, &first) || *p++ != ':') return 0;
    if (!ParseNumber(p, INT64_MAX, &parsed.size) || *p++ != '*') return 0;
    const char* question = std::strchr(p, '?');
    if (!question) return 0;
    parsed.fileName.assign(p, question);
    parsed.extension = ExtensionOf(parsed.fileName);
    if (parsed.stream) {
        parsed.slot = static_cast<int32_t>(first);
        parsed.virtualFile = FindVirtualFile(parsed.slot);
        if (!parsed.virtualFile) return 0;
        parsed.size = static_cast<uint64_t>(parsed.virtualFile->size);
    } else {
        // The chunk must end where a 64-bit position can still reach.
        if (parsed.size > static_cast<uint64_t>(INT64_MAX) - first) return 0;
        parsed.offset = first;
        parsed.containerPath = question + 1;
    }
    *out = std::move(parsed);
    return 1;
}
