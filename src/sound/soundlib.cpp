// The "sound" library: its table, constants and tag hooks, lazy opening of
// the output, and the commands that play samples and ask about channels.
// Loading is not sound: the commands that make or read samples work in
// no-audio mode; those that play or control sound then do nothing and the
// queries give 0.
#include "sound/soundlib.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "core/errcodes.h"
#include "core/linkedfile.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "display/eventlib.h"
#include "display/events.h"
#include "display/positions.h"
#include "display/display.h"
#include "platform/mixer/mixer.h"
#include "display/eventsources.h"
#include "sound/channels.h"
#include "sound/musiclist.h"
#include "sound/samples.h"
#include "sound/stream.h"

namespace {

const ScriptCommand kSoundCommands[] = {
    {"FreeSample", cmdFreeSample},
    {"LoadSample", cmdLoadSample},
    {"IsSound", cmdIsSound},
    {"GetPatternPosition", cmdGetPatternPosition},
    {"GetSongPosition", cmdGetSongPosition},
    {"PlaySubsong", cmdPlaySubsong},
    {"WaitPatternPosition", cmdWaitPatternPosition},
    {"WaitSongPosition", cmdWaitSongPosition},
    {"WaitSampleEnd", cmdWaitSampleEnd},
    {"IsSamplePlaying", cmdIsSamplePlaying},
    {"SetVolume", cmdSetVolume},
    {"SetPitch", cmdSetPitch},
    {"SetPanning", cmdSetPanning},
    {"StopSample", cmdStopSample},
    {"PlaySample", cmdPlaySample},
    {"SetMasterVolume", cmdSetMasterVolume},
    {"IsSample", cmdIsSample},
    {"CreateSample", cmdCreateSample},
    {"OpenMusic", cmdOpenMusic},
    {"LoadModule", cmdOpenMusic},
    {"CloseMusic", cmdCloseMusic},
    {"FreeModule", cmdCloseMusic},
    {"PlayMusic", cmdPlayMusic},
    {"PlayModule", cmdPlayMusic},
    {"StopMusic", cmdStopMusic},
    {"StopModule", cmdStopMusic},
    {"PauseMusic", cmdPauseMusic},
    {"PauseModule", cmdPauseMusic},
    {"ResumeMusic", cmdResumeMusic},
    {"ResumeModule", cmdResumeMusic},
    {"SeekMusic", cmdSeekMusic},
    {"SetMusicVolume", cmdSetMusicVolume},
    {"IsMusic", cmdIsMusic},
    {"IsModule", cmdIsMusic},
    {"IsMusicPlaying", cmdIsMusicPlaying},
    {"SaveSample", cmdSaveSample},
    {"GetSampleData", cmdGetSampleData},
    {"CreateMusic", cmdCreateMusic},
    {"FillMusicBuffer", cmdFillMusicBuffer},
    {"MixSample", cmdMixSample},
    {"CopySample", cmdCopySample},
    {"InsertSample", cmdInsertSample},
    {"FlushMusicBuffer", cmdFlushMusicBuffer},
    {"IsChannelPlaying", cmdIsChannelPlaying},
    {"HaveFreeChannel", cmdHaveFreeChannel},
    {"StopChannel", cmdStopChannel},
    {"GetChannels", cmdGetChannels},
    {"SetChannelVolume", cmdSetChannelVolume},
    {nullptr, nullptr},
};

const ScriptConstant kSoundConstants[] = {
    {"MONO8", nullptr, kFormatMono8},       {"MONO16", nullptr, kFormatMono16},
    {"STEREO8", nullptr, kFormatStereo8},   {"STEREO16", nullptr, kFormatStereo16},
    {"SAMPLE", nullptr, kObjectTypeSample}, {"MUSIC", nullptr, kChannelObjMusic},
    {"SMPFMT_WAVE", nullptr, 0},            {nullptr, nullptr, 0},
};

constexpr int32_t kMinPitch = 256;
constexpr int kMaxPlayPairs = 4;
constexpr auto kWaitStep = std::chrono::milliseconds(10);

int SetSoundTag(void*, int tag, intptr_t value) { return SoundSettingsHook(tag, static_cast<int>(value)); }

int GetSoundTag(void*, int tag, intptr_t value) {
    auto* out = reinterpret_cast<int*>(value);
    switch (tag) {
        case kTagNoSound:
            if (out) *out = IsAudioDisabled() ? 1 : 0;
            return 1;
        case kTagAudioChannels:
            if (out) *out = AudioOpenParameter();
            return 1;
        default: return 0;
    }
}

bool Given(ScriptState* L, int idx) { return VmGetTop(L) >= idx && VmType(L, idx) != kTypeNil; }

// The "loader" and "adapter" fields of an options table at idx.
void LoaderOptions(ScriptState* L, int idx, const char** loader, const char** adapter) {
    *loader = *adapter = nullptr;
    if (VmGetTop(L) < idx || VmType(L, idx) != kTypeTable) return;
    GetTableFieldString(L, idx, "loader", loader, nullptr);
    GetTableFieldString(L, idx, "adapter", adapter, nullptr);
}

// A 1-based channel argument as the table's index; ERR_CHANNELRANGE
// outside the table.
int ChannelArg(ScriptState* L, int idx, int* channel) {
    const int32_t n = GetIntArg(L, idx);
    if (n < 1 || n > audio_mixer::ChannelCount()) return ERR_CHANNELRANGE;
    *channel = n - 1;
    return 0;
}

// Services the event queue every 10 ms until done() holds; 0 or what the
// event loop reported.
template <class Done>
int WaitUntil(ScriptState* L, Done done) {
    for (;;) {
        int error = 0;
        if (int r = PumpEvents(L, kPumpWait, nullptr, &error)) return PumpResultError(r, error);
        if (done()) return 0;
        std::this_thread::sleep_for(kWaitStep);
    }
}

struct PlayRequest {
    qbSampleRef sample;
    qbSampleStart start;
};

// One pair of PlaySample's arguments: the sample at idx, and at idx + 1
// the times or the options table.
int ReadPlayPair(ScriptState* L, int idx, PlayRequest* r) {
    r->sample = qbSampleRef(L, GetObjectIDArg(L, idx));
    qbTaken<qbSampleObject> found = nullptr;
    if (int err = r->sample.Take(&found)) return err;
    const qbSampleObject& s = *found;
    qbSampleStart& st = r->start;
    st.owner = IDOf(s);
    st.volume = s.volume;
    st.pan = s.pan;
    st.rate = s.pitch;
    const int opt = idx + 1;
    if (Given(L, opt) && VmType(L, opt) == kTypeTable) {
        int32_t value = 0;
        int timesGiven = 0;
        int32_t times = 1;
        GetTableFieldInt(L, opt, "times", &times, &timesGiven);
        if (GetTableFieldInt(L, opt, "time", &value, nullptr) && !timesGiven) {
            if (value < 1) return ERR_WRONGUSAGE;
            st.timeMs = value;
        }
        st.times = times;
        double number = 0;
        if (GetTableFieldFloat(L, opt, "volume", &number, nullptr)) st.volume = ClampVolume(number);
        if (GetTableFieldFloat(L, opt, "panning", &number, nullptr)) st.pan = MapPanning(number);
        if (GetTableFieldInt(L, opt, "pitch", &value, nullptr)) st.rate = value;
        if (GetTableFieldInt(L, opt, "channel", &value, nullptr)) st.channel = ChannelIndexOf(value);
    } else if (Given(L, opt)) {
        st.times = GetIntArg(L, opt);
    }
    if (st.rate < kMinPitch) return ERR_LOWFREQ;
    return 0;
}

// The sample on the channel's record, when a sample plays there.
qbSampleObject* SampleOnChannel(int channel) {
    int32_t type = kChannelObjNone;
    ObjectID owner;
    if (GetChannelInfo(channel, &type, &owner, nullptr) != 0 || type != kChannelObjSample) return nullptr;
    qbSampleObject* s = nullptr;
    GetSample(owner, &s);
    return s;
}

}  // namespace

