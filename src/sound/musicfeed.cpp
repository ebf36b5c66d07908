// The feeder behind a playing music: a thread per stream that refills the
// half of the double buffer the output has just used up, rewinding the
// stream for the loops still wanted. The output side only signals (and never
// waits); the feeder waits on the same condition, and also wakes now and
// then on its own, so that a signal the output could not deliver is not a
// stall.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <new>

#include "core/errcodes.h"
#include "core/ratetime.h"
#include "core/realtime.h"
#include "platform/mixer/mixer.h"
#include "sound/channels.h"
#include "sound/customstream.h"
#include "sound/music.h"

namespace {

// Feeders ask for this; the thread starter clamps it to what the system
// offers and falls back to ordinary scheduling without the privilege.
constexpr int kFeederPriority = 100;
constexpr auto kFeederNap = std::chrono::milliseconds(100);

int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::atomic<MusicClock> clockFn{&SteadyMs};

}  // namespace

struct qbMusicFeeder {
    qbStreamFeed feed;
    std::unique_ptr<uint8_t[]> pcm;  // both halves: one allocation
    qbSample* stream = nullptr;
    uint32_t halfFrames = 0;
    size_t frameBytes = 0;
    int32_t loopsWanted = 1;
    int32_t loopsPlayed = 1;  // the feeder's while it runs
    int nextFill = 0;         // the feeder's
    bool finalQueued = false; // the feeder's
    // Set under feed.mutex, so that the feeder's wait cannot miss it; read
    // between reads without it.
    std::atomic<bool> quit{false};
    RealtimeThread thread;
    int channel = -1;
};

namespace {

// Back to frame 0 for the next pass; the time fields stay those of the play.
void Rewind(qbSample& s) {
    const int64_t seconds = s.seconds, micros = s.micros, pause = s.pauseOffset;
    SeekSoundStream(s, 0);
    s.seconds = seconds;
    s.micros = micros;
    s.pauseOffset = pause;
}

// One half: a second of the stream, looping as often as wanted. The last
// half holds what was left, at least one frame (silence when nothing was).
void Fill(qbMusicFeeder& f, int half) {
    uint8_t* dst = f.pcm.get() + static_cast<size_t>(half) * f.halfFrames * f.frameBytes;
    uint32_t got = 0;
    bool last = false;
    bool rewound = false;
    while (got < f.halfFrames) {
        bool ended = false;
        const uint32_t n = ReadSoundFrames(*f.stream, dst + got * f.frameBytes, f.halfFrames - got, &ended);
        got += n;
        if (!ended) continue;
        // A pass that gives nothing right after a rewind would loop forever.
        const bool empty = rewound && n == 0;
        if (f.loopsPlayed < f.loopsWanted && !empty) {
            Rewind(*f.stream);
            ++f.loopsPlayed;
            rewound = true;
            continue;
        }
        last = true;
        break;
    }
    if (got == 0) {
        std::memset(dst, SilenceByte(f.stream->pcmCode), f.frameBytes);
        got = 1;
    }
    qbStreamFeed::Half& h = f.feed.halves[static_cast<size_t>(half)];
    h.pcm = dst;
    h.frames = got;
    h.ready.store(true, std::memory_order_release);
    // Only after the half is ready: the output ends the music when it runs
    // out of halves once this is set.
    if (last) {
        f.finalQueued = true;
        f.feed.endState.store(1, std::memory_order_release);
    }
}

void FillFreeHalves(qbMusicFeeder& f) {
    while (!f.finalQueued && !f.quit.load(std::memory_order_acquire) &&
           !f.feed.halves[static_cast<size_t>(f.nextFill)].ready.load(std::memory_order_acquire)) {
        Fill(f, f.nextFill);
        f.nextFill ^= 1;
    }
}

void FeederBody(void* arg) {
    auto& f = *static_cast<qbMusicFeeder*>(arg);
    for (;;) {
        {
            std::unique_lock lock(f.feed.mutex);
            f.feed.cond.wait_for(lock, kFeederNap, [&] { return f.quit.load() || f.feed.refillRequested; });
            if (f.quit.load()) return;
            f.feed.refillRequested = false;
        }
        FillFreeHalves(f);
        if (f.finalQueued) return;
    }
}

void JoinFeeder(qbMusicFeeder& f) {
    {
        std::lock_guard lock(f.feed.mutex);
        f.quit.store(true, std::memory_order_release);
    }
    f.feed.cond.notify_all();
    if (f.thread.Joinable()) f.thread.Join();
}

bool OwnsChannel(const qbMusicFeeder& f) {
    if (f.channel < 0) return false;
    const qbAudioChannel* ch = audio_mixer::Channel(f.channel);
    return ch && ch->feed == &f.feed && ch->kind.load(std::memory_order_acquire) != kChannelFree;
}

// The stream's place for a play time, and the time fields with it.
void PlaceAt(qbSample& s, int64_t ms) {
    if (s.rate <= 0) return;
    const auto frame = static_cast<uint32_t>(CountAtMs(ms, {static_cast<uint64_t>(s.rate)}));
    SeekSoundStream(s, frame);
}

}  // namespace

qbMusicObject::qbMusicObject() = default;

qbMusicObject::~qbMusicObject() {
    if (feeder) StopMusicStream(*this, false);
}

