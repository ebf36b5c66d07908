// The engine record of a vector plugin and the lookup the vectorgraphics
// library uses to find one by file name.
#include "plugins/pluginvector.h"

#include <cstddef>
#include <cstring>

#include "plugins/plugin.h"
#include "plugins/pluginlist.h"
#include "vector/vectorengines.h"
#include "vm/casefold.h"

namespace {

constexpr int kVectorFirstWord = 80;
static_assert(offsetof(qbPluginRecord, GetPathExtents) == 8 * kVectorFirstWord);
static_assert(offsetof(qbPluginRecord, CloseFont) - offsetof(qbPluginRecord, GetPathExtents) ==
              offsetof(qbVectorHooks, closeFont));
static_assert(sizeof(qbVectorHooks) == 8 * 8);

// Bit 0 of the vector capability's GetExtensions answer: the engine places
// the outline itself from the draw record's x1, y1.
constexpr uint64_t kVectorExtension = 1;
constexpr int kVectorBit = 5;
static_assert(PLUGINCAPS_VECTOR == 1 << kVectorBit);

qbVectorEngine* FindVectorPlugin(const char* fileName) {
    for (const auto& node : GetPluginNodes()) {
        if (!node->handle || !(node->capabilities & PLUGINCAPS_VECTOR)) continue;
        if (StrCmpNoCase(node->name.c_str(), fileName) == 0) return &node->handle->vectorEngine;
    }
    return nullptr;
}

}  // namespace

void FillVectorEngine(qbPluginHandle* handle) {
    const qbPluginRecord& r = handle->record;
    qbVectorEngine& e = handle->vectorEngine;
    e.callingMode = static_cast<int32_t>(r.callingMode);
    e.vectorExtension = (r.extensions[kVectorBit] & kVectorExtension) ? 1 : 0;
    std::memcpy(&e.hooks, reinterpret_cast<const char*>(&r) + 8 * kVectorFirstWord, sizeof e.hooks);
    e.plugin = &handle->view;
}

void InstallPluginVectorEngines() { SetVectorPluginFinder(&FindVectorPlugin); }
