// The "sound" library: samples and channels as scripts meet them.
#pragma once

#include "vm/vm.h"

int InitSoundLibrary(ScriptState* L);
// GetAttribute's rows for samples (sampleattributes.cpp).
void InstallSampleAttributeRows();

// Opens the output on first need; false in no-audio mode or when the
// output could not be opened (which then switches no-audio mode on).
bool SoundOutputReady();

// What the channel commands ask of a video whose sound plays on a channel
// (0-based); the video library installs them, null takes them away.
struct qbVideoChannelHooks {
    int (*stop)(ScriptState* L, int channel) = nullptr;
    void (*volume)(int channel, int32_t volume) = nullptr;
};
void SetVideoChannelHooks(const qbVideoChannelHooks* hooks);

// Panning arguments: #LEFT, #RIGHT and #CENTER, other numbers clamped.
int32_t MapPanning(double value);
int32_t ClampVolume(double value);
// The rate of a sound a script makes (CreateMusic, CreateSample, MixSample):
// the range the inbuilt readers take, from 256 Hz. ERR_LOWFREQ below it,
// ERR_WRONGUSAGE above it or for NaN.
int MadeSoundRate(double value, int32_t* out);

// The range copier's "loop", "offset", "start" and "end" from the options
// table at idx (absent fields keep their defaults).
struct qbRangeOptions;
void ReadRangeOptions(ScriptState* L, int idx, qbRangeOptions* o);

int cmdFreeSample(ScriptState* L);
int cmdLoadSample(ScriptState* L);
int cmdIsSound(ScriptState* L);
int cmdWaitSampleEnd(ScriptState* L);
int cmdIsSamplePlaying(ScriptState* L);
int cmdSetVolume(ScriptState* L);
int cmdSetPitch(ScriptState* L);
int cmdSetPanning(ScriptState* L);
int cmdStopSample(ScriptState* L);
int cmdPlaySample(ScriptState* L);
int cmdSetMasterVolume(ScriptState* L);
int cmdIsSample(ScriptState* L);
int cmdCreateSample(ScriptState* L);
int cmdSaveSample(ScriptState* L);
int cmdGetSampleData(ScriptState* L);
int cmdMixSample(ScriptState* L);
int cmdCopySample(ScriptState* L);
int cmdInsertSample(ScriptState* L);
int cmdIsChannelPlaying(ScriptState* L);
int cmdHaveFreeChannel(ScriptState* L);
int cmdStopChannel(ScriptState* L);
int cmdGetChannels(ScriptState* L);
int cmdSetChannelVolume(ScriptState* L);

// Music (musiccmds.cpp) and its GetAttribute rows (musicattributes.cpp).
void InstallMusicAttributeRows();
// Whether the system library's single-music word is set; none: 0.
void SetSingleMusicQuery(int (*query)());
int cmdOpenMusic(ScriptState* L);
int cmdCloseMusic(ScriptState* L);
int cmdPlayMusic(ScriptState* L);
int cmdStopMusic(ScriptState* L);
int cmdPauseMusic(ScriptState* L);
int cmdResumeMusic(ScriptState* L);
int cmdSeekMusic(ScriptState* L);
int cmdSetMusicVolume(ScriptState* L);
int cmdIsMusic(ScriptState* L);
int cmdIsMusicPlaying(ScriptState* L);
int cmdCreateMusic(ScriptState* L);
int cmdFillMusicBuffer(ScriptState* L);
int cmdFlushMusicBuffer(ScriptState* L);
int cmdPlaySubsong(ScriptState* L);
int cmdGetPatternPosition(ScriptState* L);
int cmdGetSongPosition(ScriptState* L);
int cmdWaitPatternPosition(ScriptState* L);
int cmdWaitSongPosition(ScriptState* L);
