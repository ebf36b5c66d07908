// The table root handed to every plugin.
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
    &kPluginSoundTable,
    &kPluginRequesterTable,
    &kPluginFontTable,
    &kPluginFreetypeTable,
    &kVmApi,
    &kPluginDataTable,
    &kPluginZlibTable,
    &kPluginJpegTable,
    &kPluginListTable,
    &kPluginHashTable,
};

}  // namespace

const qbPluginBase* GetPluginBase() { return &kPluginBase; }
