// A video's sound ring and its output channel.
#include "sound/videoaudio.h"

#include <algorithm>
#include <new>

#include "core/errcodes.h"
#include "platform/mixer/mixer.h"
#include "sound/channels.h"

int AllocAudioStreamBuffer(int32_t rate, int32_t channels, ObjectID owner, int32_t channel, int32_t volume,
                           VideoAudioDecoder decode, void* user, qbAudioStreamBufferPtr* out) {
    if (rate <= 0 || (channels != 1 && channels != 2) || !decode) return ERR_WRONGUSAGE;
    qbAudioStreamBufferPtr b(new (std::nothrow) qbAudioStreamBuffer);
    if (!b) return ERR_MEM;
    b->rate = rate;
    b->channels = channels;
    b->block = static_cast<size_t>(rate) * static_cast<size_t>(channels) * 2;
    // Above 192 kHz stereo one block is the whole least room: a top-up to a
    // block would write past it.
    b->ring.capacity = std::max(kMinAudioRingBytes, 2 * b->block);
    b->ring.bytes.reset(new (std::nothrow) uint8_t[b->ring.capacity]);
    if (!b->ring.bytes) return ERR_MEM;
    b->owner = owner;
    b->channel = channel;
    b->volume = std::clamp(volume, 0, 64);
    b->decode = decode;
    b->user = user;
    *out = std::move(b);
    return 0;
}

int OpenStreamAudioConverter(qbAudioStreamBuffer& b) {
    const qbAudioStream format{b.channels == 2 ? 5 : 4, kPCMSigned, b.rate, 0};
    int at = -1;
    if (int err = StartVideoChannel(&b.ring, format, b.owner, b.volume, b.channel, &at)) return err;
    b.playing = at;
    return 0;
}

int FillStreamAudioBuffer(qbAudioStreamBuffer& b) {
    {
        std::lock_guard lock(b.ring.mutex);
        // Whole frames only, and never past the ring.
        const size_t frameBytes = static_cast<size_t>(b.channels) * 2;
        const size_t target = std::min(b.block, b.ring.capacity);
        if (b.ring.fill < target) {
            const size_t want = (target - b.ring.fill) / frameBytes * frameBytes;
            const size_t got = std::min(b.decode(b.user, b.ring.bytes.get() + b.ring.fill, want), want);
            b.ring.fill += got / frameBytes * frameBytes;
        }
    }
    if (!b.started.exchange(true)) return OpenStreamAudioConverter(b);
    return 0;
}

void StopStreamChannel(qbAudioStreamBuffer& b) {
    if (b.playing < 0) return;
    std::lock_guard lock(ChannelTableMutex());
    const qbAudioChannel* ch = audio_mixer::Channel(b.playing);
    if (ch && ch->video == &b.ring) StopChannelPlayback(b.playing);
    b.playing = -1;
    b.started.store(false);
}

void SetStreamVolume(qbAudioStreamBuffer& b, int32_t volume) {
    b.volume = std::clamp(volume, 0, 64);
    if (b.playing < 0) return;
    std::lock_guard lock(ChannelTableMutex());
    const qbAudioChannel* ch = audio_mixer::Channel(b.playing);
    if (ch && ch->video == &b.ring) UpdateChannelAttributes(nullptr, -1, b.volume, -1, b.playing);
}

void FreeAudioStreamBuffer(qbAudioStreamBufferPtr& b) {
    if (!b) return;
    StopStreamChannel(*b);
    b.reset();
}