bool SoundOutputReady() {
    if (IsAudioDisabled()) return false;
    if (IsAudioOpen()) return true;
    if (EnsureAudioOpen(std::max(AudioOpenParameter(), 0)) != 0) {
        MarkAudioUnavailable();
        return false;
    }
    return true;
}

int32_t MapPanning(double value) {
    // NaN names no side: it stays in the centre, where a panning starts.
    if (std::isnan(value)) return 128;
    switch (ClampToInt32(value)) {
        case kPositionLeft: return 0;
        case kPositionRight: return 255;
        case kPositionCenter: return 128;
        default: return static_cast<int32_t>(std::clamp(value, 0.0, 255.0));
    }
}

int MadeSoundRate(double value, int32_t* out) {
    if (value < kMinPitch) return ERR_LOWFREQ;
    return ToInt32Within(value, kMinPitch, kMaxInbuiltRate, out) ? 0 : ERR_WRONGUSAGE;
}

int32_t ClampVolume(double value) { return static_cast<int32_t>(std::clamp(std::isnan(value) ? 0.0 : value, 0.0, 64.0)); }

int InitSoundLibrary(ScriptState* L) {
    if (int err = RegisterObjectList(SampleListHead())) return err;
    if (int err = RegisterObjectList(MusicListHead())) return err;
    InstallSampleAttributeRows();
    InstallMusicAttributeRows();
    qbEventSourceHooks hooks = GetEventSourceHooks();
    hooks.findMusicNeedingData = &FindMusicNeedingData;
    hooks.runMusicFill = &RunMusicFill;
    SetEventSourceHooks(hooks);
    if (int err = AddSetTagHook(&SetSoundTag)) return err;
    if (int err = AddGetTagHook(&GetSoundTag)) return err;
    VmRegisterCommands(L, nullptr, kSoundCommands, 0);
    VmRegisterConstants(L, kSoundConstants, 0);
    return RegisterCommandTable(kSoundCommands, "sound", kSoundConstants);
}

