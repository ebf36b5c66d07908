// The sound library's music commands: opening, playing, pausing, seeking
// and closing music objects, and the script-fed streams that the
// "FillMusicBuffer" handler keeps supplied. Module positions answer for the
// current music only when it is a module.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "core/errcodes.h"
#include "core/numbers.h"
#include "core/runstate.h"
#include "core/settings.h"
#include "display/eventlib.h"
#include "display/events.h"
#include "display/eventsources.h"
#include "objects/adoptid.h"
#include "sound/customstream.h"
#include "sound/musiclist.h"
#include "sound/rangecopy.h"
#include "sound/samples.h"
#include "sound/soundlib.h"

namespace {

// Blocks a script hands over are held to what a made sample may hold.
constexpr uint64_t kMaxBlockBytes = uint64_t{1} << 30;
constexpr auto kWaitStep = std::chrono::milliseconds(10);

int (*singleMusicQuery)() = nullptr;

bool Given(ScriptState* L, int idx) { return VmGetTop(L) >= idx && VmType(L, idx) != kTypeNil; }

bool InCallback() { return GetRuntimeTag(kTagCallbackNesting) != 0; }

void LoaderOptions(ScriptState* L, int idx, const char** loader, const char** adapter) {
    *loader = *adapter = nullptr;
    if (VmGetTop(L) < idx || VmType(L, idx) != kTypeTable) return;
    GetTableFieldString(L, idx, "loader", loader, nullptr);
    GetTableFieldString(L, idx, "adapter", adapter, nullptr);
}

// The music at idx, or the current music when the argument is left out.
int MusicArg(ScriptState* L, int idx, qbMusicObject** out) {
    if (Given(L, idx)) return GetMusic(GetObjectIDArg(L, idx), out);
    *out = CurrentMusic();
    return *out ? 0 : ERR_WRONGUSAGE;
}

// The first request of a script-fed music: two seconds of frames, which
// for the highest rates is more than a request can name.
int32_t TwoSeconds(int32_t rate) { return static_cast<int32_t>(std::min<int64_t>(int64_t{rate} * 2, INT32_MAX)); }

int AskForData(ScriptState* L, qbMusicObject& m, int32_t frames) {
    int32_t blocks = 0;
    CustomFramesQueued(*m.stream, &blocks);
    return CallFillMusicBuffer(L, IDOf(m), frames, blocks);
}

// Puts the music on a channel with its kept settings; a script-fed one that
// was stopped starts from an empty queue and asks for two seconds first.
int Start(ScriptState* L, qbMusicObject& m) {
    if (m.scriptFed && m.flushed) {
        FlushCustomStream(*m.stream);
        m.flushed = false;
        if (int err = AskForData(L, m, TwoSeconds(m.stream->rate))) return err;
    }
    // Without output nothing plays, and nothing is reported as playing.
    if (!SoundOutputReady()) return 0;
    if (int err = StartMusicStream(m, m.volume, m.times, m.channel > 0 ? m.channel - 1 : -1)) return err;
    m.state = kMusicPlaying;
    SetCurrentMusic(&m);
    UpdateMusicPoll(L);
    return 0;
}

void Stop(ScriptState* L, qbMusicObject& m) {
    StopMusicStream(m, false);
    m.state = kMusicStopped;
    if (CurrentMusic() == &m) SetCurrentMusic(nullptr);
    if (LastPausedMusic() == &m) SetLastPausedMusic(nullptr);
    UpdateMusicPoll(L);
}

bool SingleMusic() {
    return !RequireAppletVersion(6, 0) || (singleMusicQuery && singleMusicQuery() != 0);
}

// A module's position word, -1 when the current music is no module.
int32_t ModulePosition(bool row) {
    SyncMusicStates(GetMainState());
    const qbMusicObject* m = CurrentMusic();
    if (!m || !m->module) return -1;
    const int got = ModulePositionOf(m->module.get(), row ? kModuleGetRow : kModuleGetSongPosition, 0);
    if (got >= 0) return got;
    // On no channel (paused): the player's words stand where it stopped,
    // and nothing renders to move them.
    const qbModulePosition& kept = *m->module;
    return std::max((row ? kept.row : kept.songPosition).load(std::memory_order_relaxed), 0);
}

template <class Done>
int WaitUntil(ScriptState* L, Done done) {
    for (;;) {
        int error = 0;
        if (int r = PumpEvents(L, kPumpWait, nullptr, &error)) return PumpResultError(r, error);
        if (done()) return 0;
        std::this_thread::sleep_for(kWaitStep);
    }
}

int WaitPosition(ScriptState* L, bool row) {
    CheckArgCount(L, 1, 1, 0, 0);
    const int32_t target = GetIntArg(L, 1);
    if (ModulePosition(row) < 0) return 0;
    return WaitUntil(L, [&] {
        const int32_t now = ModulePosition(row);
        return now < 0 || now >= target;
    });
}

// "pcm": the "data" table's values, channels x frames of them; what it
// does not give stays silent.
int PcmBlock(ScriptState* L, const qbSample& s, int32_t frames, uint8_t* out) {
    const int32_t count = frames * s.channels;
    if (VmGetTop(L) < 4 || VmType(L, 4) != kTypeTable) return 0;
    VmPushString(L, "data");
    VmRawGet(L, 4);
    const int data = VmGetTop(L);
    if (VmType(L, data) == kTypeTable) {
        for (int32_t i = 0; i < count; ++i) {
            VmRawGetIndex(L, data, i);
            if (VmType(L, -1) != kTypeNumber) {
                VmSetTop(L, -2);
                break;
            }
            const double v = VmToNumber(L, -1);
            VmSetTop(L, -2);
            if (s.bits == 16) {
                const auto x = static_cast<int16_t>(std::clamp(std::isnan(v) ? 0.0 : v, -32768.0, 32767.0));
                std::memcpy(out + size_t(i) * 2, &x, 2);
            } else {
                out[i] = static_cast<uint8_t>(static_cast<int8_t>(std::clamp(std::isnan(v) ? 0.0 : v, -128.0, 127.0)));
            }
        }
    }
    VmSetTop(L, data - 1);
    return 0;
}

int SampleBlock(ScriptState* L, const qbSample& s, int32_t frames, uint8_t* out) {
    if (VmGetTop(L) < 4 || VmType(L, 4) != kTypeTable) return ERR_WRONGUSAGE;
    ObjectID id;
    int found = 0;
    GetTableFieldObjectID(L, 4, "id", &id, &found);
    if (!found) return ERR_WRONGUSAGE;
    qbSampleRef held(L, id);
    qbTaken<qbSampleObject> sample = nullptr;
    if (int err = held.Take(&sample)) return err;
    // The music's form is taken before the options, whose script code may
    // close the music.
    const qbPCMTarget target{out, s.bits, (s.flags & kPCMSigned) != 0, s.channels};
    qbRangeOptions o;
    ReadRangeOptions(L, 4, &o);
    int32_t freeIt = 0;
    GetTableFieldFlagInto(L, 4, "free", &freeIt, nullptr);
    if (int err = held.Take(&sample)) return err;
    if (int err = CopySampleRange(sample->sample, o, target, static_cast<uint32_t>(frames))) return err;
    if (freeIt) return FreeSampleCore(id, true);
    return 0;
}

}  // namespace

