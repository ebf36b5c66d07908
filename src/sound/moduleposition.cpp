// The module position modes over the channel table.
#include "sound/moduleposition.h"

#include <mutex>

#include "platform/mixer/mixer.h"
#include "sound/channels.h"

namespace {

qbModulePosition* PlayingPlayer(const qbModulePosition* player) {
    for (int i = 0; i < audio_mixer::ChannelCount(); ++i) {
        qbAudioChannel* ch = audio_mixer::Channel(i);
        const int32_t kind = ch->kind.load(std::memory_order_acquire);
        if (kind == kChannelFree || kind == kChannelRingPlaceholder) continue;
        if (ch->module == player) return static_cast<qbModulePosition*>(ch->module);
    }
    return nullptr;
}

}  // namespace

int ModulePositionOf(qbModulePosition* player, int mode, int value) {
    std::lock_guard lock(ChannelTableMutex());
    qbModulePosition* playing = player ? PlayingPlayer(player) : nullptr;
    switch (mode) {
        case kModuleSetPosition: {
            qbModulePosition* target = playing ? playing : player;
            if (!target) return 0;
            target->row.store(0, std::memory_order_relaxed);
            target->jumpTo.store(value, std::memory_order_relaxed);
            target->jump.store(true, std::memory_order_release);
            return 0;
        }
        case kModuleGetRow: return playing ? playing->row.load(std::memory_order_relaxed) : -1;
        case kModuleGetSongPosition: return playing ? playing->songPosition.load(std::memory_order_relaxed) : -1;
        default: return 0;
    }
}
