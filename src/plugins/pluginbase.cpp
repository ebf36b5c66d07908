// The table root handed to every plugin. Only the script VM's table is
// served so far; the others stay null, which plugins read as "not served".
#include "core/apitable.h"
#include "plugins/plugin.h"

namespace {

const qbPluginBase kPluginBase = {
    QBPLUGIN_HOST_VERSION,
    QBPLUGIN_HOST_REVISION,
    nullptr,  // standard library
    nullptr,  // system services
    nullptr,  // files and directories
    nullptr,  // graphics and bitmaps
    nullptr,  // sound
    nullptr,  // requesters
    nullptr,  // fonts
    nullptr,  // FreeType
    &kVmApi,
    nullptr,  // built-in data
    nullptr,  // zlib
    nullptr,  // libjpeg
    nullptr,  // plugin list
    nullptr,  // hashing and encoding
};

}  // namespace

const qbPluginBase* GetPluginBase() { return &kPluginBase; }
