// Music objects: an opened stream (or a script-fed one) that plays through a
// feeder thread, one second per half of a double buffer, with its play state
// and the play time kept across pauses.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/objects.h"
#include "sound/modplayer.h"
#include "sound/stream.h"

constexpr int32_t kObjectTypeMusic = 33;

enum qbMusicState : int32_t { kMusicStopped = 0, kMusicPlaying = 1, kMusicPaused = 2 };

struct qbMusicFeeder;

struct qbMusicObject : qbObject {
    qbSamplePtr stream;
    int32_t state = kMusicStopped;
    int32_t volume = 64;
    int32_t times = 1;    // 0 plays until stopped
    int32_t channel = 0;  // 1-based; 0 lets the table choose
    bool scriptFed = false;
    // The fill requests running for it (qbMusicFill): while one runs, the
    // command or dispatcher that asked keeps this record, so it is not freed.
    int32_t fills = 0;
    // A script-fed stream that was stopped asks its handler for two seconds
    // again before it plays.
    bool flushed = false;
    std::string file;
    // How it was opened, for another subsong of the same file.
    std::string loader;
    std::string adapter;
    int32_t subsong = 1;
    // The play time kept from earlier pauses (ms), the pass it reached, and
    // when the running play began.
    int64_t playedMs = 0;
    int32_t loopsPlayed = 1;
    int64_t startMs = 0;
    std::unique_ptr<qbMusicFeeder> feeder;
    // A module: the file's bytes (the player is rebuilt from them), the
    // player, and the channel it renders on.
    std::vector<uint8_t> moduleBytes;
    std::unique_ptr<ModPlayer> module;
    int moduleChannel = -1;

    qbMusicObject();
    qbMusicObject(const qbMusicObject&) = delete;
    qbMusicObject& operator=(const qbMusicObject&) = delete;
    ~qbMusicObject();
};

// The clock play times are taken from (ms); tests install their own.
using MusicClock = int64_t (*)();
void SetMusicClock(MusicClock clock);
int64_t MusicNowMs();

// Puts the stream on a channel (index -1: the first free one) and starts its
// feeder. 0 or ERR_MEM, ERR_THREAD, ERR_NOCHANNEL, ERR_CHANNELRANGE,
// ERR_ALLOCCHANNEL, ERR_OPENAUDIO.
int StartMusicStream(qbMusicObject& m, int32_t volume, int32_t times, int index);
// Takes the stream off its channel and joins its feeder. With keep the
// position follows the time played; without, play time and position go
// back to the start. The state word is the caller's.
void StopMusicStream(qbMusicObject& m, bool keep);
// The stream's place moves to ms (not while it plays).
void SeekMusicStream(qbMusicObject& m, int64_t ms);
// Whether the channel played the last of it, or lost it to another start.
bool MusicStreamDone(const qbMusicObject& m);
void SetMusicStreamVolume(qbMusicObject& m, int32_t volume);
int64_t MusicDurationMs(const qbMusicObject& m);
// While it plays: the kept play time plus the time since the start, within
// one pass; otherwise the kept play time within one pass.
int64_t MusicPositionMs(const qbMusicObject& m);
// The 0-based channel it plays on, -1 when none.
int MusicChannelIndex(const qbMusicObject& m);

// Modules: the opened stream's file is read whole and closed, and the
// player built (0, ERR_OPENSOUND2 or ERR_MEM); start and stop of its module
// channel (without keep the player starts again from the top).
int LoadMusicModule(qbMusicObject& m);
int StartMusicModule(qbMusicObject& m, int32_t volume, int index);
void StopMusicModule(qbMusicObject& m, bool keep);
bool MusicModuleDone(const qbMusicObject& m);
int MusicModuleChannel(const qbMusicObject& m);
void SetMusicModuleVolume(qbMusicObject& m, int32_t volume);
