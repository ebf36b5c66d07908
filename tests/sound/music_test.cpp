// Music objects through the sound library's commands: loops by rewinding
// with one end event, positions from the play time across pauses, the
// commands' state errors, and script-fed streams with their handler.
#include <cmath>
#include <cstring>

#include "core/timers.h"
#include "core/timerthread.h"
#include "display/eventsources.h"
#include "music_fixture.h"
#include "draw/attributes.h"
#include "sound/customstream.h"
#include "sound/samples.h"
#include "wait_for.h"

namespace music_test {
namespace {

int64_t fakeNow = 0;
int64_t FakeClock() { return fakeNow; }

TEST_F(MusicTest, PlayedThreeTimesItRewindsTwiceAndEndsOnce) {
    const std::string path = WriteWave("music_three.wav", 19200);  // 0.4 s
    ASSERT_EQ(Open(1, path), 0);
    ASSERT_EQ(Call("PlayMusic", [&] { N(1); N(3); }), 0);
    EXPECT_EQ(Number("IsMusicPlaying", [&] { N(1); }), 1);
    const std::vector<float> out = Pull(48000 * 2);
    // 1.2 s of the file three times over, no gap and no repeat, then silence.
    size_t wrong = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        const float want = i < 57600 ? Value(i % 19200) / 32768.0f : 0.0f;
        if (std::fabs(out[i] - want) > 1e-3f && wrong++ < 5) ADD_FAILURE() << "frame " << i << ": " << out[i];
    }
    EXPECT_EQ(wrong, 0u);
    const std::vector<qbSoundEvent> events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, kSoundEventMusicEnd);
    EXPECT_EQ(events[0].id.number, 1);
    EXPECT_EQ(Number("IsMusicPlaying", [&] { N(1); }), 0);
    // It plays again from the start.
    ASSERT_EQ(Call("PlayMusic", [&] { N(1); }), 0);
    const std::vector<float> again = Pull(4800);
    EXPECT_NEAR(again[100], Value(100) / 32768.0f, 1e-3f);
}

TEST_F(MusicTest, ANewVolumeIsHeardWhileTheMusicPlays) {
    ASSERT_EQ(Open(1, WriteWave("music_volume.wav", 48000)), 0);
    ASSERT_EQ(Call("PlayMusic", [&] { N(1); }), 0);
    const std::vector<float> loud = Pull(4800);
    EXPECT_NEAR(loud[4000], Value(4000) / 32768.0f, 1e-3f);
    ASSERT_EQ(Call("SetMusicVolume", [&] { N(1); N(16); }), 0);
    // A quarter of the volume (the mixer's gain is its cube root) from at
    // most one pull later on.
    const std::vector<float> quiet = Pull(9600);
    const float gain = std::cbrt(0.25f);
    size_t wrong = 0;
    for (size_t i = 4800; i < quiet.size(); ++i) {
        const float want = Value(4800 + i) / 32768.0f * gain;
        if (std::fabs(quiet[i] - want) > 2e-3f && wrong++ < 5) ADD_FAILURE() << "frame " << 4800 + i << ": " << quiet[i];
    }
    EXPECT_EQ(wrong, 0u);
}