int cmdFreeSample(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return FreeSampleCore(GetObjectIDArg(L, 1), true);
}

int cmdLoadSample(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    // A sound the applet links loads from inside the applet.
    const std::string file = ResolveLinkedFileArg(L, 2, 0, nullptr);
    const char *loader = nullptr, *adapter = nullptr;
    LoaderOptions(L, 3, &loader, &adapter);
    SoundOutputReady();
    qbSampleObject* made = nullptr;
    if (int err = LoadSampleFile(file.c_str(), loader, adapter, &made)) return err;
    return FinishNewSample(L, made, id);
}

int cmdIsSound(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    VmPushNumber(L, SoundOutputReady() ? 1 : 0);
    return 1;
}

int cmdWaitSampleEnd(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbSampleObject* s = nullptr;
    if (int err = GetSample(GetObjectIDArg(L, 1), &s)) return err;
    if (!IsAudioOpen()) return 0;
    const void* pcm = s->sample.pcm;
    return WaitUntil(L, [pcm] {
        ReapFinishedChannels();
        return !IsSamplePlaying(pcm);
    });
}

int cmdIsSamplePlaying(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbSampleObject* s = nullptr;
    if (int err = GetSample(GetObjectIDArg(L, 1), &s)) return err;
    VmPushNumber(L, IsAudioOpen() && IsSamplePlaying(s->sample.pcm) ? 1 : 0);
    return 1;
}

int cmdSetVolume(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    qbSampleObject* s = nullptr;
    if (int err = GetSample(GetObjectIDArg(L, 1), &s)) return err;
    s->volume = Given(L, 2) ? ClampVolume(VmCheckNumber(L, 2)) : 64;
    if (!IsAudioOpen()) return 0;
    return UpdateChannelAttributes(s->sample.pcm, -1, s->volume, -1, -1);
}

int cmdSetPitch(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    qbSampleObject* s = nullptr;
    if (int err = GetSample(GetObjectIDArg(L, 1), &s)) return err;
    const int32_t pitch = GetIntArg(L, 2);
    if (pitch < kMinPitch) return ERR_LOWFREQ;
    s->pitch = pitch;
    if (!IsAudioOpen()) return 0;
    return UpdateChannelAttributes(s->sample.pcm, pitch, -1, -1, -1);
}

int cmdSetPanning(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    qbSampleObject* s = nullptr;
    if (int err = GetSample(GetObjectIDArg(L, 1), &s)) return err;
    s->pan = MapPanning(VmCheckNumber(L, 2));
    if (!IsAudioOpen()) return 0;
    return UpdateChannelAttributes(s->sample.pcm, -1, -1, s->pan, -1);
}

int cmdStopSample(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbSampleObject* s = nullptr;
    if (int err = GetSample(GetObjectIDArg(L, 1), &s)) return err;
    if (!IsAudioOpen()) return 0;
    return StopChannel(s->sample.pcm, -1);
}

