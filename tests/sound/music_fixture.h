// The sound library's music commands on the in-memory pull device: a
// script state with the sound and event libraries, WAVE files written by
// the test, and pulls that let the feeders catch up between chunks.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "command_call.h"
#include "core/errcodes.h"
#include "core/runstate.h"
#include "core/settings.h"
#include "core/soundevents.h"
#include "core/vmhost.h"
#include "display/eventlib.h"
#include "platform/mixer/mixer.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "sound/channels.h"
#include "sound/musiclist.h"
#include "sound/sound.h"
#include "sound/soundevents.h"
#include "sound/soundlib.h"
#include "soundfile_builders.h"
#include "vm/vm.h"

namespace music_test {

class MusicTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPlatformBackend(nullptr);
        ShutdownAudioCore();
        DisposeAudioOutput();
        null_backend::SetAudioPullRate(48000);
        ResetRuntimeSettings();
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        SetMainState(L_);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitEventLibrary(L_), 0);
        ASSERT_EQ(InitSoundLibrary(L_), 0);
        VmSetTop(L_, 0);
        SetRuntimeTag(kTagNoSound, 0);
        SetRuntimeTag(kTagAudioChannels, 32);
        SetSoundHandlerSwitch(kHandlerMusicEnd, true);
        ClearSoundEvents();
    }
    void TearDown() override {
        FreeSoundObjects(L_);
        ShutdownAudioCore();
        SetSoundHandlerSwitch(kHandlerMusicEnd, false);
        SetMusicClock(nullptr);
        FreeObjectHandlers(L_);
        SetMainState(nullptr);
        VmClose(L_);
        ResetRuntimeSettings();
        ClearSoundEvents();
    }

    int Call(const char* command, const std::function<void()>& push, int nresults = 0) {
        VmSetTop(L_, 0);
        push();
        return CallCommand(L_, command, VmGetTop(L_), nresults);
    }
    double Number(const char* command, const std::function<void()>& push = [] {}) {
        EXPECT_EQ(Call(command, push, 1), 0) << command;
        return VmToNumber(L_, -1);
    }
    void N(double v) { VmPushNumber(L_, v); }
    void S(const char* s) { VmPushString(L_, s); }

    // A mono 16-bit WAVE whose frame i holds Value(i).
    static int16_t Value(size_t i) { return static_cast<int16_t>(static_cast<int>((i * 7) % 20000) - 10000); }
    std::string WriteWave(const char* name, uint32_t frames, uint32_t rate = 48000) {
        soundfiles::Bytes pcm;
        for (uint32_t i = 0; i < frames; ++i) soundfiles::LE16(pcm, static_cast<uint16_t>(Value(i)));
        soundfiles::Wave w;
        w.rate = rate;
        const soundfiles::Bytes file = soundfiles::MakeWave(w, pcm);
        const std::string path = ::testing::TempDir() + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                     static_cast<std::streamsize>(file.size()));
        return path;
    }
    int Open(int id, const std::string& path) {
        return Call("OpenMusic", [&] { N(id); S(path.c_str()); });
    }
    qbMusicObject* Music(int id) {
        qbMusicObject* m = nullptr;
        EXPECT_EQ(GetMusic(ObjectID{id, nullptr}, &m), 0);
        return m;
    }

    // Waits until every streamed channel's feeder has both halves ready or
    // has queued its last one.
    static void Settle() {
        for (int tries = 0; tries < 5000; ++tries) {
            bool ready = true;
            for (int i = 0; i < audio_mixer::ChannelCount(); ++i) {
                const qbAudioChannel* ch = audio_mixer::Channel(i);
                if (ch->kind.load() != kChannelStream || !ch->feed) continue;
                const qbStreamFeed& f = *ch->feed;
                if (f.endState.load() == 0 && !(f.halves[0].ready.load() && f.halves[1].ready.load())) ready = false;
            }
            if (ready) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    // Mono view (the left side) of frames pulled in chunks.
    static std::vector<float> Pull(size_t frames, size_t chunk = 4800, bool settle = true) {
        std::vector<float> left;
        left.reserve(frames);
        while (left.size() < frames) {
            if (settle) Settle();
            const std::vector<float> out = null_backend::PullAudio(std::min(chunk, frames - left.size()));
            for (size_t i = 0; i < out.size(); i += 2) left.push_back(out[i]);
        }
        return left;
    }
    static std::vector<qbSoundEvent> Events() {
        FlushChannelEvents();
        std::vector<qbSoundEvent> out;
        while (std::optional<qbSoundEvent> e = PopSoundEvent()) out.push_back(*e);
        return out;
    }

    ScriptState* L_ = nullptr;
};

}  // namespace music_test