TEST_F(MusicTest, PositionAndLoopsFollowThePlayTimeAcrossPauses) {
    SetMusicClock(&FakeClock);
    fakeNow = 0;
    ASSERT_EQ(Open(1, WriteWave("music_two.wav", 16000, 8000)), 0);  // 2 s
    ASSERT_EQ(Call("PlayMusic", [&] { N(1); N(3); }), 0);
    fakeNow = 700;
    EXPECT_EQ(MusicPositionMs(*Music(1)), 700);
    fakeNow = 2500;
    ASSERT_EQ(Call("PauseMusic", [&] {}), 0);
    qbMusicObject* m = Music(1);
    EXPECT_EQ(m->state, kMusicPaused);
    EXPECT_EQ(m->loopsPlayed, 2);
    EXPECT_EQ(MusicPositionMs(*m), 500);
    EXPECT_EQ(m->stream->position, 4000u);
    // Paused time does not count; the resumed play adds to the kept time.
    fakeNow = 10000;
    ASSERT_EQ(Call("ResumeMusic", [&] {}), 0);
    fakeNow = 10300;
    EXPECT_EQ(MusicPositionMs(*m), 800);
    fakeNow = 12000;
    ASSERT_EQ(Call("PauseMusic", [&] { N(1); }), 0);
    EXPECT_EQ(m->loopsPlayed, 3);
    EXPECT_EQ(MusicPositionMs(*m), 500);
    ASSERT_EQ(Call("StopMusic", [&] { N(1); }), 0);
    EXPECT_EQ(MusicPositionMs(*m), 0);
    EXPECT_EQ(m->loopsPlayed, 1);
    EXPECT_EQ(m->stream->position, 0u);
}