// Every pair is read and checked before the first start, and all of them
// start on one output frame.
int cmdPlaySample(ScriptState* L) {
    CheckArgCount(L, 1, 0, 0, 0);
    const int pairs = (VmGetTop(L) + 1) / 2;
    if (pairs > kMaxPlayPairs) return ERR_WRONGUSAGE;
    PlayRequest requests[kMaxPlayPairs];
    for (int i = 0; i < pairs; ++i)
        if (int err = ReadPlayPair(L, 2 * i + 1, &requests[i])) return err;
    // A later pair's options may have freed an earlier pair's sample.
    qbTaken<qbSampleObject> samples[kMaxPlayPairs] = {};
    for (int i = 0; i < pairs; ++i)
        if (int err = requests[i].sample.Take(&samples[i])) return err;
    if (!SoundOutputReady()) return 0;
    std::lock_guard lock(ChannelTableMutex());
    int started[kMaxPlayPairs];
    for (int i = 0; i < pairs; ++i) {
        if (int err = StartSample(samples[i]->sample, requests[i].start, &started[i])) {
            for (int j = 0; j < i; ++j) StopChannelPlayback(started[j]);
            return err;
        }
    }
    ReleasePreparedSamples();
    return 0;
}

// Whatever it is given, the master volume stays as it is.
int cmdSetMasterVolume(ScriptState*) { return 0; }

int cmdIsSample(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const std::string file = ResolveLinkedFileArg(L, 1, 0, nullptr);
    const char *loader = nullptr, *adapter = nullptr;
    LoaderOptions(L, 2, &loader, &adapter);
    VmPushNumber(L, IsSoundSample(file.c_str(), loader, adapter));
    return 1;
}

int cmdIsChannelPlaying(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    if (!IsAudioOpen()) {
        VmPushNumber(L, 0);
        return 1;
    }
    int channel = 0;
    if (int err = ChannelArg(L, 1, &channel)) return err;
    ReapFinishedChannels();
    int32_t type = kChannelObjNone;
    ObjectID owner;
    if (int err = GetChannelInfo(channel, &type, &owner, nullptr)) return err;
    if (type == kChannelObjNone) {
        VmPushNumber(L, 0);
        return 1;
    }
    VmPushNumber(L, 1);
    VmPushNumber(L, type);
    PushObjectID(L, owner);
    return 3;
}

int cmdHaveFreeChannel(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    int free = 0;
    if (SoundOutputReady()) {
        std::lock_guard lock(ChannelTableMutex());
        ReapFinishedChannels();
        for (int i = 0; i < audio_mixer::ChannelCount() && free == 0; ++i) {
            int32_t type = kChannelObjNone;
            ObjectID owner;
            if (GetChannelInfo(i, &type, &owner, nullptr) == 0 && type == kChannelObjNone &&
                audio_mixer::Channel(i)->kind.load() == kChannelFree)
                free = i + 1;
        }
    }
    VmPushNumber(L, free);
    return 1;
}

namespace {

qbVideoChannelHooks videoChannelHooks;

bool PlaysVideo(int channel) {
    int32_t type = kChannelObjNone;
    ObjectID owner;
    return GetChannelInfo(channel, &type, &owner, nullptr) == 0 && type == kChannelObjVideo;
}

}  // namespace

void SetVideoChannelHooks(const qbVideoChannelHooks* hooks) {
    videoChannelHooks = hooks ? *hooks : qbVideoChannelHooks{};
}

int cmdStopChannel(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    if (!IsAudioOpen()) return 0;
    int channel = 0;
    if (int err = ChannelArg(L, 1, &channel)) return err;
    // A video's sound stops with its video.
    if (videoChannelHooks.stop && PlaysVideo(channel)) return videoChannelHooks.stop(L, channel);
    return StopChannel(nullptr, channel);
}

int cmdGetChannels(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    VmPushNumber(L, IsAudioOpen() ? audio_mixer::ChannelCount() : 0);
    return 1;
}

int cmdSetChannelVolume(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    if (!IsAudioOpen()) return 0;
    int channel = 0;
    if (int err = ChannelArg(L, 1, &channel)) return err;
    const int32_t volume = Given(L, 2) ? ClampVolume(VmCheckNumber(L, 2)) : 64;
    std::lock_guard lock(ChannelTableMutex());
    if (qbSampleObject* s = SampleOnChannel(channel)) s->volume = volume;
    if (videoChannelHooks.volume && PlaysVideo(channel)) videoChannelHooks.volume(channel, volume);
    return UpdateChannelAttributes(nullptr, -1, volume, -1, channel);
}