void SetMusicClock(MusicClock clock) { clockFn.store(clock ? clock : &SteadyMs); }

int64_t MusicNowMs() { return clockFn.load()(); }

int64_t MusicDurationMs(const qbMusicObject& m) {
    const qbSample* s = m.stream.get();
    if (!s || s->rate <= 0 || s->format == kStreamCustom) return 0;
    return MsAtCount(s->frames, {static_cast<uint64_t>(s->rate)});
}

int64_t MusicPositionMs(const qbMusicObject& m) {
    int64_t t = m.playedMs;
    if (m.state == kMusicPlaying && m.feeder) t += MusicNowMs() - m.startMs;
    const int64_t d = MusicDurationMs(m);
    return d > 0 ? t % d : t;
}

int StartMusicStream(qbMusicObject& m, int32_t volume, int32_t times, int index) {
    if (m.module) return StartMusicModule(m, volume, index);
    if (m.feeder) StopMusicStream(m, true);
    qbSample& s = *m.stream;
    if (s.rate <= 0 || s.bytesPerFrame <= 0 || s.pcmCode < 0 || s.pcmCode > 5) return ERR_8OR16BITONLY;
    std::unique_ptr<qbMusicFeeder> f(new (std::nothrow) qbMusicFeeder);
    if (!f) return ERR_MEM;
    f->stream = &s;
    f->halfFrames = static_cast<uint32_t>(s.rate);
    f->frameBytes = static_cast<size_t>(s.bytesPerFrame);
    f->pcm.reset(new (std::nothrow) uint8_t[2 * size_t{f->halfFrames} * f->frameBytes]);
    if (!f->pcm) return ERR_MEM;
    f->loopsWanted = times < 1 ? INT32_MAX : times;
    f->loopsPlayed = std::clamp(m.loopsPlayed, 1, f->loopsWanted);
    // From where the last play left it; a rewind keeps these.
    if (s.format != kStreamCustom) {
        const int64_t seconds = s.seconds, micros = s.micros;
        SeekSoundStream(s, s.position);
        s.seconds = seconds;
        s.micros = micros;
    }
    Fill(*f, 0);
    f->nextFill = 1;
    // Before the feeder runs: from then on its loop count is its own.
    const int32_t loopsNow = f->loopsPlayed;
    if (!f->finalQueued) {
        f->feed.refillRequested = true;
        f->thread = CreateRealtimeThread(&FeederBody, f.get(), kFeederPriority);
        if (!f->thread.Joinable()) return ERR_THREAD;
    }
    qbAudioStream format{s.pcmCode, s.flags, s.rate, 0};
    int channel = -1;
    if (int err = StartStreamChannel(&f->feed, format, IDOf(m), volume, index, &channel)) {
        JoinFeeder(*f);
        return err;
    }
    f->channel = channel;
    m.loopsPlayed = loopsNow;
    m.startMs = MusicNowMs();
    m.feeder = std::move(f);
    return 0;
}

void StopMusicStream(qbMusicObject& m, bool keep) {
    if (m.module) return StopMusicModule(m, keep);
    if (m.feeder) {
        qbMusicFeeder& f = *m.feeder;
        {
            std::lock_guard lock(ChannelTableMutex());
            if (OwnsChannel(f)) StopChannelPlayback(f.channel);
        }
        JoinFeeder(f);
        m.playedMs += MusicNowMs() - m.startMs;
        m.feeder.reset();
    }
    if (!m.stream) return;
    const int64_t d = MusicDurationMs(m);
    if (keep && d > 0) {
        m.loopsPlayed = static_cast<int32_t>(std::min<int64_t>(m.playedMs / d + 1, INT32_MAX));
        const int64_t at = m.playedMs % d;
        PlaceAt(*m.stream, at);
    } else if (!keep) {
        m.playedMs = 0;
        m.loopsPlayed = 1;
        if (m.stream->format != kStreamCustom) PlaceAt(*m.stream, 0);
        if (m.scriptFed) m.flushed = true;
    }
}

void SeekMusicStream(qbMusicObject& m, int64_t ms) {
    if (!m.stream || m.module) return;
    PlaceAt(*m.stream, ms);
    m.playedMs = ms;
    m.loopsPlayed = 1;
}

bool MusicStreamDone(const qbMusicObject& m) {
    if (m.module) return MusicModuleDone(m);
    if (!m.feeder) return true;
    if (m.feeder->feed.endState.load(std::memory_order_acquire) == 2) return true;
    std::lock_guard lock(ChannelTableMutex());
    return !OwnsChannel(*m.feeder);
}

void SetMusicStreamVolume(qbMusicObject& m, int32_t volume) {
    if (m.module) return SetMusicModuleVolume(m, volume);
    if (!m.feeder) return;
    std::lock_guard lock(ChannelTableMutex());
    if (OwnsChannel(*m.feeder)) UpdateChannelAttributes(nullptr, -1, volume, -1, m.feeder->channel);
}

int MusicChannelIndex(const qbMusicObject& m) {
    if (m.module) return MusicModuleChannel(m);
    if (!m.feeder) return -1;
    std::lock_guard lock(ChannelTableMutex());
    return OwnsChannel(*m.feeder) ? m.feeder->channel : -1;
}