void SetSingleMusicQuery(int (*query)()) { singleMusicQuery = query; }

int cmdOpenMusic(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const char* file = VmCheckString(L, 2, nullptr);
    const char *loader = nullptr, *adapter = nullptr;
    LoaderOptions(L, 3, &loader, &adapter);
    SoundOutputReady();
    qbSamplePtr stream;
    if (int err = OpenSoundStream(file, loader, adapter, &stream)) return err;
    const bool module = stream->format == kStreamModule;
    qbMusicObject* m = LinkNewMusic(std::move(stream));
    if (!m) return ERR_MEM;
    if (module) {
        if (int err = LoadMusicModule(*m)) {
            DestroyMusic(m);
            return err;
        }
    }
    m->file = file;
    if (!module) m->readsFrom = NativeFileIdOf(file);
    m->loader = loader ? loader : "";
    m->adapter = adapter ? adapter : "";
    if (int err = AdoptObjectID(
            m, id, [](ObjectID old) { return FreeMusicCore(old, false); },
            [](qbMusicObject* record) { DestroyMusic(record); }))
        return err;
    return NewObjectResult(L, *m, id);
}

int cmdCloseMusic(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbMusicObject* m = nullptr;
    if (int err = GetMusic(GetObjectIDArg(L, 1), &m)) return err;
    SyncMusicStates(L);
    if (m->scriptFed && m->state == kMusicPlaying && InCallback()) return ERR_NOCALLBACK;
    if (int err = FreeMusicCore(IDOf(*m), true)) return err;
    UpdateMusicPoll(L);
    return 0;
}