TEST_F(MusicTest, CommandsCheckTheMusicState) {
    const std::string path = WriteWave("music_state.wav", 48000);  // 1 s
    ASSERT_EQ(Open(1, path), 0);
    ASSERT_EQ(Open(2, path), 0);
    EXPECT_EQ(Call("StopMusic", [&] {}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("ResumeMusic", [&] { N(1); }), ERR_MUSNOTPAUSED);
    EXPECT_EQ(Call("PlayMusic", [&] { N(9); }), ERR_FINDMUSIC);
    ASSERT_EQ(Call("PlayMusic", [&] { N(1); }), 0);
    EXPECT_EQ(Call("PlayMusic", [&] { N(1); }), ERR_MUSPLAYING);
    // Several musics play at once.
    ASSERT_EQ(Call("PlayMusic", [&] { N(2); }), 0);
    EXPECT_EQ(Number("IsMusicPlaying", [&] { N(1); }), 1);
    ASSERT_EQ(Call("PauseMusic", [&] { N(1); }), 0);
    EXPECT_EQ(Call("PlayMusic", [&] { N(1); }), ERR_MUSPAUSED);
    // Without an id: the last paused one.
    ASSERT_EQ(Call("ResumeMusic", [&] {}), 0);
    EXPECT_EQ(Number("IsMusicPlaying", [&] { N(1); }), 1);
    EXPECT_EQ(Call("SeekMusic", [&] { N(1); N(1000); }), ERR_SEEKRANGE);
    EXPECT_EQ(Call("SeekMusic", [&] { N(1); N(-1); }), ERR_SEEKRANGE);
    ASSERT_EQ(Call("SeekMusic", [&] { N(1); N(999); }), 0);
    EXPECT_EQ(Number("IsMusicPlaying", [&] { N(1); }), 1);
    ASSERT_EQ(Call("SetMusicVolume", [&] { N(1); N(99); }), 0);
    EXPECT_EQ(Music(1)->volume, 64);
    ASSERT_EQ(Call("SetMusicVolume", [&] { N(1); N(16); }), 0);
    EXPECT_EQ(Music(1)->volume, 16);
    ASSERT_EQ(Call("SetMusicVolume", [&] { N(1); N(64); }), 0);
    // Stopping rewinds, and the current music (the one resumed last) is gone.
    ASSERT_EQ(Call("StopMusic", [&] {}), 0);
    EXPECT_EQ(Number("IsMusicPlaying", [&] { N(1); }), 0);
    EXPECT_EQ(Number("IsMusicPlaying", [&] { N(2); }), 1);
    EXPECT_EQ(Music(1)->stream->position, 0u);
    EXPECT_EQ(Call("StopMusic", [&] {}), ERR_WRONGUSAGE);

    // The single-music word stops the current music on a start.
    SetSingleMusicQuery([] { return 1; });
    ASSERT_EQ(Call("StopMusic", [&] { N(2); }), 0);
    ASSERT_EQ(Call("PlayMusic", [&] { N(2); }), 0);
    ASSERT_EQ(Call("PlayMusic", [&] { N(1); }), 0);
    EXPECT_EQ(Number("IsMusicPlaying", [&] { N(2); }), 0);
    EXPECT_EQ(Number("IsMusicPlaying", [&] { N(1); }), 1);
    SetSingleMusicQuery(nullptr);

    // IsMusic names the format.
    ASSERT_EQ(Call("IsMusic", [&] { S(path.c_str()); }, 2), 0);
    EXPECT_EQ(VmToNumber(L_, 1), 1);
    EXPECT_STREQ(VmToCString(L_, 2), "RIFF WAVE");
    const std::string junk = ::testing::TempDir() + "music_junk.txt";
    std::ofstream(junk) << "not a sound";
    ASSERT_EQ(Call("IsMusic", [&] { S(junk.c_str()); VmPushNewTable(L_); SetTableFieldString(L_, "loader", "inbuilt"); }, 2), 0);
    EXPECT_EQ(VmToNumber(L_, 1), 0);
    EXPECT_STREQ(VmToCString(L_, 2), "Unknown");
    EXPECT_EQ(Open(3, junk), ERR_OPENSOUND2);

    // Closing a playing music stops it.
    ASSERT_EQ(Call("CloseMusic", [&] { N(1); }), 0);
    EXPECT_EQ(Call("IsMusicPlaying", [&] { N(1); }), ERR_FINDMUSIC);
    EXPECT_EQ(Call("PlayMusic", [&] { N(2); VmPushNewTable(L_); SetTableFieldInt(L_, "channel", 40); }),
              ERR_CHANNELRANGE);
}

TEST_F(MusicTest, ARefusedPlayKeepsTheSettings) {
    ASSERT_EQ(Open(1, WriteWave("music_refused.wav", 4800)), 0);
    EXPECT_EQ(Call("PlayMusic", [&] {
                  N(1);
                  VmPushNewTable(L_);
                  SetTableFieldFloat(L_, "times", -1);
                  SetTableFieldFloat(L_, "channel", 1e10);
                  SetTableFieldFloat(L_, "volume", 5);
              }),
              ERR_WRONGUSAGE);
    EXPECT_EQ(Call("PlayMusic", [&] { N(1); VmPushNewTable(L_); SetTableFieldFloat(L_, "channel", 1e10); }),
              ERR_CHANNELRANGE);
    EXPECT_EQ(Music(1)->channel, 0);
    EXPECT_EQ(Music(1)->volume, 64);
    ASSERT_EQ(Call("PlayMusic", [&] { N(1); }), 0);
    EXPECT_EQ(Number("IsMusicPlaying", [&] { N(1); }), 1);
}

TEST_F(MusicTest, MusicAttributesAnswerFromTheStream) {
    ASSERT_EQ(Open(1, WriteWave("music_attr.wav", 24000)), 0);
    qbMusicObject* m = Music(1);
    EXPECT_EQ(MusicDurationMs(*m), 500);
    EXPECT_EQ(m->stream->canSeek, true);
    EXPECT_STREQ(SoundFormatName(*m->stream), "RIFF WAVE");
    // The bit rate: the stream's own (MPEG audio's) when it has one, else
    // bytes per frame x rate / 1024 x 8.
    VmSetTop(L_, 0);
    VmPushValue(L_, kGlobalsIndex);
    VmPushString(L_, "getattribute");
    VmPushCClosure(L_, &cmdGetAttribute, 0);
    VmRawSet(L_, -3);
    auto bitrate = [&] { return Number("GetAttribute", [&] { N(33), N(1), N(20); }); };
    EXPECT_EQ(bitrate(), int64_t{m->stream->bytesPerFrame} * m->stream->rate / 1024 * 8);
    m->stream->kbps = 192;
    EXPECT_EQ(bitrate(), 192);
}

// The test's "FillMusicBuffer" handler: what it does with each request.
std::function<void(ScriptState*, ObjectID, int32_t)> onFill;
int requests = 0;

int FillHandler(ScriptState* L) {
    ++requests;
    int32_t samples = 0;
    GetTableFieldInt(L, 1, "samples", &samples, nullptr);
    ObjectID id;
    GetTableFieldObjectID(L, 1, "id", &id, nullptr);
    if (onFill) onFill(L, id, samples);
    return 0;
}

class ScriptFedTest : public MusicTest {
protected:
    void InstallHandler() {
        ASSERT_EQ(Call("InstallEventHandler", [&] {
                      VmPushNewTable(L_);
                      VmPushString(L_, "fillmusicbuffer");
                      VmPushCClosure(L_, &FillHandler, 0);
                      VmRawSet(L_, -3);
                  }),
                  0);
        // Installing publishes the handler switches: no OnMusicEnd handler.
        SetSoundHandlerSwitch(kHandlerMusicEnd, true);
    }
    void TearDown() override {
        onFill = nullptr;
        requests = 0;
        MusicTest::TearDown();
    }
    // FillMusicBuffer(id, kind, frames[, options]) as the handler calls it.
    static int Fill(ScriptState* L, ObjectID id, const char* kind, double frames,
                    const std::function<void()>& options = nullptr) {
        const int top = VmGetTop(L);
        PushObjectID(L, id);
        VmPushString(L, kind);
        VmPushNumber(L, frames);
        if (options) options();
        const int err = CallCommand(L, "FillMusicBuffer", VmGetTop(L) - top, 0);
        VmSetTop(L, top);
        return err;
    }
    // An 8-bit mono sample of the frames 10, 20, 30, ...
    void TensSample(int id, int frames) {
        ASSERT_EQ(Call("CreateSample", [&] {
                      N(id);
                      VmPushNewTable(L_);
                      for (int i = 0; i < frames; ++i) {
                          VmPushNumber(L_, (i + 1) * 10);
                          VmRawSetIndex(L_, -2, i);
                      }
                      N(8000);
                      N(kFormatMono8);
                  }),
                  0);
    }
    std::vector<int16_t> Queued(int id, uint32_t frames) {
        qbSample& s = *Music(id)->stream;
        std::vector<int16_t> out(frames * static_cast<size_t>(s.channels));
        bool ended = false;
        const uint32_t got = ReadCustomFrames(s, out.data(), frames, &ended);
        out.resize(got * static_cast<size_t>(s.channels));
        return out;
    }
};

TEST_F(ScriptFedTest, CreateMusicAsksTheHandlerForTwoSecondsAtOnce) {
    EXPECT_EQ(Call("CreateMusic", [&] { N(1); N(8000); N(kFormatMono16); }), ERR_NOFMBHANDLER);
    InstallHandler();
    EXPECT_EQ(Call("CreateMusic", [&] { N(1); N(255); N(kFormatMono16); }), ERR_LOWFREQ);
    EXPECT_EQ(Call("CreateMusic", [&] { N(1); N(8000); N(7); }), ERR_WRONGUSAGE);
    int32_t asked = 0;
    std::vector<int> errors;
    onFill = [&](ScriptState* L, ObjectID id, int32_t samples) {
        asked = samples;
        errors.push_back(Fill(L, id, "pcm", 4, [&] {
            VmPushNewTable(L);
            VmPushString(L, "data");
            VmPushNewTable(L);
            VmPushNumber(L, 1000);
            VmRawSetIndex(L, -2, 0);
            VmPushNumber(L, -2000);
            VmRawSetIndex(L, -2, 1);
            VmRawSet(L, -3);
        }));
        errors.push_back(Fill(L, id, "mute", 2));
        errors.push_back(Fill(L, id, "loud", 2));
    };
    ASSERT_EQ(Call("CreateMusic", [&] { N(1); N(8000); N(kFormatMono16); }), 0);
    EXPECT_EQ(asked, 16000);
    EXPECT_EQ(errors, (std::vector<int>{0, 0, ERR_WRONGUSAGE}));
    // Outside the handler.
    EXPECT_EQ(Call("FillMusicBuffer", [&] { N(1); S("mute"); N(10); }), ERR_NOMUSICCB);
    // A short table leaves silence after its values; what is not queued
    // reads as silence too.
    EXPECT_EQ(Queued(1, 8), (std::vector<int16_t>{1000, -2000, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Call("SeekMusic", [&] { N(1); N(0); }), ERR_SEEKFORMAT);
    EXPECT_EQ(Call("FlushMusicBuffer", [&] { N(1); }), ERR_WRONGUSAGE);

    // Flushing a playing music drops its queue and asks for two seconds
    // again; inside the handler the stopping commands are refused.
    ASSERT_EQ(Call("PlayMusic", [&] { N(1); }), 0);
    asked = 0;
    errors.clear();
    onFill = [&](ScriptState* L, ObjectID id, int32_t samples) {
        asked = samples;
        errors.push_back(CallCommand(L, "StopMusic", 0, 0));
        PushObjectID(L, id);
        errors.push_back(CallCommand(L, "CloseMusic", 1, 0));
    };
    ASSERT_EQ(Call("FlushMusicBuffer", [&] { N(1); }), 0);
    EXPECT_EQ(asked, 16000);
    EXPECT_EQ(errors, (std::vector<int>{ERR_NOCALLBACK, ERR_NOCALLBACK}));
    EXPECT_EQ(Number("IsMusicPlaying", [&] { N(1); }), 1);
    EXPECT_TRUE(IsMusicPollHeld());
    ASSERT_EQ(Call("PauseMusic", [&] { N(1); }), 0);
    EXPECT_FALSE(IsMusicPollHeld());
}

TEST_F(ScriptFedTest, SampleBlocksTakeTheirRangeAndEndMarkersEndTheMusic) {
    InstallHandler();
    ASSERT_NO_FATAL_FAILURE(TensSample(5, 6));
    std::vector<int> errors;
    onFill = [&](ScriptState* L, ObjectID id, int32_t) {
        // Frames 2-3 of the sample, looped, as 16-bit.
        errors.push_back(Fill(L, id, "sample", 5, [&] {
            VmPushNewTable(L);
            SetTableFieldInt(L, "id", 5);
            SetTableFieldInt(L, "start", 2);
            SetTableFieldInt(L, "end", 4);
        }));
        errors.push_back(Fill(L, id, "sample", 1, [&] {
            VmPushNewTable(L);
            SetTableFieldInt(L, "id", 5);
            SetTableFieldInt(L, "end", 9);
        }));
        errors.push_back(Fill(L, id, "end", 0));
    };
    ASSERT_EQ(Call("CreateMusic", [&] { N(1); N(8000); N(kFormatMono16); }), 0);
    EXPECT_EQ(errors, (std::vector<int>{0, ERR_SMPRANGE, 0}));
    qbSample& s = *Music(1)->stream;
    std::vector<int16_t> got(8, 99);
    bool ended = false;
    EXPECT_EQ(ReadCustomFrames(s, got.data(), 8, &ended), 5u);
    EXPECT_TRUE(ended);
    got.resize(5);
    EXPECT_EQ(got, (std::vector<int16_t>{30 * 256, 40 * 256, 30 * 256, 40 * 256, 30 * 256}));
}

TEST_F(ScriptFedTest, HostileRatesAndRangesAreHeldToWhatTheyCanName) {
    InstallHandler();
    ASSERT_NO_FATAL_FAILURE(TensSample(5, 3));
    int32_t asked = 0;
    std::vector<int> errors;
    onFill = [&](ScriptState* L, ObjectID id, int32_t samples) {
        asked = samples;
        const auto sample = [&](const char* key, double v) {
            return Fill(L, id, "sample", 3, [&] {
                VmPushNewTable(L);
                SetTableFieldInt(L, "id", 5);
                SetTableFieldFloat(L, key, v);
            });
        };
        errors.push_back(sample("offset", HUGE_VAL));
        errors.push_back(sample("start", std::nan("")));
        errors.push_back(sample("end", -1e300));
        errors.push_back(sample("loop", -HUGE_VAL));
        // Frame counts no block can hold are refused before any is made.
        for (const char* kind : {"sample", "mute", "pcm"})
            for (double frames : {HUGE_VAL, 1e300, 2147483648.0, -1.0, std::nan("")})
                errors.push_back(Fill(L, id, kind, frames, [&] {
                    VmPushNewTable(L);
                    SetTableFieldInt(L, "id", 5);
                }));
    };
    // Rates past what the inbuilt readers take would ask for more than two
    // seconds can hold.
    for (double rate : {2147483647.0, 768001.0, HUGE_VAL, std::nan("")})
        EXPECT_EQ(Call("CreateMusic", [&] { N(1); N(rate); N(kFormatMono16); }), ERR_WRONGUSAGE) << rate;
    EXPECT_EQ(Call("CreateMusic", [&] { N(1); N(-HUGE_VAL); N(kFormatMono16); }), ERR_LOWFREQ);
    EXPECT_EQ(asked, 0);
    ASSERT_EQ(Call("CreateMusic", [&] { N(1); N(768000); N(kFormatMono16); }), 0);
    EXPECT_EQ(asked, 1536000);
    std::vector<int> want{0, 0, ERR_SMPRANGE, ERR_SMPRANGE};
    want.resize(want.size() + 15, ERR_WRONGUSAGE);
    EXPECT_EQ(errors, want);
    int32_t blocks = 0;
    EXPECT_EQ(CustomFramesQueued(*Music(1)->stream, &blocks), 6);
    EXPECT_EQ(blocks, 2);
    // The offset wraps inside the range: 2^31 - 1 frames in is frame 1.
    EXPECT_EQ(Queued(1, 3), (std::vector<int16_t>{20 * 256, 30 * 256, 10 * 256}));
}

TEST_F(ScriptFedTest, ASquareWaveComputedByTheHandlerPlaysAndEnds) {
    InstallHandler();
    constexpr int kRate = 48000;
    int64_t made = 0;
    bool ended = false;
    onFill = [&](ScriptState* L, ObjectID id, int32_t samples) {
        if (ended) return;
        const int64_t n = std::min<int64_t>(samples, 2 * kRate - made);
        if (n > 0) {
            EXPECT_EQ(Fill(L, id, "pcm", static_cast<double>(n), [&] {
                          VmPushNewTable(L);
                          VmPushString(L, "data");
                          VmPushNewTable(L);
                          for (int64_t i = 0; i < n; ++i) {
                              VmPushNumber(L, ((made + i) / 100) % 2 ? 8000 : -8000);
                              VmRawSetIndex(L, -2, static_cast<int>(i));
                          }
                          VmRawSet(L, -3);
                      }),
                      0);
            made += n;
        }
        if (made >= 2 * kRate) {
            EXPECT_EQ(Fill(L, id, "end", 0), 0);
            ended = true;
        }
    };
    ASSERT_EQ(Call("CreateMusic", [&] { N(1); N(kRate); N(kFormatMono16); }), 0);
    EXPECT_FALSE(IsMusicPollHeld());
    ASSERT_EQ(Call("PlayMusic", [&] { N(1); }), 0);
    EXPECT_TRUE(IsMusicPollHeld());
    std::vector<float> out;
    for (int step = 0; step < 60; ++step) {
        // What the poll interval's ticks do.
        ObjectID id;
        int32_t samples = 0, count = 0;
        if (FindMusicNeedingData(&id, &samples, &count)) {
            ASSERT_EQ(CallFillMusicBuffer(L_, id, samples, count), 0);
        }
        const std::vector<float> part = Pull(4800);
        out.insert(out.end(), part.begin(), part.end());
    }
    size_t wrong = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        const float want = i < 2u * kRate ? ((i / 100) % 2 ? 8000 : -8000) / 32768.0f : 0.0f;
        if (std::fabs(out[i] - want) > 1e-3f && wrong++ < 5) ADD_FAILURE() << "frame " << i << ": " << out[i];
    }
    EXPECT_EQ(wrong, 0u);
    const std::vector<qbSoundEvent> events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, kSoundEventMusicEnd);
    EXPECT_EQ(Number("IsMusicPlaying", [&] { N(1); }), 0);
    EXPECT_FALSE(IsMusicPollHeld());
}

// The poll interval's clock runs for real here: what is counted is the
// ticks that passed.
class PacedScriptFedTest : public ScriptFedTest {
protected:
    void SetUp() override {
        ScriptFedTest::SetUp();
        ASSERT_EQ(StartTimerThread(), 0);
    }
    void TearDown() override {
        StopTimerThread();
        ScriptFedTest::TearDown();
    }
    static uint64_t TicksSince(uint64_t start) { return CountTimerFirings() - start; }
};

TEST_F(PacedScriptFedTest, AHandlerThatFeedsNothingIsAskedOncePerTick) {
    InstallHandler();
    ASSERT_EQ(Call("CreateMusic", [&] { N(1); N(8000); N(kFormatMono16); }), 0);
    ASSERT_EQ(Call("PlayMusic", [&] { N(1); }), 0);
    ASSERT_TRUE(IsMusicPollHeld());
    // A second of the poll interval's ticks; WaitEvent returns with each
    // request. A busy loop asks far more often than the ticks come.
    requests = 0;
    const uint64_t start = CountTimerFirings();
    while (TicksSince(start) < 50 && requests <= 60) ASSERT_EQ(Call("WaitEvent", [] {}), 0);
    EXPECT_GE(requests, 1);
    EXPECT_LE(requests, 60);
    // The tick pending when the count began may bring one request more.
    EXPECT_LE(static_cast<uint64_t>(requests), TicksSince(start) + 1);
}

TEST_F(PacedScriptFedTest, AQueuedEndIsNotAskedForMore) {
    InstallHandler();
    std::vector<int> errors;
    // Every request ends the music, three times over.
    onFill = [&](ScriptState* L, ObjectID id, int32_t) {
        for (int i = 0; i < 3; ++i) errors.push_back(Fill(L, id, "end", 0));
    };
    ASSERT_EQ(Call("CreateMusic", [&] { N(1); N(8000); N(kFormatMono16); }), 0);
    ASSERT_EQ(Call("PlayMusic", [&] { N(1); }), 0);
    // Nothing is pulled from the output: the music plays on, its end queued.
    const uint64_t start = CountTimerFirings();
    ASSERT_TRUE(test_wait::WaitFor([&] {
        EXPECT_EQ(Call("CheckEvent", [] {}), 0);
        return TicksSince(start) >= 10;
    }));
    EXPECT_EQ(Number("IsMusicPlaying", [&] { N(1); }), 1);
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(errors, (std::vector<int>{0, 0, 0}));
    int32_t blocks = 0;
    EXPECT_EQ(CustomFramesQueued(*Music(1)->stream, &blocks), 0);
    EXPECT_EQ(blocks, 1);
    // A flush empties the queue, the end with it: the handler is asked
    // again.
    ASSERT_EQ(Call("FlushMusicBuffer", [&] { N(1); }), 0);
    EXPECT_EQ(requests, 2);
    CustomFramesQueued(*Music(1)->stream, &blocks);
    EXPECT_EQ(blocks, 1);
}

}  // namespace
}  // namespace music_test
