// Saving anims through plugins: the first loaded saver that registered the
// format number, with its entry points when they can be called directly.
#include "plugins/animsavers.h"

#include "media/animstream.h"
#include "plugins/plugin.h"
#include "plugins/pluginlibrary.h"

namespace {

bool FindPluginAnimSaver(uint64_t format, qbAnimSaver* out) {
    qbSaverMatch match;
    if (!FindSaverFormat(PLUGINCAPS_SAVEANIM, format, &match)) return false;
    qbAnimSaver s;
    s.plugin = match.plugin;
    s.flags = match.format->flags;
    s.formatIndex = static_cast<int32_t>(match.format - match.plugin->animSaverFormats);
    const qbPluginNode* node = FindPluginNodeByInfo(match.plugin);
    if (node && node->handle && AdapterCallable(&node->handle->view)) {
        s.begin = reinterpret_cast<qbBeginAnimStreamFunc>(match.plugin->BeginAnimStream);
        s.write = reinterpret_cast<qbWriteAnimFrameFunc>(match.plugin->WriteAnimFrame);
        s.finish = reinterpret_cast<qbFinishAnimStreamFunc>(match.plugin->FinishAnimStream);
    }
    *out = s;
    return true;
}

}  // namespace

void InstallPluginAnimSavers() { SetAnimSaverLookup(&FindPluginAnimSaver); }