int cmdPlayMusic(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    qbMusicRef found(L, GetObjectIDArg(L, 1));
    qbTaken<qbMusicObject> m = nullptr;
    if (int err = found.Take(&m)) return err;
    SyncMusicStates(L);
    if (SingleMusic()) {
        if (qbMusicObject* playing = CurrentMusic()) Stop(L, *playing);
    }
    if (m->state == kMusicPlaying) return ERR_MUSPLAYING;
    if (m->state == kMusicPaused) return ERR_MUSPAUSED;
    int32_t volume = m->volume, times = 1, channel = m->channel;
    if (Given(L, 2) && VmType(L, 2) == kTypeTable) {
        double v = 0;
        int32_t n = 0;
        if (GetTableFieldFloat(L, 2, "volume", &v, nullptr)) volume = ClampVolume(v);
        if (GetTableFieldInt(L, 2, "times", &n, nullptr)) times = n;
        if (GetTableFieldInt(L, 2, "channel", &n, nullptr)) channel = std::max(n, 0);
        // The options' script code may have freed or started the music.
        if (int err = found.Take(&m)) return err;
        if (m->state == kMusicPlaying) return ERR_MUSPLAYING;
        if (m->state == kMusicPaused) return ERR_MUSPAUSED;
    } else if (Given(L, 2)) {
        times = GetIntArg(L, 2);
    }
    if (times < 0) return ERR_WRONGUSAGE;
    // The music keeps its settings from before a play that was refused.
    const int32_t keptVolume = m->volume, keptTimes = m->times, keptChannel = m->channel;
    m->volume = volume;
    m->times = times;
    m->channel = channel;
    const int err = Start(L, *m);
    // Starting asks the fill handler of a script-fed music.
    if (err && found.Take(&m) == 0) {
        m->volume = keptVolume;
        m->times = keptTimes;
        m->channel = keptChannel;
    }
    return err;
}

int cmdStopMusic(ScriptState* L) {
    CheckArgCount(L, 0, 1, 0, 0);
    if (InCallback()) return ERR_NOCALLBACK;
    SyncMusicStates(L);
    qbMusicObject* m = nullptr;
    if (int err = MusicArg(L, 1, &m)) return err;
    Stop(L, *m);
    return 0;
}

int cmdPauseMusic(ScriptState* L) {
    CheckArgCount(L, 0, 1, 0, 0);
    if (InCallback()) return ERR_NOCALLBACK;
    SyncMusicStates(L);
    qbMusicObject* m = nullptr;
    if (int err = MusicArg(L, 1, &m)) return err;
    if (m->state != kMusicPlaying) return 0;
    StopMusicStream(*m, true);
    m->state = kMusicPaused;
    SetLastPausedMusic(m);
    UpdateMusicPoll(L);
    return 0;
}

