// Music that is a tracker module: what the module uses of the file is read
// and the file closed, and the player built from those bytes renders on a
// module channel. A stop that keeps no place rebuilds the player, so the
// next play starts at the top.
#include <algorithm>
#include <mutex>
#include <new>

#include "core/errcodes.h"
#include "platform/mixer/mixer.h"
#include "sound/channels.h"
#include "sound/music.h"

namespace {

bool OwnsModuleChannel(const qbMusicObject& m) {
    if (m.moduleChannel < 0 || !m.module) return false;
    const qbAudioChannel* ch = audio_mixer::Channel(m.moduleChannel);
    return ch && ch->module == static_cast<qbModulePosition*>(m.module.get()) &&
           ch->kind.load(std::memory_order_acquire) == kChannelModule;
}

// Also run by a stop while the music is destroyed, at shutdown too, where
// nothing could take an exception: memory running out is a code here.
int BuildPlayer(qbMusicObject& m) {
    std::unique_ptr<ModPlayer> player(new (std::nothrow) ModPlayer);
    if (!player) return ERR_MEM;
    try {
        if (int err = ParseModule(m.moduleBytes.data(), m.moduleBytes.size(), *player)) return err;
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    m.module = std::move(player);
    return 0;
}

}  // namespace

int LoadMusicModule(qbMusicObject& m) {
    qbSample& s = *m.stream;
    if (!s.file) return ERR_OPENSOUND2;
    const int64_t size = GetFileSize(s.file.get());
    if (size <= 0 || FileSeek(s.file.get(), 0, kSeekBeginning) < 0) return ERR_OPENSOUND2;
    // The header names what else the module uses; bytes past its patterns
    // and its instruments' samples are never read, however long the file.
    const auto fileBytes = static_cast<uint64_t>(size);
    m.moduleBytes.resize(static_cast<size_t>(std::min<uint64_t>(fileBytes, kModHeaderBytes)));
    if (FileRead(s.file.get(), m.moduleBytes.data(), m.moduleBytes.size()) != m.moduleBytes.size())
        return ERR_OPENSOUND2;
    const size_t header = m.moduleBytes.size();
    const size_t used = ModuleBytesUsed(m.moduleBytes.data(), header);
    m.moduleBytes.resize(static_cast<size_t>(std::min<uint64_t>(fileBytes, used)));
    if (m.moduleBytes.size() > header &&
        FileRead(s.file.get(), m.moduleBytes.data() + header, m.moduleBytes.size() - header) !=
            m.moduleBytes.size() - header)
        return ERR_OPENSOUND2;
    s.file.reset();
    // What the attributes tell: the player's output.
    s.rate = kModOutputRate;
    s.bits = 16;
    s.channels = 2;
    s.bytesPerFrame = 4;
    s.pcmCode = 5;
    s.flags = kPCMSigned;
    return BuildPlayer(m);
}

int StartMusicModule(qbMusicObject& m, int32_t volume, int index) {
    if (!m.module) return ERR_WRONGUSAGE;
    audio_mixer::SetModuleRenderer(&RenderModuleAudio);
    int channel = -1;
    if (int err = StartModuleChannel(m.module.get(), IDOf(m), volume, index, &channel)) return err;
    m.moduleChannel = channel;
    return 0;
}

void StopMusicModule(qbMusicObject& m, bool keep) {
    {
        std::lock_guard lock(ChannelTableMutex());
        if (OwnsModuleChannel(m)) StopChannelPlayback(m.moduleChannel);
    }
    m.moduleChannel = -1;
    // Nothing renders now: the player may be replaced.
    if (!keep) BuildPlayer(m);
}

bool MusicModuleDone(const qbMusicObject& m) {
    std::lock_guard lock(ChannelTableMutex());
    return !OwnsModuleChannel(m);
}

int MusicModuleChannel(const qbMusicObject& m) {
    std::lock_guard lock(ChannelTableMutex());
    return OwnsModuleChannel(m) ? m.moduleChannel : -1;
}

void SetMusicModuleVolume(qbMusicObject& m, int32_t volume) {
    std::lock_guard lock(ChannelTableMutex());
    if (OwnsModuleChannel(m)) UpdateChannelAttributes(nullptr, -1, volume, -1, m.moduleChannel);
}
