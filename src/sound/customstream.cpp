// The queue of a script-fed stream and its reader.
#include "sound/customstream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/errcodes.h"
#include "platform/platform_types.h"

namespace {

// Blocks read to the end go when the next one comes; an end marker stays
// until a flush, so that the reader keeps finding it.
void ReleaseUsed(qbCustomStream& c) {
    while (!c.blocks.empty() && c.blocks.front().pcm && c.blocks.front().used >= c.blocks.front().frames) {
        c.blocks.pop_front();
    }
}

}  // namespace

uint8_t SilenceByte(int32_t pcmCode) { return pcmCode == 0 || pcmCode == 1 ? 128 : 0; }

int CreateCustomStream(int32_t rate, int32_t pcmCode, qbSamplePtr* out) {
    if (pcmCode < 0 || pcmCode > 5) return ERR_WRONGUSAGE;
    qbSamplePtr s(new (std::nothrow) qbSample);
    if (!s) return ERR_MEM;
    s->custom.reset(new (std::nothrow) qbCustomStream);
    if (!s->custom) return ERR_MEM;
    s->format = kStreamCustom;
    s->bits = pcmCode >= 4 ? 16 : 8;
    s->channels = pcmCode == 1 || pcmCode == 3 || pcmCode == 5 ? 2 : 1;
    s->flags = pcmCode == 0 || pcmCode == 1 ? 0u : uint32_t{kPCMSigned};
    s->bytesPerFrame = s->bits / 8 * s->channels;
    s->outBytesPerFrame = s->bytesPerFrame;
    s->rate = rate;
    s->pcmCode = pcmCode;
    s->canSeek = false;
    s->custom->wanted = static_cast<uint32_t>(rate);
    *out = std::move(s);
    return 0;
}

uint32_t ReadCustomFrames(qbSample& s, void* buffer, uint32_t frames, bool* ended) {
    *ended = false;
    if (!s.custom) return 0;
    qbCustomStream& c = *s.custom;
    auto* out = static_cast<uint8_t*>(buffer);
    const size_t bpf = static_cast<size_t>(s.bytesPerFrame);
    uint32_t got = 0;
    std::lock_guard lock(c.mutex);
    for (qbMusicBlock& b : c.blocks) {
        if (got == frames) break;
        if (!b.pcm) {
            *ended = true;
            return got;
        }
        if (b.used >= b.frames) continue;
        const uint32_t n = std::min(frames - got, b.frames - b.used);
        std::memcpy(out + got * bpf, b.pcm.get() + b.used * bpf, n * bpf);
        b.used += n;
        got += n;
        c.queuedFrames -= n;
    }
    std::memset(out + got * bpf, SilenceByte(s.pcmCode), (frames - got) * bpf);
    return frames;
}

int AppendCustomBlock(qbSample& s, std::unique_ptr<uint8_t[]> pcm, uint32_t frames) {
    if (!s.custom) return ERR_WRONGUSAGE;
    qbCustomStream& c = *s.custom;
    qbMusicBlock block;
    const bool marker = !pcm;
    block.pcm = std::move(pcm);
    block.frames = marker ? 0 : frames;
    std::lock_guard lock(c.mutex);
    ReleaseUsed(c);
    if (marker && c.endQueued) return 0;
    c.blocks.push_back(std::move(block));
    if (marker) c.endQueued = true;
    if (!marker) c.queuedFrames += frames;
    return 0;
}

void FlushCustomStream(qbSample& s) {
    if (!s.custom) return;
    std::lock_guard lock(s.custom->mutex);
    s.custom->blocks.clear();
    s.custom->queuedFrames = 0;
    s.custom->endQueued = false;
}

bool CustomEndQueued(qbSample& s) {
    if (!s.custom) return false;
    std::lock_guard lock(s.custom->mutex);
    return s.custom->endQueued;
}

int64_t CustomFramesQueued(qbSample& s, int32_t* blocks) {
    if (!s.custom) return 0;
    std::lock_guard lock(s.custom->mutex);
    if (blocks) *blocks = static_cast<int32_t>(s.custom->blocks.size());
    return s.custom->queuedFrames;
}