int cmdResumeMusic(ScriptState* L) {
    CheckArgCount(L, 0, 1, 0, 0);
    SyncMusicStates(L);
    qbMusicObject* m = nullptr;
    if (Given(L, 1)) {
        if (int err = GetMusic(GetObjectIDArg(L, 1), &m)) return err;
    } else if (!(m = LastPausedMusic())) {
        return ERR_MUSNOTPAUSED;
    }
    if (m->state != kMusicPaused) return ERR_MUSNOTPAUSED;
    if (LastPausedMusic() == m) SetLastPausedMusic(nullptr);
    return Start(L, *m);
}

int cmdSeekMusic(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    qbMusicObject* m = nullptr;
    if (int err = GetMusic(GetObjectIDArg(L, 1), &m)) return err;
    SyncMusicStates(L);
    if (!m->stream || !m->stream->canSeek) return ERR_SEEKFORMAT;
    const double ms = VmCheckNumber(L, 2);
    const int64_t duration = MusicDurationMs(*m);
    if (!(ms >= 0 && ms <= static_cast<double>(duration - 1))) return ERR_SEEKRANGE;
    const bool playing = m->state == kMusicPlaying && IsAudioOpen();
    if (playing) StopMusicStream(*m, true);
    SeekMusicStream(*m, static_cast<int64_t>(ms));
    if (playing) return StartMusicStream(*m, m->volume, m->times, m->channel > 0 ? m->channel - 1 : -1);
    return 0;
}

int cmdSetMusicVolume(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    qbMusicObject* m = nullptr;
    if (int err = GetMusic(GetObjectIDArg(L, 1), &m)) return err;
    m->volume = Given(L, 2) ? ClampVolume(VmCheckNumber(L, 2)) : 64;
    SetMusicStreamVolume(*m, m->volume);
    return 0;
}

int cmdIsMusic(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const char* file = VmCheckString(L, 1, nullptr);
    const char *loader = nullptr, *adapter = nullptr;
    LoaderOptions(L, 2, &loader, &adapter);
    qbSamplePtr stream;
    const bool opens = OpenSoundStream(file, loader, adapter, &stream) == 0;
    VmPushNumber(L, opens ? 1 : 0);
    VmPushString(L, opens ? SoundFormatName(*stream) : "Unknown");
    return 2;
}

int cmdIsMusicPlaying(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbMusicObject* m = nullptr;
    if (int err = GetMusic(GetObjectIDArg(L, 1), &m)) return err;
    SyncMusicStates(L);
    VmPushNumber(L, m->state == kMusicPlaying ? 1 : 0);
    return 1;
}

int cmdCreateMusic(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const double rateArg = VmCheckNumber(L, 2);
    const int32_t code = PCMCodeOfFormat(GetIntArg(L, 3));
    if (!HasFillMusicBufferHandler()) return ERR_NOFMBHANDLER;
    if (code < 0) return ERR_WRONGUSAGE;
    int32_t rate = 0;
    if (int err = MadeSoundRate(rateArg, &rate)) return err;
    SoundOutputReady();
    qbSamplePtr stream;
    if (int err = CreateCustomStream(rate, code, &stream)) return err;
    qbMusicObject* m = LinkNewMusic(std::move(stream));
    if (!m) return ERR_MEM;
    m->scriptFed = true;
    if (int err = AdoptObjectID(
            m, id, [](ObjectID old) { return FreeMusicCore(old, false); },
            [](qbMusicObject* record) { DestroyMusic(record); }))
        return err;
    if (int err = AskForData(L, *m, TwoSeconds(rate))) return err;
    return NewObjectResult(L, *m, id);
}

