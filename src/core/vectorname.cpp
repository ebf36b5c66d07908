#include "core/vectorname.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "core/chars.h"
#include "core/chunkname.h"

namespace {

// The one name the loader call may stand for; calls do not nest, but a
// loader that loads another picture restores the outer name on return.
const char* callFileName = nullptr;

bool IsFirstVectorLoader(const qbPlugin* plugin) {
    if (!plugin || !plugin->name) return false;
    const size_t stem = std::strlen(kVectorLoaderName) - 4;  // without ".qbp"
    const bool named = StrCmpNoCase(plugin->name, kVectorLoaderName) == 0 ||
                       (std::strlen(plugin->name) == stem && StrNCmpNoCase(plugin->name, kVectorLoaderName, stem) == 0);
    return named && plugin->version == 1 && plugin->revision <= 1;
}

}  // namespace

std::string LoaderFileName(const qbPlugin* plugin, const char* fileName) {
    if (!fileName) return {};
    if (!IsFirstVectorLoader(plugin) || !IsChunkName(fileName)) return fileName;
    qbChunkName chunk;
    if (!ParseChunkName(fileName, &chunk) || chunk.stream) return fileName;
    char head[64];
    std::snprintf(head, sizeof head, ":::chunk%" PRIu64 ":%" PRIu64 "*", chunk.offset, chunk.size);
    return std::string(head) + FilePartEx(chunk.containerPath.c_str()) + "/" + chunk.fileName;
}

const char* GetLoaderCallFileName() { return callFileName; }

LoaderCallFileName::LoaderCallFileName(const char* realName) : saved_(callFileName) {
    if (realName) callFileName = realName;
}

LoaderCallFileName::~LoaderCallFileName() { callFileName = saved_; }
