// The table root handed to every plugin. Tables not served yet stay null,
// which plugins read as "not served".
#include "core/apitable.h"
#include "plugins/basetables.h"
#include "plugins/plugin.h"

namespace {

const qbPluginBase kPluginBase = {
    QBPLUGIN_HOST_VERSION,
    QBPLUGIN_HOST_REVISION,
    &kPluginStdlibTable,
    &kPluginSystemTable,
    &kPluginFilesTable,
    &kPluginGraphicsTable,
    nullptr,  // sound
    nullptr,  // requesters
    nullptr,  // fonts
    &kPluginFreetypeTable,
    &kVmApi,
    nullptr,  // built-in data
    &kPluginZlibTable,
    &kPluginJpegTable,
    &kPluginListTable,
    &kPluginHashTable,
};

}  // namespace

const qbPluginBase* GetPluginBase() { return &kPluginBase; }