int cmdFillMusicBuffer(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    if (!IsFillingMusicBuffer()) return ERR_NOMUSICCB;
    qbMusicObject* m = nullptr;
    if (int err = GetMusic(GetObjectIDArg(L, 1), &m)) return err;
    if (!m->scriptFed || !m->stream) return ERR_WRONGUSAGE;
    const char* kind = VmCheckString(L, 2, nullptr);
    const double framesArg = VmCheckNumber(L, 3);
    qbSample& s = *m->stream;
    if (std::strcmp(kind, "end") == 0) return AppendCustomBlock(s, nullptr, 0);
    const bool pcm = std::strcmp(kind, "pcm") == 0;
    const bool mute = std::strcmp(kind, "mute") == 0;
    const bool sample = std::strcmp(kind, "sample") == 0;
    if (!pcm && !mute && !sample) return ERR_WRONGUSAGE;
    int32_t frames = 0;
    if (!ToInt32Within(framesArg, 0, INT32_MAX, &frames)) return ERR_WRONGUSAGE;
    const uint64_t bytes = static_cast<uint64_t>(frames) * static_cast<uint64_t>(s.bytesPerFrame);
    if (bytes > kMaxBlockBytes) return ERR_MEM;
    if (frames == 0) return 0;
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[bytes]);
    if (!block) return ERR_MEM;
    std::memset(block.get(), SilenceByte(s.pcmCode), bytes);
    if (pcm) {
        if (int err = PcmBlock(L, s, frames, block.get())) return err;
    } else if (sample) {
        qbMusicRef found(L, IDOf(*m));
        const auto frameBytes = s.bytesPerFrame;
        if (int err = SampleBlock(L, s, frames, block.get())) return err;
        // The options' script code may have closed the music.
        qbTaken<qbMusicObject> again = nullptr;
        if (int err = found.Take(&again)) return err;
        if (!again->scriptFed || !again->stream || again->stream->bytesPerFrame != frameBytes) return ERR_WRONGUSAGE;
        return AppendCustomBlock(*again->stream, std::move(block), static_cast<uint32_t>(frames));
    }
    return AppendCustomBlock(s, std::move(block), static_cast<uint32_t>(frames));
}

int cmdFlushMusicBuffer(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbMusicObject* m = nullptr;
    if (int err = GetMusic(GetObjectIDArg(L, 1), &m)) return err;
    SyncMusicStates(L);
    if (!m->scriptFed || m->state != kMusicPlaying) return ERR_WRONGUSAGE;
    Stop(L, *m);
    m->volume = 64;
    m->times = 1;
    m->channel = 0;
    return Start(L, *m);
}

int cmdPlaySubsong(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const int32_t subsong = GetIntArg(L, 1);
    SyncMusicStates(L);
    qbMusicObject* m = nullptr;
    if (int err = MusicArg(L, 2, &m)) return err;
    if (m->module) {
        // A module's subsongs are its song positions, taken at the next render.
        if (subsong < 0 || subsong >= m->module->songLength) return ERR_WRONGUSAGE;
        ModulePositionOf(m->module.get(), kModuleSetPosition, subsong);
        return m->state == kMusicPlaying ? 0 : Start(L, *m);
    }
    if (!m->stream || m->scriptFed || subsong < 1 || subsong > m->stream->subsongs) return ERR_WRONGUSAGE;
    // The subsong it plays is rewound; another one replaces the stream.
    Stop(L, *m);
    if (subsong != m->subsong) {
        qbSamplePtr other;
        if (int err = OpenSoundStream(m->file.c_str(), m->loader.empty() ? nullptr : m->loader.c_str(),
                                      m->adapter.empty() ? nullptr : m->adapter.c_str(), &other, subsong))
            return err;
        m->stream = std::move(other);
        m->subsong = subsong;
    }
    return Start(L, *m);
}

int cmdGetPatternPosition(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    VmPushNumber(L, ModulePosition(true));
    return 1;
}

int cmdGetSongPosition(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    VmPushNumber(L, ModulePosition(false));
    return 1;
}

int cmdWaitPatternPosition(ScriptState* L) { return WaitPosition(L, true); }

int cmdWaitSongPosition(ScriptState* L) { return WaitPosition(L, false); }
